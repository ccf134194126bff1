// string!: the text series, and the text primitives the rest of the runtime calls. A string holds
// code points in units of 1, 2 or 4 bytes and widens its buffer in place when a wider code point
// arrives; it never narrows except when emptied by rs_reset. file!, url!, tag!, email!, ref! (and,
// for some of these, binary!) share these routines.
//
// Two widening rules, by purpose:
//   append rule (append_char, and append/insert/change of a char!): a 1-byte buffer widens from
//     80h, so pure 7-bit text stays in 1-byte units; a 2-byte buffer from 10000h.
//   in-place rule (poke_char, overwrite_char, insert_char): a unit widens only when the code point
//     does not fit it: above FFh, above FFFFh.
//
// Every routine that may grow or widen a buffer may collect: keep nodes and unit indexes across
// it, never a pointer into the data. Unit indexes below count from the buffer's first used unit;
// routines taking a value work from its head.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/sort.h"
#include "runtime/unicode.h"

namespace zub::string {

// ---- Units --------------------------------------------------------------------------------------

// The unit width of a text buffer: 1, 2 or 4. Any other width is an internal fault and ends the
// program (fatal runtime error 101). Never allocates.
uint32_t unit_of(NodeId node);

// The unit a buffer needs for a code point under each rule.
inline uint32_t append_unit(uint32_t cp) { return cp < 0x80 ? 1 : cp < 0x10000 ? 2 : 4; }
inline uint32_t in_place_unit(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Copies count code points from units of one width to a wider one: 1 to 2, 1 to 4 or 2 to 4 (any
// other pair is fatal runtime error 100). The areas must not overlap. Never allocates.
void copy_units(const std::byte* from, uint32_t from_unit, std::byte* to, uint32_t to_unit, uint32_t count);

// string!, file!, url!, tag!, email! and ref!.
bool is_text(TypeId type);

// ---- Reading ------------------------------------------------------------------------------------

// Units from the head to the tail; 0 when the head lies at or past the tail. Never allocates.
uint32_t rs_length(const Cell& value);
inline bool rs_tail(const Cell& value) { return rs_length(value) == 0; }

// The code point at a unit index, which must lie before the tail. Never allocates.
uint32_t char_at(NodeId node, uint32_t index);

// The index from the head of the first unit equal to cp, or -1. Never allocates.
int32_t find_char(const Cell& value, uint32_t cp);

// Whether the text from the head starts with these bytes, each read as one code point (so a code
// point above FFh never matches). Never allocates.
bool match_literal(const Cell& value, std::string_view bytes);

// Whether the text from the head starts with "<" and ends with ">". Never allocates.
bool tag_form(const Cell& value);

// Whether the code point at the head is in the bitset!; a code point beyond the bitset's stored
// bytes answers its complement flag. False at the tail. Never allocates.
bool head_in_bitset(const Cell& value, const Cell& bitset);

// Matches a pattern against the text at the head: a char! (case-folded unless case_sensitive),
// a tag! by its text alone (no brackets), or the text of another text value (case-folded unless
// case_sensitive). Returns the units matched, or -1 for no match or a pattern of another type.
// May allocate only for a symbol! pattern (see compare_chars).
int32_t match_at_head(const Cell& value, const Cell& pattern, bool case_sensitive);

// ---- Making and shaping -------------------------------------------------------------------------

// A new empty text value of the type (string! by default) with room for capacity units (at
// least 1), in 1-byte units. May collect.
Cell make(uint32_t capacity, TypeId type = TypeId::string);

// The short road of append without refinements: a character, the whole of another text or an
// integer's digits written at the tail of a string with no owner, when they fit its unit width and
// the room its buffer has left. True with the string's head at 0, or false with nothing done (the
// action then decides as it always did). Never allocates.
bool append_text_in_room(Cell& series, const Cell& value);
inline bool append_in_room(Cell& series, const Cell& value) {
    if (!cell::is(value, TypeId::char_)) return append_text_in_room(series, value);
    SeriesBuffer* b = memory::buffer(cell::series_node(series));
    const uint32_t unit = b->unit();
    if ((b->flags & series_flag::owned) || append_unit(value.w2) > unit || b->tail + unit > b->size) return false;
    series::store_unit(b->tail_ptr(), unit, value.w2);
    b->tail += unit;
    series.w1 = 0;
    return true;
}

// Empties the buffer and sets its unit back to 1 byte. Never allocates.
void rs_reset(NodeId node);

// Moves the tail back to n units from the start when that is shorter. Never allocates.
void truncate(NodeId node, uint32_t n);

// Removes n units (clipped at the tail) at the unit index, moving the rest down. Never allocates.
void remove_part(NodeId node, uint32_t index, uint32_t n);
inline void remove_char(NodeId node, uint32_t index) { remove_part(node, index, 1); }

// ---- Writing ------------------------------------------------------------------------------------

// Appends a code point by the append rule. May collect.
void append_char(NodeId node, uint32_t cp);

// Writes a code point over the unit at the index, which must lie before the tail (fatal runtime
// error 98 otherwise), by the in-place rule. May collect (widening).
void poke_char(NodeId node, uint32_t index, uint32_t cp);

// Writes a code point at the unit index by the in-place rule; at or past the tail the buffer grows
// and the tail moves to just after it (units skipped over become NUL). May collect.
void overwrite_char(NodeId node, uint32_t index, uint32_t cp);

// Inserts a code point at the unit index (clipped to the tail), moving the rest up, by the
// in-place rule. May collect.
void insert_char(NodeId node, uint32_t index, uint32_t cp);

// Appends bytes, each as one code point by the append rule (ASCII text stays 1-byte). The bytes
// must not lie in a series. May collect.
void append_literal(NodeId node, std::string_view bytes);

// Appends UTF-8 text, decoded, widening only when a code point does not fit the unit; ill-formed
// text raises access invalid-utf8 and appends nothing. The bytes must not lie in a series.
// May collect.
void append_utf8(NodeId node, std::string_view utf8);

enum class Concat : uint8_t {
    append = 0,     // at the tail
    insert = 1,     // at the position, moving the rest up
    overwrite = 2,  // at the position, over what is there, moving the tail when it runs past it
};

// Writes part (-1: all) of the source's text from its head into the target, widening the target
// to the source's unit first. Equal units move by block copies, narrower sources code point by
// code point. A symbol! source is read through its name. The source may be the target itself.
// concatenate works at the target value's head (clipped to its tail); concatenate_at at a unit
// index of the target buffer. Returns the units written. May collect.
uint32_t concatenate(Cell target, Cell source, int32_t part, Concat mode);
uint32_t concatenate_at(NodeId target, uint32_t index, Cell source, int32_t part, Concat mode);

// Appends a value as append and `to string!` of a block write it: a char! as one code point
// (append rule), a tag! between "<" and ">", other text values as their text from the head, any
// other value formed. May collect.
void append_formed(NodeId out, Cell value);

// ---- Loading ------------------------------------------------------------------------------------

enum class Encoding : uint8_t {
    utf8 = 1,
    utf16le = 2,
};

// A new text value of the type decoded from UTF-8 (a leading byte order mark skipped) or UTF-16LE.
// Ill-formed input raises access invalid-utf8 (UTF-8) or script invalid-data (UTF-16LE). An
// encoding outside the enumeration prints "*** Loading Error: input encoding unsupported" and
// ends the program with status 0. May collect.
Cell load(unicode::Input input, Encoding encoding, TypeId type = TypeId::string);
// A new string! of UTF-8 text that does not lie in a series; a caller that knows every byte is
// below 80h says so and the bytes are copied as they are. May collect.
Cell from_utf8(std::string_view utf8, bool ascii);
// The same, appended to a block's tail; returns the new value. May collect.
Cell load_in(NodeId block, unicode::Input input, Encoding encoding, TypeId type = TypeId::string);

// ---- Hexadecimal text ---------------------------------------------------------------------------

// Two upper-case digits into out[0] and out[1]. Never allocates.
void byte_to_hex(uint8_t byte, char* out);

struct Hex {
    char text[8];    // digits, not NUL-terminated
    uint8_t length;  // digits used
    std::string_view view() const { return {text, length}; }
};
// Eight upper-case digits of the 32-bit value (two's complement), or in minimal mode only the
// significant ones ("00" for 0, "1E" for 30, "FFFFFFFF" for -1). Never allocates.
Hex int_to_hex(int32_t value, bool minimal);

// ---- Mold helpers -------------------------------------------------------------------------------

struct QuoteScan {
    uint32_t quotes;      // double quotes
    uint32_t line_feeds;  // line feeds
};
// Counts over the units [from, end) of a text buffer. Never allocates.
QuoteScan scan_quotes(NodeId node, uint32_t from, uint32_t end);

// The unit index of the "}" that brings the brace depth counted from the "{" at `from` back to
// zero, looking no further than `end`; -1 when none does. Never allocates.
int64_t brace_balance(NodeId node, uint32_t from, uint32_t end);

// Appends a code point as quoted mold writes it: 1Eh, 80h-9Fh and (with all) everything from 80h
// as ^(hex); controls, the double quote and the caret by the escape table (^@ ^A ... ^- ^/ ...
// ^[ ^\ ^] ^_ ^" ^^); 7Fh as ^~; anything else unchanged, widening the output only when the
// code point does not fit its unit. Returns the characters appended. May collect.
uint32_t append_escaped_char(NodeId out, uint32_t cp, bool all);

// ---- Comparison ---------------------------------------------------------------------------------

// Compares the texts from the heads of two text values (or symbol! values, by name) by an
// operation code: -1, 0 or 1.
//   same (9): 0 only for the same buffer and head. The same buffer and head under equal,
//     not-equal, strict-equal and find also answer 0 at once.
//   Code points are case-folded (to lower case) except for strict-equal (2) and the case-sensitive
//   sort order (8).
//   Equality codes (0, 1, 2, 12) answer 1 for texts of different lengths; otherwise the first
//   differing code point decides, then the length (shorter first).
//   prefix: b is a pattern matched at a's head: an empty pattern answers 1 for find (12) and 0
//   otherwise; a pattern longer than the text answers 1; only the pattern's length is compared.
// May allocate only for a symbol! whose name string is not made yet; it collects nothing.
int32_t compare_chars(const Cell& a, const Cell& b, int32_t op, bool prefix = false);

// What the sort comparators read from the sort's first context word.
struct SortOrder {
    bool case_sensitive;  // without it code points are folded (1-byte units: A-Z only)
    uint32_t flags;       // sort_flag bits
};
namespace sort_flag {
inline constexpr uint32_t reverse = 1;      // the answer negated
inline constexpr uint32_t records = 2;      // compare n elements in order; without it only element n
inline constexpr uint32_t count_shift = 2;  // n lives in the bits from here up
}  // namespace sort_flag

// The record comparators of sort for text units (1, 2 or 4 bytes; 4-byte elements compare as
// unsigned code points) and for vector! floats (4 or 8 bytes; NaN after every number). Each
// reads a SortOrder from context1 and answers the sign of the first unequal pair (negated when
// reversed), 0 when all are equal. Another width is fatal runtime error 101. Never allocate.
sort::Compare unit_comparator(uint32_t unit);
sort::Compare float_comparator(uint32_t width);

// A text located once, for a sort that compares it many times: valid until the next allocation.
struct TextKey {
    const std::byte* data;  // its unit at the head
    uint32_t length;        // units from there to the tail
    uint32_t unit;          // 1, 2 or 4
};
// The key of a text value (not a symbol!). Never allocates.
TextKey text_key(const Cell& value);
// The order compare_chars gives two texts under the sort orders: folded (op_sort) unless
// case_sensitive (op_sort_case). -1, 0 or 1. Never allocates.
int32_t compare_keys(const TextKey& a, const TextKey& b, bool case_sensitive);
// Whether two texts are equal as compare_keys orders them. Never allocates.
bool equal_keys(const TextKey& a, const TextKey& b, bool case_sensitive);

// ---- Searching and editing (string_search.cpp) --------------------------------------------------
//
// string!'s own actions, shared by the other text types. Each may run an owner's change handler or
// form a value, and so may collect: they take and give cells by value.

// find: the series at the match (after it with /tail), or none. Text is compared case-folded
// unless /case or /same; a bitset! is never folded. With /any a text pattern's "*" stands for any
// run of characters and "?" for one; /with names other wildcards (its first character for "*",
// its second for "?") and implies /any. The match is the shortest at the earliest start, except
// that a final "*" takes the rest of the range searched.
Cell find(Cell series, Cell value, const FindOptions& options);
// select: the character just after the match (after the whole pattern for text and words), or
// none when nothing matched or the match ends at the tail. /tail and /match are ignored.
Cell select(Cell series, Cell value, const FindOptions& options);
// Path access: an integer element picks or pokes; a word raises script invalid-path; any other
// element reads as select, and writes the character after the found element (script
// bad-path-set when it is missing).
Cell eval_path(Cell parent, Cell element, const PathStep& step);

// append, insert and change of a value's text: a char! by the append widening rule, a tag! in
// its brackets, other text from its head, a block's values formed one after another without
// separators, anything else formed. Results: append the series at its start; insert and change
// the position just after the new units.
Cell append(Cell series, Cell value, const InsertOptions& options);
Cell insert(Cell series, Cell value, const InsertOptions& options);
Cell change(Cell series, Cell value, const InsertOptions& options);

// Sorts the units from the head in place (records of /skip units). A /compare function gets two
// characters (integers for binary!), or with /all and /skip the two records as strings; one that
// resizes, moves or widens the series raises script invalid-arg with it, the units then left as
// some permutation of what they were. /stable keeps ties in order, /case or not.
Cell sort(Cell series, const SortOptions& options);
// Exchanges the characters at the heads of two text values (in-place widening); the first back.
Cell swap(Cell a, Cell b);
// trim, in place from the head. /auto takes from every line as much leading indentation (spaces
// and tabs) as the first line holding anything else has.
Cell trim(Cell series, const TrimOptions& options);

// Whether cp occurs at a unit index 0, step, 2 x step ... from the head; folded unless
// case_sensitive. Never allocates.
bool has_char(const Cell& value, uint32_t cp, uint32_t step, bool case_sensitive);

// The set operations of the set natives on text, by their operation codes.
enum class SetOp : int32_t {
    unique = 8,
    union_ = 9,
    intersect = 10,
    exclude = 11,
    difference = 12,
};
// A new text value of a's type holding the records (skip characters each, at least 1 else script
// invalid-refine-arg) that the operation keeps, each first character once. b is ignored for
// unique. May collect.
Cell set_operation(SetOp op, Cell a, Cell b, bool case_sensitive, int32_t skip = 1);

}  // namespace zub::string
