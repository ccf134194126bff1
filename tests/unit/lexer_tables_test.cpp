// The lexer's constant tables: their shape, the class and flags of every byte, and tokens traced
// through the transition table the way the scanner loop drives it, to the terminal state and the
// datatype that state yields.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "evaluator/lexer/tables.h"
#include "runtime/cell.h"

namespace zub::lexer {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

constexpr uint8_t id(State s) { return static_cast<uint8_t>(s); }
constexpr uint8_t id(CharClass c) { return static_cast<uint8_t>(c); }
constexpr uint8_t id(TypeId t) { return static_cast<uint8_t>(t); }
constexpr uint8_t kPunctuation = 0;

std::string bytes_between(int first, int last) {
    std::string s;
    for (int b = first; b <= last; ++b) s += static_cast<char>(b);
    return s;
}

// One token scanned the way the scanner loop does it: stop before the byte that leads to a
// terminal state, look up the end column when the input runs out first.
struct Trace {
    uint8_t terminal = 0;       // the state the machine stopped in
    uint8_t last = 0;           // the working state before it
    std::string token;          // from the token start (after skipped white space) to the stop
    int lines = 0;              // line feeds consumed
    std::vector<uint8_t> path;  // working states entered, one per consumed byte
};

Trace scan(std::string_view input, State initial) {
    Trace t;
    uint8_t state = id(initial);
    size_t skip = 0;
    size_t pos = 0;
    for (;; ++pos) {
        if (pos == input.size()) {
            t.terminal = transition_table[state][id(CharClass::end)];
            break;
        }
        const uint8_t c = class_of(static_cast<uint8_t>(input[pos]));
        const uint8_t next = transition_table[state][c];
        skip += skip_table[next];
        if (is_terminal(next)) {
            t.terminal = next;
            break;
        }
        t.lines += line_table[c];
        t.path.push_back(next);
        state = next;
    }
    t.last = state;
    t.token = std::string(input.substr(skip, pos - skip));
    return t;
}

uint32_t gathered_flags(std::string_view text) {
    uint32_t flags = 0;
    for (char b : text) flags |= flags_of(static_cast<uint8_t>(b));
    return flags;
}

TEST(LexerTables, EveryByteHasAClassAndEveryClassHasAByte) {
    ASSERT_EQ(class_table.size(), 256u);
    std::set<int> used;
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        EXPECT_LT(class_of(static_cast<uint8_t>(b)), kClassCount);
        EXPECT_EQ(flags_of(static_cast<uint8_t>(b)) & token_flag::new_line, 0u);
        used.insert(class_of(static_cast<uint8_t>(b)));
    }
    EXPECT_EQ(used.size(), static_cast<size_t>(kClassCount));
}

TEST(LexerTables, TransitionsLandOnStatesThatExist) {
    ASSERT_EQ(transition_table.size(), 65u);
    ASSERT_EQ(transition_table[0].size(), 40u);
    std::set<int> terminals;
    for (int s = 0; s < kWorkingStateCount; ++s) {
        for (int c = 0; c < kClassCount; ++c) {
            const int next = transition_table[s][c];
            SCOPED_TRACE(testing::Message() << "state " << s << " class " << c);
            const bool working = next < kWorkingStateCount;
            EXPECT_TRUE(working || (next >= kFirstTerminal && next < kStateCount));
            if (next >= kFirstTerminal) terminals.insert(next);
        }
    }
    // A mistyped entry tends to orphan a token: every one of the 36 must be reachable.
    EXPECT_EQ(terminals.size(), static_cast<size_t>(kTerminalCount));
}

TEST(LexerTables, EveryWorkingStateIsReachableFromAnInitialState) {
    std::vector<bool> seen(kWorkingStateCount);
    std::vector<uint8_t> todo = {id(State::start), id(State::in_braced), id(State::in_point), id(State::path_segment)};
    for (uint8_t s : todo) seen[s] = true;
    while (!todo.empty()) {
        const uint8_t s = todo.back();
        todo.pop_back();
        for (uint8_t next : transition_table[s]) {
            if (next < kWorkingStateCount && !seen[next]) {
                seen[next] = true;
                todo.push_back(next);
            }
        }
    }
    for (int s = 0; s < kWorkingStateCount; ++s) EXPECT_TRUE(seen[s]) << "state " << s;
}

