// handle! values made from registry entries, which no language value can make: the value is the
// entry + 1 so that entry 0 differs from the null handle, mold/all names the class, and the
// collector keeps the entry of a reachable handle! alive.
#include "datatypes/handle.h"

#include "runtime/collector.h"
#include "runtime/handles.h"
#include "tests/unit/numbers_fixture.h"

namespace zub {
namespace {

class Handle : public NumberTest {};

TEST_F(Handle, FormsAndMoldsNameTheValueAndTheClass) {
    const uint32_t kind = handles::register_class("widget", nullptr);
    const int32_t entry = handles::store(0x1234, kind);
    const Cell h = handle::make(entry);
    EXPECT_EQ(handle::entry(h), entry);
    const std::string hex = form(h);
    EXPECT_EQ(hex.size(), 9u);
    EXPECT_EQ(hex.back(), 'h');
    EXPECT_EQ(mold(h), "handle!");
    EXPECT_EQ(mold(h, true), "#[handle! " + hex + " widget]");
    EXPECT_EQ(form(handle::null()), "00000000h");
    EXPECT_EQ(mold(handle::null(), true), "#[handle! 00000000h]");
}

TEST_F(Handle, EntryZeroIsNotTheNullHandle) {
    const uint32_t kind = handles::register_class("widget", nullptr);
    ASSERT_EQ(handles::store(1, kind), 0);  // a fresh table hands out entry 0 first
    const ActionTable& row = registry::actions(TypeId::handle);
    EXPECT_NE(row.compare(handle::make(0), handle::null(), op_equal), 0);
    EXPECT_EQ(row.compare(handle::make(0), handle::make(0), op_equal), 0);
    EXPECT_LT(row.compare(handle::null(), handle::make(0), op_lesser), 0);
    EXPECT_EQ(row.compare(handle::null(), cell::integer(0), op_equal), 1);
    EXPECT_EQ(row.compare(handle::null(), cell::integer(0), op_lesser), kNotComparable);
}

}  // namespace
}  // namespace zub
