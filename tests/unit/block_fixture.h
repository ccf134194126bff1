// What the block! and path tests share: building blocks with new-line markers, calling a value's
// own action row, reading form and mold back as text, and catching the error an action raised.
#pragma once

#include <limits>
#include <string>

#include "datatypes/block.h"
#include "evaluator/stack.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {

class BlockTest : public RuntimeTest {
  protected:
    static constexpr int32_t kNoLimit = std::numeric_limits<int32_t>::max();

    void SetUp() override {
        RuntimeTest::SetUp();
        stack::init();
    }
    void TearDown() override {
        // Every walk, finished or left by an error, leaves the cycle guard and the stack as it
        // found them.
        EXPECT_EQ(cycles::depth(), 0u);
        EXPECT_EQ(stack::index_of(stack::g_top), 0u);
        RuntimeTest::TearDown();
    }

    static Cell i(int32_t v) { return cell::integer(v); }
    static Cell nl(Cell c) {
        cell::set_new_line(c, true);
        return c;
    }
    static Cell at(Cell series, uint32_t index) {
        series.w1 = index;
        return series;
    }
    static const ActionTable& row(const Cell& v) { return registry::actions(cell::type(v)); }
    static const ActionTable& row(TypeId t) { return registry::actions(t); }
    static Cell str(std::string_view ascii) {
        const NodeId node = series::alloc_with_unit(static_cast<uint32_t>(ascii.size()) + 1, 1);
        series::append_ascii(node, ascii);
        return cell::series(TypeId::string, node);
    }
    static Cell datatype(TypeId t) { return cell::make(TypeId::datatype, static_cast<uint32_t>(t)); }

    static std::string text(NodeId node) {
        Cell s = cell::series(TypeId::string, node);
        const unicode::Converted c = unicode::string_to_utf8(s);
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
    // The mold, checking that the budget returned accounts for every character written.
    static std::string mold(Cell v, MoldFlags flags = {}, int32_t limit = kNoLimit) {
        const NodeId out = series::alloc_with_unit(16, 1);
        const int32_t left = row(v).mold(v, out, flags, limit);
        EXPECT_EQ(left, limit - static_cast<int32_t>(series::length(out)));
        return text(out);
    }
    static std::string form(Cell v, int32_t limit = kNoLimit) {
        const NodeId out = series::alloc_with_unit(16, 1);
        const int32_t left = row(v).form(v, out, limit);
        EXPECT_EQ(left, limit - static_cast<int32_t>(series::length(out)));
        return text(out);
    }
    // The mold of a block's whole buffer, whatever its head.
    static std::string whole(Cell v) { return mold(at(v, 0)); }
};

}  // namespace zub
