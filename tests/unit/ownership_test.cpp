// Ownership records: recursion through nested blocks, cycles, first owner wins, removal, check.
#include <gtest/gtest.h>

#include "datatypes/ownership.h"
#include "runtime/hashtable.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Ownership : public RuntimeTest {
  protected:
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

TEST_F(Ownership, AnObjectsFieldsAreRecordedUnderItsOwnWords) {
    const NodeId ctx = context::make_from_spec(block_of({word("name"), word("items"), word("me")}), false, true,
                                               context::Kind::object);
    const Cell object = cell::make(TypeId::object, ctx);
    const Cell owner = cell::make(TypeId::object, context::create(1, false, true, 0, context::Kind::object));
    const Cell name = text();
    const Cell items = block_of({text()});
    *context::value_at(ctx, 0) = name;
    *context::value_at(ctx, 1) = items;
    *context::value_at(ctx, 2) = owner;  // the owner itself: skipped
    ownership::set(object, owner, field_);
    EXPECT_EQ(records(), 3u);
    EXPECT_EQ(ownership::owner_of(name.w2)[1].w2, symbol::make("name"));
    EXPECT_EQ(ownership::owner_of(items.w2)[1].w2, symbol::make("items"));
    ownership::unset(object);
    EXPECT_EQ(records(), 0u);

    ownership::set_and_mark_owner(name, object, word("name"));
    EXPECT_TRUE(context::cell_of(ctx).header & cell_flag::owns_series);
    ownership::set(object, owner, field_);  // an object owning its series is left alone
    EXPECT_EQ(ownership::owner_of(name.w2)[0].w1, ctx);
}

TEST_F(Ownership, AHeldObjectIsRecordedUnderTheHoldingField) {
    const NodeId inner_ctx = context::make_from_spec(block_of({word("items")}), false, true, context::Kind::object);
    const Cell inner = cell::make(TypeId::object, inner_ctx);
    const NodeId ctx =
        context::make_from_spec(block_of({word("list"), word("sub")}), false, true, context::Kind::object);
    const Cell object = cell::make(TypeId::object, ctx);
    const Cell deep = text();
    const Cell list = block_of({text()});
    *context::value_at(inner_ctx, 0) = deep;
    *context::value_at(ctx, 0) = list;
    *context::value_at(ctx, 1) = inner;
    ownership::set_in_field(object, owner_, field_);
    EXPECT_EQ(records(), 3u);
    EXPECT_EQ(ownership::owner_of(list.w2)[1].w2, 5u);
    EXPECT_EQ(ownership::owner_of(deep.w2)[1].w2, 5u);
    ownership::unset(object);
    EXPECT_EQ(records(), 0u);

    // Owning itself, the object records each field's series, nested objects' too, under that field.
    ownership::set_and_mark_owner(object, object, cell::none());
    EXPECT_EQ(records(), 3u);
    EXPECT_EQ(ownership::owner_of(list.w2)[1].w2, symbol::make("list"));
    EXPECT_EQ(ownership::owner_of(deep.w2)[1].w2, symbol::make("sub"));
    EXPECT_EQ(ownership::owner_of(deep.w2)[0].w1, ctx);
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
