// The ZUBBIN writer: one recursive walk over the value that appends records to a C++ byte buffer
// (it never allocates language memory, so nothing can move under it), the symbols it meets in a
// table of first use, and the path of every series and context it writes, so that a second
// meeting writes a reference instead. The sections are put together at the end.
#include "system/zubbin.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "evaluator/depth.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "system/zubbin_format.h"

namespace zub::zubbin {
namespace {

using format::kC0;
using format::kC1;
using format::kFlag;

class Writer {
  public:
    explicit Writer(bool compact) : compact_(compact) {}

    void value(const Cell& v) {
        record(v);
        ++index_;
    }

    std::vector<uint8_t> front() const;
    const std::vector<uint8_t>& records() const { return out_; }

  private:
    bool compact_;
    std::vector<uint8_t> out_;
    std::vector<uint32_t> path_;  // the indexes of the enclosing levels
    uint32_t index_ = 0;          // the place of the next value at the current level
    // Where each series or context was first written: a slice of the path store.
    struct Saved {
        uint32_t at, length;
    };
    std::unordered_map<NodeId, Saved> seen_;
    std::vector<uint32_t> store_;
    std::vector<uint32_t> symbol_index_;  // by symbol id: its index in the table + 1, or 0
    std::vector<std::string_view> names_;
    size_t names_bytes_ = 0;

    // ---- Output primitives ----
    void byte(uint8_t b) { out_.push_back(b); }
    void bytes(const void* p, size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        out_.insert(out_.end(), b, b + n);
    }
    void u32(uint32_t v) {
        uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 24)};
        bytes(b, 4);
    }
    void varint(uint32_t v) {
        while (v >= 0x80) {
            byte(static_cast<uint8_t>(v | 0x80));
            v >>= 7;
        }
        byte(static_cast<uint8_t>(v));
    }
    void zigzag(int32_t v) { varint((static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31)); }
    // A count or index: a varint in the compact form, a word in the classic one.
    void number(uint32_t v) { compact_ ? varint(v) : u32(v); }
    void pad4() {
        while (out_.size() % 4) byte(0);
    }
    // Bytes padded to a word in the classic form.
    void raw(const void* p, size_t n) {
        bytes(p, n);
        if (!compact_) pad4();
    }

    uint32_t symbol(symbol::Id id) {
        if (id >= symbol_index_.size()) symbol_index_.resize(std::max<size_t>(id + 1, symbol::count() + 1), 0);
        uint32_t& at = symbol_index_[id];
        if (!at) {
            names_.push_back(symbol::utf8(id));
            names_bytes_ += names_.back().size() + 1;
            at = static_cast<uint32_t>(names_.size());
        }
        return at - 1;
    }

    // ---- Paths ----
    void descend() {
        if (path_.size() >= cycles::kMaxNesting) error::fire(ErrorId::too_deep);
        path_.push_back(index_);
        index_ = 0;
    }
    void ascend() {
        index_ = path_.back();
        path_.pop_back();
    }
    // Remembers the node at the current position; false when it was written before.
    bool seen(NodeId node) const { return seen_.contains(node); }
    bool first_meeting(NodeId node) {
        const auto [it, added] = seen_.try_emplace(node, Saved{static_cast<uint32_t>(store_.size()), 0});
        if (!added) return false;
        store_.insert(store_.end(), path_.begin(), path_.end());
        store_.push_back(index_);
        it->second.length = static_cast<uint32_t>(path_.size()) + 1;
        return true;
    }
    void reference(NodeId node) {
        const Saved s = seen_.at(node);
        if (!compact_) u32(format::kReference);
        number(s.length);
        for (uint32_t i = 0; i < s.length; ++i) number(store_[s.at + i]);
    }

    // ---- Records ----
    void header(uint32_t type, uint32_t flags, bool f) {
        if (compact_) byte(static_cast<uint8_t>(type | (f ? kFlag : 0)));
        else u32(type | flags);
    }
    [[noreturn]] void refuse(TypeId type) { error::fire(ErrorId::no_codec, cell::datatype_of(type)); }

