// Series buffer helpers over every unit width, the cycle guard, and the low-level heap.
#include <gtest/gtest.h>
#include <csignal>

#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/registry.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub {
namespace {

class Series : public ::testing::Test {
  protected:
    void SetUp() override {
        memory::init();
        registry::init();  // the cycle markers come from the types' traits rows
        cycles::reset();
    }
    void TearDown() override { memory::free_all(); }

    static NodeId text(std::string_view s, uint32_t unit) {
        const NodeId node = series::alloc_with_unit(1, unit);
        series::append_ascii(node, s);
        return node;
    }
    static std::string read(NodeId node) {
        SeriesBuffer* b = memory::buffer(node);
        std::string out;
        for (uint32_t i = 0; i < series::length(node); ++i)
            out += static_cast<char>(series::code_point_at(b->head_ptr(), b->unit(), i));
        return out;
    }
};

TEST_F(Series, AsciiInsertAndLengthInEveryWidth) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        const NodeId node = text("bd", unit);
        series::insert_unit(node, 'a', 0);
        series::insert_unit(node, 'c', 2);
        series::insert_unit(node, 'e', 4);
        EXPECT_EQ(read(node), "abcde") << unit;
        EXPECT_EQ(series::length(node), 5u);
        EXPECT_EQ(series::unit(node), unit);
    }
}

TEST_F(Series, InsertGrowsAFullBuffer) {
    const NodeId node = series::alloc_with_unit(4, 4);
    for (uint32_t i = 0; i < 100; ++i) series::insert_unit(node, 0x1F600 + i, i);
    EXPECT_EQ(series::length(node), 100u);
    EXPECT_EQ(series::code_point_at(memory::buffer(node)->head_ptr(), 4, 99), 0x1F600u + 99);
}

TEST_F(Series, SetTailAndClear) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        const NodeId node = text("abcdef", unit);
        series::set_tail(node, 4);
        EXPECT_EQ(read(node), "abc");
        series::set_tail(node, 1);
        EXPECT_EQ(series::length(node), 0u);
        series::append_ascii(node, "xy");
        series::clear(node);
        EXPECT_EQ(series::length(node), 0u);
    }
}

TEST_F(Series, BytesAndIntegers) {
    const NodeId node = memory::alloc_bytes(0);
    for (uint8_t i = 1; i <= 40; ++i) series::append_byte(node, i);
    EXPECT_EQ(series::byte_at(node, 1), 1);
    EXPECT_EQ(series::byte_at(node, 40), 40);
    EXPECT_EQ(series::length(node), 40u);

    const NodeId ints = memory::alloc_bytes(0);
    for (uint32_t v : {10u, 20u, 30u, 20u}) series::append_int32(ints, v);
    EXPECT_EQ(series::int32_at(ints, 3), 30u);
    series::set_int32_at(ints, 3, 33);
    EXPECT_EQ(series::int32_at(ints, 3), 33u);
    EXPECT_EQ(series::find_int32(ints, 20), 4);
    EXPECT_EQ(series::find_int32(ints, 99), -1);
    EXPECT_EQ(series::remove_int32(ints, 99), -1);
    EXPECT_EQ(series::length(ints), 16u);
    EXPECT_EQ(series::remove_int32(ints, 20), 4);
    EXPECT_EQ(series::length(ints), 12u);
    EXPECT_EQ(series::int32_at(ints, 2), 33u);
    EXPECT_EQ(series::find_int32(ints, 20), 8);
}

TEST_F(Series, AppendBytesGrowsByDoubling) {
    const NodeId node = memory::alloc_bytes(16);
    const std::string chunk(24, 'z');
    series::append_bytes(node, chunk.data(), 24);  // 16 < 24: grows to 48
    EXPECT_EQ(memory::buffer(node)->size, 48u);
    series::append_bytes(node, chunk.data(), 24);  // fills it exactly
    EXPECT_EQ(memory::buffer(node)->size, 48u);
    series::append_bytes(node, chunk.data(), 24);  // 48 + 24 > 48: doubles to 96
    EXPECT_EQ(memory::buffer(node)->size, 96u);
    EXPECT_EQ(series::length(node), 72u);
}

TEST_F(Series, RemoveBytesMovesTheRestDown) {
    const NodeId node = text("abcdefgh", 1);
    series::remove_bytes(node, 2, 3);
    EXPECT_EQ(read(node), "abfgh");
}

