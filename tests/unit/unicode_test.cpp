// UTF-8 and UTF-16LE conversion, widening, case mapping and display widths. Inputs are copied
// into heap blocks of their exact size, so a read past the given length shows under ASan.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"
#include "runtime/unicode_tables.h"

namespace zub {
namespace {

using CodePoints = std::vector<uint32_t>;

class Unicode : public ::testing::Test {
  protected:
    void SetUp() override { memory::init(); }
    void TearDown() override { memory::free_all(); }

    // The bytes in a block of exactly their size.
    struct Bytes {
        std::unique_ptr<std::byte[]> data;
        uint32_t size;
        explicit Bytes(std::string_view s) : data(new std::byte[s.size() ? s.size() : 1]), size(s.size()) {
            if (size) std::memcpy(data.get(), s.data(), size);
        }
        unicode::Input input() const { return unicode::bytes_input(data.get(), size); }
    };

    static CodePoints chars(NodeId node) {
        SeriesBuffer* b = memory::buffer(node);
        CodePoints out;
        for (uint32_t i = 0; i < series::length(node); ++i)
            out.push_back(series::code_point_at(b->head_ptr(), b->unit(), i));
        return out;
    }

    // A string series in the given unit holding the code points.
    static NodeId make_string(const CodePoints& cps, uint32_t unit) {
        const NodeId node = series::alloc_with_unit(static_cast<uint32_t>(cps.size()) + 1, unit);
        SeriesBuffer* b = memory::buffer(node);
        for (uint32_t cp : cps) {
            std::memcpy(b->tail_ptr(), &cp, unit);  // little-endian: the low bytes
            b->tail += unit;
        }
        return node;
    }

    static NodeId load(std::string_view utf8, bool crlf = false) {
        const Bytes in(utf8);
        return unicode::load_utf8(in.input(), 0, crlf);
    }

    template <class F>
    static std::optional<ErrorId> error_of(F&& f) {
        try {
            f();
        } catch (const error::Thrown&) {
            return error::pending().id;
        }
        return std::nullopt;
    }

    // The bytes of the pending error's first argument, a binary!.
    static std::string error_bytes() {
        const Cell& arg = error::pending().args[0];
        if (!cell::is(arg, TypeId::binary)) return "(not a binary!)";
        SeriesBuffer* b = memory::buffer(cell::series_node(arg));
        return std::string(reinterpret_cast<const char*>(b->head_ptr()), b->used());
    }

