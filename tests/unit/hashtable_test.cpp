// Record tables: sizing, churn against a std::unordered_map, and the rebuild policy.
#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

#include "runtime/hashtable.h"
#include "runtime/memory.h"

namespace zub {
namespace {

class HashTable : public ::testing::Test {
  protected:
    void SetUp() override { memory::init(); }
    void TearDown() override { memory::free_all(); }
};

TEST_F(HashTable, Sizing) {
    struct Case {
        uint32_t size, buckets, bound;
    };
    const Case cases[] = {{0, 8, 6}, {4, 8, 6}, {6, 8, 6}, {7, 16, 12}, {1000, 2048, 1576}};
    for (const Case& c : cases) {
        const NodeId t = hashtable::init_records(c.size, hashtable::Kind::records, 1);
        EXPECT_EQ(hashtable::table(t)->buckets, c.buckets) << c.size;
        EXPECT_EQ(hashtable::table(t)->bound, c.bound) << c.size;
    }
    EXPECT_EQ(hashtable::round_pow2(8), 8u);
    EXPECT_EQ(hashtable::round_pow2(9), 16u);
}

TEST_F(HashTable, PutGetRemove) {
    const NodeId t = hashtable::init_records(0, hashtable::Kind::ownership, 3);
    EXPECT_EQ(hashtable::get(t, 42), nullptr);
    Cell* v = hashtable::put(t, 42);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(v[i].header, 2u);  // made unset
    v[0] = cell::integer(7);
    v[2] = cell::integer(9);
    EXPECT_EQ(cell::as_integer(hashtable::get(t, 42)[0]), 7);
    EXPECT_EQ(cell::as_integer(hashtable::put(t, 42)[2]), 9);  // existing record
    EXPECT_EQ(hashtable::table(t)->count, 1u);
    EXPECT_TRUE(hashtable::remove(t, 42));
    EXPECT_FALSE(hashtable::remove(t, 42));
    EXPECT_EQ(hashtable::get(t, 42), nullptr);
    EXPECT_EQ(hashtable::table(t)->count, 0u);
}

TEST_F(HashTable, ChurnMatchesAnOracle) {
    const NodeId t = hashtable::init_records(4, hashtable::Kind::records, 1);
    std::unordered_map<uint32_t, int32_t> oracle;
    std::mt19937 rng(12345);
    for (int step = 0; step < 200000; ++step) {
        const uint32_t key = rng() % 3000 + 1;
        switch (rng() % 3) {
            case 0:
            case 1: {
                const int32_t value = static_cast<int32_t>(rng());
                hashtable::put(t, key)[0] = cell::integer(value);
                oracle[key] = value;
                break;
            }
            default: EXPECT_EQ(hashtable::remove(t, key), oracle.erase(key) == 1);
        }
        if (step % 997 == 0) {
            for (uint32_t k = 1; k <= 3000; ++k) {
                Cell* v = hashtable::get(t, k);
                auto it = oracle.find(k);
                ASSERT_EQ(v != nullptr, it != oracle.end()) << "key " << k << " step " << step;
                if (v) {
                    ASSERT_EQ(cell::as_integer(*v), it->second);
                }
            }
        }
    }
    EXPECT_EQ(hashtable::table(t)->count, oracle.size());
    size_t visited = 0;
    hashtable::for_each_record(t, [&](uint32_t key, Cell* v) {
        ++visited;
        EXPECT_EQ(cell::as_integer(*v), oracle.at(key));
    });
    EXPECT_EQ(visited, oracle.size());
}

TEST_F(HashTable, MostlyDeletedTableIsRebuiltAtTheSameSize) {
    const NodeId t = hashtable::init_records(0, hashtable::Kind::records, 1);  // 8 buckets, bound 6
    for (uint32_t k = 1; k <= 6; ++k) hashtable::put(t, k);
    for (uint32_t k = 1; k <= 5; ++k) hashtable::remove(t, k);
    EXPECT_EQ(hashtable::table(t)->used, 6u);
    hashtable::put(t, 100);  // used at bound, 1 live of 8 buckets: same count
    EXPECT_EQ(hashtable::table(t)->buckets, 8u);
    EXPECT_EQ(hashtable::table(t)->count, 2u);
    EXPECT_EQ(hashtable::table(t)->used, 2u);
    EXPECT_NE(hashtable::get(t, 6), nullptr);
    // Full of live entries: doubles.
    for (uint32_t k = 200; k < 204; ++k) hashtable::put(t, k);
    hashtable::put(t, 300);
    EXPECT_EQ(hashtable::table(t)->buckets, 16u);
    EXPECT_EQ(hashtable::table(t)->count, 7u);
}

TEST_F(HashTable, ClearEmptiesEverything) {
    const NodeId t = hashtable::init_records(10, hashtable::Kind::records, 2);
    for (uint32_t k = 1; k <= 10; ++k) hashtable::put(t, k);
    hashtable::clear(t);
    EXPECT_EQ(hashtable::table(t)->count, 0u);
    for (uint32_t k = 1; k <= 10; ++k) EXPECT_EQ(hashtable::get(t, k), nullptr);
    hashtable::put(t, 3)[1] = cell::integer(1);
    EXPECT_EQ(cell::as_integer(hashtable::get(t, 3)[1]), 1);
}

}  // namespace
}  // namespace zub