TEST_F(Series, TailCellOnAFullBlockDoublesAndKeepsContents) {
    const NodeId node = memory::alloc_cells(2);
    *series::alloc_tail_cell(node) = cell::integer(1);
    *series::alloc_tail_cell(node) = cell::integer(2);
    EXPECT_EQ(memory::buffer(node)->size, 32u);
    Cell* c = series::alloc_tail_cell(node);
    EXPECT_EQ(c->header, 2u);
    EXPECT_EQ(memory::buffer(node)->size, 64u);
    Cell* cells = memory::buffer(node)->cells();
    EXPECT_EQ(cell::as_integer(cells[0]), 1);
    EXPECT_EQ(cell::as_integer(cells[1]), 2);
    // A block with no room at all still grows.
    const NodeId empty = memory::alloc_cells(0);
    series::append_cell(empty, cell::integer(5));
    EXPECT_EQ(series::length(empty), 1u);
}

TEST_F(Series, AppendCellFromTheSameSeries) {
    const NodeId node = memory::alloc_cells(1);
    series::append_cell(node, cell::integer(42));
    // The source cell lives in the buffer that grows; passing by value keeps it safe.
    series::append_cell(node, memory::buffer(node)->cells()[0]);
    EXPECT_EQ(cell::as_integer(memory::buffer(node)->cells()[1]), 42);
}

TEST_F(Series, CopyPartDropsTheOwnedFlag) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        const NodeId node = text("abcdef", unit);
        memory::set_series_flags(node, series_flag::owned);
        const NodeId part = series::copy_part(node, 1, 3);
        EXPECT_EQ(read(part), "bcd");
        EXPECT_EQ(series::unit(part), unit);
        EXPECT_FALSE(series::flags(part) & series_flag::owned);
    }
}

TEST_F(Series, RepeatBytes) {
    std::byte buf[64] = {};
    std::memcpy(buf, "abc", 3);
    EXPECT_EQ(series::repeat_bytes(buf, 3, 1), buf + 3);
    EXPECT_EQ(buf[3], std::byte{0});  // count 1 copies nothing
    EXPECT_EQ(series::repeat_bytes(buf, 3, 7), buf + 21);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 21), "abcabcabcabcabcabcabc");
}

TEST_F(Series, TextHashIgnoresWidthAndCaseUnlessAsked) {
    const uint32_t h1 = series::hash_text(text("abc", 1), 0, series::kToTail, false);
    EXPECT_EQ(series::hash_text(text("abc", 2), 0, series::kToTail, false), h1);
    EXPECT_EQ(series::hash_text(text("abc", 4), 0, series::kToTail, false), h1);
    EXPECT_EQ(series::hash_text(text("ABC", 4), 0, series::kToTail, false), h1);
    EXPECT_NE(series::hash_text(text("ABC", 1), 0, series::kToTail, true),
              series::hash_text(text("abc", 1), 0, series::kToTail, true));
    // From a position, and for a given count.
    EXPECT_EQ(series::hash_text(text("xxabc", 1), 2, series::kToTail, false), h1);
    EXPECT_EQ(series::hash_text(text("abcdef", 2), 0, 3, false), h1);
    EXPECT_EQ(series::hash_text(text("ab", 1), 5, series::kToTail, false),
              series::hash_text(text("", 1), 0, series::kToTail, false));
}

TEST_F(Series, TextHashReadsLongAndNonAsciiTextAlikeInEveryWidth) {
    // Code points stored in units of the width (low bytes first, as this machine keeps them).
    const auto text32 = [](std::u32string_view s, uint32_t unit) {
        const NodeId node = series::alloc_with_unit(1, unit);
        std::byte* at = series::reserve_tail(node, static_cast<uint32_t>(s.size()) * unit);
        for (size_t i = 0; i < s.size(); ++i) {
            const uint32_t cp = s[i];
            std::memcpy(at + i * unit, &cp, unit);
        }
        return node;
    };
    const auto hash = [&](std::u32string_view s, uint32_t unit, uint32_t from = 0) {
        return series::hash_text(text32(s, unit), from, series::kToTail, false);
    };
    // ASCII runs, Latin-1 letters, and one whose upper case lies past FFh.
    const std::u32string_view lower = U"hello, world: \u00e9t\u00e9 \u00ff and some more";
    const std::u32string_view upper = U"HELLO, WORLD: \u00c9T\u00c9 \u0178 AND SOME MORE";
    const uint32_t h = hash(lower, 1);
    for (const uint32_t unit : {1u, 2u, 4u}) {
        EXPECT_EQ(hash(lower, unit), h) << unit;
        if (unit > 1) {
            EXPECT_EQ(hash(upper, unit), h) << unit;
        }
        EXPECT_EQ(hash(lower, unit, 3), hash(lower.substr(3), 1)) << unit;
    }
    EXPECT_NE(hash(U"abcdefgh", 1), hash(U"abcdefgi", 1));
    EXPECT_NE(hash(U"abcd", 1), hash(U"abcd ", 1));
    EXPECT_EQ(hash(U"zZ{@`aA", 1), hash(U"ZZ{@`AA", 1));
    EXPECT_NE(hash(U"[\\]^", 1), hash(U"{|}~", 1));
}