// The byte table as the classes are defined, row by row: together the rows name all 256 bytes,
// each once.
TEST(LexerTables, EveryByteHasItsListedClassAndFlags) {
    struct Row {
        CharClass cls;
        std::string bytes;
        uint32_t flags;
    };
    const std::vector<Row> rows = {
        {CharClass::space, "\t\r ", 0},
        {CharClass::line_feed, "\n", 0},
        {CharClass::digit, "123456789", 0},
        {CharClass::zero, "0", 0},
        {CharClass::block_open, "[", 0},
        {CharClass::block_close, "]", 0},
        {CharClass::paren_open, "(", 0},
        {CharClass::paren_close, ")", 0},
        {CharClass::brace_open, "{", 0},
        {CharClass::brace_close, "}", 0},
        {CharClass::double_quote, "\"", 0},
        {CharClass::hash, "#", 0x00800000},
        {CharClass::quote, "'", 0x02000000},
        {CharClass::colon, ":", 0x04000000},
        {CharClass::letter_x, "xX", 0},
        {CharClass::letter_T, "T", 0},
        {CharClass::letter_h, "h", 0},
        {CharClass::letter_e, "e", 0x01000000},
        {CharClass::letter_E, "E", 0x01000000},
        {CharClass::hex_lower, "abcdf", 0},
        {CharClass::hex_upper, "ABCDF", 0},
        {CharClass::slash, "/", 0},
        {CharClass::backslash, "\\", 0},
        {CharClass::less, "<", 0x00100000},
        {CharClass::greater, ">", 0x00080000},
        {CharClass::equal, "=", 0},
        {CharClass::percent, "%", 0x00040000},
        {CharClass::comma, ",", 0x08000000},
        {CharClass::semicolon, ";", 0},
        {CharClass::at, "@", 0},
        {CharClass::dot, ".", 0x10000000},
        {CharClass::dollar, "$", 0},
        {CharClass::plus, "+", 0x00200000},
        {CharClass::minus, "-", 0x00200000},
        {CharClass::caret, "^", 0x20000000},
        {CharClass::control, bytes_between(0x01, 0x08) + "\x0B\x0C" + bytes_between(0x0E, 0x1F), 0},
        {CharClass::continuation, bytes_between(0x7F, 0xBF), 0},
        {CharClass::other, "!&*?_`|~gijklmnopqrstuvwyzGHIJKLMNOPQRSUVWYZ", 0},
        {CharClass::other, bytes_between(0xC2, 0xEF), 0x40000000},
        {CharClass::other, bytes_between(0xF0, 0xF7), 0x80000000},
        {CharClass::invalid, "\xC0\xC1" + bytes_between(0xF8, 0xFF), 0},
        {CharClass::end, "\0"s, 0x00400000},
    };
    std::vector<int> listed(256);
    for (const Row& row : rows) {
        for (char ch : row.bytes) {
            const auto b = static_cast<uint8_t>(ch);
            SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int(b));
            ++listed[b];
            EXPECT_EQ(class_of(b), id(row.cls));
            EXPECT_EQ(flags_of(b), row.flags);
        }
    }
    for (int b = 0; b < 256; ++b) EXPECT_EQ(listed[b], 1) << "byte " << b;
}

TEST(LexerTables, GatheredFlagsGiveTheStringUnitWidth) {
    const struct {
        std::string_view text;
        uint32_t width;
    } cases[] = {
        {"plain ascii", 1},
        {"caf\xC3\xA9", 2},                    // 2-byte sequence
        {"\xE2\x82\xAC 5", 2},                 // 3-byte sequence
        {"\xF0\x9F\x98\x80", 4},               // 4-byte sequence
        {"\xC3\xA9 and \xF0\x9F\x98\x80", 4},  // both bits set: capped at 4
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(unit_width(gathered_flags(c.text)), c.width);
    }
}