    static std::string text(const unicode::Converted& c) {
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
};

// ---- UTF-8 decoding ---------------------------------------------------------------------------

constexpr int32_t kCut = -2;  // the sequence needs more bytes than given
constexpr int32_t kBad = -1;  // ill-formed

struct DecodeCase {
    const char* name;
    std::string_view bytes;
    int32_t cp;              // or kCut / kBad
    std::string_view shown;  // kBad: the bytes the error carries
};

const DecodeCase kDecodeCases[] = {
    {"nul", {"\x00", 1}, 0x00, ""},
    {"last 1-byte", "\x7F", 0x7F, ""},
    {"first 2-byte", "\xC2\x80", 0x80, ""},
    {"last 2-byte", "\xDF\xBF", 0x7FF, ""},
    {"first 3-byte", "\xE0\xA0\x80", 0x800, ""},
    {"last before surrogates", "\xED\x9F\xBF", 0xD7FF, ""},
    {"first after surrogates", "\xEE\x80\x80", 0xE000, ""},
    {"last 3-byte", "\xEF\xBF\xBF", 0xFFFF, ""},
    {"first 4-byte", "\xF0\x90\x80\x80", 0x10000, ""},
    {"last code point", "\xF4\x8F\xBF\xBF", 0x10FFFF, ""},
    {"one past the last", "\xF4\x90\x80\x80", kBad, "\xF4\x90\x80\x80"},
    {"far past the last", "\xF7\xBF\xBF\xBF", kBad, "\xF7\xBF\xBF\xBF"},
    {"overlong NUL", "\xC0\x80", kBad, "\xC0\x80"},
    {"overlong slash", "\xC0\xAF", kBad, "\xC0\xAF"},
    {"overlong 7F", "\xC1\xBF", kBad, "\xC1\xBF"},
    {"overlong 3-byte", "\xE0\x80\x80", kBad, "\xE0\x80\x80"},
    {"overlong 7FF", "\xE0\x9F\xBF", kBad, "\xE0\x9F\xBF"},
    {"overlong 4-byte", "\xF0\x80\x80\x80", kBad, "\xF0\x80\x80\x80"},
    {"overlong FFFF", "\xF0\x8F\xBF\xBF", kBad, "\xF0\x8F\xBF\xBF"},
    {"surrogate D800", "\xED\xA0\x80", kBad, "\xED\xA0\x80"},
    {"surrogate DBFF", "\xED\xAF\xBF", kBad, "\xED\xAF\xBF"},
    {"surrogate DC00", "\xED\xB0\x80", kBad, "\xED\xB0\x80"},
    {"surrogate DFFF", "\xED\xBF\xBF", kBad, "\xED\xBF\xBF"},
    {"5-byte lead", "\xF8\x88\x80\x80\x80", kBad, "\xF8\x88\x80\x80"},
    {"6-byte lead", "\xFC\x84\x80\x80\x80\x80", kBad, "\xFC\x84\x80\x80"},
    {"byte FE", "\xFE", kBad, "\xFE"},
    {"byte FF",
     "\xFF"
     "a",
     kBad, "\xFF"},
    {"stray continuation",
     "\x80"
     "a",
     kBad, "\x80"},
    {"stray continuations", "\xBF\xBF", kBad, "\xBF\xBF"},
    {"2-byte then ASCII",
     "\xC3"
     "A",
     kBad, "\xC3"},
    {"3-byte then ASCII",
     "\xE2\x82"
     "A",
     kBad, "\xE2\x82"},
    {"4-byte then a lead", "\xF0\x9F\x98\xC3\xA9", kBad, "\xF0\x9F\x98"},
    {"cut 2-byte", "\xC3", kCut, ""},
    {"cut 3-byte", "\xE2\x82", kCut, ""},
    {"cut 4-byte", "\xF0\x9F\x98", kCut, ""},
};

TEST_F(Unicode, DecodeUtf8Table) {
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.name);
        const Bytes in(c.bytes);
        const unicode::Decoded d = unicode::decode_utf8_char(in.data.get(), in.size);
        uint32_t available = in.size;
        if (c.cp >= 0) {
            EXPECT_EQ(d.cp, c.cp);
            EXPECT_EQ(d.length, in.size);
            EXPECT_EQ(unicode::decode_utf8_checked(in.data.get(), available), c.cp);
            EXPECT_EQ(available, in.size);
        } else if (c.cp == kCut) {
            EXPECT_EQ(d.cp, -1);
            EXPECT_EQ(unicode::decode_utf8_checked(in.data.get(), available), -1);
            EXPECT_EQ(available, in.size);
        } else {
            EXPECT_EQ(d.cp, -1);
            EXPECT_GE(d.length, 1u);
            EXPECT_EQ(error_of([&] { unicode::decode_utf8_checked(in.data.get(), available); }), ErrorId::invalid_utf8);
            EXPECT_EQ(error_bytes(), c.shown);
        }
    }
}

TEST_F(Unicode, DecodeNeverReadsPastTheGivenLength) {
    // The euro sign whole, but only two of its bytes given: cut short, not U+20AC.
    const Bytes euro("\xE2\x82\xAC");
    uint32_t available = 2;
    EXPECT_EQ(unicode::decode_utf8_checked(euro.data.get(), available), -1);
    EXPECT_EQ(unicode::decode_utf8_char(euro.data.get(), 2).cp, -1);
    EXPECT_EQ(unicode::decode_utf8_char(euro.data.get(), 0).cp, -1);
}

TEST_F(Unicode, EveryScalarValueRoundTripsAndSurrogatesAreRefused) {
    std::byte buf[4];
    for (uint32_t cp = 0; cp <= unicode::kMaxCodePoint; ++cp) {
        const uint32_t n = unicode::encode_utf8(cp, buf);
        ASSERT_EQ(n, unicode::utf8_length(cp));
        const unicode::Decoded d = unicode::decode_utf8_char(buf, n);
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            ASSERT_EQ(d.cp, -1) << std::hex << cp;
        } else {
            ASSERT_EQ(d.cp, static_cast<int32_t>(cp)) << std::hex << cp;
            ASSERT_EQ(d.length, n);
        }
    }
}

