// The ZUBBIN reader. Each record is decoded into a cell that already sits in its place (a block's
// cell, an object's value), and a container is put in its place before its contents are read, so
// a reference path met inside a value can reach the value being built (a cycle). The whole read
// holds the collector off: the new series hang from that growing structure only.
#include <bit>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/error_value.h"
#include "datatypes/function.h"
#include "datatypes/hash.h"
#include "datatypes/image.h"
#include "datatypes/locale.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/tuple.h"
#include "datatypes/values_cache.h"
#include "datatypes/word.h"
#include "evaluator/depth.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/lz.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "system/zubbin.h"
#include "system/zubbin_format.h"

namespace zub::zubbin {
namespace {

using format::kFlag;

// Nesting the writer can produce (its levels, each at most a few records deep), and no more: the
// reader recurses once per level.
constexpr uint32_t kMaxDepth = 3 * cycles::kMaxNesting + 16;

Cell& cell_at(NodeId node, uint32_t i) { return memory::buffer(node)->cells()[i]; }

bool valid_utf8(const uint8_t* s, size_t n) {
    for (size_t i = 0; i < n;) {
        const uint8_t b = s[i];
        size_t len = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (!len || i + len > n) return false;
        uint32_t cp = len == 1 ? b : b & (0x7F >> len);
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = cp << 6 | (s[i + k] & 0x3F);
        }
        const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

bool valid_date(uint32_t packed) {
    const uint32_t month = (packed >> date::kMonthShift) & 0xF;
    const uint32_t day = (packed >> date::kDayShift) & 0x1F;
    const int32_t year = static_cast<int32_t>(packed) >> date::kYearShift;
    if (month < 1 || month > 12 || day < 1) return false;
    constexpr uint8_t kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day > kDays[month - 1]) return false;
    if (month == 2 && day == 29 && !date::leap_year(year)) return false;
    return ((packed & date::kZoneMask & ~date::kZoneWest) >> 2) <= date::kMaxZoneHours;
}

class Reader {
  public:
    Reader(const uint8_t* data, size_t size, Mode mode, const Cell& argument)
        : data_(data), size_(size), mode_(mode), argument_(argument) {}
    ~Reader() { lz::free_buffer(unpacked_); }
    void run(NodeId target);

  private:
    const uint8_t* data_;
    size_t size_;
    Mode mode_;
    Cell argument_;
    uint8_t* unpacked_ = nullptr;
    const uint8_t* base_ = nullptr;  // where offsets in errors count from
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    const uint8_t* mark_ = nullptr;     // the start of the field being read, for errors
    const uint8_t* records_ = nullptr;  // the record area: classic payloads end on its words
    bool compact_ = true;
    NodeId target_ = 0;
    uint32_t root_base_ = 0;
    uint32_t depth_ = 0;
    const uint8_t* offsets_ = nullptr;
    const uint8_t* names_ = nullptr;
    uint32_t names_size_ = 0;
    std::vector<symbol::Id> ids_;
    std::unordered_map<uint32_t, uint32_t> classes_;

    [[noreturn]] void fail() { fail_at(mark_); }
    [[noreturn]] void fail_at(const uint8_t* at) {
        error::fire(ErrorId::zb_invalid_record, cell::integer(static_cast<int32_t>(at - base_ + 1)));
    }
    [[noreturn]] void bad_data() { error::fire(ErrorId::invalid_data, argument_); }

    // ---- Input primitives: each checks the bytes left ----
    size_t left() const { return static_cast<size_t>(end_ - p_); }
    void need(size_t n) {
        if (left() < n) fail_at(p_);
    }
    uint8_t u8() {
        need(1);
        return *p_++;
    }
    uint32_t u32() {
        need(4);
        uint32_t v;
        std::memcpy(&v, p_, 4);
        p_ += 4;
        return v;
    }
    uint32_t varint() {
        const uint8_t* start = p_;
        uint32_t v = 0;
        for (int i = 0; i < 5; ++i) {
            const uint8_t b = u8();
            if (i == 4 && (b & 0xF0)) fail_at(start);
            v |= static_cast<uint32_t>(b & 0x7F) << (7 * i);
            if (!(b & 0x80)) return v;
        }
        fail_at(start);
    }
    int32_t zigzag() {
        const uint32_t u = varint();
        return static_cast<int32_t>((u >> 1) ^ (0u - (u & 1)));
    }
    uint32_t number() { return compact_ ? varint() : u32(); }
    int32_t signed_number() { return compact_ ? zigzag() : static_cast<int32_t>(u32()); }
    // A count of things each taking at least `each` bytes: never more than the bytes left.
    uint32_t count(uint32_t each) {
        mark_ = p_;
        const uint32_t n = number();
        if (static_cast<int32_t>(n) < 0 || n > left() / each) fail();
        return n;
    }
    const uint8_t* take(size_t n) {
        need(n);
        const uint8_t* at = p_;
        p_ += n;
        if (!compact_ && records_)
            while ((p_ - records_) % 4 && p_ < end_) ++p_;
        return at;
    }
    double read_double() {
        const uint32_t lo = u32(), hi = u32();
        return std::bit_cast<double>(static_cast<uint64_t>(hi) << 32 | lo);
    }

