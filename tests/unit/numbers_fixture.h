// Shared helpers of the number tests: calling an action through its type's row, reading what it
// answered (a value or the error it raised), and the text of form and mold.
#pragma once

#include <bit>
#include <cmath>
#include <optional>
#include <ostream>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {

// What an action gave: a value, or the id of the error it raised.
struct Outcome {
    std::optional<ErrorId> error;
    Cell value;
};

// An expected outcome, written in a table.
struct Expect {
    std::optional<ErrorId> error;
    Cell value;
};
inline Expect gives(Cell value) { return {std::nullopt, value}; }
inline Expect raises(ErrorId id) { return {id, cell::none()}; }

inline Cell num(int32_t v) { return cell::integer(v); }
inline Cell flt(double v) { return cell::floating(v); }
inline Cell pct(double v) { return cell::floating(v, TypeId::percent); }
inline Cell tim(double seconds) { return cell::floating(seconds, TypeId::time); }
inline Cell chr(uint32_t cp) { return cell::character(cp); }
inline Cell datatype_value(TypeId t) { return cell::make(TypeId::datatype, static_cast<uint32_t>(t)); }

inline bool is_floating(TypeId t) { return t == TypeId::float_ || t == TypeId::percent || t == TypeId::time; }

// Same type and payload; every NaN matches every NaN.
inline bool same_value(const Cell& a, const Cell& b) {
    if (cell::type(a) != cell::type(b)) return false;
    if (is_floating(cell::type(a))) {
        const double x = cell::as_float(a), y = cell::as_float(b);
        if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
        return std::bit_cast<uint64_t>(x) == std::bit_cast<uint64_t>(y);
    }
    return a.w1 == b.w1 && a.w2 == b.w2 && a.w3 == b.w3;
}

class NumberTest : public RuntimeTest {
  protected:
    void TearDown() override {
        float_::set_pretty(true);
        RuntimeTest::TearDown();
    }

    template <typename Fn>
    static Outcome run(Fn&& fn) {
        try {
            return {std::nullopt, fn()};
        } catch (const error::Thrown&) {
            return {error::pending().id, cell::none()};
        }
    }

    static const ActionTable& row(const Cell& v) { return registry::actions(cell::type(v)); }

    static Outcome math(MathOp op, Cell a, Cell b) {
        return run([&] {
            const ActionTable& t = row(a);
            switch (op) {
                case math_add: return t.add(a, b);
                case math_subtract: return t.subtract(a, b);
                case math_multiply: return t.multiply(a, b);
                case math_divide: return t.divide(a, b);
                case math_remainder: return t.remainder(a, b);
                case math_or: return t.or_(a, b);
                case math_and: return t.and_(a, b);
                default: return t.xor_(a, b);
            }
        });
    }

    static std::string text(NodeId node) {
        Cell s = cell::series(TypeId::string, node);
        const unicode::Converted c = unicode::string_to_utf8(s);
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
    // The text and a check that the budget went down by its length in characters.
    static std::string form(Cell v) {
        const NodeId out = series::alloc_with_unit(8, 1);
        const int32_t left = row(v).form(v, out, 1000);
        EXPECT_EQ(left, 1000 - static_cast<int32_t>(series::length(out)));
        return text(out);
    }
    static std::string mold(Cell v, bool all = false) {
        const NodeId out = series::alloc_with_unit(8, 1);
        const int32_t left = row(v).mold(v, out, MoldFlags{false, all, false, 0}, 1000);
        EXPECT_EQ(left, 1000 - static_cast<int32_t>(series::length(out)));
        return text(out);
    }

    static Cell text_value(const char* s, TypeId type = TypeId::string, uint32_t index = 0) {
        const NodeId node = series::alloc_with_unit(16, 1);
        series::append_ascii(node, s);
        return cell::series(type, node, index);
    }
    static Cell binary(std::initializer_list<uint8_t> bytes, uint32_t index = 0) {
        const NodeId node = memory::alloc_bytes(static_cast<uint32_t>(bytes.size()));
        for (const uint8_t b : bytes) series::append_byte(node, b);
        return cell::series(TypeId::binary, node, index);
    }

    // Describes a cell for failure messages.
    static std::string show(const Cell& v) {
        std::string name(registry::name(cell::type(v)));
        switch (cell::type(v)) {
            case TypeId::integer:
            case TypeId::char_: return name + " " + std::to_string(cell::as_integer(v));
            case TypeId::float_:
            case TypeId::percent:
            case TypeId::time: {
                char buf[40];
                std::snprintf(buf, sizeof buf, " %.17g", cell::as_float(v));
                return name + buf;
            }
            default: return name;
        }
    }
    static std::string show(const Outcome& o) {
        return o.error ? "error " + std::string(error::id_word(*o.error)) : show(o.value);
    }
    static std::string show(const Expect& e) {
        return e.error ? "error " + std::string(error::id_word(*e.error)) : show(e.value);
    }
    static bool matches(const Outcome& o, const Expect& e) {
        if (o.error || e.error) return o.error == e.error;
        return same_value(o.value, e.value);
    }
};

}  // namespace zub