// Whatever the decoder accepts is the shortest encoding of a scalar value: no overlong form,
// surrogate or out-of-range value slips through, for every 1- to 3-byte input and every
// 4-byte lead with bytes at the continuation boundaries.
TEST_F(Unicode, DecoderAcceptsOnlyShortestForms) {
    auto check = [](const std::byte* in, uint32_t n) {
        const unicode::Decoded d = unicode::decode_utf8_char(in, n);
        if (d.cp < 0) return true;
        std::byte again[4];
        const uint32_t m = unicode::encode_utf8(static_cast<uint32_t>(d.cp), again);
        return m == d.length && std::memcmp(in, again, m) == 0 && (d.cp < 0xD800 || d.cp > 0xDFFF);
    };
    std::byte in[4];
    for (uint32_t v = 0; v < (1u << 24); ++v) {
        in[0] = static_cast<std::byte>(v >> 16);
        in[1] = static_cast<std::byte>(v >> 8);
        in[2] = static_cast<std::byte>(v);
        ASSERT_TRUE(check(in, 3)) << std::hex << v;
    }
    const uint8_t edges[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0xBF, 0xC0, 0xFF};
    for (uint32_t lead = 0xF0; lead <= 0xFF; ++lead)
        for (uint32_t second = 0; second < 256; ++second)
            for (uint8_t third : edges)
                for (uint8_t fourth : edges) {
                    in[0] = static_cast<std::byte>(lead);
                    in[1] = static_cast<std::byte>(second);
                    in[2] = static_cast<std::byte>(third);
                    in[3] = static_cast<std::byte>(fourth);
                    ASSERT_TRUE(check(in, 4)) << std::hex << lead << ' ' << second;
                }
}

// ---- UTF-8 encoding and counting --------------------------------------------------------------

TEST_F(Unicode, EncodeUtf8Boundaries) {
    struct Case {
        uint32_t cp;
        std::string_view bytes;
    };
    const Case cases[] = {
        {0x00, {"\x00", 1}},
        {0x7F, "\x7F"},
        {0x80, "\xC2\x80"},
        {0x7FF, "\xDF\xBF"},
        {0x800, "\xE0\xA0\x80"},
        {0xFFFF, "\xEF\xBF\xBF"},
        {0x10000, "\xF0\x90\x80\x80"},
        {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const Case& c : cases) {
        std::byte out[4];
        const uint32_t n = unicode::encode_utf8(c.cp, out);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), c.bytes) << std::hex << c.cp;
        // The bounded form writes all of it or nothing.
        std::byte small[4] = {std::byte{0x55}, std::byte{0x55}, std::byte{0x55}, std::byte{0x55}};
        EXPECT_EQ(unicode::encode_utf8_bounded(c.cp, small, n - 1), 0u);
        EXPECT_EQ(small[0], std::byte{0x55});
        EXPECT_EQ(unicode::encode_utf8_bounded(c.cp, small, n), n);
    }
    for (uint32_t cp : {0x110000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        std::byte out[4];
        EXPECT_EQ(error_of([&] { unicode::encode_utf8(cp, out); }), ErrorId::invalid_char);
        EXPECT_EQ(error_of([&] { unicode::utf8_length(cp); }), ErrorId::invalid_char);
        EXPECT_EQ(error_of([&] { unicode::encode_utf16(cp, out); }), ErrorId::invalid_char);
    }
}

TEST_F(Unicode, CountSkipAndSequenceLength) {
    const Bytes in(
        "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"
        "b");  // a é € 😀 b
    const std::byte* start = in.data.get();
    const std::byte* end = start + in.size;
    EXPECT_EQ(unicode::count_utf8_chars(start, end), 5u);
    EXPECT_EQ(unicode::skip_utf8_chars(start, end, 0), start);
    EXPECT_EQ(unicode::skip_utf8_chars(start, end, 2), start + 3);
    EXPECT_EQ(unicode::skip_utf8_chars(start, end, 4), start + 10);
    EXPECT_EQ(unicode::skip_utf8_chars(start, end, 99), end);
    // A sequence cut by the end is never skipped past it.
    EXPECT_EQ(unicode::skip_utf8_chars(start, start + 5, 3), start + 5);

    const std::pair<uint8_t, uint32_t> leads[] = {
        {0x00, 1}, {0x7F, 1}, {0x80, 0}, {0xBF, 0}, {0xC0, 0}, {0xC1, 0}, {0xC2, 2}, {0xDF, 2},
        {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF4, 4}, {0xF5, 0}, {0xF8, 0}, {0xFC, 0}, {0xFF, 0},
    };
    for (auto [lead, n] : leads) EXPECT_EQ(unicode::utf8_sequence_length(lead), n) << int{lead};
}

TEST_F(Unicode, Utf8SizeInEveryUnit) {
    struct Case {
        CodePoints cps;
        uint32_t unit;
        uint64_t size;
    };
    const Case cases[] = {
        {{'a', 0xE9, 0xFF}, 1, 5},
        {{'a', 0x7FF, 0x800, 0xFFFF}, 2, 9},
        {{'a', 0xE9, 0x20AC, 0x1F600, 0x10FFFF}, 4, 14},
    };
    for (const Case& c : cases) {
        SeriesBuffer* b = memory::buffer(make_string(c.cps, c.unit));
        EXPECT_EQ(unicode::utf8_size(b->head_ptr(), b->tail_ptr(), c.unit), c.size) << c.unit;
    }
}

