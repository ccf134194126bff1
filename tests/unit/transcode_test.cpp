// transcode over binary! sources, which the language cannot write yet: the byte-order mark, byte
// positions for /next and /part, and the limit that must match the source's type.
#include <cstring>

#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Transcode : public RuntimeTest {
  protected:
    enum Refinement { kNext, kOne, kPrescan, kScan, kPart, kInto, kTrace, kCount };

    static Cell bytes(const char* text, uint32_t index = 0) {
        const auto n = static_cast<uint32_t>(std::strlen(text));
        const NodeId node = memory::alloc_bytes(n);
        series::append_bytes(node, text, n);
        return cell::series(TypeId::binary, node, index);
    }

    // Calls transcode with the refinements listed; /part takes `part`.
    static Cell run(Cell source, std::initializer_list<Refinement> present, Cell part = cell::none()) {
        stack::Call call(stack::FrameType::native, word("transcode"));
        int32_t refinements[kCount];
        for (int32_t& r : refinements) r = -1;
        for (Refinement r : present) refinements[r] = r == kPart ? 1 : 0;
        stack::push(source);
        stack::push(part);
        stack::push(cell::none());
        stack::push(cell::none());
        (void)natives::call(natives::index_of(natives::Native::transcode), refinements, true);
        return stack::args()[0];
    }

    static Cell at(const Cell& block, uint32_t i) {
        return memory::buffer(cell::series_node(block))->cells()[cell::series_index(block) + i];
    }
    static uint32_t length(const Cell& block) {
        return series::length(cell::series_node(block)) - cell::series_index(block);
    }
};

TEST_F(Transcode, BinaryTextLoadsAndSkipsAByteOrderMark) {
    for (const char* text : {"1 22 333",
                             "\xEF\xBB\xBF"
                             "1 22 333"}) {
        const Cell r = run(bytes(text), {});
        ASSERT_TRUE(cell::is(r, TypeId::block));
        ASSERT_EQ(length(r), 3u);
        EXPECT_EQ(cell::as_integer(at(r, 2)), 333);
    }
}

TEST_F(Transcode, NextOnBinaryGivesTheRestAtTheByteAfterTheValue) {
    const Cell source = bytes(
        "\xEF\xBB\xBF"
        "42 x");
    const Cell r = run(source, {kNext});
    ASSERT_EQ(length(r), 2u);
    EXPECT_EQ(cell::as_integer(at(r, 0)), 42);
    const Cell rest = at(r, 1);
    EXPECT_TRUE(cell::is(rest, TypeId::binary));
    EXPECT_EQ(cell::series_node(rest), cell::series_node(source));
    EXPECT_EQ(cell::series_index(rest), 5u);
}

TEST_F(Transcode, PartOnBinaryTakesALengthOrAPositionOfTheSameSeries) {
    const Cell source = bytes("1 2 3");
    EXPECT_EQ(length(run(source, {kPart}, cell::integer(3))), 2u);
    EXPECT_EQ(length(run(source, {kPart}, cell::integer(-1))), 0u);
    Cell position = source;
    position.w1 = 1;
    EXPECT_EQ(length(run(source, {kPart}, position)), 1u);

    EXPECT_EQ(raised([&] { run(source, {kPart}, bytes("1 2 3", 3)); }), ErrorId::invalid_refine_arg);
    const NodeId text = memory::alloc_bytes(4);
    EXPECT_EQ(raised([&] { run(source, {kPart}, cell::series(TypeId::string, text)); }), ErrorId::not_same_type);
}

TEST_F(Transcode, ScanOfBinaryGivesATypeAndNoneWhenEmpty) {
    EXPECT_TRUE(cell::is(run(bytes(""), {kScan}), TypeId::none));
    EXPECT_TRUE(cell::is(run(bytes("\xEF\xBB\xBF"), {kScan}), TypeId::none));
    const Cell t = run(bytes("1.5"), {kScan});
    ASSERT_TRUE(cell::is(t, TypeId::datatype));
    EXPECT_EQ(t.w1, static_cast<uint32_t>(TypeId::float_));
    const Cell bad = run(bytes("[a"), {kPrescan});
    EXPECT_EQ(bad.w1, static_cast<uint32_t>(TypeId::error));
}

TEST_F(Transcode, BadBytesRaiseASyntaxError) {
    for (const char* text : {"[a", "a)", "\"abc", "\xFF"}) {
        EXPECT_EQ(error::category_of(raised([&] { run(bytes(text), {}); })), ErrorCategory::syntax) << text;
    }
}

}  // namespace
}  // namespace zub
