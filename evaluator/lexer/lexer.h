// The lexer: turns UTF-8 source text into values. One table-driven machine (tables.h) delimits
// tokens; each token's scanner checks it and its loader builds the value on the lexer's value
// stack, where open blocks, parens and paths are built until their closing delimiter arrives.
// Also the converters that `to integer!`, `to float!` and `to money!` use on strings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zub::lexer {

// Trace events, as bits of a trace mask.
namespace event {
inline constexpr uint32_t prescan = 1;
inline constexpr uint32_t scan = 2;
inline constexpr uint32_t load = 4;
inline constexpr uint32_t open = 8;
inline constexpr uint32_t close = 16;
inline constexpr uint32_t error = 32;
inline constexpr uint32_t all = 63;
}  // namespace event

// What a trace hook is told about one event. Positions count characters of the input, or bytes
// when it is binary.
struct TraceInfo {
    static constexpr uint32_t kStay = UINT32_MAX;
    uint32_t event;           // one event bit
    int32_t type;             // the token's datatype id, a block kind, or minus the action number
    uint32_t line;            // the line the lexer is on
    uint32_t start;           // 1-based index of the token start in the input
    uint32_t end;             // 1-based index of the token end
    const Cell* value;        // the loaded value for the load event, else null
    uint32_t resume = kStay;  // set by the hook: the 0-based index the lexer goes on from
};
// Answers whether the token (or opening, closing, value, error) goes on; setting `resume` moves
// the lexer, once this token is done. A hook may load again (nested calls share the value stack)
// but must not keep the `value` pointer.
using TraceHook = bool (*)(void* data, TraceInfo& info);
struct Trace {
    TraceHook hook;  // called for the events in mask
    void* data;      // passed back to the hook
    uint32_t mask;   // event bits
};

struct Options {
    bool one = false;              // stop after one value (/next, /one, /scan)
    bool prescan = false;          // read one token without loading (/prescan)
    bool load = true;              // build values; off for /scan, /prescan and the delimiter check
    NodeId into = 0;               // append the values to this block instead of a new one (/into)
    const Trace* trace = nullptr;  // /trace
    bool bytes = false;            // trace positions count bytes (binary input)
};

struct Result {
    Cell value;         // the block of values; in one-value mode the value (none when none)
    TypeId type;        // the type of the last token; error! when a check found an error
    uint32_t consumed;  // bytes read (characters for transcode_string)
};

// Start-up, after the memory manager: the value stack and the UTF-8 buffer. Again after
// memory::free_all (tests). May collect.
void init();
// The block that holds the lexer's value stack: a collector root. Its tail is the stack top.
NodeId stack_node();

// A new block of the values of a whole source text. Bad text raises a syntax error. The bytes
// must not lie in a series (they are read across allocations). May collect.
NodeId load(const std::byte* utf8, uint32_t length);

// The core of `transcode` on UTF-8 bytes outside any series. With load off, syntax errors do not
// raise: the result type reads error!. May collect.
Result transcode(const std::byte* utf8, uint32_t length, const Options& options);
// transcode on a string! or binary! value from its position, `length` units or -1 for all; the
// text is copied to the lexer's buffer first, so the source may move meanwhile. May collect.
Result transcode_value(Cell source, int32_t length, const Options& options);

// ---- Converters for make and to ----------------------------------------------------------------
// Each reads `count` characters of unit width `unit` (1, 2 or 4) and sets error to 0, or -1 for
// bad text (-2 for integer overflow). They never raise and never allocate.
int32_t scan_integer(const std::byte* data, uint32_t count, uint32_t unit, int32_t& error);
double scan_float(const std::byte* data, uint32_t count, uint32_t unit, int32_t& error);

// The parts of a money text, for money!'s maker.
struct MoneyDigits {
    bool negative;
    char code[4];      // the currency code, NUL-terminated; empty when none
    char digits[24];   // integer digits, leading zeros and ' dropped, NUL-terminated
    char fraction[8];  // fraction digits, NUL-terminated
};
bool scan_money(const std::byte* data, uint32_t count, uint32_t unit, MoneyDigits& out);

}  // namespace zub::lexer
