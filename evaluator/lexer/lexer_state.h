// What the scanner loop (lexer.cpp) and the token loaders (loaders.cpp) share: the lexer-state
// record of one transcode call, the value stack and the helpers that raise syntax errors.
// Private to the lexer.
#pragma once

#include <cstdint>

#include "evaluator/lexer/lexer.h"
#include "evaluator/lexer/tables.h"
#include "runtime/cell.h"
#include "runtime/cycles.h"

namespace zub::lexer {

// A token-flag bit of our own: some byte of the token is 80h or above. The class table's UTF-8
// bits only see lead bytes, and a stray continuation byte must still reach the UTF-8 check.
inline constexpr uint32_t kNonAscii = 0x00000100;

// Error kinds besides a positive datatype id.
inline constexpr int32_t kBadChar = -1;
inline constexpr int32_t kMalconstruct = -2;
inline constexpr int32_t kMissing = -3;
inline constexpr int32_t kMissingAtEnd = -4;

using Byte = uint8_t;

// One call of the core. Lives on the machine stack, chained to the call it is nested in.
struct Lexer {
    Lexer* parent;         // the enclosing call, or null
    uint32_t base;         // first value-stack cell of this call
    uint32_t block_start;  // first cell of the innermost open block (base at top level)
    uint32_t depth;        // open markers of this call
    const Byte* input_start;
    const Byte* input_end;
    const Byte* pos;  // where the next token starts
    const Byte* token_end;
    uint32_t line;            // 1-based
    uint32_t lead_lines;      // line feeds between the previous token and this one
    int32_t override_kind;    // the type a shared loader builds (file!, url!, ...), or -1
    int32_t token_type;       // datatype id of the last token, 0 for punctuation
    uint8_t initial_state;    // 0, 4 in a braced string, 35 in a point, 59 in a path
    uint8_t last_state;       // the working state before the terminal one
    int32_t last_type;        // the type of the last completed token
    const Byte* brace_start;  // the outermost { of an open braced string
    uint32_t brace_depth;
    uint32_t brace_flags;   // token flags gathered over the braced string's pieces
    uint32_t brace_line;    // line of the outermost {
    const Trace* trace;     // or null
    bool load;              // build values
    const Byte* char_mark;  // the last position converted to a character index
    uint32_t char_index;    // its 0-based character index
    bool bytes;             // trace positions count bytes, not characters
    const Byte* resume_at;  // where a trace hook asked to go on from, or null
};

// Thrown (and caught by transcode) when a check-only scan meets an error.
struct QuietStop {};

// ---- Value stack ----
Cell* stack_cells();  // valid until the next allocation
uint32_t stack_top();
void stack_drop_to(uint32_t top);
// A fresh unset cell on top, with the new-line flag when a line feed preceded the token. May
// collect: the pointer is valid until the next allocation.
Cell* push_cell(Lexer& s);
inline Cell* push_cell(Lexer& s, Cell value) {
    Cell* c = push_cell(s);
    cell::store_keeping_new_line(*c, value);
    return c;
}

// The kind of the innermost open marker of this call, or 0 at top level.
int32_t innermost_kind(const Lexer& s);
// Fires a trace event when the hook asked for it; true when there is none.
bool fire_event(Lexer& s, uint32_t bit, int32_t type, const Cell* value, const Byte* start, const Byte* end);

// Raises the syntax error of the kind for the token; returns only when a trace hook suppressed
// it (the caller then drops the token). Near text starts at `near`.
void throw_error(Lexer& s, const Byte* near, int32_t kind, uint8_t offending = 0);

// ---- Token actions ----
using Action = void (*)(Lexer& s, const Byte* start, const Byte* end, uint32_t flags, bool load);
extern const Action g_loaders[kTerminalCount + 1];  // by action number; null where none

// Decodes the escape after a ^ at p (p < end); advances p. -1 for a bad escape.
int32_t decode_escape(const Byte*& p, const Byte* end);
// U+00A0 and the other code points that end a word like white space.
bool is_unicode_space(uint32_t cp);

}  // namespace zub::lexer
