// The lexer: interned words, new-line flags, the syntax errors of bytes that are no UTF-8, check-only
// and one-value modes, and hostile input that must end in a clear error. What it loads and the
// other syntax errors are in tests/lang/transcode.zub.
#include <cmath>
#include <random>
#include <string>
#include <string_view>

#include "datatypes/registry.h"
#include "evaluator/lexer/lexer.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class LexerTest : public RuntimeTest {
  protected:
    // Text of a value for comparisons. Scalars go through their datatype's mold where there is
    // one; series are shown here, as block! and string! mold are not all written yet.
    static std::string show(const Cell& v) {
        const TypeId t = cell::type(v);
        switch (t) {
            case TypeId::block: return "[" + items(v, " ") + "]";
            case TypeId::paren: return "(" + items(v, " ") + ")";
            case TypeId::path: return items(v, "/");
            case TypeId::lit_path: return "'" + items(v, "/");
            case TypeId::get_path: return ":" + items(v, "/");
            case TypeId::set_path: return items(v, "/") + ":";
            case TypeId::string: return "\"" + text(v) + "\"";
            case TypeId::file: return "%" + text(v);
            case TypeId::tag: return "<" + text(v) + ">";
            case TypeId::ref: return "@" + text(v);
            case TypeId::url:
            case TypeId::email: return text(v);
            case TypeId::char_: return "#\"" + code_point(v.w2) + "\"";
            case TypeId::datatype: return std::string(registry::name(static_cast<TypeId>(v.w1)));
            case TypeId::none: return "none";
            case TypeId::unset: return "unset";
            case TypeId::logic: return cell::as_logic(v) ? "true" : "false";
            default: break;
        }
        if (registry::actions(t).mold) {
            const NodeId out = memory::alloc_series(16, 1, 0);
            registry::actions(t).mold(v, out, MoldFlags{}, 1000);
            return text(cell::series(TypeId::string, out));
        }
        return "?" + std::string(registry::name(t));
    }
    static std::string code_point(uint32_t cp) {
        if (cp >= 0x20 && cp < 0x7F) return std::string(1, static_cast<char>(cp));
        char buf[16];
        std::snprintf(buf, sizeof buf, "<%X>", cp);
        return buf;
    }
    static std::string text(const Cell& v) {
        std::string s;
        const SeriesBuffer* b = memory::buffer(cell::series_node(v));
        for (uint32_t i = cell::series_index(v); i < b->used() / b->unit(); ++i) {
            s += code_point(series::code_point_at(memory::buffer(cell::series_node(v))->head_ptr(), b->unit(), i));
        }
        return s;
    }
    static std::string items(const Cell& v, const char* separator) {
        std::string s;
        const NodeId node = cell::series_node(v);
        for (uint32_t i = 0; i < series::length(node); ++i) {
            if (i) s += separator;
            s += show(memory::buffer(node)->cells()[i]);
        }
        return s;
    }

    static Cell load(std::string_view source) {
        return cell::series(TypeId::block, lexer::load(reinterpret_cast<const std::byte*>(source.data()),
                                                       static_cast<uint32_t>(source.size())));
    }
    static std::string loaded(std::string_view source) { return show(load(source)); }

    // "id: arg | arg | arg" of the error a load raises, or "no error".
    static std::string error_of(std::string_view source, lexer::Options options = {}) {
        try {
            lexer::transcode(reinterpret_cast<const std::byte*>(source.data()), static_cast<uint32_t>(source.size()),
                             options);
        } catch (const Thrown&) {
            const auto& e = error::pending();
            std::string s(error::id_word(e.id));
            for (int i = 0; i < e.arg_count; ++i) {
                s += i ? " | " : ": ";
                s += cell::is(e.args[i], TypeId::string) ? text(e.args[i]) : show(e.args[i]);
            }
            return s;
        }
        return "no error";
    }

    static lexer::Result run(std::string_view source, lexer::Options options) {
        return lexer::transcode(reinterpret_cast<const std::byte*>(source.data()), static_cast<uint32_t>(source.size()),
                                options);
    }
};

struct Case {
    const char* source;
    const char* expected;
};

// The NaN a literal loads as is the one quiet NaN; the other loads are in tests/lang/transcode.zub.
TEST_F(LexerTest, NanLoadsAsTheQuietNan) {
    const Cell b = load("1.#nan");
    EXPECT_EQ(std::bit_cast<uint64_t>(cell::as_float(memory::buffer(cell::series_node(b))->cells()[0])),
              0x7FF8000000000000u);
}