    void record(const Cell& v);
    void word(const Cell& v, uint32_t line);
    void series_record(const Cell& v, uint32_t line);
    void block_record(NodeId node, uint32_t head, TypeId type, uint32_t line, bool remember);
    void context_body(NodeId context);
    void object_body(const Cell& object, uint32_t line, bool type_byte = true);
    void function_body(const Cell& fn, uint32_t line, bool type_byte = true);
    void double_payload(double d) {
        const auto bits = std::bit_cast<uint64_t>(d);
        u32(static_cast<uint32_t>(bits));
        u32(static_cast<uint32_t>(bits >> 32));
    }
    void align_double() {
        if (!compact_ && out_.size() % 8) u32(0);  // a padding word, skipped by the reader
    }
};

// The short forms of numbers: a float or time that is a whole number in range, a percent whose
// hundredfold is; negative zero keeps its sign in the full double.
bool short_float(double d, int32_t& n) {
    if (!(d >= -2147483000.0 && d <= 2147483000.0) || d != std::trunc(d) || (std::signbit(d) && d == 0.0)) return false;
    n = static_cast<int32_t>(d);
    return true;
}
bool short_percent(double d, int32_t& n) {
    if (!(d >= -21474836.0 && d <= 21474836.0) || (d == 0.0 && std::signbit(d))) return false;
    const double hundred = std::round(d * 100.0);  // half away from zero
    if (hundred / 100.0 != d) return false;
    n = static_cast<int32_t>(hundred);
    return true;
}

void Writer::record(const Cell& v) {
    depth::check();
    const TypeId type = cell::type(v);
    const auto t = static_cast<uint32_t>(type);
    const uint32_t line = cell::new_line(v) ? format::kClassicNewLine : 0;
    if (line && compact_) byte(kC0);
    switch (type) {
        case TypeId::unset:
        case TypeId::none: header(t, line, false); return;
        case TypeId::datatype:
            header(t, line, false);
            number(v.w1);
            return;
        case TypeId::logic:
            if (compact_) byte(cell::as_logic(v) ? format::kTrue : format::kFalse);
            else u32(t | line), u32(cell::as_logic(v) ? 1 : 0);
            return;
        case TypeId::integer: {
            const int32_t n = cell::as_integer(v);
            if (!compact_) u32(t | line), u32(static_cast<uint32_t>(n));
            else if (n >= 0 && n <= 63) byte(static_cast<uint8_t>(format::kShortInteger + n));
            else byte(static_cast<uint8_t>(t)), zigzag(n);
            return;
        }
        case TypeId::char_:
            header(t, line, false);
            number(cell::as_char(v));
            return;
        case TypeId::float_:
        case TypeId::time:
        case TypeId::percent: {
            const double d = cell::as_float(v);
            int32_t n = 0;
            if (compact_ && (type == TypeId::percent ? short_percent(d, n) : short_float(d, n))) {
                header(t, 0, true);
                zigzag(n);
                return;
            }
            align_double();
            header(t, line, false);
            double_payload(d);
            return;
        }
        case TypeId::pair:
            header(t, line, false);
            if (compact_) zigzag(static_cast<int32_t>(v.w2)), zigzag(static_cast<int32_t>(v.w3));
            else u32(v.w2), u32(v.w3);
            return;
        case TypeId::point2D:
        case TypeId::point3D:
            header(t, line, false);
            u32(v.w1), u32(v.w2);
            if (type == TypeId::point3D) u32(v.w3);
            return;
        case TypeId::date: {
            const bool timed = (v.w1 & format::kDateHasTime) != 0;
            if (compact_) {
                header(t, 0, timed);
                u32(v.w1);
                if (timed) u32(v.w2), u32(v.w3);
            } else {
                header(t, line, false);
                u32(v.w1), u32(v.w2), u32(v.w3);
            }
            return;
        }
        case TypeId::typeset: {
            uint8_t b[12];
            std::memcpy(b, &v.w1, 12);
            header(t, line, false);
            if (!compact_) return raw(b, 12);
            uint8_t n = 12;
            while (n && b[n - 1] == 0) --n;
            byte(n);
            bytes(b, n);
            return;
        }
        case TypeId::tuple: {
            const uint32_t n = tuple::count(v);
            uint8_t b[tuple::kMaxBytes];
            tuple::bytes(v, b);
            if (!compact_) {
                header(t, line | n << 8, false);
                return raw(b, 12);
            }
            header(t, 0, n != 3);
            if (n != 3) byte(static_cast<uint8_t>(n));
            bytes(b, n);
            return;
        }
        case TypeId::money: {
            header(t, money::negative(v) ? format::kClassicMoneySign | line : line, money::negative(v));
            raw(&v.w1, 12);
            return;
        }
        case TypeId::issue:
            header(t, line, false);
            number(symbol(word::symbol_of(v)));
            return;
        case TypeId::word:
        case TypeId::set_word:
        case TypeId::lit_word:
        case TypeId::get_word:
        case TypeId::refinement: return word(v, line);
        case TypeId::native:
        case TypeId::action:
            header(t, line, false);
            number(native::entry_number(v));
            // The argument block's cells are addressed as the built-in's own: the block is no place of its own.
            block_record(cell::series_node(v), 0, TypeId::block, 0, false);
            return;
        case TypeId::op: {
            const Cell source = op::target(v);
            if (cell::is(source, TypeId::routine)) refuse(TypeId::routine);
            if (compact_) byte(static_cast<uint8_t>(t));
            else u32(t | line | static_cast<uint32_t>(cell::type(source)) << 16);
            record(source);
            return;
        }
        case TypeId::error: {
            header(t, line, false);
            const Cell code = error_value::field(v, error_value::kCode);
            number(cell::is(code, TypeId::integer) ? static_cast<uint32_t>(cell::as_integer(code)) : 0);
            descend();
            for (uint32_t i = error_value::kArg1; i <= error_value::kStack; ++i) value(error_value::field(v, i));
            ascend();
            return;
        }
        case TypeId::object: {
            const NodeId context = v.w1;
            if (!first_meeting(context)) {
                if (compact_) byte(kC1);
                header(t, line | format::kClassicReference, false);
                return reference(context);
            }
            return object_body(v, line);
        }
        case TypeId::function: {
            const NodeId context = function::context_of(v);
            if (!first_meeting(context)) {
                if (compact_) byte(kC1);
                header(t, line | format::kClassicReference, false);
                return reference(context);
            }
            return function_body(v, line);
        }
        case TypeId::block:
        case TypeId::paren:
        case TypeId::path:
        case TypeId::lit_path:
        case TypeId::set_path:
        case TypeId::get_path:
        case TypeId::hash:
        case TypeId::map:
        case TypeId::string:
        case TypeId::file:
        case TypeId::url:
        case TypeId::tag:
        case TypeId::email:
        case TypeId::ref:
        case TypeId::binary:
        case TypeId::vector:
        case TypeId::image:
        case TypeId::bitset: return series_record(v, line);
        default: refuse(type);  // routine!, triple!, handle!, port!, event!, internals
    }
}