TEST_F(Series, CycleGuardFindsAndMarks) {
    const NodeId block = memory::alloc_cells(1);
    const NodeId out = text("", 1);
    int32_t remaining = 100;
    EXPECT_FALSE(cycles::mold_marker(cell::series(TypeId::block, block), out, &remaining, true));
    cycles::push(block);
    struct Case {
        TypeId type;
        bool mold;
        const char* marker;
    };
    const Case cases[] = {
        {TypeId::block, true, "[...]"}, {TypeId::hash, true, "[...]"}, {TypeId::paren, true, "(...)"},
        {TypeId::map, true, "#[...]"},  {TypeId::path, true, "..."},   {TypeId::block, false, "..."},
    };
    for (const Case& c : cases) {
        series::clear(out);
        remaining = 100;
        EXPECT_TRUE(cycles::mold_marker(cell::series(c.type, block), out, &remaining, c.mold));
        EXPECT_EQ(read(out), c.marker);
        EXPECT_EQ(remaining, 100 - static_cast<int32_t>(std::strlen(c.marker)));
    }
    series::clear(out);
    EXPECT_TRUE(cycles::mold_marker(cell::make(TypeId::object, block), out, &remaining, true));
    EXPECT_EQ(read(out), "make object! [...]");
    cycles::pop();
    EXPECT_FALSE(cycles::find(block));
    cycles::pop();  // popping an empty guard does nothing
    EXPECT_EQ(cycles::depth(), 0u);
}

TEST_F(Series, CycleGuardOverflowResetsAndRaisesTooDeep) {
    for (uint32_t i = 0; i < cycles::kMaxNesting; ++i) cycles::push(i + 1);
    EXPECT_THROW(cycles::push(99999), error::Thrown);
    EXPECT_EQ(error::pending().id, ErrorId::too_deep);
    EXPECT_EQ(cycles::depth(), 0u);
}

// Counts are taken relative to what the rest of the process holds: other modules keep blocks on
// the heap for the life of the process, so freeing them all happens only in a child process.
TEST(LowLevelHeap, TracksBlocks) {
    const size_t blocks = lowrt::live_blocks();
    const size_t bytes = lowrt::live_bytes();
    void* a = lowrt::allocate(100);
    void* b = lowrt::resize(nullptr, 50);
    EXPECT_EQ(lowrt::live_blocks(), blocks + 2);
    EXPECT_EQ(lowrt::live_bytes(), bytes + 150);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
    std::memset(a, 7, 100);
    a = lowrt::resize(a, 1000);
    EXPECT_EQ(static_cast<uint8_t*>(a)[99], 7);
    EXPECT_EQ(lowrt::live_bytes(), bytes + 1050);
    lowrt::free(b);
    lowrt::free(nullptr);
    EXPECT_EQ(lowrt::live_blocks(), blocks + 1);
    lowrt::free(a);
    EXPECT_EQ(lowrt::live_blocks(), blocks);
}

TEST(LowLevelHeap, FreeAllEmptiesTheLiveList) {
    EXPECT_EXIT(
        {
            lowrt::allocate(10);
            lowrt::allocate(20);
            lowrt::free_all();
            std::exit(lowrt::live_blocks() == 0 && lowrt::live_bytes() == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

#ifndef ZUB_SANITIZE
TEST(FatalReport, ProcessorFaultsReportTheirNumber) {
    const auto fault = [](int signal) {
        lowrt::install_fault_handlers();
        std::raise(signal);
    };
    EXPECT_EXIT(fault(SIGSEGV), ::testing::ExitedWithCode(1), "Runtime Error 1: processor exception");
    EXPECT_EXIT(fault(SIGFPE), ::testing::ExitedWithCode(3), "Runtime Error 3: processor exception");
}
#endif

TEST(FatalReport, PrintsTheNumberedMessageAndExitsWithIt) {
    EXPECT_EXIT(lowrt::report_error(94, 0x1234), ::testing::ExitedWithCode(94),
                "\\*\\*\\* Runtime Error 94: out of memory\n\\*\\*\\* at: 00001234h");
    EXPECT_EXIT(lowrt::fatal(lowrt::Fatal::no_switch), ::testing::ExitedWithCode(101),
                "Runtime Error 101: no value matched in SWITCH");
    EXPECT_EXIT(lowrt::report_error(0), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zub