// ---- Loading UTF-8 ----------------------------------------------------------------------------

TEST_F(Unicode, LoadUtf8TakesTheNarrowestUnit) {
    struct Case {
        const char* name;
        std::string_view bytes;
        bool crlf;
        uint32_t unit;
        CodePoints cps;
    };
    const Case cases[] = {
        {"empty", "", false, 1, {}},
        {"byte order mark only", "\xEF\xBB\xBF", false, 1, {}},
        {"byte order mark then text",
         "\xEF\xBB\xBF"
         "a",
         false,
         1,
         {'a'}},
        {"later byte order mark is a character", "a\xEF\xBB\xBF", false, 2, {'a', 0xFEFF}},
        {"e acute", "\xC3\xA9", false, 1, {0xE9}},
        {"then euro", "\xC3\xA9\xE2\x82\xAC", false, 2, {0xE9, 0x20AC}},
        {"then grinning face", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", false, 4, {0xE9, 0x20AC, 0x1F600}},
        {"straight to 4",
         "a\xF0\x9F\x98\x80"
         "b",
         false,
         4,
         {'a', 0x1F600, 'b'}},
        {"CR LF folded", "a\r\nb\rc", true, 1, {'a', '\n', 'b', '\n', 'c'}},
        {"CR LF kept", "a\r\nb\rc", false, 1, {'a', '\r', '\n', 'b', '\r', 'c'}},
        {"final CR", "a\r", true, 1, {'a', '\n'}},
        {"CR CR LF", "\r\r\n", true, 1, {'\n', '\n'}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NodeId node = load(c.bytes, c.crlf);
        EXPECT_EQ(series::unit(node), c.unit);
        EXPECT_EQ(chars(node), c.cps);
    }
}

TEST_F(Unicode, LoadUtf8WidensALongTextAsWiderCharactersArrive) {
    std::string in(3000, 'a');
    in += "\xC3\xA9";
    in += std::string(3000, 'b');
    in += "\xE2\x82\xAC";
    in += std::string(3000, 'c');
    in += "\xF0\x9F\x98\x80";
    in += "z";
    const NodeId node = load(in);
    const CodePoints cps = chars(node);
    ASSERT_EQ(cps.size(), 9004u);
    EXPECT_EQ(series::unit(node), 4u);
    EXPECT_EQ(cps[2999], uint32_t{'a'});
    EXPECT_EQ(cps[3000], 0xE9u);
    EXPECT_EQ(cps[6001], 0x20ACu);
    EXPECT_EQ(cps[9002], 0x1F600u);
    EXPECT_EQ(cps[9003], uint32_t{'z'});
}

TEST_F(Unicode, LoadUtf8RefusesIllFormedInput) {
    struct Case {
        std::string_view bytes;
        std::string_view shown;
    };
    const Case cases[] = {
        {"ab\xC0\xAF"
         "cd",
         "\xC0\xAF"},
        {"\xED\xA0\x80\xED\xB0\x80", "\xED\xA0\x80"},  // a surrogate pair written as UTF-8
        {"ok\xF8\x88\x80\x80\x80", "\xF8\x88\x80\x80"},
        {"\xC3\xA9\x80", "\x80"},
        {"end \xE2\x82", "\xE2\x82"},  // cut by the end: an error when nothing can follow
    };
    for (const Case& c : cases) {
        EXPECT_EQ(error_of([&] { load(c.bytes); }), ErrorId::invalid_utf8);
        EXPECT_EQ(error_bytes(), c.shown);
    }
}

TEST_F(Unicode, LoadUtf8InPiecesStopsBeforeACutSequence) {
    struct Case {
        std::string_view bytes;
        bool crlf;
        uint32_t consumed;
        CodePoints cps;
    };
    const Case cases[] = {
        {"a\xE2\x82", false, 1, {'a'}},
        {"a\xF0\x9F", false, 1, {'a'}},
        {"a\r", true, 1, {'a'}},  // its LF may start the next piece
        {"a\r", false, 2, {'a', '\r'}},
        {"\xEF\xBB\xBF"
         "ab",
         false,
         5,
         {'a', 'b'}},
    };
    for (const Case& c : cases) {
        const Bytes in(c.bytes);
        uint32_t consumed = 99;
        const NodeId node = unicode::load_utf8(in.input(), 0, c.crlf, &consumed);
        EXPECT_EQ(consumed, c.consumed);
        EXPECT_EQ(chars(node), c.cps);
    }
}

TEST_F(Unicode, LoadUtf8OntoATarget) {
    const NodeId target = make_string({'x', 'y'}, 1);
    const Bytes more("\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(unicode::load_utf8(more.input(), target), target);
    EXPECT_EQ(chars(target), (CodePoints{'x', 'y', 0xE9, 0x20AC}));
    EXPECT_EQ(series::unit(target), 2u);

    // A failure part-way leaves the target's characters as they were, even after a widening.
    for (std::string_view bad : {"z\xC3(",
                                 "\xF0\x9F\x98\x80"
                                 "z\xFF"}) {
        const NodeId kept = make_string({'x', 'y'}, 1);
        const Bytes in(bad);
        EXPECT_EQ(error_of([&] { unicode::load_utf8(in.input(), kept); }), ErrorId::invalid_utf8);
        EXPECT_EQ(chars(kept), (CodePoints{'x', 'y'}));
    }
}

TEST_F(Unicode, LoadUtf8FromAByteSeries) {
    const std::string_view utf8 = "--\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    const auto size = static_cast<uint32_t>(utf8.size());
    const NodeId bytes = memory::alloc_bytes(size);
    series::append_bytes(bytes, utf8.data(), size);
    const NodeId node = unicode::load_utf8(unicode::series_input(bytes, 2, size - 2));
    EXPECT_EQ(chars(node), (CodePoints{0xE9, 0x20AC, 0x1F600}));
}

// ---- Strings to UTF-8 -------------------------------------------------------------------------

TEST_F(Unicode, StringToUtf8InEveryUnit) {
    const CodePoints cps = {'a', '\n', 0xE9};
    for (uint32_t unit : {1u, 2u, 4u}) {
        Cell value = cell::series(TypeId::string, make_string(cps, unit));
        unicode::Converted c = unicode::string_to_utf8(value);
        EXPECT_EQ(text(c), "a\n\xC3\xA9");
        EXPECT_EQ(c.data[c.size], std::byte{0});
        c = unicode::string_to_utf8(value, unicode::kWhole, true);
        EXPECT_EQ(text(c), "a\r\n\xC3\xA9");
        c = unicode::string_to_utf8(value, 1);
        EXPECT_EQ(text(c), "a");
        EXPECT_EQ(c.data[c.size], std::byte{0});
    }
}

TEST_F(Unicode, StringToUtf8FromTheValuesPositionReusingItsBuffer) {
    const std::string_view utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    Cell value = cell::series(TypeId::string, load(utf8), 1);
    EXPECT_EQ(text(unicode::string_to_utf8(value)), utf8.substr(1));
    const NodeId buffer = value.w3;
    ASSERT_NE(buffer, 0u);
    value.w1 = 0;
    EXPECT_EQ(text(unicode::string_to_utf8(value)), utf8);
    EXPECT_EQ(value.w3, buffer);  // the same node, grown when needed
    value.w1 = 9;                 // past the tail: nothing
    EXPECT_EQ(unicode::string_to_utf8(value).size, 0u);

    // A long text grows the buffer; the converted text is whole.
    Cell big = cell::series(TypeId::string, load(std::string(5000, 'q') + "\xE2\x82\xAC"));
    big.w3 = buffer;
    const unicode::Converted c = unicode::string_to_utf8(big);
    EXPECT_EQ(c.size, 5003u);
    EXPECT_EQ(text(c).substr(4998), "qq\xE2\x82\xAC");
}

TEST_F(Unicode, StringToUtf8RefusesCodePointsBeyondUnicode) {
    Cell value = cell::series(TypeId::string, make_string({'a', 0x110000}, 4));
    EXPECT_EQ(error_of([&] { unicode::string_to_utf8(value); }), ErrorId::invalid_char);
    EXPECT_EQ(value.w3, 0u);  // raised before any buffer was made
    EXPECT_EQ(error_of([&] { unicode::string_to_utf16(value); }), ErrorId::invalid_char);
}

TEST_F(Unicode, StringToUtf8IntoABoundedBuffer) {
    const Cell value = cell::series(TypeId::string, make_string({'a', 0x20AC, 'b'}, 2));
    struct Case {
        uint32_t room;
        bool nul;
        std::string_view written;
    };
    const Case cases[] = {
        {0, true, ""},
        {1, true, ""},
        {4, true, "a"},  // the euro and the NUL need 4 more
        {5, true, "a\xE2\x82\xAC"},
        {6, true,
         "a\xE2\x82\xAC"
         "b"},
        {3, false, "a"},
        {4, false, "a\xE2\x82\xAC"},
        {5, false,
         "a\xE2\x82\xAC"
         "b"},
    };
    for (const Case& c : cases) {
        std::byte out[8];
        std::memset(out, 0x55, sizeof out);
        const uint32_t n = unicode::string_to_utf8_into(value, out, c.room, unicode::kWhole, c.nul);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), n), c.written) << c.room << c.nul;
        const uint32_t used = n + (c.nul && c.room > 0);
        if (c.nul && c.room > 0) {
            EXPECT_EQ(out[n], std::byte{0});
        }
        EXPECT_EQ(out[used], std::byte{0x55}) << "wrote past the room";
    }
}