void Writer::word(const Cell& v, uint32_t line) {
    const auto t = static_cast<uint32_t>(cell::type(v));
    const symbol::Id sym = word::symbol_of(v);
    const NodeId context = word::context_of(v);
    // Only a binding to an object or a function says more than the global word would; any other
    // context (global, a loop's, a bind's to a block) loads back as the global word.
    TypeId owner = TypeId::none;
    int32_t index = -1;
    if (context && context != context::global()) {
        owner = cell::type(context::owner_of(context));
        index = v.w3 == context::kUnresolved ? context::find_word(context, sym, true) : static_cast<int32_t>(v.w3);
    }
    if ((owner != TypeId::object && owner != TypeId::function) || index < 0) {
        header(t, line | format::kClassicGlobal, false);
        number(symbol(sym));
        if (!compact_) u32(0xFFFFFFFF);
        return;
    }
    const bool seen = this->seen(context);
    if (seen && compact_) byte(kC1);
    header(t, line | (seen ? format::kClassicReference : 0), true);
    number(symbol(sym));
    compact_ ? zigzag(index) : u32(static_cast<uint32_t>(index));
    if (seen) return reference(context);
    // The owner is written here, its insides one level down, as if they were inside the word.
    (void)first_meeting(context);
    const Cell owner_cell = context::owner_of(context);
    if (compact_)
        byte(static_cast<uint8_t>(static_cast<uint32_t>(owner) |
                                  (owner_cell.w3 && owner == TypeId::object ? kFlag : 0)));
    if (owner == TypeId::object) object_body(owner_cell, 0, false);
    else function_body(owner_cell, 0, false);
}