TEST_F(LexerTest, WordsAreInternedAndBoundGlobally) {
    const Cell b = load("foo Foo foo:");
    const Cell* v = memory::buffer(cell::series_node(b))->cells();
    EXPECT_EQ(v[0].w2, v[2].w2);  // one symbol
    EXPECT_EQ(v[0].w1, context::global());
    EXPECT_EQ(symbol::resolve(v[1].w2), symbol::resolve(v[0].w2));
    EXPECT_TRUE(cell::is(v[2], TypeId::set_word));
}

TEST_F(LexerTest, NewLineFlagMarksValuesAfterALineFeed) {
    const Cell b = load("1 2\n3 ; c\n\n\n[4\n5] {\n} \n{x}");
    const Cell* v = memory::buffer(cell::series_node(b))->cells();
    EXPECT_FALSE(cell::new_line(v[0]));
    EXPECT_FALSE(cell::new_line(v[1]));
    EXPECT_TRUE(cell::new_line(v[2]));
    EXPECT_TRUE(cell::new_line(v[3]));
    EXPECT_FALSE(cell::new_line(v[4]));  // the line feed is inside the braces
    EXPECT_TRUE(cell::new_line(v[5]));
    const Cell* inner = memory::buffer(cell::series_node(v[3]))->cells();
    EXPECT_FALSE(cell::new_line(inner[0]));
    EXPECT_TRUE(cell::new_line(inner[1]));
}

// Bytes that are no UTF-8, which no string of the language holds; the other syntax errors are in
// tests/lang/transcode.zub.
TEST_F(LexerTest, SyntaxErrorsOfBadBytes) {
    const Case cases[] = {
        {"\xFF", "bad-char: (line 1) | <FFFD>"},
        {"\x80"
         "abc",
         "bad-char: (line 1) | <FFFD>abc"},
        {"\"a\xC3(\"", "invalid: (line 1) | string! | \"a<FFFD>(\""},
        {"a\xC3", "invalid: (line 1) | word! | a"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.source), c.expected) << c.source;
}

TEST_F(LexerTest, CheckOnlyModeReportsErrorType) {
    lexer::Options check;
    check.load = false;
    for (const char* source : {"[1 2", "\"abc", "{a", "]", "\\", "1''2", "a/"}) {
        EXPECT_EQ(run(source, check).type, TypeId::error) << source;
    }
    EXPECT_EQ(run("[1 2] \"x\"", check).type, TypeId::string);
    EXPECT_EQ(lexer::stack_node() ? series::length(lexer::stack_node()) : 0u, 0u);
}

TEST_F(LexerTest, OneValueModeStopsAfterTheFirstValue) {
    lexer::Options one;
    one.one = true;
    lexer::Result r = run("1 2 3", one);
    EXPECT_EQ(show(r.value), "1");
    EXPECT_EQ(r.consumed, 1u);
    r = run("  [a b] c", one);
    EXPECT_EQ(show(r.value), "[a b]");
    EXPECT_EQ(r.consumed, 7u);
    r = run("a/b c", one);
    EXPECT_EQ(show(r.value), "a/b");
    r = run("; nothing\n", one);
    EXPECT_EQ(show(r.value), "none");

    lexer::Options scan;  // /scan: one token's type, nothing loaded
    scan.one = true;
    scan.load = false;
    r = run("\"s\" 1", scan);
    EXPECT_EQ(r.type, TypeId::string);
    EXPECT_EQ(r.consumed, 3u);
}

TEST_F(LexerTest, IntoAppendsToAnExistingBlock) {
    const Cell target = block_of({cell::integer(0)});
    lexer::Options into;
    into.into = cell::series_node(target);
    run("1 2", into);
    EXPECT_EQ(show(target), "[0 1 2]");
}

TEST_F(LexerTest, TransformsStringAndBinarySources) {
    const char text[] = "x [1 \xE2\x82\xAC] y";
    const NodeId s = unicode::load_utf8(unicode::bytes_input(text, sizeof text - 1));
    lexer::Result r = lexer::transcode_value(cell::series(TypeId::string, s, 2), 5, {});
    EXPECT_EQ(show(r.value), "[[1 <20AC>]]");
    EXPECT_EQ(r.consumed, 5u);
    const NodeId b = memory::alloc_bytes(4);
    series::append_bytes(b, "a b:", 4);
    r = lexer::transcode_value(cell::series(TypeId::binary, b), -1, {});
    EXPECT_EQ(show(r.value), "[a b:]");
}

