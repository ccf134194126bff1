// Mold must give text that loads back to an equal value: source -> load -> mold -> load, for
// every kind of value the lexer and the datatypes both know.
#include <random>

#include "datatypes/string.h"
#include "runtime/error.h"
#include "evaluator/actions.h"
#include "evaluator/lexer/lexer.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class RoundTrip : public RuntimeTest {
  protected:
    static Cell load(const std::string& text) {
        return cell::series(TypeId::block,
                            lexer::load(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size())));
    }
    static std::string mold(Cell value, bool all = false) {
        const NodeId out = series::alloc_with_unit(16, 1);
        registry::actions(cell::type(value)).mold(value, out, MoldFlags{true, all, false, 0}, 0x7FFFFFFF);
        Cell text = cell::series(TypeId::string, out);
        const unicode::Converted utf8 = unicode::string_to_utf8(text);
        return std::string(reinterpret_cast<const char*>(utf8.data), utf8.size);
    }
};

TEST_F(RoundTrip, SourceMoldsToTextThatLoadsBackEqual) {
    const char* sources[] = {
        "1 -2147483648 2147483647 0 -0",
        "1.5 -0.0 1e300 1.0e-7 0.1 3.0 1.#INF -1.#INF 50% 0.5% 100.0%",
        "#\"a\" #\"^\"\" #\"^^\" #\"^/\" #\"^-\" #\"^(00)\" #\"^(1F600)\" #\"\xC3\xA9\"",
        "word set-word: :get-word 'lit-word /refinement #issue",
        "\"\" \"plain\" \"quote^\"\" \"caret^^\" \"tab^-line^/\" \"^(00)\" \"{brace}\" \"}\" \"{\"",
        "{multi\nline} {has \"quotes\" inside} \"\xE2\x82\xAC \xF0\x9F\x98\x80\"",
        "[] [[]] [1 [2 [3]]] (a b) [a/b c/:d e/1 :f/g 'h/i j/k:]",
        "[\n    a\n    b\n] [x\ny]",
        "#(true) #(false) #(none)",
    };
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        Cell first;
        try {
            first = load(source);
        } catch (const Thrown&) {
            ADD_FAILURE() << "load raised " << error::id_word(error::pending().id);
            continue;
        }
        const std::string text = mold(first, true);
        Cell second;
        try {
            second = load(text);
        } catch (const Thrown&) {
            ADD_FAILURE() << "reload of " << text << " raised " << error::id_word(error::pending().id);
            continue;
        }
        EXPECT_TRUE(actions::compare(first, second, op_strict_equal)) << source << "\n molded: " << text;
        EXPECT_EQ(mold(second, true), text) << source;
    }
}

TEST_F(RoundTrip, GeneratedStringsLoadBackEqual) {
    std::mt19937 rng(2026);
    // Characters that exercise the escapes, the brace form and every unit width.
    const uint32_t pool[] = {'a', ' ', '"', '^', '{', '}', '\n', '\t', 0, 0x1F, 0x7F, 0xE9, 0x20AC, 0x1F600, 0xD800, 0xDFFF};
    for (int i = 0; i < 500; ++i) {
        const Cell s = string::make(8, TypeId::string);
        const int n = static_cast<int>(rng() % 70);
        for (int k = 0; k < n; ++k) string::append_char(s.w2, pool[rng() % std::size(pool)]);
        const std::string text = mold(s);
        const Cell back = load(text);
        ASSERT_EQ(series::length(back.w2), 1u) << text;
        EXPECT_TRUE(actions::compare(s, memory::buffer(back.w2)->cells()[0], op_strict_equal)) << text;
    }
}

}  // namespace
}  // namespace zub