void Writer::object_body(const Cell& object, uint32_t line, bool type_byte) {
    const bool events = object.w3 != 0;
    if (compact_) {
        if (type_byte) byte(static_cast<uint8_t>(static_cast<uint32_t>(TypeId::object) | (events ? kFlag : 0)));
        zigzag(static_cast<int32_t>(object.w2));
        if (events) zigzag(0), zigzag(0);  // the handlers are found again by name when read
    } else {
        u32(static_cast<uint32_t>(TypeId::object) | line | (events ? format::kClassicEvents : 0));
        u32(object.w2);
        if (events) u32(0), u32(0);
    }
    descend();
    context_body(object.w1);
    ascend();
}

void Writer::function_body(const Cell& fn, uint32_t line, bool type_byte) {
    const Cell body = function::more_at(fn, function::kBody);
    const NodeId body_node = cell::is(body, TypeId::block) ? cell::series_node(body) : 0;
    if (type_byte || !compact_) header(static_cast<uint32_t>(TypeId::function), line, false);
    number(series::length(function::spec_of(fn)));
    number(body_node ? series::length(body_node) : 0);
    context_body(function::context_of(fn));
    descend();
    block_record(function::spec_of(fn), 0, TypeId::block, 0, true);
    ++index_;
    if (body_node) block_record(body_node, cell::series_index(body), TypeId::block, 0, true);
    else block_record(0, 0, TypeId::block, 0, false);
    ascend();
}

void Writer::context_body(NodeId context) {
    const Cell& c = context::cell_of(context);
    const bool on_stack = (c.header & cell_flag::stack_values) != 0;
    const uint32_t n = context::word_count(context);
    bool values = false;
    if (!on_stack)
        for (uint32_t i = 0; i < n && !values; ++i) values = !cell::is(*context::value_at(context, i), TypeId::unset);
    const uint32_t kind = (c.header & cell_flag::context_kind) >> context::kKindShift;
    const uint32_t flags =
        kind | (on_stack ? 4 : 0) | (c.header & cell_flag::object_context ? 8 : 0) | (values ? 16 : 0);
    if (compact_) {
        byte(static_cast<uint8_t>(TypeId::context));
        byte(static_cast<uint8_t>(flags));
    } else {
        u32(static_cast<uint32_t>(TypeId::context) | flags << 26);
    }
    number(n);
    for (uint32_t i = 0; i < n; ++i) number(symbol(word::symbol_of(context::word_at(context, i))));
    if (!values) return;
    for (uint32_t i = 0; i < n; ++i) value(*context::value_at(context, i));
}

void Writer::block_record(NodeId node, uint32_t head, TypeId type, uint32_t line, bool remember) {
    const auto t = static_cast<uint32_t>(type);
    if (remember && !first_meeting(node)) {
        if (compact_) byte(kC1);
        header(t, line | format::kClassicReference, head != 0);
        if (compact_ && head) varint(head);
        if (!compact_) u32(head);
        return reference(node);
    }
    const uint32_t n = node ? series::length(node) : 0;
    header(t, line, head != 0);
    if (compact_) {
        if (head) varint(head);
        varint(n);
    } else {
        u32(head), u32(n);
    }
    descend();
    // The cells are re-read by index: nothing here allocates, but the path stays correct anyway.
    for (uint32_t i = 0; i < n; ++i) value(memory::buffer(node)->cells()[i]);
    ascend();
}

