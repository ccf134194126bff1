// string! internals: widening rules, the text primitives, form and mold's part budget and output
// buffers, the comparisons the natives do not reach and the sort comparators, over 1-, 2- and 4-byte
// units. What the language reaches is in tests/lang/text.zub.
#include "datatypes/string.h"

#include <cmath>
#include <limits>
#include <string>

#include "evaluator/stack.h"
#include "runtime/error.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

constexpr int32_t kNoLimit = std::numeric_limits<int32_t>::max();
constexpr uint32_t kUnits[] = {1, 2, 4};

class Strings : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        stack::init();
    }

    // A text value holding the code points, in units of at least `unit` bytes.
    static Cell text(std::u32string_view cps, uint32_t unit = 1, TypeId type = TypeId::string) {
        for (const char32_t c : cps) unit = std::max(unit, string::in_place_unit(c));
        const NodeId node = series::alloc_with_unit(static_cast<uint32_t>(cps.size()) + 1, unit);
        for (const char32_t c : cps) series::store_unit(series::reserve_tail(node, unit), unit, c);
        return cell::series(type, node);
    }
    static std::u32string points(NodeId node, uint32_t from = 0) {
        std::u32string out;
        for (uint32_t i = from; i < series::length(node); ++i) out += static_cast<char32_t>(string::char_at(node, i));
        return out;
    }
    static std::u32string points(const Cell& value) {
        return points(cell::series_node(value), cell::series_index(value));
    }
    static uint32_t unit(const Cell& value) { return string::unit_of(cell::series_node(value)); }

    static std::u32string mold(Cell v, bool all = false, int32_t limit = kNoLimit, int32_t* left = nullptr) {
        const NodeId out = series::alloc_with_unit(4, 1);
        const int32_t l = registry::actions(cell::type(v)).mold(v, out, MoldFlags{false, all, false, 0}, limit);
        if (left) *left = l;
        return points(out);
    }
    static std::u32string form(Cell v, int32_t limit = kNoLimit, int32_t* left = nullptr) {
        const NodeId out = series::alloc_with_unit(4, 1);
        const int32_t l = registry::actions(cell::type(v)).form(v, out, limit);
        if (left) *left = l;
        return points(out);
    }
    static int32_t compare(Cell a, Cell b, int32_t op) { return registry::actions(cell::type(a)).compare(a, b, op); }
    static Cell datatype(TypeId t) { return cell::make(TypeId::datatype, static_cast<uint32_t>(t)); }
};