// ---- UTF-16LE ---------------------------------------------------------------------------------

TEST_F(Unicode, Utf16RoundTrips) {
    struct Case {
        CodePoints cps;
        uint32_t unit;
        std::string_view bytes;
    };
    const Case cases[] = {
        {{}, 1, ""},
        {{'A', 0xE9}, 1, {"A\0\xE9\0", 4}},
        {{0x20AC}, 2, "\xAC\x20"},
        {{0x1F600}, 4, {"\x3D\xD8\x00\xDE", 4}},
        {{0x10000}, 4, {"\x00\xD8\x00\xDC", 4}},
        {{0x10FFFF, 'z'}, 4, {"\xFF\xDB\xFF\xDFz\0", 6}},
        {{0xFFFF, 0xD7FF, 0xE000}, 2, {"\xFF\xFF\xFF\xD7\x00\xE0", 6}},
    };
    for (const Case& c : cases) {
        Cell value = cell::series(TypeId::string, make_string(c.cps, c.unit));
        const unicode::Converted u = unicode::string_to_utf16(value);
        EXPECT_EQ(text(u), c.bytes);
        EXPECT_EQ(u.data[u.size], std::byte{0});
        EXPECT_EQ(u.data[u.size + 1], std::byte{0});
        const Bytes in(c.bytes);
        const NodeId back = unicode::load_utf16(in.input());
        EXPECT_EQ(chars(back), c.cps);
        EXPECT_EQ(series::unit(back), c.unit);
    }
}

