// The lexer's constant data: the class and token flags of every byte, the states of the one
// table-driven machine that delimits tokens, its transition table and the per-state skip and
// token-type tables. The scanner loop reads one class and one next state per byte from here.
#pragma once

#include <array>
#include <cstdint>

namespace zub::lexer {

inline constexpr int kByteCount = 256;
inline constexpr int kClassCount = 40;         // byte classes 0-39
inline constexpr int kWorkingStateCount = 65;  // states 0-64 have a row in the transition table
inline constexpr int kStateCount = 102;        // 0-101; 65 is never used
inline constexpr int kActionBase = 65;         // a terminal state runs action (state - 65), 1-36
inline constexpr int kFirstTerminal = 66;
inline constexpr int kTerminalCount = 36;

// The class of a byte. Letters have classes of their own where the machine must tell numbers,
// exponents, pairs, dates and hexadecimal integers apart from words.
enum class CharClass : uint8_t {
    space = 0,  // tab, carriage return, space
    line_feed = 1,
    digit = 2,  // 1-9
    zero = 3,
    block_open = 4,     // [
    block_close = 5,    // ]
    paren_open = 6,     // (
    paren_close = 7,    // )
    brace_open = 8,     // {
    brace_close = 9,    // }
    double_quote = 10,  // "
    hash = 11,          // #
    quote = 12,         // '
    colon = 13,         // :
    letter_x = 14,      // x X
    letter_T = 15,
    letter_h = 16,
    letter_e = 17,
    letter_E = 18,
    hex_lower = 19,     // a b c d f
    hex_upper = 20,     // A B C D F
    slash = 21,         // /
    backslash = 22,     // '\'
    less = 23,          // <
    greater = 24,       // >
    equal = 25,         // =
    percent = 26,       // %
    comma = 27,         // ,
    semicolon = 28,     // ;
    at = 29,            // @
    dot = 30,           // .
    dollar = 31,        // $
    plus = 32,          // +
    minus = 33,         // -
    caret = 34,         // ^
    control = 35,       // other control bytes, skipped like white space between tokens
    continuation = 36,  // 7F-BF: DEL and UTF-8 continuation bytes
    other = 37,         // remaining printable ASCII and UTF-8 lead bytes C2-F7
    invalid = 38,       // C0, C1, F8-FF: never valid in UTF-8
    end = 39,           // NUL, and the column looked up when the input ends
};

// Token flags: the bits above the class in a class-table word. The scanner ORs them over every
// byte of a token so that scanners and loaders know its make-up without rescanning it.
namespace token_flag {
inline constexpr uint32_t class_mask = 0x000000FF;   // not a flag: the class in the low byte
inline constexpr uint32_t mask = 0xFFFFFF00;         // all flag bits
inline constexpr uint32_t new_line = 0x00020000;     // { after a line feed; set by the scanner
inline constexpr uint32_t percent = 0x00040000;      // %
inline constexpr uint32_t greater = 0x00080000;      // >
inline constexpr uint32_t less = 0x00100000;         // <
inline constexpr uint32_t sign = 0x00200000;         // + or -
inline constexpr uint32_t nul = 0x00400000;          // a NUL byte
inline constexpr uint32_t hash = 0x00800000;         // #
inline constexpr uint32_t exponent = 0x01000000;     // e or E
inline constexpr uint32_t quote = 0x02000000;        // ' (digit separator, lit prefix)
inline constexpr uint32_t colon = 0x04000000;        // :
inline constexpr uint32_t comma = 0x08000000;        // ,
inline constexpr uint32_t point = 0x10000000;        // .
inline constexpr uint32_t caret = 0x20000000;        // ^ (an escape may follow)
inline constexpr uint32_t utf8_narrow = 0x40000000;  // a 2- or 3-byte UTF-8 lead, C2-EF
inline constexpr uint32_t utf8_wide = 0x80000000;    // a 4-byte UTF-8 lead, F0-F7
inline constexpr int utf8_shift = 30;                // the two UTF-8 bits, as a number 0-3
}  // namespace token_flag

// The machine's states, numbered as the tables index them. Working states (0-64) are named for
// what is being read; terminal states (66-101) for the token they deliver, and the scanner stops
// before the byte that led to one. Only 0, 4, 35 and 59 start a token.
enum class State : uint8_t {
    start = 0,              // between tokens; white space stays here
    in_comment = 1,         // ; up to the line feed
    in_string = 2,          // "...
    string_caret = 3,       // the byte after ^ in a quoted string
    in_braced = 4,          // the body of a {...} string, one piece per nesting brace
    braced_caret = 5,       // the byte after ^ in a braced string
    after_percent = 6,      // %: file, quoted file, raw string or the word %
    in_file = 7,            // %name
    in_quoted_file = 8,     // %"...
    percent_run = 9,        // %% ...: more % before a raw string's {, or a word
    in_raw_string = 10,     // %{...
    raw_brace = 11,         // } inside a raw string: maybe its end
    raw_percent = 12,       // the % signs after that }
    after_slash = 13,       // /: refinement, or the word /
    in_refinement = 14,     // /name
    slash_run = 15,         // //...: a word
    after_hash = 16,        // #: binary, char, map, construction or issue
    in_binary = 17,         // #{...
    binary_comment = 18,    // ; inside a binary, to the line feed
    in_char = 19,           // #"...
    char_caret = 20,        // the byte after ^ in a char
    in_construction = 21,   // #(...
    in_issue = 22,          // #name
    in_integer = 23,        // decimal digits, ' separators
    after_point = 24,       // digits and .
    in_fraction = 25,       // digits . digits
    in_exponent = 26,       // after e (or E followed by a sign)
    after_big_e = 27,       // digits E: an exponent or a hexadecimal integer
    after_point_hash = 28,  // 1.#: 1.#INF, 1.#NaN
    in_tuple = 29,          // a second .
    in_date = 30,           // digits followed by -, / or T
    time_colon = 31,        // digits :
    in_time = 32,           // digits : digits
    pair_x = 33,            // a number followed by x
    in_pair = 34,           // number x number
    in_point = 35,          // inside ( number , number ): initial state after such a (
    after_dollar = 36,      // $ not yet followed by a digit
    in_money = 37,          // $ and digits
    money_fraction = 38,    // $ digits .
    hex_digits = 39,        // digits followed by upper-case hexadecimal letters
    hex_word = 40,          // a word that starts like a hexadecimal integer or a currency code
    hex_h = 41,             // hexadecimal digits followed by h
    integer_h = 42,         // decimal digits followed by h
    after_less = 43,        // <: a tag, or a word such as < <= <>
    in_tag = 44,            // <...
    tag_dquote = 45,        // a "..." part inside a tag
    tag_squote = 46,        // a '...' part inside a tag
    after_sign = 47,        // + or -: a number, money or a word
    prefix_sign = 48,       // ' or : followed by a sign
    leading_point = 49,     // . (after an optional sign): a decimal or a word
    point_digits = 50,      // .digits
    after_prefix = 51,      // ' or : at the start of a word
    in_word = 52,           // word characters
    word_colon = 53,        // a word and :, a set-word or a url scheme
    percent_word = 54,      // :% '% %:, words of % signs
    in_url = 55,            // scheme: and body
    in_email = 56,          // name@ and host
    in_ref = 57,            // @name
    after_equal = 58,       // =: words such as = == =>
    path_segment = 59,      // the start of a segment after / while a path is open
    path_integer = 60,      // a segment of digits
    path_prefix = 61,       // a segment starting with ' or :
    path_word = 62,         // a word segment
    path_hash = 63,         // # in a segment
    path_sign = 64,         // + or - in a segment

