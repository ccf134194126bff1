// Ownership records: recursion through nested blocks, cycles, first owner wins, removal, check.
#include <gtest/gtest.h>

#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/series.h"

namespace zub {
namespace {

class Ownership : public ::testing::Test {
  protected:
    void SetUp() override {
        memory::init();
        ownership::init();
    }
    void TearDown() override { memory::free_all(); }

    static Cell block_of(std::initializer_list<Cell> cells) {
        const NodeId node = memory::alloc_cells(4);
        for (const Cell& c : cells) series::append_cell(node, c);
        return cell::series(TypeId::block, node);
    }
    static Cell text() {
        const NodeId node = series::alloc_with_unit(4, 1);
        series::append_ascii(node, "abc");
        return cell::series(TypeId::string, node);
    }
    static uint32_t records() { return hashtable::table(ownership::table())->count; }

    const Cell owner_ = cell::make(TypeId::object, 77, 0, 0);
    const Cell handled_owner_ = cell::make(TypeId::object, 78, 0, 1);  // w3: has change handlers
    const Cell field_ = cell::make(TypeId::word, 0, 5);
};

TEST_F(Ownership, NestedSeriesAreRecordedWithTheSameOwnerAndField) {
    const Cell inner = text();
    const Cell outer = block_of({cell::integer(1), inner, block_of({})});
    ownership::set(outer, owner_, field_);
    EXPECT_EQ(records(), 3u);
    const Cell* owner = ownership::owner_of(inner.w2);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(owner[0].w1, 77u);
    EXPECT_EQ(owner[1].w2, 5u);
    EXPECT_TRUE(series::flags(inner.w2) & series_flag::owned);
}

TEST_F(Ownership, ABlockHoldingItselfIsRecordedOnce) {
    const Cell b = block_of({cell::integer(1)});
    series::append_cell(b.w2, b);
    ownership::set(b, owner_, field_);
    EXPECT_EQ(records(), 1u);
    ownership::unset(b);
    EXPECT_EQ(records(), 0u);
}

TEST_F(Ownership, TheFirstOwnerIsKept) {
    const Cell s = text();
    ownership::set(s, owner_, field_);
    ownership::set(s, handled_owner_, field_);
    EXPECT_EQ(ownership::owner_of(s.w2)[0].w1, 77u);
}

TEST_F(Ownership, UnsetRemovesTheRecordsOfEverythingNested) {
    const Cell inner = text();
    const Cell outer = block_of({inner, block_of({text()})});
    ownership::set(outer, owner_, field_);
    EXPECT_EQ(records(), 4u);
    ownership::unset(outer);
    EXPECT_EQ(records(), 0u);
    EXPECT_EQ(ownership::owner_of(inner.w2), nullptr);
    EXPECT_FALSE(series::flags(inner.w2) & series_flag::owned);
}

TEST_F(Ownership, ImagesCarryTheFlagInTheirCell) {
    const Cell image = cell::make(TypeId::image, 0, memory::alloc_bytes(16));
    ownership::set(image, owner_, field_);
    EXPECT_EQ(records(), 1u);
    EXPECT_FALSE(series::flags(image.w2) & series_flag::owned);
}

int g_notifications = 0;

TEST_F(Ownership, CheckNotifiesOnlyOwnersWithHandlers) {
    ownership::set_notify([](const Cell& owner, const Cell&, const Cell&, Cell, int32_t, int32_t) {
        ++g_notifications;
        EXPECT_EQ(owner.w1, 78u);
    });
    const Cell loose = text();
    const Cell plain = text();
    const Cell handled = text();
    ownership::set(plain, owner_, field_);
    ownership::set(handled, handled_owner_, field_);
    EXPECT_FALSE(ownership::check(loose, cell::none(), 0, 0));
    EXPECT_FALSE(ownership::check(plain, cell::none(), 0, 0));
    EXPECT_FALSE(ownership::check(cell::integer(3), cell::none(), 0, 0));
    EXPECT_TRUE(ownership::check(handled, cell::none(), 0, 1));
    EXPECT_EQ(g_notifications, 1);
}

}  // namespace
}  // namespace zub