TEST_F(Unicode, Utf16LineEnds) {
    Cell value = cell::series(TypeId::string, make_string({'a', '\n', 'b'}, 1));
    EXPECT_EQ(text(unicode::string_to_utf16(value, unicode::kWhole, true)), std::string_view("a\0\r\0\n\0b\0", 8));
    const Bytes in(std::string_view("a\0\r\0\n\0b\0\r\0c\0", 12));
    EXPECT_EQ(chars(unicode::load_utf16(in.input(), 0, true)), (CodePoints{'a', '\n', 'b', '\r', 'c'}));
    EXPECT_EQ(chars(unicode::load_utf16(in.input(), 0, false)), (CodePoints{'a', '\r', '\n', 'b', '\r', 'c'}));
}

TEST_F(Unicode, Utf16RefusesUnpairedSurrogatesAndOddLengths) {
    struct Case {
        const char* name;
        std::string_view bytes;
        std::string_view shown;
    };
    const Case cases[] = {
        {"high at the end", {"a\0\x3D\xD8", 4}, "\x3D\xD8"},
        {"high before a letter",
         {"\x3D\xD8"
          "a\0",
          4},
         "\x3D\xD8"},
        {"high before high", {"\x3D\xD8\x3D\xD8\x00\xDE", 6}, "\x3D\xD8"},
        {"lone low", {"a\0\x00\xDE", 4}, {"\x00\xDE", 2}},
        {"reversed pair", {"\x00\xDE\x3D\xD8", 4}, {"\x00\xDE", 2}},
        {"odd length", {"a\0b", 3}, "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes in(c.bytes);
        const NodeId target = make_string({'x'}, 1);
        EXPECT_EQ(error_of([&] { unicode::load_utf16(in.input(), target); }), ErrorId::invalid_data);
        EXPECT_EQ(error_bytes(), c.shown);
        EXPECT_EQ(chars(target), CodePoints{'x'});
        EXPECT_EQ(series::unit(target), 1u);
    }
}

TEST_F(Unicode, Utf16OntoATargetWidensIt) {
    const NodeId target = make_string({'x'}, 1);
    const Bytes in(std::string_view("\x3D\xD8\x00\xDE", 4));
    EXPECT_EQ(unicode::load_utf16(in.input(), target), target);
    EXPECT_EQ(chars(target), (CodePoints{'x', 0x1F600}));
    EXPECT_EQ(series::unit(target), 4u);
}

// ---- Widening ---------------------------------------------------------------------------------

TEST_F(Unicode, WidenKeepsCharactersAndPosition) {
    struct Case {
        uint32_t from;
        uint32_t to;
    };
    for (const Case c : {Case{1, 2}, Case{1, 4}, Case{2, 4}}) {
        // Head in the middle of the area, as for series made to grow at both ends.
        const NodeId node = memory::alloc_series(64, c.from, -1);
        SeriesBuffer* b = memory::buffer(node);
        const uint32_t head_units = b->head / c.from;
        for (uint32_t cp = 0xA0; cp < 0xA0 + 20; ++cp) {
            std::memcpy(b->tail_ptr(), &cp, c.from);
            b->tail += c.from;
        }
        b = unicode::widen(node, c.to, 100);
        EXPECT_EQ(b->unit(), c.to);
        EXPECT_GE(b->size - b->tail, 100u);
        const CodePoints cps = chars(node);
        ASSERT_EQ(cps.size(), 20u);
        for (uint32_t i = 0; i < 20; ++i) EXPECT_EQ(cps[i], 0xA0 + i);
        if (b->head) {
            EXPECT_EQ(b->head / c.to, head_units);
        }
        EXPECT_EQ(unicode::widen(node, 2), b);  // never narrows
        EXPECT_EQ(b->unit(), c.to);
    }
}

// ---- Case -------------------------------------------------------------------------------------

TEST_F(Unicode, CasePairsAcrossScripts) {
    struct Case {
        const char* name;
        uint32_t lower;
        uint32_t upper;
    };
    const Case pairs[] = {
        {"latin", 'a', 'A'},
        {"latin-1", 0xE9, 0xC9},
        {"y diaeresis leaves latin-1", 0xFF, 0x178},
        {"greek alpha", 0x3B1, 0x391},
        {"greek sigma", 0x3C3, 0x3A3},
        {"cyrillic de", 0x434, 0x414},
        {"cyrillic io", 0x451, 0x401},
        {"armenian ayb", 0x561, 0x531},
        {"georgian an", 0x10D0, 0x1C90},
        {"cherokee", 0xAB70, 0x13A0},
        {"fullwidth a", 0xFF41, 0xFF21},
        {"deseret long i", 0x10428, 0x10400},
        {"deseret last", 0x1044F, 0x10427},
        {"adlam alif", 0x1E922, 0x1E900},
    };
    for (const Case& c : pairs) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(unicode::to_upper(c.lower), c.upper);
        EXPECT_EQ(unicode::to_lower(c.upper), c.lower);
        EXPECT_EQ(unicode::to_upper(c.upper), c.upper);
        EXPECT_EQ(unicode::to_lower(c.lower), c.lower);
        EXPECT_EQ(unicode::toggle_case(c.lower), c.upper);
        EXPECT_EQ(unicode::toggle_case(c.upper), c.lower);
    }
    // One-way mappings and characters without case.
    struct OneWay {
        const char* name;
        uint32_t cp;
        uint32_t upper;
        uint32_t lower;
    };
    const OneWay others[] = {
        {"final sigma", 0x3C2, 0x3A3, 0x3C2},
        {"dotted capital I", 0x130, 0x130, 'i'},
        {"dotless i", 0x131, 'I', 0x131},
        {"kelvin sign", 0x212A, 0x212A, 'k'},
        {"sharp s has no simple upper", 0xDF, 0xDF, 0xDF},
        {"title-case dz", 0x1C5, 0x1C4, 0x1C6},
        {"digit", '5', '5', '5'},
        {"ideograph", 0x4E00, 0x4E00, 0x4E00},
        {"emoji", 0x1F600, 0x1F600, 0x1F600},
        {"last code point", 0x10FFFF, 0x10FFFF, 0x10FFFF},
        {"beyond unicode", 0x200000, 0x200000, 0x200000},
    };
    for (const OneWay& c : others) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(unicode::change_char_case(c.cp, true), c.upper);
        EXPECT_EQ(unicode::change_char_case(c.cp, false), c.lower);
    }
}