    end_of_input = 66,
    error = 67,
    block_open = 68,    // [
    block_close = 69,   // ]
    paren_open = 70,    // (
    paren_close = 71,   // )
    brace_open = 72,    // {
    brace_close = 73,   // }
    map_open = 74,      // #[
    path_head = 75,     // a word followed by /
    construction = 76,  // #(...)
    comment = 77,
    comma = 78,
    string = 79,
    word = 80,
    issue = 81,
    integer = 82,
    refinement = 83,
    char_ = 84,
    file = 85,
    binary = 86,
    percent = 87,
    decimal = 88,
    special_float = 89,  // 1.#INF, 1.#NaN
    tuple = 90,
    date = 91,
    pair = 92,
    point = 93,
    time = 94,
    money = 95,
    tag = 96,
    url = 97,
    email = 98,
    hex_integer = 99,  // FFh
    raw_string = 100,  // %{...}%
    ref = 101,         // @name
};

using ClassRow = std::array<uint8_t, kClassCount>;

// Per byte: the class in the low byte, the token flags it contributes above.
extern const std::array<uint32_t, kByteCount> class_table;
// Per working state and class, row-major: the next state, 0-64 working or 66-101 terminal.
extern const std::array<ClassRow, kWorkingStateCount> transition_table;
// Per state: 1 when reaching it means the byte was white space before a token (state 0 only).
extern const std::array<uint8_t, kStateCount> skip_table;
// Per state: the datatype id a token ending or failing there has; 0 for punctuation.
extern const std::array<uint8_t, kStateCount> type_table;
// Per class: the lines a byte of that class adds (1 for a line feed).
extern const std::array<uint8_t, kClassCount> line_table;

inline uint8_t class_of(uint8_t byte) { return class_table[byte] & token_flag::class_mask; }
inline uint32_t flags_of(uint8_t byte) { return class_table[byte] & token_flag::mask; }
inline constexpr bool is_terminal(uint8_t state) { return state > kActionBase; }
inline constexpr int action_of(uint8_t terminal) { return terminal - kActionBase; }

// Code-unit width of a string token from its gathered flags: 1 for ASCII, 2 when it holds a 2- or
// 3-byte UTF-8 sequence, 4 when it holds a 4-byte one.
inline constexpr uint32_t unit_width(uint32_t flags) {
    const uint32_t width = 1u << (flags >> token_flag::utf8_shift);
    return width > 4 ? 4 : width;
}

}  // namespace zub::lexer