TEST(LexerTables, GatheredFlagsTellWhatATokenHolds) {
    using namespace token_flag;
    const struct {
        std::string_view text;
        uint32_t flags;
    } cases[] = {
        {"abc", 0},
        {"-1.5e3", sign | point | exponent},
        {"+2E3", sign | exponent},
        {"12:30", colon},
        {"1'000", quote},
        {"\"a^/b\"", caret},
        {"#issue", hash | exponent},
        {"<b>", less | greater},
        {"50%", percent},
        {"1,5", comma},
        {"ab\0"sv, nul},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(gathered_flags(c.text), c.flags);
    }
}

// Tokens traced by hand through the grid: where the machine stops, what it has read by then
// (the scanner consumes a closing delimiter itself) and the datatype of the stop.
TEST(LexerTables, TokensEndInTheirTerminalStates) {
    const struct {
        std::string_view input;
        State initial;
        State terminal;
        std::string_view token;
        uint8_t type;
    } cases[] = {
        {"word ", State::start, State::word, "word", id(TypeId::word)},
        {"a: ", State::start, State::word, "a:", id(TypeId::word)},
        {":a ", State::start, State::word, ":a", id(TypeId::word)},
        {"'a ", State::start, State::word, "'a", id(TypeId::word)},
        {"/ ", State::start, State::word, "/", id(TypeId::word)},
        {"% ", State::start, State::word, "%", id(TypeId::word)},
        {"abc\0def"sv, State::start, State::word, "abc", id(TypeId::word)},
        {"a/b", State::start, State::path_head, "a", kPunctuation},
        {"/ref ", State::start, State::refinement, "/ref", id(TypeId::refinement)},
        {"#issue ", State::start, State::issue, "#issue", id(TypeId::issue)},
        {"  42]", State::start, State::integer, "42", id(TypeId::integer)},
        {"-12 ", State::start, State::integer, "-12", id(TypeId::integer)},
        {"1'000 ", State::start, State::integer, "1'000", id(TypeId::integer)},
        {"FFh ", State::start, State::hex_integer, "FFh", id(TypeId::integer)},
        {"12h ", State::start, State::hex_integer, "12h", id(TypeId::integer)},
        {"1.5 ", State::start, State::decimal, "1.5", id(TypeId::float_)},
        {".5 ", State::start, State::decimal, ".5", id(TypeId::float_)},
        {"1e-3 ", State::start, State::decimal, "1e-3", id(TypeId::float_)},
        {"1E5 ", State::start, State::decimal, "1E5", id(TypeId::float_)},
        {"1.#INF ", State::start, State::special_float, "1.#INF", id(TypeId::float_)},
        {"50% ", State::start, State::percent, "50", id(TypeId::percent)},
        {"1.2.3 ", State::start, State::tuple, "1.2.3", id(TypeId::tuple)},
        {"12:30 ", State::start, State::time, "12:30", id(TypeId::time)},
        {"2024-01-15 ", State::start, State::date, "2024-01-15", id(TypeId::date)},
        {"10x20 ", State::start, State::pair, "10x20", id(TypeId::pair)},
        {"$1.50 ", State::start, State::money, "$1.50", id(TypeId::money)},
        {"-$1 ", State::start, State::money, "-$1", id(TypeId::money)},
        {"USD$1 ", State::start, State::money, "USD$1", id(TypeId::money)},
        {"\"hi\"", State::start, State::string, "\"hi", id(TypeId::string)},
        {"%{raw}% ", State::start, State::raw_string, "%{raw}%", id(TypeId::string)},
        {"%dir/file.txt ", State::start, State::file, "%dir/file.txt", id(TypeId::file)},
        {"#\"a\"", State::start, State::char_, "#\"a", id(TypeId::char_)},
        {"#{DEADBEEF}", State::start, State::binary, "#{DEADBEEF", id(TypeId::binary)},
        {"16#{FF}", State::start, State::binary, "16#{FF", id(TypeId::binary)},
        {"<a href=\"x>y\"> ", State::start, State::tag, "<a href=\"x>y\"", id(TypeId::tag)},
        {"http://example.com/x ", State::start, State::url, "http://example.com/x", id(TypeId::url)},
        {"a@b.c ", State::start, State::email, "a@b.c", id(TypeId::email)},
        {"@ref ", State::start, State::ref, "@ref", id(TypeId::ref)},
        {"#(true)", State::start, State::construction, "#(true", kPunctuation},
        {"; note\nx", State::start, State::comment, "; note", kPunctuation},
        {"[", State::start, State::block_open, "", kPunctuation},
        {"]", State::start, State::block_close, "", kPunctuation},
        {"(", State::start, State::paren_open, "", kPunctuation},
        {")", State::start, State::paren_close, "", kPunctuation},
        {"{", State::start, State::brace_open, "", kPunctuation},
        {"#[", State::start, State::map_open, "#", kPunctuation},
        {",", State::start, State::comma, "", kPunctuation},
        {"", State::start, State::end_of_input, "", kPunctuation},
        {"  \t\r\n", State::start, State::end_of_input, "", kPunctuation},
        {"\x01\x1F x", State::start, State::word, "x", id(TypeId::word)},
        {"\0abc"sv, State::start, State::end_of_input, "", kPunctuation},
        // Braced-string pieces: a ^ keeps the } after it in the text.
        {"abc}", State::in_braced, State::brace_close, "abc", id(TypeId::string)},
        {"a^}}", State::in_braced, State::brace_close, "a^}", id(TypeId::string)},
        {"ab{", State::in_braced, State::brace_open, "ab", kPunctuation},
        // Inside ( number , number ).
        {"-1.5, #INF)", State::in_point, State::point, "-1.5, #INF", id(TypeId::point2D)},
        // Path segments end before the / that the path step consumes.
        {"b/c", State::path_segment, State::word, "b", id(TypeId::word)},
        {":b/", State::path_segment, State::word, ":b", id(TypeId::word)},
        {"12/x", State::path_segment, State::integer, "12", id(TypeId::integer)},
        {"\"s\"/", State::path_segment, State::string, "\"s", id(TypeId::string)},
        {"(x", State::path_segment, State::paren_open, "", kPunctuation},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.input << "\" from " << int(id(c.initial)));
        const Trace t = scan(c.input, c.initial);
        EXPECT_EQ(t.terminal, id(c.terminal));
        EXPECT_EQ(t.token, c.token);
        EXPECT_EQ(type_table[t.terminal], c.type);
    }
}

