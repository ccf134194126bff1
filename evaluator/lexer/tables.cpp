// The lexer's tables as constant data. The class table and the small per-state tables are built
// by constexpr functions from their rules; the transition table is a literal grid, one row per
// working state, checked at compile time to have 65 rows of 40 entries that all name a state.
#include "evaluator/lexer/tables.h"

#include <initializer_list>
#include <string_view>

#include "runtime/cell.h"

namespace zub::lexer {
namespace {

constexpr uint8_t at(State s) { return static_cast<uint8_t>(s); }
constexpr uint8_t at(CharClass c) { return static_cast<uint8_t>(c); }

constexpr std::array<uint32_t, kByteCount> make_class_table() {
    std::array<uint32_t, kByteCount> t{};
    auto range = [&t](int first, int last, CharClass c, uint32_t flags = 0) {
        for (int b = first; b <= last; ++b) t[b] = at(c) | flags;
    };
    auto bytes = [&t](std::string_view list, CharClass c, uint32_t flags = 0) {
        for (char b : list) t[static_cast<uint8_t>(b)] = at(c) | flags;
    };
    // Broad ranges first; the bytes with a class of their own override them below.
    range(0x00, 0x00, CharClass::end, token_flag::nul);
    range(0x01, 0x1F, CharClass::control);
    range(0x21, 0x7E, CharClass::other);
    range(0x7F, 0xBF, CharClass::continuation);
    range(0xC0, 0xC1, CharClass::invalid);
    range(0xC2, 0xEF, CharClass::other, token_flag::utf8_narrow);
    range(0xF0, 0xF7, CharClass::other, token_flag::utf8_wide);
    range(0xF8, 0xFF, CharClass::invalid);

    bytes("\t\r ", CharClass::space);
    bytes("\n", CharClass::line_feed);
    range('1', '9', CharClass::digit);
    bytes("0", CharClass::zero);
    bytes("[", CharClass::block_open);
    bytes("]", CharClass::block_close);
    bytes("(", CharClass::paren_open);
    bytes(")", CharClass::paren_close);
    bytes("{", CharClass::brace_open);
    bytes("}", CharClass::brace_close);
    bytes("\"", CharClass::double_quote);
    bytes("#", CharClass::hash, token_flag::hash);
    bytes("'", CharClass::quote, token_flag::quote);
    bytes(":", CharClass::colon, token_flag::colon);
    bytes("xX", CharClass::letter_x);
    bytes("T", CharClass::letter_T);
    bytes("h", CharClass::letter_h);
    bytes("e", CharClass::letter_e, token_flag::exponent);
    bytes("E", CharClass::letter_E, token_flag::exponent);
    bytes("abcdf", CharClass::hex_lower);
    bytes("ABCDF", CharClass::hex_upper);
    bytes("/", CharClass::slash);
    bytes("\\", CharClass::backslash);
    bytes("<", CharClass::less, token_flag::less);
    bytes(">", CharClass::greater, token_flag::greater);
    bytes("=", CharClass::equal);
    bytes("%", CharClass::percent, token_flag::percent);
    bytes(",", CharClass::comma, token_flag::comma);
    bytes(";", CharClass::semicolon);
    bytes("@", CharClass::at);
    bytes(".", CharClass::dot, token_flag::point);
    bytes("$", CharClass::dollar);
    bytes("+", CharClass::plus, token_flag::sign);
    bytes("-", CharClass::minus, token_flag::sign);
    bytes("^", CharClass::caret, token_flag::caret);
    return t;
}

// One transition row; a row with a missing or extra entry does not compile.
template <typename... Next>
constexpr ClassRow row(Next... next) {
    static_assert(sizeof...(Next) == kClassCount, "a transition row has one entry per class");
    return ClassRow{static_cast<uint8_t>(next)...};
}

constexpr std::array<uint8_t, kStateCount> make_type_table() {
    std::array<uint8_t, kStateCount> t{};
    auto set = [&t](std::initializer_list<State> states, TypeId type) {
        for (State s : states) t[at(s)] = static_cast<uint8_t>(type);
    };
    // Terminal states: the token's datatype. Delimiters, comments and the end stay 0.
    set({State::error}, TypeId::error);
    set({State::brace_close, State::string, State::raw_string}, TypeId::string);
    set({State::word}, TypeId::word);
    set({State::issue}, TypeId::issue);
    set({State::integer, State::hex_integer}, TypeId::integer);
    set({State::refinement}, TypeId::refinement);
    set({State::char_}, TypeId::char_);
    set({State::file}, TypeId::file);
    set({State::binary}, TypeId::binary);
    set({State::percent}, TypeId::percent);
    set({State::decimal, State::special_float}, TypeId::float_);
    set({State::tuple}, TypeId::tuple);
    set({State::date}, TypeId::date);
    set({State::pair}, TypeId::pair);
    set({State::point}, TypeId::point2D);
    set({State::time}, TypeId::time);
    set({State::money}, TypeId::money);
    set({State::tag}, TypeId::tag);
    set({State::url}, TypeId::url);
    set({State::email}, TypeId::email);
    set({State::ref}, TypeId::ref);

    // Working states: the kind the error action reports when a token fails there, so that an
    // unterminated string, file, raw string or char is an invalid string!, file! or char!. It is
    // the type a delimiter would end the token as, or the family being read where a delimiter is
    // itself an error. The start, a comment and a construction literal have none (bad-char).
    set({State::in_string, State::string_caret, State::in_braced, State::braced_caret, State::in_raw_string,
         State::raw_brace, State::raw_percent},
        TypeId::string);
    set({State::in_file, State::in_quoted_file}, TypeId::file);
    set({State::after_percent, State::percent_run, State::after_slash, State::slash_run, State::hex_word,
         State::after_less, State::after_sign, State::prefix_sign, State::leading_point, State::after_prefix,
         State::in_word, State::word_colon, State::percent_word, State::after_equal},
        TypeId::word);
    set({State::in_refinement}, TypeId::refinement);
    set({State::after_hash, State::in_issue}, TypeId::issue);
    set({State::in_binary, State::binary_comment}, TypeId::binary);
    set({State::in_char, State::char_caret}, TypeId::char_);
    set({State::in_integer, State::hex_digits, State::hex_h, State::integer_h}, TypeId::integer);
    set({State::after_point, State::in_fraction, State::in_exponent, State::after_big_e, State::after_point_hash,
         State::point_digits},
        TypeId::float_);
    set({State::in_tuple}, TypeId::tuple);
    set({State::in_date}, TypeId::date);
    set({State::time_colon, State::in_time}, TypeId::time);
    set({State::pair_x, State::in_pair}, TypeId::pair);
    set({State::in_point}, TypeId::point2D);
    set({State::after_dollar, State::in_money, State::money_fraction}, TypeId::money);
    set({State::in_tag, State::tag_dquote, State::tag_squote}, TypeId::tag);
    set({State::in_url}, TypeId::url);
    set({State::in_email}, TypeId::email);
    set({State::in_ref}, TypeId::ref);
    // While a path is open a failing segment is reported against the path.
    set({State::path_segment, State::path_integer, State::path_prefix, State::path_word, State::path_hash,
         State::path_sign},
        TypeId::path);
    return t;
}

}  // namespace

constexpr std::array<uint32_t, kByteCount> class_table = make_class_table();

constexpr std::array<uint8_t, kClassCount> line_table = [] {
    std::array<uint8_t, kClassCount> t{};
    t[at(CharClass::line_feed)] = 1;
    return t;
}();

constexpr std::array<uint8_t, kStateCount> skip_table = [] {
    std::array<uint8_t, kStateCount> t{};
    t[at(State::start)] = 1;
    return t;
}();

constexpr std::array<uint8_t, kStateCount> type_table = make_type_table();

// Columns: classes 0-9, 10-19 on the first line, 20-29, 30-39 on the second (see CharClass).
constexpr std::array<ClassRow, kWorkingStateCount> transition_table = std::to_array<ClassRow>({
    // 0 start
    row(0, 0, 23, 23, 68, 69, 70, 71, 72, 67, 2, 16, 51, 51, 52, 52, 52, 52, 40, 52, 40, 13, 67, 43, 52, 58, 6, 78, 1,
        57, 49, 36, 47, 47, 52, 0, 67, 52, 67, 66),
    // 1 in_comment
    row(1, 77, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
        1, 67, 77),
    // 2 in_string
    row(2, 67, 2, 2, 2, 2, 2, 2, 2, 2, 79, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 2, 2,
        2, 67, 67),
    // 3 string_caret
    row(2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
        2, 67, 67),
    // 4 in_braced
    row(4, 4, 4, 4, 4, 4, 4, 4, 72, 73, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4,
        4, 67, 67),
    // 5 braced_caret
    row(4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
        4, 67, 67),
    // 6 after_percent
    row(80, 80, 7, 7, 80, 80, 80, 80, 10, 80, 8, 7, 7, 54, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 9, 7, 80, 80, 7, 7, 7, 7,
        7, 80, 7, 7, 67, 80),
    // 7 in_file
    row(85, 85, 7, 7, 85, 85, 85, 85, 85, 85, 67, 7, 7, 85, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 85, 85, 7, 7, 7,
        7, 7, 7, 7, 7, 67, 85),
    // 8 in_quoted_file
    row(8, 67, 8, 8, 8, 8, 8, 8, 8, 8, 85, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
        8, 67, 67),
    // 9 percent_run
    row(80, 80, 7, 7, 80, 80, 80, 80, 10, 80, 80, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 80, 7, 7, 7, 9, 7, 80, 7, 7, 7, 7, 7,
        7, 80, 7, 7, 67, 80),
    // 10 in_raw_string
    row(10, 10, 10, 10, 10, 10, 10, 10, 10, 11, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10,
        10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 67, 67),
    // 11 raw_brace
    row(10, 10, 10, 10, 10, 10, 10, 10, 10, 11, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 12, 10,
        10, 10, 10, 10, 10, 10, 10, 10, 10, 10, 67, 67),
    // 12 raw_percent
    row(100, 100, 67, 67, 100, 100, 100, 100, 100, 67, 100, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 100, 67, 67,
        12, 67, 100, 67, 67, 67, 67, 67, 67, 100, 67, 67, 67, 100),
    // 13 after_slash
    row(80, 80, 14, 14, 80, 80, 80, 80, 80, 80, 80, 80, 14, 53, 14, 14, 14, 14, 14, 14, 14, 15, 14, 14, 14, 14, 14, 67,
        80, 80, 14, 14, 14, 14, 14, 80, 14, 14, 67, 80),
    // 14 in_refinement
    row(83, 83, 14, 14, 83, 83, 83, 83, 83, 83, 83, 14, 14, 67, 14, 14, 14, 14, 14, 14, 14, 83, 14, 14, 14, 14, 14, 67,
        83, 83, 14, 14, 14, 14, 14, 83, 14, 14, 67, 83),
    // 15 slash_run
    row(80, 80, 52, 52, 80, 80, 80, 80, 80, 80, 80, 80, 52, 52, 52, 52, 52, 52, 52, 52, 52, 15, 52, 52, 52, 52, 67, 67,
        80, 80, 52, 67, 52, 52, 52, 80, 52, 52, 67, 80),
    // 16 after_hash
    row(67, 67, 22, 22, 74, 67, 21, 67, 17, 67, 19, 22, 22, 67, 22, 22, 22, 22, 22, 22, 22, 22, 22, 67, 67, 22, 22, 67,
        81, 81, 22, 22, 22, 22, 22, 81, 22, 22, 67, 81),
    // 17 in_binary
    row(17, 17, 17, 17, 67, 67, 67, 67, 67, 86, 67, 67, 67, 67, 17, 17, 17, 17, 17, 17, 17, 17, 67, 67, 67, 17, 67, 67,
        18, 67, 67, 67, 17, 67, 67, 67, 67, 17, 67, 67),
    // 18 binary_comment
    row(18, 17, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18,
        18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 67, 67),
    // 19 in_char
    row(19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 84, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19,
        19, 19, 19, 19, 19, 19, 20, 19, 19, 19, 67, 67),
    // 20 char_caret
    row(19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 19,
        19, 19, 19, 19, 19, 19, 19, 19, 19, 19, 67, 67),
    // 21 in_construction
    row(21, 21, 21, 21, 21, 21, 21, 76, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 21,
        21, 21, 21, 21, 21, 21, 21, 21, 21, 21, 67, 67),
    // 22 in_issue
    row(81, 81, 22, 22, 81, 81, 81, 81, 81, 81, 81, 22, 22, 67, 22, 22, 22, 22, 22, 22, 22, 67, 22, 22, 22, 22, 22, 22,
        81, 81, 22, 22, 22, 22, 22, 81, 22, 22, 67, 81),
    // 23 in_integer
    row(82, 82, 23, 23, 82, 82, 82, 82, 82, 82, 82, 16, 23, 31, 33, 30, 42, 26, 27, 67, 39, 30, 67, 82, 67, 67, 87, 82,
        82, 56, 24, 67, 67, 30, 67, 82, 67, 67, 67, 82),
    // 24 after_point
    row(88, 88, 25, 25, 88, 88, 88, 88, 88, 88, 88, 28, 25, 67, 33, 67, 67, 26, 26, 67, 67, 88, 67, 88, 67, 67, 87, 88,
        88, 67, 67, 67, 67, 67, 67, 88, 67, 67, 67, 88),
    // 25 in_fraction
    row(88, 88, 25, 25, 88, 88, 88, 88, 88, 88, 88, 67, 25, 88, 33, 67, 67, 26, 26, 67, 67, 88, 67, 88, 67, 67, 87, 88,
        88, 56, 29, 67, 67, 67, 67, 88, 67, 67, 67, 88),
    // 26 in_exponent
    row(88, 88, 26, 26, 88, 88, 88, 88, 88, 88, 88, 67, 67, 88, 67, 67, 67, 67, 67, 67, 67, 88, 67, 88, 67, 67, 67, 88,
        88, 56, 67, 67, 26, 26, 67, 88, 67, 67, 67, 88),
    // 27 after_big_e
    row(88, 88, 27, 27, 88, 88, 88, 88, 88, 88, 88, 67, 67, 88, 67, 67, 42, 67, 40, 67, 40, 88, 67, 88, 67, 67, 87, 88,
        67, 56, 29, 67, 26, 26, 67, 88, 67, 67, 67, 88),
    // 28 after_point_hash
    row(89, 89, 88, 89, 89, 89, 89, 89, 89, 89, 89, 67, 67, 67, 28, 28, 28, 28, 28, 28, 28, 89, 89, 89, 28, 28, 67, 89,
        89, 67, 28, 67, 28, 28, 67, 89, 28, 28, 67, 89),
    // 29 in_tuple
    row(90, 90, 29, 29, 90, 90, 90, 90, 90, 90, 90, 67, 67, 90, 67, 67, 67, 67, 67, 67, 67, 90, 67, 90, 67, 67, 67, 67,
        90, 67, 29, 67, 67, 67, 67, 90, 67, 67, 67, 90),
    // 30 in_date
    row(91, 91, 30, 30, 91, 91, 91, 91, 91, 91, 91, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 30, 91, 30, 30, 67, 67,
        91, 67, 30, 91, 30, 30, 67, 91, 67, 30, 67, 91),
    // 31 time_colon
    row(67, 67, 32, 32, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67,
        67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67),
    // 32 in_time
    row(94, 94, 32, 32, 94, 94, 94, 94, 94, 94, 94, 67, 67, 32, 67, 67, 67, 67, 67, 67, 67, 94, 67, 94, 67, 67, 67, 67,
        94, 67, 32, 67, 67, 67, 67, 94, 67, 67, 67, 94),
    // 33 pair_x
    row(67, 67, 34, 34, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67,
        67, 56, 67, 67, 34, 34, 67, 67, 67, 67, 67, 67),
    // 34 in_pair
    row(92, 92, 34, 34, 92, 92, 92, 92, 92, 92, 92, 67, 67, 92, 67, 67, 67, 34, 34, 67, 67, 92, 67, 92, 67, 67, 67, 67,
        92, 56, 34, 67, 67, 67, 67, 92, 67, 67, 67, 92),
    // 35 in_point
    row(35, 67, 35, 35, 67, 35, 67, 93, 67, 67, 67, 35, 67, 67, 67, 67, 67, 35, 35, 35, 35, 67, 67, 67, 67, 67, 67, 35,
        67, 67, 35, 67, 35, 35, 67, 67, 67, 35, 67, 67),
    // 36 after_dollar
    row(67, 67, 37, 37, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67,
        67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67),
    // 37 in_money
    row(95, 95, 37, 37, 95, 95, 95, 95, 95, 95, 95, 95, 37, 95, 67, 67, 67, 67, 67, 67, 67, 95, 67, 95, 67, 67, 67, 38,
        95, 67, 38, 67, 67, 67, 67, 95, 67, 67, 67, 95),
    // 38 money_fraction
    row(95, 95, 38, 38, 95, 95, 95, 95, 95, 95, 95, 95, 38, 95, 67, 67, 67, 67, 67, 67, 67, 95, 67, 95, 67, 67, 67, 67,
        95, 67, 67, 67, 67, 67, 67, 95, 67, 67, 67, 95),
    // 39 hex_digits
    row(67, 67, 39, 39, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 41, 67, 39, 67, 39, 67, 67, 67, 67, 67, 67, 67,
        67, 56, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67),
    // 40 hex_word
    row(80, 80, 40, 40, 80, 80, 80, 80, 80, 80, 80, 80, 52, 53, 52, 52, 41, 52, 40, 52, 40, 75, 80, 52, 52, 52, 67, 67,
        80, 56, 52, 37, 52, 52, 52, 80, 52, 52, 67, 80),
    // 41 hex_h
    row(99, 99, 52, 52, 99, 99, 99, 99, 99, 99, 99, 67, 52, 53, 52, 52, 52, 52, 52, 52, 52, 75, 99, 52, 52, 52, 67, 67,
        99, 56, 52, 37, 52, 52, 52, 99, 52, 52, 67, 99),
    // 42 integer_h
    row(99, 99, 67, 67, 99, 99, 99, 99, 99, 99, 99, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 75, 99, 99, 67, 67, 67, 67,
        99, 56, 67, 37, 67, 67, 67, 99, 67, 67, 67, 99),
    // 43 after_less
    row(80, 80, 44, 44, 80, 80, 80, 80, 80, 80, 80, 44, 46, 53, 44, 44, 44, 44, 44, 44, 44, 44, 44, 43, 52, 52, 44, 44,
        80, 44, 44, 44, 44, 52, 44, 80, 44, 44, 67, 80),
    // 44 in_tag
    row(44, 44, 44, 44, 44, 44, 44, 44, 44, 44, 45, 44, 46, 44, 44, 44, 44, 44, 44, 44, 44, 44, 44, 44, 96, 44, 44, 44,
        44, 44, 44, 44, 44, 44, 44, 44, 44, 44, 67, 67),
    // 45 tag_dquote
    row(45, 45, 45, 45, 45, 45, 45, 45, 45, 45, 44, 45, 45, 45, 45, 45, 45, 45, 45, 45, 45, 45, 45, 45, 45, 45, 45, 45,
        45, 45, 45, 45, 45, 45, 45, 45, 45, 45, 67, 67),
    // 46 tag_squote
    row(46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 44, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 46,
        46, 46, 46, 46, 46, 46, 46, 46, 46, 46, 67, 67),
    // 47 after_sign
    row(80, 80, 23, 23, 80, 80, 80, 80, 80, 80, 80, 80, 67, 52, 52, 52, 52, 52, 52, 52, 52, 75, 80, 52, 52, 52, 67, 52,
        80, 52, 49, 37, 52, 52, 67, 80, 52, 52, 67, 80),
    // 48 prefix_sign
    row(80, 80, 52, 52, 80, 80, 80, 80, 80, 80, 80, 80, 67, 52, 52, 52, 52, 52, 52, 52, 52, 75, 80, 52, 52, 52, 67, 52,
        80, 52, 52, 67, 52, 52, 67, 80, 52, 52, 67, 80),
    // 49 leading_point
    row(80, 80, 50, 50, 80, 80, 80, 80, 80, 80, 80, 80, 52, 53, 52, 52, 52, 52, 52, 52, 52, 75, 80, 52, 52, 52, 67, 67,
        80, 56, 52, 67, 50, 50, 52, 80, 52, 52, 67, 80),
    // 50 point_digits
    row(88, 88, 50, 50, 88, 88, 88, 88, 88, 88, 88, 67, 67, 88, 33, 67, 67, 50, 50, 67, 67, 88, 67, 88, 67, 67, 87, 67,
        67, 56, 67, 67, 50, 50, 67, 88, 67, 67, 67, 88),
    // 51 after_prefix
    row(67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 52, 52, 52, 52, 52, 52, 52, 13, 67, 43, 52, 58, 54, 67,
        67, 67, 52, 67, 48, 48, 52, 67, 52, 52, 67, 67),
    // 52 in_word
    row(80, 80, 52, 52, 80, 80, 80, 80, 80, 80, 80, 80, 52, 53, 52, 52, 52, 52, 52, 52, 52, 75, 80, 80, 52, 52, 67, 67,
        80, 56, 52, 36, 52, 52, 52, 80, 52, 52, 67, 80),
    // 53 word_colon
    row(80, 80, 55, 55, 80, 80, 80, 80, 80, 80, 80, 55, 55, 55, 55, 55, 55, 55, 55, 55, 55, 55, 80, 67, 55, 55, 55, 55,
        80, 55, 55, 55, 55, 55, 55, 80, 55, 55, 67, 80),
    // 54 percent_word
    row(80, 80, 67, 67, 80, 80, 80, 80, 80, 80, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 80, 67, 67, 67, 54, 67,
        80, 67, 67, 67, 67, 67, 67, 80, 67, 67, 67, 80),
    // 55 in_url
    row(97, 97, 55, 55, 97, 97, 97, 97, 97, 97, 97, 55, 55, 55, 55, 55, 55, 55, 55, 55, 55, 55, 97, 97, 67, 55, 55, 55,
        97, 55, 55, 55, 55, 55, 67, 97, 55, 55, 67, 97),
    // 56 in_email
    row(98, 98, 56, 56, 98, 98, 98, 98, 98, 98, 98, 67, 67, 67, 56, 56, 56, 56, 56, 56, 56, 98, 98, 98, 67, 67, 56, 67,
        98, 67, 56, 67, 56, 56, 67, 98, 56, 56, 67, 98),
    // 57 in_ref
    row(101, 101, 57, 57, 101, 101, 101, 101, 101, 101, 101, 67, 67, 57, 57, 57, 57, 57, 57, 57, 57, 57, 67, 101, 67,
        67, 57, 67, 101, 67, 57, 67, 57, 57, 67, 101, 57, 57, 67, 101),
    // 58 after_equal
    row(80, 80, 52, 52, 80, 80, 80, 80, 80, 80, 80, 67, 52, 80, 52, 52, 52, 52, 52, 52, 52, 75, 80, 52, 52, 52, 67, 67,
        80, 67, 52, 67, 52, 52, 52, 80, 52, 52, 67, 80),
    // 59 path_segment
    row(67, 67, 60, 60, 67, 67, 70, 71, 67, 67, 2, 63, 61, 61, 62, 62, 62, 62, 62, 62, 62, 67, 67, 43, 62, 62, 67, 67,
        67, 57, 62, 36, 64, 64, 67, 67, 62, 62, 67, 67),
    // 60 path_integer
    row(82, 82, 60, 60, 82, 82, 82, 82, 82, 82, 82, 67, 60, 82, 33, 67, 67, 26, 26, 67, 67, 82, 67, 82, 67, 67, 87, 67,
        82, 56, 24, 67, 67, 67, 67, 82, 67, 67, 67, 82),
    // 61 path_prefix
    row(67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 67, 62, 62, 62, 62, 62, 62, 62, 67, 67, 62, 62, 62, 67, 67,
        67, 67, 62, 67, 62, 62, 67, 67, 62, 62, 67, 67),
    // 62 path_word
    row(80, 80, 62, 62, 80, 80, 80, 80, 80, 80, 80, 67, 62, 80, 62, 62, 62, 62, 62, 62, 62, 80, 80, 62, 62, 62, 67, 67,
        80, 56, 62, 36, 62, 62, 62, 80, 62, 62, 67, 80),
    // 63 path_hash
    row(67, 67, 22, 22, 21, 67, 67, 67, 67, 67, 19, 22, 22, 67, 22, 22, 22, 22, 22, 22, 22, 67, 22, 67, 67, 67, 22, 67,
        67, 67, 22, 22, 22, 22, 22, 67, 22, 22, 67, 67),
    // 64 path_sign
    row(80, 80, 60, 60, 80, 80, 80, 80, 80, 80, 80, 67, 67, 80, 62, 62, 62, 62, 62, 62, 62, 80, 80, 67, 62, 62, 67, 67,
        80, 56, 62, 36, 64, 64, 67, 80, 62, 62, 67, 80),
});

// Every entry names a state that exists: a working state or a terminal one, never 65.
static_assert([] {
    for (const ClassRow& r : transition_table) {
        for (uint8_t next : r) {
            if (next == kActionBase || next >= kStateCount) return false;
        }
    }
    return true;
}());

}  // namespace zub::lexer