TEST_F(Unicode, ChangeCaseOfAStringRange) {
    struct Case {
        const char* name;
        CodePoints in;
        uint32_t unit;
        uint32_t index;
        uint32_t count;
        bool upper;
        CodePoints out;
        uint32_t out_unit;
    };
    const Case cases[] = {
        {"part", {'a', 'b', 'c', 'd'}, 1, 1, 2, true, {'a', 'B', 'C', 'd'}, 1},
        {"count past the tail", {'a', 'b'}, 1, 1, unicode::kWhole, true, {'a', 'B'}, 1},
        {"index past the tail", {'a'}, 1, 5, 1, true, {'a'}, 1},
        {"widens for y diaeresis", {'x', 0xFF}, 1, 0, unicode::kWhole, true, {'X', 0x178}, 2},
        {"widens for micro sign", {0xB5}, 1, 0, 1, true, {0x39C}, 2},
        {"greek in 2-byte units", {0x3A3, 0x39F, 0x3A6}, 2, 0, 3, false, {0x3C3, 0x3BF, 0x3C6}, 2},
        {"deseret in 4-byte units", {0x10400, 'A'}, 4, 0, 2, false, {0x10428, 'a'}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const NodeId node = make_string(c.in, c.unit);
        unicode::change_case(node, c.index, c.count, c.upper);
        EXPECT_EQ(chars(node), c.out);
        EXPECT_EQ(series::unit(node), c.out_unit);
    }
}

// Case-insensitive hashing sees the full tables, not just ASCII.
TEST_F(Unicode, TextHashFoldsCaseBeyondAscii) {
    const NodeId lower = make_string({0x434, 0x43E, 0x43C}, 2);
    const NodeId upper = make_string({0x414, 0x41E, 0x41C}, 2);
    EXPECT_EQ(series::hash_text(lower, 0, series::kToTail, false), series::hash_text(upper, 0, series::kToTail, false));
}

// ---- Widths -----------------------------------------------------------------------------------

TEST_F(Unicode, CharWidths) {
    struct Case {
        const char* name;
        uint32_t cp;
        int width;
        int cjk;
    };
    const Case cases[] = {
        {"nul", 0, 0, 0},
        {"tab", '\t', 1, 1},
        {"escape", 0x1B, 1, 1},
        {"delete", 0x7F, 1, 1},
        {"last C1 control", 0x9F, 1, 1},
        {"letter", 'A', 1, 1},
        {"soft hyphen", 0xAD, 1, 2},
        {"inverted exclamation (ambiguous)", 0xA1, 1, 2},
        {"greek alpha (ambiguous)", 0x3B1, 1, 2},
        {"combining grave", 0x300, 0, 0},
        {"combining enclosing circle", 0x20DD, 0, 0},
        {"zero width space", 0x200B, 0, 0},
        {"variation selector", 0xFE0F, 0, 0},
        {"hangul medial vowel", 0x1161, 0, 0},
        {"hangul syllable", 0xAC00, 2, 2},
        {"ideograph", 0x4E00, 2, 2},
        {"ideographic space", 0x3000, 2, 2},
        {"fullwidth A", 0xFF21, 2, 2},
        {"halfwidth katakana", 0xFF76, 1, 1},
        {"grinning face", 0x1F600, 2, 2},
        {"unassigned in plane 2", 0x2FFF0, 2, 2},
        {"plane 3 ideograph", 0x30000, 2, 2},
        {"private use (ambiguous)", 0xE000, 1, 2},
        {"variation selector supplement", 0xE0100, 0, 0},
        {"last code point", 0x10FFFF, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(unicode::char_width(c.cp), c.width);
        EXPECT_EQ(unicode::char_width_cjk(c.cp), c.cjk);
    }
}

// The lookups binary-search these tables: a hand edit that breaks their order shows here.
TEST_F(Unicode, GeneratedTablesAreSortedAndDisjoint) {
    namespace tables = unicode::tables;
    auto check_ranges = [](const tables::Pair* r, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            EXPECT_LE(r[i].first, r[i].second) << i;
            if (i) {
                EXPECT_LT(r[i - 1].second + 1, r[i].first) << i;  // merged, so never adjacent
            }
        }
    };
    check_ranges(tables::kZeroWidth, tables::kZeroWidthCount);
    check_ranges(tables::kWide, tables::kWideCount);
    check_ranges(tables::kAmbiguous, tables::kAmbiguousCount);
    auto check_pairs = [](const tables::Pair* p, uint32_t n) {
        for (uint32_t i = 1; i < n; ++i) EXPECT_LT(p[i - 1].first, p[i].first) << i;
    };
    check_pairs(tables::kUpperPairs, tables::kUpperPairsCount);
    check_pairs(tables::kLowerPairs, tables::kLowerPairsCount);
    for (uint32_t i = 0; i < tables::kCaseIndexSize; ++i) {
        EXPECT_LT(tables::kUpperIndex[i], tables::kCaseBlockCount);
        EXPECT_LT(tables::kLowerIndex[i], tables::kCaseBlockCount);
    }
}

}  // namespace
}  // namespace zub