void Writer::series_record(const Cell& v, uint32_t line) {
    const TypeId type = cell::type(v);
    const auto t = static_cast<uint32_t>(type);
    const NodeId node = cell::series_node(v);
    const uint32_t length = series::length(node);
    const bool headed = type != TypeId::map && type != TypeId::bitset;
    const uint32_t head = headed ? std::min(cell::series_index(v), length) : 0;
    if (type_group::in(type_group::block_like, type)) return block_record(node, head, type, line, true);
    if (!first_meeting(node)) {
        if (compact_) byte(kC1);
        header(t, line | format::kClassicReference, head != 0);
        if (head || !compact_) {
            if (headed) number(head);
        }
        return reference(node);
    }
    const SeriesBuffer* b = memory::buffer(node);
    const uint32_t unit = b->unit();
    switch (type) {
        case TypeId::map: {
            uint32_t live = 0;
            for (uint32_t i = 0; i + 1 < length; i += 2) live += memory::buffer(node)->cells()[i + 1].header != 0;
            header(t, line, false);
            number(live * 2);
            descend();
            for (uint32_t i = 0; i + 1 < length; i += 2) {
                if (memory::buffer(node)->cells()[i + 1].header == 0) continue;  // a removed entry
                value(memory::buffer(node)->cells()[i]);
                value(memory::buffer(node)->cells()[i + 1]);
            }
            ascend();
            return;
        }
        case TypeId::bitset: {
            const bool complement = (b->flags & series_flag::complement) != 0;
            header(t, line | (complement ? format::kClassicComplement : 0), complement);
            number(length);
            raw(memory::buffer(node)->head_ptr(), length);
            return;
        }
        case TypeId::binary:
            header(t, line | 1u << 8, head != 0);
            if (head || !compact_) number(head);
            number(length);
            raw(memory::buffer(node)->head_ptr(), length);
            return;
        case TypeId::image: {
            header(t, line, head != 0);
            if (head || !compact_) number(head);
            if (compact_) varint(image::width(v)), varint(image::height(v));
            else u32(v.w3);
            raw(memory::buffer(node)->head_ptr(), size_t{length} * 4);
            return;
        }
        case TypeId::vector: {
            header(t, line | unit << 8, head != 0);
            if (head || !compact_) number(head);
            const uint32_t log = std::countr_zero(unit);
            if (compact_) {
                byte(static_cast<uint8_t>(v.w3 * 4 + log));
                varint(length);
            } else {
                u32(length), u32(v.w3);
            }
            raw(memory::buffer(node)->head_ptr(), size_t{length} * unit);
            return;
        }
        default: {  // the string family
            header(t, line | unit << 8, head != 0);
            if (head || !compact_) number(head);
            if (compact_) varint(length * 4 + static_cast<uint32_t>(std::countr_zero(unit)));
            else u32(length);
            raw(memory::buffer(node)->head_ptr(), size_t{length} * unit);
            return;
        }
    }
}

// The header and the symbol table, which go before the records.
std::vector<uint8_t> Writer::front() const {
    std::vector<uint8_t> r(format::kHeaderSize + 20 + 4 * names_.size() + names_bytes_);
    size_t at = 0;
    const bool symbols = !names_.empty();
    std::memcpy(r.data(), format::kMagic, 6);
    r[6] = format::kVersion;
    r[7] = static_cast<uint8_t>((compact_ ? kFlagCompact : 0) | (symbols ? kFlagSymbols : 0));
    at = format::kHeaderSize;
    auto put32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) r[at++] = static_cast<uint8_t>(v >> (8 * i));
    };
    auto put = [&](uint32_t v) {
        if (!compact_) return put32(v);
        while (v >= 0x80) r[at++] = static_cast<uint8_t>(v | 0x80), v >>= 7;
        r[at++] = static_cast<uint8_t>(v);
    };
    put(1);
    put(static_cast<uint32_t>(out_.size()));
    if (symbols) {
        put(static_cast<uint32_t>(names_.size()));
        put(static_cast<uint32_t>(names_bytes_));
        uint32_t offset = 0;
        for (const std::string_view name : names_) {
            put32(offset);
            offset += static_cast<uint32_t>(name.size()) + 1;
        }
        for (const std::string_view name : names_) {
            std::memcpy(r.data() + at, name.data(), name.size());
            at += name.size();
            r[at++] = 0;
        }
    }
    r.resize(at);
    return r;
}

}  // namespace

Cell encode(const Cell& value, bool compact) {
    Writer writer(compact);
    writer.value(value);
    const std::vector<uint8_t> front = writer.front();
    const std::vector<uint8_t>& records = writer.records();
    const size_t total = front.size() + records.size();
    if (total > 0x7FFFFFF0) error::fire(ErrorId::no_memory);
    const Cell result = binary::make(static_cast<uint32_t>(total));
    SeriesBuffer* b = memory::buffer(cell::series_node(result));
    std::memcpy(b->tail_ptr(), front.data(), front.size());
    if (!records.empty()) std::memcpy(b->tail_ptr() + front.size(), records.data(), records.size());
    b->tail += static_cast<uint32_t>(total);
    return result;
}

std::vector<uint8_t> encode_bytes(const Cell& value, bool compact) {
    Writer writer(compact);
    writer.value(value);
    std::vector<uint8_t> data = writer.front();
    data.insert(data.end(), writer.records().begin(), writer.records().end());
    return data;
}

}  // namespace zub::zubbin