    symbol::Id symbol_at(uint32_t index);
    symbol::Id symbol() {
        mark_ = p_;
        return symbol_at(number());
    }

    // ---- Records ----
    void read(NodeId parent, uint32_t i, bool top = false);
    void payload(NodeId parent, uint32_t i, TypeId type, bool f, bool ref, uint32_t header, const uint8_t* at);
    void store(NodeId parent, uint32_t i, Cell v) { cell_at(parent, i) = v; }
    Cell resolve();
    NodeId context_of_reference(const Cell& x, TypeId owner);
    void word_record(NodeId parent, uint32_t i, TypeId type, bool f, bool ref, uint32_t header, const uint8_t* at);
    void owner_record(NodeId word_parent, uint32_t word_index, TypeId owner, bool events, uint32_t header);
    NodeId context_body(bool function, NodeId parent, uint32_t i, NodeId word_parent, uint32_t word_index);
    void object_body(NodeId parent, uint32_t i, bool events, NodeId word_parent, uint32_t word_index);
    void function_body(NodeId parent, uint32_t i, NodeId word_parent, uint32_t word_index);
    void block_into(NodeId node, uint32_t n);
    NodeId block_payload(NodeId parent, uint32_t i, TypeId type, bool f, bool ref);
    void series_payload(NodeId parent, uint32_t i, TypeId type, bool f, bool ref, uint32_t header);
    NodeId spec_or_body(NodeId parent, uint32_t i);
};

symbol::Id Reader::symbol_at(uint32_t index) {
    if (index >= ids_.size()) fail();
    if (ids_[index]) return ids_[index];
    uint32_t offset;
    std::memcpy(&offset, offsets_ + size_t{index} * 4, 4);
    if (offset >= names_size_) fail();
    const auto* name = names_ + offset;
    const size_t n = std::strlen(reinterpret_cast<const char*>(name));  // the area ends in a NUL
    if (n == 0 || !valid_utf8(name, n)) fail();
    ids_[index] = symbol::make(std::string_view(reinterpret_cast<const char*>(name), n));
    return ids_[index];
}

void Reader::run(NodeId target) {
    target_ = target;
    root_base_ = series::length(target);
    base_ = data_;
    p_ = data_;
    end_ = data_ + size_;
    if (size_ < format::kHeaderSize || std::memcmp(data_, format::kMagic, 6) != 0) bad_data();
    const uint8_t flags = data_[7];
    compact_ = (flags & kFlagCompact) != 0;
    p_ += format::kHeaderSize;
    if (flags & ~(kFlagCompact | kFlagCompressed | kFlagSymbols)) fail_at(data_ + 7);
    if (flags & kFlagCompressed) {
        uint32_t produced = 0;
        unpacked_ = lz::decompress(p_, left(), &produced);
        if (!unpacked_) bad_data();
        base_ = p_ = unpacked_;
        end_ = unpacked_ + produced;
    }
    if (!compact_ && left() < 8) bad_data();
    mark_ = p_;
    (void)number();  // the root count: the records say how many there are
    const uint32_t records = count(1);
    uint32_t symbols = 0, names = 0;
    if (flags & kFlagSymbols) {
        symbols = count(4);
        names = count(1);
        if (size_t{symbols} * 4 + names > left()) fail();
        offsets_ = take(size_t{symbols} * 4);
        mark_ = p_;
        names_ = p_;
        names_size_ = names;
        p_ += names;
        if (names && names_[names - 1] != 0) fail_at(p_ - 1);
        if (!names && symbols) fail();
    }
    ids_.assign(symbols, 0);
    if (records > left()) fail_at(p_);
    end_ = p_ + records;
    records_ = p_;
    collector::Guard guard;  // everything read hangs from the target only once it is in place
    while (p_ < end_) {
        if (!compact_ && left() >= 4 && p_[0] == 0 && p_[1] == 0 && p_[2] == 0 && p_[3] == 0) {
            p_ += 4;  // padding
            continue;
        }
        const uint32_t at = series::length(target);
        block::append(target, cell::none());
        read(target, at, true);
    }
}

// One record into cell i of the parent, prefixes included.
void Reader::read(NodeId parent, uint32_t i, bool top) {
    if (++depth_ > kMaxDepth) error::fire(ErrorId::too_deep);
    depth::check();
    struct Leave {
        uint32_t& d;
        ~Leave() { --d; }
    } leave{depth_};
    bool line = false, ref = false, def = false;
    const uint8_t* at;
    TypeId type;
    bool f = false;
    uint32_t header = 0;
    if (compact_) {
        uint8_t b;
        for (;;) {
            at = mark_ = p_;
            b = u8();
            if (b == format::kC0) line = true;
            else if (b == format::kC1) ref = true;
            else if (b == format::kC4) def = true;
            else break;
        }
        if (b >= format::kShortInteger && b < format::kC0) {
            if (ref || def) fail();
            Cell v = cell::integer(b - format::kShortInteger);
            cell::set_new_line(v, line);
            return store(parent, i, v);
        }
        if (b == format::kTrue || b == format::kFalse || b == format::kValueReference) {
            if (ref || def) fail();
            Cell v = b == format::kValueReference ? resolve() : cell::logic(b == format::kTrue);
            cell::set_new_line(v, line);
            return store(parent, i, v);
        }
        if (b > format::kC4) fail();
        uint32_t id = b & 63;
        f = (b & kFlag) != 0;
        if (id == 63) id = varint();
        if (id == 0 || id > static_cast<uint32_t>(kTypeCount)) fail_at(at);
        type = static_cast<TypeId>(id);
    } else {
        do {
            at = mark_ = p_;
            header = u32();
        } while (header == 0);
        const uint32_t id = header & 0xFF;
        line = (header & format::kClassicNewLine) != 0;
        if (id == format::kReference) {
            p_ = at;
            Cell v = resolve();
            cell::set_new_line(v, line);
            return store(parent, i, v);
        }
        if (id == 0 || id > static_cast<uint32_t>(kTypeCount)) fail_at(at);
        type = static_cast<TypeId>(id);
        ref = (header & format::kClassicReference) != 0;
        def = mode_ == Mode::start_up && (header & format::kClassicGlobal) != 0 && type >= TypeId::word &&
              type <= TypeId::issue;
    }
    if (def) {
        // A definition: the word, then its value, set and taken back off the target.
        if (mode_ != Mode::start_up || !top || ref || type < TypeId::word || type > TypeId::issue) fail_at(at);
        payload(parent, i, type, f, false, header & ~format::kClassicGlobal, at);
        block::append(parent, cell::none());
        read(parent, i + 1);
        const Cell word = cell_at(parent, i);
        if (type != TypeId::issue) (void)context::set_in(word, cell_at(parent, i + 1), word::context_of(word), false);
        series::set_tail(parent, i + 1);
        return;
    }
    payload(parent, i, type, f, ref, header, at);
    if (line) cell::set_new_line(cell_at(parent, i), true);
}

void Reader::payload(NodeId parent, uint32_t i, TypeId type, bool f, bool ref, uint32_t header, const uint8_t* at) {
    const auto t = static_cast<uint32_t>(type);
    const bool referable = type_group::in(type_group::series, type) || type == TypeId::map || type == TypeId::bitset ||
                           type == TypeId::object || type == TypeId::function || word::is_all_word(type);
    if (ref && (!referable || type == TypeId::issue)) fail_at(at);
    switch (type) {
        case TypeId::unset:
        case TypeId::none: return store(parent, i, cell::make(type));
        case TypeId::datatype: {
            mark_ = p_;
            const uint32_t id = number();
            if (id == 0 || id > static_cast<uint32_t>(kTypeCount)) fail();
            return store(parent, i, cell::datatype_of(static_cast<TypeId>(id)));
        }
        case TypeId::logic: {
            if (compact_) fail_at(at);  // only C2h and C3h
            mark_ = p_;
            const uint32_t v = u32();
            if (v > 1) fail();
            return store(parent, i, cell::logic(v != 0));
        }
        case TypeId::integer: return store(parent, i, cell::integer(signed_number()));
        case TypeId::char_: {
            mark_ = p_;
            const uint32_t cp = number();
            if (cp > 0x10FFFF) fail();
            return store(parent, i, cell::character(cp));
        }
        case TypeId::float_:
        case TypeId::time:
        case TypeId::percent: {
            double d;
            if (compact_ && f) {
                const int32_t n = zigzag();
                d = type == TypeId::percent ? n / 100.0 : static_cast<double>(n);
            } else {
                d = read_double();
            }
            return store(parent, i, cell::floating(d, type));
        }
        case TypeId::pair: {
            const int32_t x = signed_number();
            const int32_t y = signed_number();
            return store(parent, i, cell::make(type, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)));
        }
        case TypeId::point2D:
        case TypeId::point3D: {
            const uint32_t x = u32(), y = u32();
            const uint32_t z = type == TypeId::point3D ? u32() : 0;
            return store(parent, i, cell::make(type, x, y, z));
        }
        case TypeId::date: {
            mark_ = p_;
            const uint32_t packed = u32();
            const bool timed = (packed & format::kDateHasTime) != 0;
            if (!valid_date(packed) || (compact_ && timed != f)) fail();
            double seconds = 0;
            if (timed || !compact_) seconds = read_double();
            if (!timed) seconds = 0;
            if (!std::isfinite(seconds) || std::fabs(seconds) > 3 * 86400.0) fail();
            return store(parent, i, date::make(packed, seconds));
        }
        case TypeId::typeset: {
            uint8_t b[12] = {};
            mark_ = p_;
            const uint32_t n = compact_ ? u8() : 12;
            if (n > 12) fail();
            std::memcpy(b, take(n), n);
            Cell v = cell::make(type);
            std::memcpy(&v.w1, b, 12);
            return store(parent, i, v);
        }
        case TypeId::tuple: {
            mark_ = p_;
            const uint32_t n = compact_ ? (f ? u8() : 3) : (header >> 8) & 0xFF;
            if (n < 1 || n > tuple::kMaxBytes) fail();
            const uint8_t* b = take(compact_ ? n : 12);
            return store(parent, i, tuple::make(b, n));
        }
        case TypeId::money: {
            mark_ = p_;
            const uint8_t* b = take(12);
            if (b[0] > locale::kCurrencyCount) fail();
            bool zero = true;
            for (int k = 1; k < 12; ++k) {
                if ((b[k] >> 4) > 9 || (b[k] & 15) > 9) fail();
                zero = zero && b[k] == 0;
            }
            Cell v = cell::make(type);
            std::memcpy(&v.w1, b, 12);
            const bool negative = compact_ ? f : (header & format::kClassicMoneySign) != 0;
            if (negative && !zero) v.header |= money::kSignFlag;
            return store(parent, i, v);
        }
        case TypeId::word:
        case TypeId::set_word:
        case TypeId::lit_word:
        case TypeId::get_word:
        case TypeId::refinement:
        case TypeId::issue: return word_record(parent, i, type, f, ref, header, at);
        case TypeId::native:
        case TypeId::action: {
            mark_ = p_;
            const uint32_t index = number();
            const bool known = type == TypeId::native ? natives::filled(index) : index >= 1 && index <= kActionCount;
            if (!known) fail();
            // The data's argument block is read past, not used: a built-in takes the arguments its own
            // entry reads, whatever a forged block would claim.
            store(parent, i, cell::none());
            (void)spec_or_body(parent, i);
            const Cell own =
                type == TypeId::native ? natives::spec(index) : natives::action_spec(static_cast<Slot>(index - 1));
            const Cell made = block::make(2);
            store(parent, i, made);
            block::append(cell::series_node(made), own);
            block::append(cell::series_node(made), cell::integer(static_cast<int32_t>(index)));
            return store(parent, i, registry::actions(type).make(type, cell::none(), made));
        }
        case TypeId::op: {
            if (!compact_) {
                const uint32_t source = (header >> 16) & 0xFF;
                if (source != static_cast<uint32_t>(TypeId::native) &&
                    source != static_cast<uint32_t>(TypeId::action) &&
                    source != static_cast<uint32_t>(TypeId::function))
                    fail_at(at);
            }
            read(parent, i);
            const Cell source = cell_at(parent, i);
            const TypeId s = cell::type(source);
            if (s == TypeId::routine) error::fire(ErrorId::no_codec, cell::datatype_of(s));
            if (s != TypeId::native && s != TypeId::action && s != TypeId::function) fail_at(at);
            Cell plain = source;
            cell::clear_new_line(plain);
            return store(parent, i, registry::actions(TypeId::op).make(TypeId::op, cell::none(), plain));
        }
        case TypeId::error: {
            mark_ = p_;
            const uint32_t code = number();
            if (code > 100000) fail();
            store(parent, i, error_value::make(cell::integer(static_cast<int32_t>(code))));
            const NodeId values = context::cell_of(cell_at(parent, i).w1).w2;
            for (uint32_t k = error_value::kArg1; k <= error_value::kStack; ++k) read(values, k);
            return;
        }
        case TypeId::object:
            if (ref) {
                const Cell x = resolve();
                return store(parent, i, context::owner_of(context_of_reference(x, TypeId::object)));
            }
            return object_body(parent, i, f || (header & format::kClassicEvents), 0, 0);
        case TypeId::function:
            if (ref) {
                const Cell x = resolve();
                return store(parent, i, context::owner_of(context_of_reference(x, TypeId::function)));
            }
            return function_body(parent, i, 0, 0);
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
        case TypeId::bitset: return series_payload(parent, i, type, f, ref, header);
        case TypeId::routine:
        case TypeId::triple:
        case TypeId::handle:
        case TypeId::port:
        case TypeId::event: error::fire(ErrorId::no_codec, cell::datatype_of(type));
        default: fail_at(at);  // symbol!, context!, series!: never a value of their own
    }
    (void)t;
}

// A reference path: the cell it reaches, copied.
Cell Reader::resolve() {
    const uint8_t* start = p_;
    if (!compact_) {
        mark_ = p_;
        if ((u32() & 0xFF) != format::kReference) fail();
    }
    mark_ = p_;
    const uint32_t n = number();
    if (n < 1 || n > format::kMaxPath || n > left() / (compact_ ? 1 : 4)) fail();
    mark_ = p_;
    uint32_t index = number();
    if (index >= series::length(target_)) fail();
    Cell x = cell_at(target_, index);
    for (uint32_t k = 1; k < n; ++k) {
        mark_ = p_;
        index = number();
        const TypeId t = cell::type(x);
        NodeId cells = 0;
        if (block::is_block_like(t) || t == TypeId::map) {
            cells = cell::series_node(x);
        } else if (t == TypeId::native || t == TypeId::action || (t == TypeId::op && !op::from_function(x))) {
            cells = x.w2;
        } else if (t == TypeId::function || (t == TypeId::op && op::from_function(x))) {
            if (index == 0 && x.w2) {
                x = cell::series(TypeId::block, x.w2);
                continue;
            }
            if (index == 1 && x.w3) {
                x = function::more_at(x, function::kBody);
                continue;
            }
            fail();
        } else if (t == TypeId::object || t == TypeId::error || (word::is_all_word(t) && t != TypeId::issue)) {
            const NodeId context = x.w1;
            if (!context || context == context::global()) fail();
            if (context::values_on_stack(context)) {
                x = context::owner_of(context);
                if (!cell::is(x, TypeId::function)) fail();
                --k;  // the same index, now into the function
                p_ = mark_;
                continue;
            }
            const uint32_t at = t == TypeId::error ? index + error_value::kArg1 : index;
            if (at >= context::word_count(context) || at >= series::length(context::cell_of(context).w2)) fail();
            x = *context::value_at(context, at);
            continue;
        } else {
            fail();
        }
        if (!cells || index >= series::length(cells)) fail();
        x = cell_at(cells, index);
    }
    (void)start;
    cell::clear_new_line(x);
    return x;
}

// The context a reference path names for a word's owner or an object or function record.
NodeId Reader::context_of_reference(const Cell& x, TypeId owner) {
    const TypeId t = cell::type(x);
    NodeId context = 0;
    if (t == TypeId::object || t == TypeId::function) context = x.w1;
    else if (t == TypeId::op && op::from_function(x)) context = x.w1;
    else if (word::is_all_word(t) && t != TypeId::issue) context = x.w1;
    if (!context || context == context::global() || !cell::is(context::owner_of(context), owner)) fail();
    return context;
}

void Reader::word_record(NodeId parent, uint32_t i, TypeId type, bool f, bool ref, uint32_t header, const uint8_t* at) {
    const symbol::Id sym = symbol();
    if (type == TypeId::issue) {
        return store(parent, i, cell::make(TypeId::issue, context::global(), sym, context::kUnresolved));
    }
    int32_t index = -1;
    if (mode_ == Mode::start_up) {
        // The context is a cell of the target already read, counted from where this load began;
        // none (F clear, or root -1 in the classic form) is the global context.
        uint32_t root = 0xFFFFFFFF;
        mark_ = p_;
        if (compact_ && f) root = varint(), index = zigzag();
        else if (!compact_) root = u32(), index = static_cast<int32_t>(u32());
        if (root == 0xFFFFFFFF) {
            const Cell global = context::add_global_word(sym);
            return store(parent, i, cell::make(type, global.w1, sym, global.w3));
        }
        if (root >= series::length(target_) - root_base_) fail();
        const Cell holder = cell_at(target_, root_base_ + root);
        if (!cell::is(holder, TypeId::object) && !cell::is(holder, TypeId::function)) fail();
        store(parent, i, cell::make(type, holder.w1, sym, context::kUnresolved));
    } else {
        const bool bound = compact_ ? f : (header & format::kClassicGlobal) == 0;
        if (!bound) {
            if (!compact_) (void)u32();
            const Cell global = context::add_global_word(sym);
            return store(parent, i, cell::make(type, global.w1, sym, global.w3));
        }
        store(parent, i, cell::make(type, 0, sym, context::kUnresolved));
        mark_ = p_;
        index = signed_number();
        if (ref) {
            const Cell x = resolve();
            const TypeId xt = cell::type(x);
            const TypeId owner = (xt == TypeId::function || xt == TypeId::op) ? TypeId::function
                                 : word::is_all_word(xt) && x.w1 && x.w1 != context::global()
                                     ? cell::type(context::owner_of(x.w1))
                                     : TypeId::object;
            cell_at(parent, i).w1 = context_of_reference(x, owner);
        } else {
            mark_ = p_;
            uint32_t owner_header = 0;
            TypeId owner;
            bool events = false;
            if (compact_) {
                const uint8_t b = u8();
                owner = static_cast<TypeId>(b & 63);
                events = (b & kFlag) != 0;
            } else {
                owner_header = u32();
                owner = static_cast<TypeId>(owner_header & 0xFF);
                events = (owner_header & format::kClassicEvents) != 0;
            }
            if (owner != TypeId::object && owner != TypeId::function) fail();
            owner_record(parent, i, owner, events, owner_header);
        }
    }
    if (index < -1) fail_at(at);
    // The index must name the word's own symbol there; else the word is looked up by name.
    const NodeId context = cell_at(parent, i).w1;
    const uint32_t n = context::word_count(context);
    int32_t found = -1;
    if (index >= 0 && static_cast<uint32_t>(index) < n &&
        symbol::resolve(word::symbol_of(context::word_at(context, static_cast<uint32_t>(index)))) ==
            symbol::resolve(sym))
        found = index;
    else found = context::find_word(context, sym, true);
    if (found < 0) fail_at(at);
    cell_at(parent, i).w3 = static_cast<uint32_t>(found);
}

// A word's owner, one level down: its context binds the word as soon as it exists.
void Reader::owner_record(NodeId word_parent, uint32_t word_index, TypeId owner, bool events, uint32_t) {
    if (++depth_ > kMaxDepth) error::fire(ErrorId::too_deep);
    struct Leave {
        uint32_t& d;
        ~Leave() { --d; }
    } leave{depth_};
    // The owner lives in a cell of its own, so the context stays reachable.
    const Cell scratch = block::make(1);
    const NodeId holder = cell::series_node(scratch);
    block::append(holder, cell::none());
    if (owner == TypeId::object) object_body(holder, 0, events, word_parent, word_index);
    else function_body(holder, 0, word_parent, word_index);
}

// A context body: the words (and, for an object, the values). The holder cell goes in place as
// the context's owner before any value is read.
NodeId Reader::context_body(bool function, NodeId parent, uint32_t i, NodeId word_parent, uint32_t word_index) {
    mark_ = p_;
    if (compact_) {
        if ((u8() & 63) != static_cast<uint32_t>(TypeId::context)) fail();
    } else {
        const uint32_t h = u32();
        if ((h & 0xFF) != static_cast<uint32_t>(TypeId::context)) fail();
        p_ -= 4;
    }
    uint32_t flags;
    if (compact_) {
        mark_ = p_;
        flags = u8();
    } else {
        flags = u32() >> 26;
    }
    if (flags & ~0x1Fu) fail();
    const bool on_stack = (flags & 4) != 0;
    const bool values = (flags & 16) != 0 && !on_stack;
    if (on_stack != function) fail();
    const uint32_t n = count(compact_ ? 1 : 4);
    const NodeId context =
        function ? context::create(n, true, false, 0, context::Kind::function) : object::make_context(n);
    cell_at(parent, i).w1 = context;
    context::owner_of(context) = cell_at(parent, i);
    if (word_parent) cell_at(word_parent, word_index).w1 = context;
    for (uint32_t k = 0; k < n; ++k) {
        mark_ = p_;
        const symbol::Id sym = symbol();
        if (context::find_or_add_word(context, sym) != k) fail();  // a name given twice
    }
    if (!function) {
        // Every word has its value in place (unset) before any is read, so paths reach them all.
        const NodeId vals = context::cell_of(context).w2;
        while (series::length(vals) < n) series::append_cell(vals, cell::unset());
        if (values)
            for (uint32_t k = 0; k < n; ++k) read(vals, k);
    }
    return context;
}

void Reader::object_body(NodeId parent, uint32_t i, bool events, NodeId word_parent, uint32_t word_index) {
    mark_ = p_;
    const int32_t written_class = signed_number();
    if (events) (void)signed_number(), (void)signed_number();  // the handlers are found by name
    // Objects of one class in the data share one new class, never a class of this process.
    const auto [it, added] = classes_.try_emplace(static_cast<uint32_t>(written_class), 0);
    if (added) it->second = written_class == static_cast<int32_t>(object::kErrorClass) ? 0 : object::new_class_id();
    if (!it->second) fail();
    store(parent, i, cell::make(TypeId::object, 0, it->second, 0));
    const NodeId context = context_body(false, parent, i, word_parent, word_index);
    store(parent, i, object::wrap(context, it->second, false));
}

NodeId Reader::spec_or_body(NodeId parent, uint32_t i) {
    read(parent, i);
    const Cell b = cell_at(parent, i);
    if (!cell::is(b, TypeId::block)) fail();
    return cell::series_node(b);
}

void Reader::function_body(NodeId parent, uint32_t i, NodeId word_parent, uint32_t word_index) {
    const uint32_t spec_length = count(compact_ ? 1 : 4);
    const uint32_t body_length = count(compact_ ? 1 : 4);
    // A stand-in while the argument block and body are read: paths into it reach them (0 the block,
    // 1 the body).
    const NodeId more = memory::alloc_unset_cells(function::kMoreCells);
    series::set_tail(more, function::kMoreCells + 1);
    store(parent, i, Cell{static_cast<uint32_t>(TypeId::function), 0, 0, more});
    const NodeId context = context_body(true, parent, i, word_parent, word_index);
    const NodeId spec = spec_or_body(more, function::kArgCache);
    cell_at(parent, i).w2 = spec;
    context::owner_of(context).w2 = spec;
    const NodeId body = spec_or_body(more, function::kBody);
    if (series::length(spec) != spec_length || series::length(body) != body_length) fail();
    // The function is made again from its argument block and body, so that its arguments and context agree
    // whatever the data says; words of the body find the new context by name.
    const Cell pair = block::make(2);
    store(more, function::kOpSelf, pair);
    block::append(cell::series_node(pair), cell::series(TypeId::block, spec));
    block::append(cell::series_node(pair), cell_at(more, function::kBody));
    const Cell made = function::make(pair);
    store(parent, i, made);
    // What still names the stand-in's context (a reference path, a word bound to it) reaches
    // the function made, never the stand-in.
    context::owner_of(context) = made;
}

NodeId Reader::block_payload(NodeId parent, uint32_t i, TypeId type, bool f, bool ref) {
    uint32_t head = 0;
    if (type != TypeId::map && (f || !compact_)) {
        mark_ = p_;
        head = number();
    }
    if (ref) {
        const Cell x = resolve();
        const TypeId xt = cell::type(x);
        const bool fits = type == TypeId::map    ? xt == TypeId::map
                          : type == TypeId::hash ? xt == TypeId::hash
                                                 : block::is_block_like(xt) && xt != TypeId::hash;
        if (!fits || head > series::length(cell::series_node(x))) fail();
        Cell v = x;
        cell::set_type(v, type);
        if (type != TypeId::map) v.w1 = head;
        store(parent, i, v);
        return 0;
    }
    const uint32_t n = count(compact_ ? 1 : 4);
    if (n > block::kMaxCells || head > n || (type == TypeId::map && n % 2)) fail();
    const NodeId node = memory::alloc_unset_cells(std::max<uint32_t>(n, 1));
    series::set_tail(node, n + 1);
    store(parent, i, cell::series(type == TypeId::map ? TypeId::block : type, node, head));
    block_into(node, n);
    if (type == TypeId::map) store(parent, i, map::init_cell(node));
    if (type == TypeId::hash) store(parent, i, hash_block::index(cell::series(TypeId::hash, node, head)));
    return node;
}

void Reader::block_into(NodeId node, uint32_t n) {
    for (uint32_t k = 0; k < n; ++k) read(node, k);
}

void Reader::series_payload(NodeId parent, uint32_t i, TypeId type, bool f, bool ref, uint32_t header) {
    if (block::is_block_like(type) || type == TypeId::map) {
        (void)block_payload(parent, i, type, f, ref);
        return;
    }
    const bool headed = type != TypeId::bitset;
    uint32_t head = 0;
    if (headed && (f || !compact_)) {
        mark_ = p_;
        head = number();
    }
    if (ref) {
        const Cell x = resolve();
        const TypeId xt = cell::type(x);
        const bool fits =
            type_group::in(type_group::text_like, type) ? type_group::in(type_group::text_like, xt) : xt == type;
        if (!fits || head > series::length(cell::series_node(x))) fail();
        Cell v = x;
        cell::set_type(v, type);
        if (headed) v.w1 = head;
        if (type_group::in(type_group::text_like, type)) v.w3 = 0;
        return store(parent, i, v);
    }
    mark_ = p_;
    switch (type) {
        case TypeId::bitset:
        case TypeId::binary: {
            const uint32_t n = count(1);
            if (head > n) fail();
            const uint8_t* bytes = take(n);
            const NodeId node = memory::alloc_series(std::max<uint32_t>(n, 1), 1, 0);
            SeriesBuffer* b = memory::buffer(node);
            if (n) std::memcpy(b->head_ptr(), bytes, n);
            b->tail += n;
            const bool complement = compact_ ? f : (header & format::kClassicComplement) != 0;
            if (type == TypeId::bitset && complement) b->flags |= series_flag::complement;
            return store(parent, i, cell::series(type, node, head));
        }
        case TypeId::image: {
            uint32_t w, h;
            if (compact_) {
                w = varint();
                h = varint();
            } else {
                const uint32_t size = u32();
                w = size & 0xFFFF, h = size >> 16;
            }
            if (w > image::kMaxSide || h > image::kMaxSide) fail();
            const uint64_t n = uint64_t{w} * h;
            if (n > left() / 4 || head > n) fail();
            const uint8_t* bytes = take(static_cast<size_t>(n) * 4);
            Cell img = image::from_pixels(w, h, bytes);
            img.w1 = head;
            return store(parent, i, img);
        }
        case TypeId::vector: {
            uint32_t element, width, n;
            if (compact_) {
                const uint8_t b = u8();
                element = b >> 2;
                width = 1u << (b & 3);
                n = count(1);
            } else {
                width = (header >> 8) & 0xFF;
                n = count(1);
                mark_ = p_;
                element = u32();
            }
            const auto et = static_cast<TypeId>(element);
            const bool floats = et == TypeId::float_ || et == TypeId::percent;
            const bool whole = et == TypeId::char_ || et == TypeId::integer;
            if (!(floats && (width == 4 || width == 8)) && !(whole && (width == 1 || width == 2 || width == 4))) fail();
            if (n > left() / width || head > n) fail();
            const uint8_t* bytes = take(size_t{n} * width);
            const NodeId node = series::alloc_with_unit(std::max<uint32_t>(n, 1), width);
            SeriesBuffer* b = memory::buffer(node);
            if (n) std::memcpy(b->head_ptr(), bytes, size_t{n} * width);
            b->tail += n * width;
            return store(parent, i, cell::make(TypeId::vector, head, node, element));
        }
        default: {  // the string family
            uint32_t width, n;
            if (compact_) {
                const uint32_t l = varint();
                if ((l & 3) == 3) fail();
                width = 1u << (l & 3);
                n = l >> 2;
            } else {
                width = (header >> 8) & 0xFF;
                if (width != 1 && width != 2 && width != 4) fail();
                n = u32();
            }
            if (n > left() / width || head > n) fail();
            const uint8_t* bytes = take(size_t{n} * width);
            if (width == 4)
                for (uint32_t k = 0; k < n; ++k)
                    if (series::load_unit(reinterpret_cast<const std::byte*>(bytes) + 4 * k, 4) > 0x10FFFF) fail();
            const NodeId node = series::alloc_with_unit(std::max<uint32_t>(n, 1), width);
            SeriesBuffer* b = memory::buffer(node);
            if (n) std::memcpy(b->head_ptr(), bytes, size_t{n} * width);
            b->tail += n * width;
            return store(parent, i, cell::series(type, node, head));
        }
    }
}

}  // namespace

