// Value slots and external handles: numbers stay put as the slot table grows, slots are reused,
// and a handle is released through its class exactly once, when no handle! value reaches it.
#include "runtime/handles.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "tests/unit/runtime_fixture.h"

#include <vector>

namespace zub {
namespace {

std::vector<uintptr_t> g_released;
void record_release(uintptr_t handle) { g_released.push_back(handle); }

class Handles : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        g_released.clear();
        class_id_ = handles::register_class("test-thing", record_release);
    }
    static Cell handle_value(int32_t entry) { return cell::make(TypeId::handle, 0, 0, static_cast<uint32_t>(entry)); }
    uint32_t class_id_ = 0;
};

TEST_F(Handles, SlotNumbersSurviveGrowthAndAreReused) {
    std::vector<uint32_t> numbers;
    for (int i = 0; i < 101; ++i) numbers.push_back(handles::slot_store(cell::integer(i)));
    EXPECT_EQ(handles::slot_capacity(), 200u);
    for (int i = 0; i < 101; ++i) {
        EXPECT_EQ(numbers[i], static_cast<uint32_t>(i + 1));
        ASSERT_NE(handles::slot_at(numbers[i]), nullptr);
        EXPECT_EQ(cell::as_integer(*handles::slot_at(numbers[i])), i);
    }
    EXPECT_TRUE(handles::slot_release(57));
    EXPECT_EQ(handles::slot_at(57), nullptr);
    EXPECT_EQ(handles::slot_store(cell::integer(-5)), 57u);
    EXPECT_EQ(cell::as_integer(*handles::slot_at(57)), -5);
}

TEST_F(Handles, BadSlotNumbersAreRefused) {
    const uint32_t n = handles::slot_store(cell::none());
    struct Case {
        uint32_t slot;
        bool releases;
    };
    const Case cases[] = {{0, false}, {n, true}, {n, false} /* twice */, {5000, false}};
    for (const Case& c : cases) EXPECT_EQ(handles::slot_release(c.slot), c.releases) << c.slot;
    // A second release must not have threaded the slot into the free list twice.
    const uint32_t a = handles::slot_store(cell::integer(1));
    const uint32_t b = handles::slot_store(cell::integer(2));
    EXPECT_NE(a, b);
}

TEST_F(Handles, ASlotKeepsItsValueThroughCollections) {
    const Cell s = string::make(8, TypeId::string);
    series::append_ascii(s.w2, "slotted");
    const uint32_t n = handles::slot_store(s);
    for (int i = 0; i < 200; ++i) (void)string::make(100, TypeId::string);
    collector::do_cycle();
    const Cell kept = *handles::slot_at(n);
    EXPECT_EQ(series::length(kept.w2), 7u);
    EXPECT_EQ(string::char_at(kept.w2, 0), 's');
    handles::slot_release(n);
    collector::do_cycle();
    // Released: the string went with the collection (its node is free for reuse).
    EXPECT_EQ(memory::node_slot(kept.w2) & 1, 1u);
}

TEST_F(Handles, ReachableHandlesStayUnreachableOnesAreReleasedOnce) {
    const int32_t kept = handles::store(0x1000, class_id_);
    const int32_t dropped = handles::store(0x2000, class_id_);
    stack::push(handle_value(kept));
    stack::push(block_of({handle_value(dropped)}));
    collector::do_cycle();
    EXPECT_TRUE(g_released.empty());
    stack::pop(1);
    collector::do_cycle();
    collector::do_cycle();
    EXPECT_EQ(g_released, std::vector<uintptr_t>{0x2000});
    EXPECT_TRUE(handles::live(kept));
    EXPECT_FALSE(handles::live(dropped));
    EXPECT_EQ(handles::get(kept), 0x1000u);
    // The kept handle goes at shutdown, once.
    handles::shutdown();
    EXPECT_EQ(g_released, (std::vector<uintptr_t>{0x2000, 0x1000}));
    handles::init();
}

TEST_F(Handles, ReplaceAndRemove) {
    const int32_t e = handles::store(0xA, class_id_);
    EXPECT_TRUE(handles::replace(e, 0xA));  // the same handle: nothing released
    EXPECT_TRUE(g_released.empty());
    EXPECT_TRUE(handles::replace(e, 0xB));
    EXPECT_EQ(g_released, std::vector<uintptr_t>{0xA});
    EXPECT_TRUE(handles::remove(e, false));  // unregistered, not released
    EXPECT_FALSE(handles::remove(e, true));  // a second remove does nothing
    EXPECT_FALSE(handles::replace(e, 0xC));
    EXPECT_EQ(g_released, std::vector<uintptr_t>{0xA});
    // A stale handle! value naming a free entry marks nothing.
    stack::push(handle_value(e));
    stack::push(handle_value(123456));
    stack::push(handle_value(-1));
    collector::do_cycle();
    EXPECT_EQ(g_released, std::vector<uintptr_t>{0xA});
}

TEST_F(Handles, TheTableGrowsAndClassesAreWalked) {
    const uint32_t other = handles::register_class("other", nullptr);
    EXPECT_EQ(handles::class_name(other), "other");
    std::vector<int32_t> entries;
    for (int i = 0; i < 2500; ++i) entries.push_back(handles::store(i + 1, i % 2 ? other : class_id_));
    EXPECT_GE(handles::capacity(), 2500u);
    EXPECT_EQ(handles::live_count(), 2500u);
    for (int i = 0; i < 2500; ++i) EXPECT_EQ(handles::get(entries[i]), static_cast<uintptr_t>(i + 1));
    uint64_t sum = 0;
    handles::for_each_of_class(
        class_id_, [](uintptr_t h, void* s) { *static_cast<uint64_t*>(s) += h; }, &sum);
    EXPECT_EQ(sum, 1250u * 1250u);  // 1 + 3 + ... + 2499
    // None reachable: the class with a callback sees each of its handles once; the other none.
    collector::do_cycle();
    EXPECT_EQ(g_released.size(), 1250u);
    EXPECT_EQ(handles::live_count(), 0u);
}

}  // namespace
}  // namespace zub