// Prints code points readably in failure messages.
std::string show(const std::u32string& s) {
    std::string out;
    for (const char32_t c : s) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[16];
            std::snprintf(buf, sizeof buf, "<%X>", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out;
}

// ---- Widening ------------------------------------------------------------------------------------

TEST_F(Strings, AppendWidensFrom80h) {
    struct Case {
        uint32_t unit;
        char32_t cp;
        uint32_t widened;
    };
    const Case cases[] = {
        {1, U'a', 1},     {1, 0x7F, 1}, {1, 0x80, 2},   {1, 0xE9, 2},    {1, 0xFFFF, 2}, {1, 0x10000, 4},
        {1, 0x10FFFF, 4}, {2, 0xE9, 2}, {2, 0xFFFF, 2}, {2, 0x10000, 4}, {4, U'a', 4},
    };
    for (const Case& c : cases) {
        const Cell s = text(U"xy", c.unit);
        string::append_char(cell::series_node(s), c.cp);
        EXPECT_EQ(unit(s), c.widened) << c.unit << " " << std::hex << static_cast<uint32_t>(c.cp);
        EXPECT_EQ(points(s), std::u32string(U"xy") + c.cp);
    }
}

TEST_F(Strings, InPlaceWritesWidenOnlyWhenTheUnitIsTooNarrow) {
    struct Case {
        uint32_t unit;
        char32_t cp;
        uint32_t widened;
    };
    const Case cases[] = {
        {1, 0xE9, 1},    {1, 0xFF, 1},   {1, 0x100, 2},   {1, 0xFFFF, 2},
        {1, 0x10000, 4}, {2, 0xFFFF, 2}, {2, 0x10000, 4}, {4, U'a', 4},
    };
    for (const Case& c : cases) {
        const Cell poked = text(U"xyz", c.unit);
        string::poke_char(cell::series_node(poked), 1, c.cp);
        EXPECT_EQ(unit(poked), c.widened);
        EXPECT_EQ(points(poked), (std::u32string{U'x', c.cp, U'z'}));

        const Cell inserted = text(U"xyz", c.unit);
        string::insert_char(cell::series_node(inserted), 1, c.cp);
        EXPECT_EQ(unit(inserted), c.widened);
        EXPECT_EQ(points(inserted), (std::u32string{U'x', c.cp, U'y', U'z'}));

        const Cell overwritten = text(U"xyz", c.unit);
        string::overwrite_char(cell::series_node(overwritten), 2, c.cp);
        EXPECT_EQ(unit(overwritten), c.widened);
        EXPECT_EQ(points(overwritten), (std::u32string{U'x', U'y', c.cp}));
    }
}

TEST_F(Strings, OverwritePastTheTailGrowsWithNulGap) {
    for (const uint32_t u : kUnits) {
        const Cell s = text(U"ab", u);
        string::overwrite_char(cell::series_node(s), 2, U'c');
        string::overwrite_char(cell::series_node(s), 40, 0x20AC);
        std::u32string expected = U"abc";
        expected.resize(40, 0);
        expected += char32_t{0x20AC};
        EXPECT_EQ(points(s), expected) << u;
    }
}

TEST_F(Strings, ResetEmptiesAndNarrows) {
    const Cell s = text(U"a\U0001F600");
    string::rs_reset(cell::series_node(s));
    EXPECT_EQ(unit(s), 1u);
    EXPECT_EQ(string::rs_length(s), 0u);
    string::append_char(cell::series_node(s), U'z');
    EXPECT_EQ(points(s), U"z");
}

TEST_F(Strings, LiteralAndUtf8Appends) {
    const Cell s = text(U"");
    string::append_literal(cell::series_node(s), "ab");
    EXPECT_EQ(unit(s), 1u);
    string::append_literal(cell::series_node(s), "\xE9");  // a byte above 7Fh: the append rule
    EXPECT_EQ(unit(s), 2u);
    string::append_utf8(cell::series_node(s), "\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(points(s), U"ab\u00E9\u20AC\U0001F600");
    EXPECT_EQ(raised([&] { string::append_utf8(cell::series_node(s), "x\xC3"); }), ErrorId::invalid_utf8);
    EXPECT_EQ(points(s), U"ab\u00E9\u20AC\U0001F600");
}

TEST_F(Strings, Concatenate) {
    struct Case {
        std::u32string target;
        uint32_t target_unit;
        uint32_t head;
        std::u32string source;
        uint32_t source_unit;
        int32_t part;
        string::Concat mode;
        std::u32string result;
    };
    using string::Concat;
    const Case cases[] = {
        {U"abc", 1, 0, U"xy", 1, -1, Concat::append, U"abcxy"},
        {U"abc", 1, 1, U"xy", 1, -1, Concat::insert, U"axybc"},
        {U"abc", 1, 1, U"xy", 1, -1, Concat::overwrite, U"axy"},
        {U"abc", 1, 2, U"xyz", 1, -1, Concat::overwrite, U"abxyz"},
        {U"abc", 1, 3, U"xy", 1, 1, Concat::insert, U"abcx"},
        {U"abc", 1, 0, U"\u20ACy", 2, -1, Concat::insert, U"\u20ACyabc"},  // target widened first
        {U"a\u20AC", 2, 1, U"xyz", 1, 2, Concat::insert, U"axy\u20AC"},    // narrower source
        {U"ab", 2, 2, U"\U0001F600", 4, -1, Concat::append, U"ab\U0001F600"},
        {U"ab", 4, 0, U"\u00E9", 1, -1, Concat::append, U"ab\u00E9"},
        {U"abc", 1, 1, U"", 1, -1, Concat::insert, U"abc"},
        {U"abc", 1, 1, U"xy", 1, 0, Concat::insert, U"abc"},
    };
    for (const Case& c : cases) {
        Cell target = text(c.target, c.target_unit);
        target.w1 = c.head;
        const uint32_t written = string::concatenate(target, text(c.source, c.source_unit), c.part, c.mode);
        EXPECT_EQ(points(cell::series_node(target)), c.result) << show(c.result);
        EXPECT_EQ(written, c.part < 0 ? c.source.size() : std::min<size_t>(c.part, c.source.size()));
    }
}

TEST_F(Strings, ConcatenateFromItself) {
    for (const uint32_t u : kUnits) {
        Cell s = text(U"abcdefgh", u);
        Cell tail_half = s;
        tail_half.w1 = 4;
        string::concatenate(s, tail_half, -1, string::Concat::insert);
        EXPECT_EQ(points(cell::series_node(s)), U"efghabcdefgh");
        string::concatenate(s, s, -1, string::Concat::append);  // grows the buffer it reads
        EXPECT_EQ(points(cell::series_node(s)), U"efghabcdefghefghabcdefgh");
    }
}

TEST_F(Strings, ConcatenateReadsASymbolByName) {
    const Cell s = text(U"x-");
    const symbol::Id id = symbol::make("caf\xC3\xA9");
    const Cell sym = memory::buffer(symbol::table())->cells()[id - 1];  // name string not made yet
    string::concatenate(s, sym, -1, string::Concat::append);
    EXPECT_EQ(points(s), U"x-caf\u00E9");
}

// ---- Primitives ----------------------------------------------------------------------------------

TEST_F(Strings, ReadingPrimitives) {
    for (const uint32_t u : kUnits) {
        Cell s = text(U"<ab\u00E9c>", u);
        EXPECT_EQ(string::rs_length(s), 6u);
        EXPECT_EQ(string::find_char(s, U'c'), 4);
        EXPECT_EQ(string::find_char(s, U'z'), -1);
        EXPECT_TRUE(string::tag_form(s));
        EXPECT_TRUE(string::match_literal(s, "<ab"));
        EXPECT_TRUE(string::match_literal(s, "<ab\xE9"));
        EXPECT_FALSE(string::match_literal(s,
                                           "<ab\xE9"
                                           "c>!"));
        s.w1 = 1;
        EXPECT_EQ(string::find_char(s, U'c'), 3);
        EXPECT_FALSE(string::tag_form(s));
        EXPECT_TRUE(string::match_literal(s, "ab"));
        s.w1 = 9;  // past the tail
        EXPECT_EQ(string::rs_length(s), 0u);
        EXPECT_TRUE(string::rs_tail(s));
        EXPECT_EQ(string::find_char(s, U'a'), -1);
        EXPECT_FALSE(string::tag_form(s));
        EXPECT_TRUE(string::match_literal(s, ""));
        EXPECT_FALSE(string::match_literal(s, "a"));
    }
    EXPECT_FALSE(string::match_literal(text(U"\u0161"), "\x61"));  // 161h is not the byte 61h
    EXPECT_FALSE(string::tag_form(text(U"<")));
    EXPECT_TRUE(string::tag_form(text(U"<>")));
}

TEST_F(Strings, TruncateAndRemove) {
    for (const uint32_t u : kUnits) {
        const Cell s = text(U"abcdef", u);
        const NodeId n = cell::series_node(s);
        string::truncate(n, 10);
        EXPECT_EQ(points(n), U"abcdef");
        string::truncate(n, 5);
        EXPECT_EQ(points(n), U"abcde");
        string::remove_part(n, 1, 2);
        EXPECT_EQ(points(n), U"ade");
        string::remove_part(n, 2, 100);
        EXPECT_EQ(points(n), U"ad");
        string::remove_char(n, 0);
        EXPECT_EQ(points(n), U"d");
        string::remove_part(n, 5, 1);
        EXPECT_EQ(points(n), U"d");
    }
}

TEST_F(Strings, HeadInBitset) {
    // Bits for 'a' (61h) and 'c' (63h); every bit past the stored bytes answers the complement flag.
    const NodeId bits = memory::alloc_bytes(13);
    for (int i = 0; i < 13; ++i) series::append_byte(bits, 0);
    memory::buffer(bits)->head_ptr()[12] = std::byte{0x50};
    const Cell set = cell::make(TypeId::bitset, 0, bits);
    struct Case {
        char32_t cp;
        bool plain, complemented;
    };
    const Case cases[] = {{U'a', true, true}, {U'b', false, false}, {U'c', true, true}, {0x20AC, false, true}};
    for (const Case& c : cases) {
        EXPECT_EQ(string::head_in_bitset(text(std::u32string(1, c.cp)), set), c.plain);
        memory::set_series_flags(bits, series_flag::complement);
        EXPECT_EQ(string::head_in_bitset(text(std::u32string(1, c.cp)), set), c.complemented);
        memory::buffer(bits)->flags &= ~series_flag::complement;
    }
    EXPECT_FALSE(string::head_in_bitset(text(U""), set));
}

TEST_F(Strings, MatchAtHead) {
    const Cell s = text(U"Hello World");
    struct Case {
        Cell pattern;
        bool case_sensitive;
        int32_t matched;
    };
    const Case cases[] = {
        {cell::character(U'h'), false, 1},
        {cell::character(U'h'), true, -1},
        {cell::character(U'H'), true, 1},
        {text(U"hello"), false, 5},
        {text(U"hello"), true, -1},
        {text(U"Hello", 2), true, 5},
        {text(U"Hello World!"), false, -1},
        {text(U""), false, 0},
        {text(U"hel", 1, TypeId::tag), false, 3},  // a tag by its text, without brackets
        {text(U"hel", 1, TypeId::file), false, 3},
        {cell::integer(1), false, -1},
    };
    for (const Case& c : cases) EXPECT_EQ(string::match_at_head(s, c.pattern, c.case_sensitive), c.matched);
}

TEST_F(Strings, CopyUnits) {
    const char32_t cps[] = {U'a', 0xE9, 0xFF};
    std::byte one[3], two[6], four[12];
    for (int i = 0; i < 3; ++i) series::store_unit(one + i, 1, cps[i]);
    string::copy_units(one, 1, two, 2, 3);
    string::copy_units(two, 2, four, 4, 3);
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(series::code_point_at(two, 2, i), cps[i]);
        EXPECT_EQ(series::code_point_at(four, 4, i), cps[i]);
    }
    string::copy_units(one, 1, four, 4, 3);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(series::code_point_at(four, 4, i), cps[i]);
}

TEST_F(Strings, Load) {
    const Cell a = string::load(unicode::bytes_input("\xEF\xBB\xBF"
                                                     "caf\xC3\xA9",
                                                     8),
                                string::Encoding::utf8);
    EXPECT_EQ(points(a), U"caf\u00E9");
    EXPECT_TRUE(cell::is(a, TypeId::string));
    const char utf16[] = {'a', 0, '\x3D', '\xD8', '\x00', '\xDE'};  // a, U+1F600 as a surrogate pair
    const Cell b = string::load(unicode::bytes_input(utf16, 6), string::Encoding::utf16le, TypeId::file);
    EXPECT_EQ(points(b), U"a\U0001F600");
    EXPECT_TRUE(cell::is(b, TypeId::file));
    EXPECT_EQ(raised([] { string::load(unicode::bytes_input("\xFF", 1), string::Encoding::utf8); }),
              ErrorId::invalid_utf8);

    const NodeId block = memory::alloc_cells(1);
    string::load_in(block, unicode::bytes_input("x", 1), string::Encoding::utf8);
    string::load_in(block, unicode::bytes_input("yz", 2), string::Encoding::utf8);
    ASSERT_EQ(series::length(block), 2u);
    EXPECT_EQ(points(memory::buffer(block)->cells()[1]), U"yz");
}

// ---- Hexadecimal ---------------------------------------------------------------------------------

TEST_F(Strings, Hex) {
    struct Case {
        int32_t value;
        bool minimal;
        const char* text;
    };
    const Case cases[] = {
        {0, true, "00"},
        {1, true, "1"},
        {0x1E, true, "1E"},
        {0x85, true, "85"},
        {0x20AC, true, "20AC"},
        {0x10FFFF, true, "10FFFF"},
        {-1, true, "FFFFFFFF"},
        {0, false, "00000000"},
        {255, false, "000000FF"},
        {-2, false, "FFFFFFFE"},
        {std::numeric_limits<int32_t>::min(), false, "80000000"},
        {0x7FFFFFFF, true, "7FFFFFFF"},
    };
    for (const Case& c : cases) EXPECT_EQ(string::int_to_hex(c.value, c.minimal).view(), c.text) << c.value;
    char two[2];
    string::byte_to_hex(0x0A, two);
    EXPECT_EQ(std::string(two, 2), "0A");
    string::byte_to_hex(0xFF, two);
    EXPECT_EQ(std::string(two, 2), "FF");
}

// ---- Form ----------------------------------------------------------------------------------------

TEST_F(Strings, Form) {
    struct Case {
        std::u32string value;
        uint32_t head;
        int32_t limit;
        std::u32string formed;
        int32_t left;
    };
    const Case cases[] = {
        {U"abc", 0, kNoLimit, U"abc", kNoLimit - 3},
        {U"a\"b^{\n", 0, kNoLimit, U"a\"b^{\n", kNoLimit - 6},  // form writes no escapes
        {U"h\u00E9\u20AC\U0001F600", 0, kNoLimit, U"h\u00E9\u20AC\U0001F600", kNoLimit - 4},
        {U"abcdef", 2, kNoLimit, U"cdef", kNoLimit - 4},
        {U"abcdef", 0, 4, U"abcd", -2},
        {U"abcdef", 3, 0, U"", -3},
        {U"abcdef", 0, -5, U"", -11},
        {U"abc", 7, 10, U"", 10},
    };
    for (const Case& c : cases) {
        for (const uint32_t u : kUnits) {
            Cell v = text(c.value, u);
            v.w1 = c.head;
            int32_t left;
            EXPECT_EQ(form(v, c.limit, &left), c.formed) << show(c.value) << " unit " << u;
            EXPECT_EQ(left, c.left);
        }
    }
}

TEST_F(Strings, FormWidensTheOutputToTheSourceUnit) {
    const NodeId out = series::alloc_with_unit(4, 1);
    series::append_ascii(out, "x");
    registry::actions(TypeId::string).form(text(U"\U0001F600"), out, kNoLimit);
    EXPECT_EQ(string::unit_of(out), 4u);
    EXPECT_EQ(points(out), U"x\U0001F600");
}

// ---- Mold ----------------------------------------------------------------------------------------

std::u32string repeat(std::u32string_view s, size_t n) {
    std::u32string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

TEST_F(Strings, MoldPartBudget) {
    struct Case {
        std::u32string value;
        int32_t limit;
        std::u32string molded;
    };
    const Case cases[] = {
        {U"abcdef", 3, U"\"abc\""},
        {U"abcdef", 0, U"\"\""},
        {U"abcdef", -4, U"\"\""},
        {U"ab\"cd", 2, U"\"ab\""},          // the quote lies past the part
        {U"a\nb\nc\nd", 4, U"\"a^/b^/\""},  // only two line feeds within the part
        {repeat(U"a", 60), 5, U"{aaaaa}"},  // length counts from the head to the tail
        {U"\"{{}}", 3, U"{\"^{^{}"},        // balance is judged within the part
        {U"\u0085\u0085\u0085", 2, U"\"^(85)^(85)\""},
    };
    for (const Case& c : cases) {
        for (const uint32_t u : kUnits) {
            int32_t left;
            const std::u32string molded = mold(text(c.value, u), false, c.limit, &left);
            EXPECT_EQ(molded, c.molded) << show(c.value) << " " << c.limit;
            EXPECT_EQ(left, c.limit - static_cast<int32_t>(molded.size()));
        }
    }
}

TEST_F(Strings, MoldIntoItself) {
    for (const uint32_t u : kUnits) {
        const Cell v = text(U"a\"\U0001F600", u);
        registry::actions(TypeId::string).mold(v, cell::series_node(v), MoldFlags{}, kNoLimit);
        EXPECT_EQ(points(v), U"a\"\U0001F600{a\"\U0001F600}");
    }
}

TEST_F(Strings, MoldAppendsToAWiderOutput) {
    const NodeId out = series::alloc_with_unit(4, 4);
    series::append_ascii(out, "x");
    registry::actions(TypeId::string).mold(text(U"a\nb"), out, MoldFlags{}, kNoLimit);
    EXPECT_EQ(points(out), U"x\"a^/b\"");
}

TEST_F(Strings, AppendEscapedChar) {
    struct Case {
        char32_t cp;
        bool all;
        std::u32string text;
    };
    const Case cases[] = {
        {U'a', false, U"a"},     {U'"', false, U"^\""},
        {U'^', false, U"^^"},    {U'\n', false, U"^/"},
        {0x1E, false, U"^(1E)"}, {0x7F, false, U"^~"},
        {0x9F, false, U"^(9F)"}, {0xE9, false, U"\u00E9"},
        {0xE9, true, U"^(E9)"},  {0x1F600, false, U"\U0001F600"},
    };
    for (const Case& c : cases) {
        const NodeId out = series::alloc_with_unit(4, 1);
        EXPECT_EQ(string::append_escaped_char(out, c.cp, c.all), c.text.size());
        EXPECT_EQ(points(out), c.text);
    }
}

TEST_F(Strings, ScanQuotesAndBraceBalance) {
    for (const uint32_t u : kUnits) {
        const NodeId n = cell::series_node(text(U"{\"a\n{b}\"}\n}{", u));
        const string::QuoteScan all = string::scan_quotes(n, 0, 12);
        EXPECT_EQ(all.quotes, 2u);
        EXPECT_EQ(all.line_feeds, 2u);
        EXPECT_EQ(string::scan_quotes(n, 3, 6).quotes, 0u);
        EXPECT_EQ(string::brace_balance(n, 0, 12), 8);
        EXPECT_EQ(string::brace_balance(n, 4, 12), 6);
        EXPECT_EQ(string::brace_balance(n, 0, 8), -1);
        EXPECT_EQ(string::brace_balance(n, 11, 12), -1);
    }
}

// Reads molded text back by the lexer's string syntax: "..." on one line or {...} with nested
// braces, and the caret escapes. Returns false when the text is not one well-formed literal.
bool read_literal(const std::u32string& s, std::u32string& out) {
    if (s.size() < 2) return false;
    const bool braced = s[0] == U'{';
    if (!braced && s[0] != U'"') return false;
    int depth = 1;
    size_t i = 1;
    for (; i < s.size(); ++i) {
        char32_t c = s[i];
        if (c == U'^') {
            if (++i == s.size()) return false;
            c = s[i];
            if (c == U'(') {
                const size_t close = s.find(U')', i);
                if (close == std::u32string::npos || close - i - 1 > 6 || close == i + 1) return false;
                uint32_t v = 0;
                for (size_t k = i + 1; k < close; ++k) {
                    const char32_t d = s[k];
                    const int digit = d >= U'0' && d <= U'9'   ? int(d - U'0')
                                      : d >= U'A' && d <= U'F' ? int(d - U'A' + 10)
                                                               : -1;
                    if (digit < 0) return false;
                    v = v * 16 + static_cast<uint32_t>(digit);
                }
                out += static_cast<char32_t>(v);
                i = close;
            } else if (c == U'-') {
                out += U'\t';
            } else if (c == U'/') {
                out += U'\n';
            } else if (c == U'~') {
                out += char32_t{0x7F};
            } else if (c == U'@' || c == U'[' || c == U'\\' || c == U']' || c == U'_') {
                out += c - 0x40;
            } else if ((c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z')) {
                out += (c & 0x1F);
            } else {
                out += c;
            }
            continue;
        }
        if (!braced) {
            if (c == U'"') break;
            if (c == U'\n') return false;
        } else if (c == U'{') {
            ++depth;
        } else if (c == U'}' && --depth == 0) {
            break;
        }
        out += c;
    }
    return i == s.size() - 1;
}

TEST_F(Strings, MoldReadsBackAsTheSameText) {
    const char32_t alphabet[] = {U'a', U'{', U'}', U'"', U'^',   U'\n',   U'\t', 0,    0x1E,
                                 0x1F, 0x7F, 0x85, 0xE9, 0x20AC, 0x1F600, U'(',  U')', U' '};
    uint32_t seed = 12345;
    const auto next = [&] {
        seed = seed * 1103515245 + 12345;
        return seed >> 16;
    };
    for (int round = 0; round < 2000; ++round) {
        std::u32string value;
        const uint32_t length = next() % 70;
        for (uint32_t i = 0; i < length; ++i) value += alphabet[next() % std::size(alphabet)];
        for (const bool all : {false, true}) {
            const std::u32string molded = mold(text(value, kUnits[round % 3]), all);
            std::u32string back;
            ASSERT_TRUE(read_literal(molded, back)) << show(value) << " -> " << show(molded);
            ASSERT_EQ(back, value) << show(molded);
        }
    }
}

// ---- make and to ---------------------------------------------------------------------------------

// The language sees the empty result; a made string starts in 1-byte units.
TEST_F(Strings, MakeWithCapacity) {
    for (const Cell spec : {cell::integer(0), cell::integer(100), cell::floating(7.9)})
        EXPECT_EQ(unit(registry::actions(TypeId::string).make(TypeId::string, datatype(TypeId::string), spec)), 1u);
    EXPECT_EQ(
        raised([] { registry::actions(TypeId::string).make(TypeId::binary, cell::none(), cell::make(TypeId::money)); }),
        ErrorId::bad_make_arg);
    EXPECT_EQ(error::pending().args[0].w1, static_cast<uint32_t>(TypeId::binary));
}

// From binary!, which has no literal in the language yet.
TEST_F(Strings, ToFromBinary) {
    const NodeId bytes = memory::alloc_bytes(8);
    series::append_bytes(bytes, "xcaf\xC3\xA9", 6);
    const Cell binary = cell::series(TypeId::binary, bytes, 1);
    const Cell result = registry::actions(TypeId::string).to(TypeId::string, datatype(TypeId::string), binary);
    EXPECT_TRUE(cell::is(result, TypeId::string));
    EXPECT_EQ(points(result), U"caf\u00E9");
    EXPECT_EQ(result.w1, 0u);
    series::append_bytes(bytes, "\xC3(", 2);
    EXPECT_EQ(raised([&] { registry::actions(TypeId::string).to(TypeId::string, datatype(TypeId::string), binary); }),
              ErrorId::invalid_utf8);
}

// ---- Comparison ----------------------------------------------------------------------------------

// The operations the comparison natives do not use: find's and sort's, and binary!.
TEST_F(Strings, Compare) {
    const Cell abc = text(U"abc");
    struct Case {
        Cell a, b;
        int32_t op;
        int32_t answer;
    };
    const Case cases[] = {
        {abc, text(U"ABC"), op_find, 0},
        {text(U"ab"), abc, op_find, 1},
        {text(U"a"), text(U"B"), op_sort, -1},
        {text(U"a"), text(U"B"), op_sort_case, 1},
        {abc, cell::series(TypeId::binary, cell::series_node(abc)), op_equal, kNotComparable},
    };
    for (const Case& c : cases)
        EXPECT_EQ(compare(c.a, c.b, c.op), c.answer)
            << show(points(c.a)) << " vs " << show(points(c.b)) << " op " << c.op;
}

TEST_F(Strings, ComparePrefix) {
    struct Case {
        std::u32string text, pattern;
        int32_t op;
        int32_t answer;
    };
    const Case cases[] = {
        {U"abcdef", U"abc", op_equal, 0}, {U"abcdef", U"ABC", op_equal, 0}, {U"abcdef", U"ABC", op_strict_equal, 1},
        {U"ab", U"abc", op_equal, 1},     {U"abc", U"", op_equal, 0},       {U"abc", U"", op_find, 1},
        {U"abc", U"abd", op_lesser, -1},  {U"", U"", op_equal, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(string::compare_chars(text(c.text), text(c.pattern, 2), c.op, true), c.answer)
            << show(c.text) << " / " << show(c.pattern);
}

TEST_F(Strings, CompareWithASymbol) {
    const symbol::Id id = symbol::make("Foo");
    const Cell sym = memory::buffer(symbol::table())->cells()[id - 1];  // name string not made yet
    EXPECT_EQ(string::compare_chars(text(U"foo"), sym, op_equal), 0);
    EXPECT_EQ(string::compare_chars(text(U"foo"), sym, op_strict_equal), 1);
    EXPECT_EQ(string::compare_chars(sym, text(U"fop"), op_lesser), -1);
    EXPECT_EQ(string::compare_chars(text(U"foo"), symbol::get(id), op_equal), 0);
}

TEST_F(Strings, SortComparators) {
    using string::SortOrder;
    namespace flag = string::sort_flag;
    struct Case {
        uint32_t unit;
        std::u32string a, b;
        SortOrder order;
        int answer;
    };
    const uint32_t two_records = flag::records | 2 << flag::count_shift;
    const uint32_t second = 1 << flag::count_shift;
    const Case cases[] = {
        {1, U"a", U"b", {false, 0}, -1},
        {1, U"a", U"B", {false, 0}, -1},
        {1, U"a", U"B", {true, 0}, 1},
        {1, U"a", U"B", {false, flag::reverse}, 1},
        {1, U"A", U"a", {false, 0}, 0},
        {1, U"\u00C0", U"\u00E0", {false, 0}, -1},  // 1-byte units fold A-Z only
        {2, U"\u00C0", U"\u00E0", {false, 0}, 0},
        {2, U"\u0100", U"\u0101", {false, 0}, 0},
        {4, U"\U00010400", U"\U00010428", {false, 0}, 0},
        {4, U"\U00010400", U"\U00010428", {true, 0}, -1},
        {1, U"ab", U"ac", {false, two_records}, -1},
        {1, U"ab", U"aa", {false, two_records | flag::reverse}, -1},
        {2, U"zb", U"ac", {false, second}, -1},  // only the element at offset 1
        {2, U"ab", U"zb", {false, second}, 0},
    };
    for (const Case& c : cases) {
        const NodeId a = cell::series_node(text(c.a, c.unit)), b = cell::series_node(text(c.b, c.unit));
        ASSERT_EQ(string::unit_of(a), c.unit);
        ASSERT_EQ(string::unit_of(b), c.unit);
        SortOrder order = c.order;
        const int answer = string::unit_comparator(c.unit)(memory::buffer(a)->head_ptr(), memory::buffer(b)->head_ptr(),
                                                           &order, nullptr);
        EXPECT_EQ((answer > 0) - (answer < 0), c.answer) << show(c.a) << " " << show(c.b);
    }
}

TEST_F(Strings, FloatSortComparators) {
    const double nan = std::nan("");
    struct Case {
        double a, b;
        uint32_t flags;
        int answer;
    };
    const Case cases[] = {
        {1.5, 2.25, 0, -1}, {2.25, 1.5, 0, 1}, {1.5, 1.5, 0, 0}, {1.25, 1.5, string::sort_flag::reverse, 1},
        {nan, 1.0, 0, 1},   {1.0, nan, 0, -1}, {nan, nan, 0, 0}, {-0.0, 0.0, 0, 0},
    };
    for (const Case& c : cases) {
        string::SortOrder order{true, c.flags};
        const double x[] = {c.a}, y[] = {c.b};
        const int wide = string::float_comparator(8)(x, y, &order, nullptr);
        EXPECT_EQ((wide > 0) - (wide < 0), c.answer) << c.a << " " << c.b;
        const float fx[] = {static_cast<float>(c.a)}, fy[] = {static_cast<float>(c.b)};
        const int narrow = string::float_comparator(4)(fx, fy, &order, nullptr);
        EXPECT_EQ((narrow > 0) - (narrow < 0), c.answer) << c.a << " " << c.b;
    }
}

}  // namespace
}  // namespace zub