// The working states a few tokens pass through, byte by byte.
TEST(LexerTables, TokensTakeTheirPathThroughTheWorkingStates) {
    using S = State;
    const struct {
        std::string_view input;
        std::vector<State> path;
    } cases[] = {
        {"ab ", {S::in_word, S::in_word}},
        {"-7 ", {S::after_sign, S::in_integer}},
        {"1.#NaN ",
         {S::in_integer, S::after_point, S::after_point_hash, S::after_point_hash, S::after_point_hash,
          S::after_point_hash}},
        {"%%{x}%% ",
         {S::after_percent, S::percent_run, S::in_raw_string, S::in_raw_string, S::raw_brace, S::raw_percent,
          S::raw_percent}},
        {"a:/b ", {S::in_word, S::word_colon, S::in_url, S::in_url}},
        {"#{1;c\n2}",
         {S::after_hash, S::in_binary, S::in_binary, S::binary_comment, S::binary_comment, S::in_binary, S::in_binary}},
        {"\"^\"\"", {S::in_string, S::string_caret, S::in_string}},
        {"<'>'>", {S::after_less, S::tag_squote, S::tag_squote, S::in_tag}},
        {"1x-2 ", {S::in_integer, S::pair_x, S::in_pair, S::in_pair}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const Trace t = scan(c.input, State::start);
        std::vector<uint8_t> expected;
        for (State s : c.path) expected.push_back(id(s));
        EXPECT_EQ(t.path, expected);
    }
}

// Where a token fails decides the error kind: the type of the last working state, none (a
// bad character) from the start state.
TEST(LexerTables, FailedTokensReportTheirFamily) {
    const struct {
        std::string_view input;
        State last;
        uint8_t kind;
    } cases[] = {
        {"}", State::start, 0},
        {"\\", State::start, 0},
        {"\x7F", State::start, 0},
        {"\x80", State::start, 0},
        {"\xBF", State::start, 0},
        {"\xC0", State::start, 0},
        {"\xC1", State::start, 0},
        {"\xF8", State::start, 0},
        {"\xFF", State::start, 0},
        {"\"abc", State::in_string, id(TypeId::string)},
        {"\"a\nb\"", State::in_string, id(TypeId::string)},
        {"\"a\0b\""sv, State::in_string, id(TypeId::string)},
        {"%\"abc", State::in_quoted_file, id(TypeId::file)},
        {"%{abc}", State::raw_brace, id(TypeId::string)},
        {"#\"a", State::in_char, id(TypeId::char_)},
        {"#{AB", State::in_binary, id(TypeId::binary)},
        {"<tag", State::in_tag, id(TypeId::tag)},
        {"1x ", State::pair_x, id(TypeId::pair)},
        {"12: ", State::time_colon, id(TypeId::time)},
        {"$ ", State::after_dollar, id(TypeId::money)},
        {"ab\xFF", State::in_word, id(TypeId::word)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const Trace t = scan(c.input, State::start);
        EXPECT_EQ(t.terminal, id(State::error));
        EXPECT_EQ(t.last, id(c.last));
        EXPECT_EQ(type_table[t.last], c.kind);
    }
    EXPECT_EQ(type_table[id(State::error)], id(TypeId::error));
}

TEST(LexerTables, WhiteSpaceMovesTheTokenStartAndLineFeedsCount) {
    const struct {
        std::string_view input;
        State initial;
        std::string_view token;
        int lines;
    } cases[] = {
        {"\n\n  x ", State::start, "x", 2},       {"\r\n\t\x0B y", State::start, "y", 1},
        {"; a\n", State::start, "; a", 0},       // the line feed ends the comment unconsumed
        {"a\nb}", State::in_braced, "a\nb", 1},  // nothing is skipped inside a braced string
        {"  a\n}", State::in_braced, "  a\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const Trace t = scan(c.input, c.initial);
        EXPECT_EQ(t.token, c.token);
        EXPECT_EQ(t.lines, c.lines);
    }
}

TEST(LexerTables, TerminalStatesYieldTheirTokensDatatype) {
    const struct {
        State terminal;
        uint8_t type;
    } cases[] = {
        {State::end_of_input, 0},
        {State::error, id(TypeId::error)},
        {State::block_open, 0},
        {State::block_close, 0},
        {State::paren_open, 0},
        {State::paren_close, 0},
        {State::brace_open, 0},
        {State::brace_close, id(TypeId::string)},
        {State::map_open, 0},
        {State::path_head, 0},
        {State::construction, 0},
        {State::comment, 0},
        {State::comma, 0},
        {State::string, id(TypeId::string)},
        {State::word, id(TypeId::word)},
        {State::issue, id(TypeId::issue)},
        {State::integer, id(TypeId::integer)},
        {State::refinement, id(TypeId::refinement)},
        {State::char_, id(TypeId::char_)},
        {State::file, id(TypeId::file)},
        {State::binary, id(TypeId::binary)},
        {State::percent, id(TypeId::percent)},
        {State::decimal, id(TypeId::float_)},
        {State::special_float, id(TypeId::float_)},
        {State::tuple, id(TypeId::tuple)},
        {State::date, id(TypeId::date)},
        {State::pair, id(TypeId::pair)},
        {State::point, id(TypeId::point2D)},
        {State::time, id(TypeId::time)},
        {State::money, id(TypeId::money)},
        {State::tag, id(TypeId::tag)},
        {State::url, id(TypeId::url)},
        {State::email, id(TypeId::email)},
        {State::hex_integer, id(TypeId::integer)},
        {State::raw_string, id(TypeId::string)},
        {State::ref, id(TypeId::ref)},
    };
    ASSERT_EQ(std::size(cases), static_cast<size_t>(kTerminalCount));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(id(cases[i].terminal), kFirstTerminal + i);  // the action is its position + 1
        EXPECT_EQ(type_table[id(cases[i].terminal)], cases[i].type);
    }
}

}  // namespace
}  // namespace zub::lexer