struct Recorded {
    std::string events;
};
bool record_hook(void* data, lexer::TraceInfo& info) {
    auto* r = static_cast<Recorded*>(data);
    r->events += std::to_string(info.event) + ":" + std::to_string(info.type) + "@" + std::to_string(info.start) + "-" +
                 std::to_string(info.end) + " ";
    // Refuse loading integers: the load event's refusal drops the value.
    return !(info.event == lexer::event::load && info.type == static_cast<int32_t>(TypeId::integer));
}

TEST_F(LexerTest, TraceHookSeesEventsAndCanDropValues) {
    Recorded rec;
    const lexer::Trace trace{record_hook, &rec, lexer::event::load | lexer::event::open | lexer::event::close};
    lexer::Options options;
    options.trace = &trace;
    const lexer::Result r = run("[a 1]", options);
    EXPECT_EQ(show(r.value), "[[a]]");
    EXPECT_EQ(rec.events, "8:5@1-2 4:15@2-3 4:11@4-5 16:5@5-6 ");
}

TEST_F(LexerTest, HostileBytesNeverCrashOrHang) {
    // Fragments that open, close and break every token family, shuffled together.
    const char* const pieces[] = {"[",  "]",  "(",    ")",    "{",          "}",    "\"",  "#",   "#{",  "#\"", "#(",
                                  "%",  "%{", "}%",   "^",    "^(",         "'",    ":",   "/",   "a",   "1",   "0",
                                  ".",  ",",  "e",    "x",    "$",          "@",    "<",   ">",   "-",   "+",   ";",
                                  "\n", " ",  "\xC3", "\xA9", "\xFF",       "\0",   "h",   "T",   "1.#", "\\",  "'",
                                  "=",  "%2", "INF",  "Jan",  "9999999999", "16#{", "2#{", "64#{"};
    std::mt19937 random(12345);
    for (int round = 0; round < 4000; ++round) {
        std::string source;
        const int n = static_cast<int>(random() % 12);
        for (int i = 0; i < n; ++i) source += pieces[random() % std::size(pieces)];
        for (bool load : {true, false}) {
            lexer::Options options;
            options.load = load;
            options.one = round % 3 == 0;
            try {
                run(source, options);
            } catch (const Thrown&) {
                const ErrorCategory category = error::category_of(error::pending().id);
                EXPECT_TRUE(category == ErrorCategory::syntax || error::pending().id == ErrorId::not_done) << source;
            }
            EXPECT_EQ(series::length(lexer::stack_node()), 0u) << source;
        }
    }
}

TEST(TranscodeConverters, Integer) {
    auto scan = [](std::string_view text, int32_t& error) {
        return lexer::scan_integer(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size()),
                                   1, error);
    };
    int32_t error = 0;
    EXPECT_EQ(scan("1'000", error), 1000);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(scan("-2147483648", error), INT32_MIN);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(scan("2147483648", error), 0);
    EXPECT_EQ(error, -2);
    EXPECT_EQ(scan("-21474836480", error), 0);
    EXPECT_EQ(error, -2);
    scan("12a", error);
    EXPECT_EQ(error, -1);
    scan("-", error);
    EXPECT_EQ(error, -1);
    const char16_t wide[] = u"-42";
    EXPECT_EQ(lexer::scan_integer(reinterpret_cast<const std::byte*>(wide), 3, 2, error), -42);
}

TEST(TranscodeConverters, FloatAndMoney) {
    auto scan = [](std::string_view text, int32_t& error) {
        return lexer::scan_float(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size()), 1,
                                 error);
    };
    int32_t error = 0;
    EXPECT_EQ(scan("1,5", error), 1.5);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(scan("1'000.25e1", error), 10002.5);
    EXPECT_TRUE(std::isnan(scan("1e", error)));
    EXPECT_EQ(error, -1);
    EXPECT_TRUE(std::isnan(scan(std::string(313, '1'), error)));

    auto money = [](std::string_view text, lexer::MoneyDigits& out) {
        return lexer::scan_money(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size()), 1,
                                 out);
    };
    lexer::MoneyDigits m{};
    ASSERT_TRUE(money("-USD$1'000.50", m));
    EXPECT_TRUE(m.negative);
    EXPECT_STREQ(m.code, "USD");
    EXPECT_STREQ(m.digits, "1000");
    EXPECT_STREQ(m.fraction, "50");
    EXPECT_TRUE(money("12.34567", m));
    EXPECT_FALSE(money("12.345678", m));
    EXPECT_FALSE(money("US$1", m));
    EXPECT_FALSE(money("$", m));
    EXPECT_FALSE(money("$1''0", m));
    EXPECT_FALSE(money("$10'", m));
}

}  // namespace
}  // namespace zub