void decode(const uint8_t* data, size_t size, NodeId target, Mode mode) {
    Reader reader(data, size, mode, cell::none());
    reader.run(target);
}

Cell decode_value(const Cell& binary) {
    if (!cell::is(binary, TypeId::binary)) error::fire(ErrorId::invalid_data, binary);
    const NodeId node = cell::series_node(binary);
    const uint32_t length = series::length(node);
    const uint32_t head = std::min(cell::series_index(binary), length);
    if (length - head <= 10) error::fire(ErrorId::invalid_data, binary);
    // A copy: the binary's buffer may move while the values are made.
    const auto* bytes = reinterpret_cast<const uint8_t*>(memory::buffer(node)->head_ptr()) + head;
    const std::vector<uint8_t> data(bytes, bytes + (length - head));
    stack::Rooted kept(binary);
    stack::Rooted target(block::make(1));
    Reader reader(data.data(), data.size(), Mode::codec, binary);
    reader.run(cell::series_node(target.cell()));
    const NodeId values = cell::series_node(target.cell());
    if (series::length(values) == 1) {
        Cell v = cell_at(values, 0);
        cell::clear_new_line(v);
        return v;
    }
    return target.cell();
}

std::vector<uint8_t> compress(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out(data, data + std::min<size_t>(size, format::kHeaderSize));
    if (size <= format::kHeaderSize + 127) return std::vector<uint8_t>(data, data + size);
    std::vector<uint8_t> packed(size);
    const int64_t n =
        lz::compress(data + format::kHeaderSize, size - format::kHeaderSize, packed.data(), packed.size());
    if (n < 0) return std::vector<uint8_t>(data, data + size);
    out[7] |= kFlagCompressed;
    out.insert(out.end(), packed.begin(), packed.begin() + n);
    return out;
}

}  // namespace zub::zubbin
