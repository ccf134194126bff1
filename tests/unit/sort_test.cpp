// The record sorts: results checked against the standard library over a table of input shapes and
// record widths, stability, comparison counts on presorted input, and what a comparator that
// throws or contradicts itself leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "runtime/error.h"
#include "runtime/lowrt.h"
#include "runtime/sort.h"

namespace zub {
namespace {

using SortFn = void (*)(void*, size_t, size_t, void*, void*, sort::Compare);

struct NamedSort {
    const char* name;
    SortFn fn;
    bool stable;
};
const NamedSort kSorts[] = {{"stable", sort::stable, true}, {"fast", sort::fast, false}};

// The comparator's view of the test, passed as context word 1.
struct Probe {
    size_t key_bytes;        // the key is this many little-endian bytes at the record's start
    uint64_t calls = 0;      // comparisons made
    uint64_t throw_at = 0;   // the call that throws; 0 never
    bool lie = false;        // answer at random
    uint64_t noise = 1;      // state of the lies
    size_t most_blocks = 0;  // most low-level heap blocks seen live during a call
};

uint32_t key_of(const void* record, size_t bytes) {
    uint32_t k = 0;
    std::memcpy(&k, record, bytes);
    return k;
}

int by_key(const void* a, const void* b, void* context1, void*) {
    auto* p = static_cast<Probe*>(context1);
    if (++p->calls == p->throw_at) throw error::Thrown{};
    p->most_blocks = std::max(p->most_blocks, lowrt::live_blocks());
    if (p->lie) {
        p->noise = p->noise * 6364136223846793005u + 1442695040888963407u;
        return static_cast<int>(p->noise >> 62) - 1;
    }
    const uint32_t x = key_of(a, p->key_bytes), y = key_of(b, p->key_bytes);
    return x < y ? -1 : x > y;
}

// Key bytes per width: the rest of each record carries its original index, so that moves that
// tear or duplicate records, and ties that swap places, both show.
size_t key_bytes_for(size_t width) { return width >= 4 ? 4 : width == 3 ? 2 : width; }

enum class Shape {
    random,
    sorted,
    reversed,
    equal,
    few_keys,
    organ_pipe,
    few_swaps,
    sawtooth,
    reversed_few_swaps,
    sorted_random_tail,
    noisy
};
const struct {
    Shape shape;
    const char* name;
} kShapes[] = {
    {Shape::random, "random"},
    {Shape::sorted, "sorted"},
    {Shape::reversed, "reversed"},
    {Shape::equal, "all equal"},
    {Shape::few_keys, "few distinct keys"},
    {Shape::organ_pipe, "organ pipe"},
    {Shape::few_swaps, "sorted with a few swaps"},
    {Shape::sawtooth, "sawtooth"},
    {Shape::reversed_few_swaps, "reversed with a few swaps"},
    {Shape::sorted_random_tail, "sorted then a random tail"},
    {Shape::noisy, "sorted with 3% noise"},
};

const char* name_of(Shape shape) {
    for (const auto& entry : kShapes)
        if (entry.shape == shape) return entry.name;
    return "?";
}

std::vector<uint32_t> keys_for(Shape shape, size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint32_t> k(n);
    for (size_t i = 0; i < n; ++i) {
        const auto u = static_cast<uint32_t>(i);
        switch (shape) {
            case Shape::random: k[i] = rng(); break;
            case Shape::sorted:
            case Shape::few_swaps:
            case Shape::sorted_random_tail:
            case Shape::noisy: k[i] = u * 3; break;
            case Shape::reversed:
            case Shape::reversed_few_swaps: k[i] = static_cast<uint32_t>(n - i) * 3; break;
            case Shape::equal: k[i] = 7; break;
            case Shape::few_keys: k[i] = rng() % 4; break;
            case Shape::organ_pipe: k[i] = i < n / 2 ? u : static_cast<uint32_t>(n - i); break;
            case Shape::sawtooth: k[i] = u % (n / 8 + 1); break;
        }
    }
    if (n > 1 && (shape == Shape::few_swaps || shape == Shape::reversed_few_swaps))
        for (int s = 0; s < 6; ++s) std::swap(k[rng() % n], k[rng() % n]);
    if (shape == Shape::sorted_random_tail)
        for (size_t i = n - n / 10; i < n; ++i) k[i] = rng() % (3 * static_cast<uint32_t>(n) + 1);
    if (shape == Shape::noisy)
        for (size_t i = 0; i < n; ++i)
            if (rng() % 100 < 3) k[i] = rng() % (3 * static_cast<uint32_t>(n) + 1);
    return k;
}

struct Records {
    size_t width;
    size_t n;
    std::vector<unsigned char> bytes;

    unsigned char* at(size_t i) { return bytes.data() + i * width; }
    const unsigned char* at(size_t i) const { return bytes.data() + i * width; }

    // The records as a multiset, each by a 64-bit fingerprint of its bytes: equal whenever the
    // records are a permutation, unequal when one is lost, duplicated or torn.
    std::vector<uint64_t> multiset() const {
        std::vector<uint64_t> all(n);
        for (size_t i = 0; i < n; ++i) {
            uint64_t h = 0xCBF29CE484222325u;
            for (size_t b = 0; b < width; ++b) h = (h ^ at(i)[b]) * 0x100000001B3u;
            all[i] = h;
        }
        std::sort(all.begin(), all.end());
        return all;
    }
};

Records make_records(const std::vector<uint32_t>& keys, size_t width) {
    Records r{width, keys.size(), std::vector<unsigned char>(keys.size() * width)};
    const size_t kb = key_bytes_for(width);
    for (size_t i = 0; i < r.n; ++i) {
        std::memcpy(r.at(i), &keys[i], kb);
        for (size_t b = kb; b < width; ++b) r.at(i)[b] = static_cast<unsigned char>(i >> (8 * ((b - kb) % 4)));
    }
    return r;
}

// What std::stable_sort makes of the same records.
Records expected_stable(const Records& input) {
    const size_t kb = key_bytes_for(input.width);
    std::vector<size_t> order(input.n);
    for (size_t i = 0; i < input.n; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return key_of(input.at(a), kb) < key_of(input.at(b), kb); });
    Records out = input;
    for (size_t i = 0; i < input.n; ++i) std::memcpy(out.at(i), input.at(order[i]), input.width);
    return out;
}

::testing::AssertionResult sorted_by_key(const Records& r) {
    const size_t kb = key_bytes_for(r.width);
    for (size_t i = 1; i < r.n; ++i)
        if (key_of(r.at(i - 1), kb) > key_of(r.at(i), kb))
            return ::testing::AssertionFailure() << "out of order at " << i;
    return ::testing::AssertionSuccess();
}

TEST(Sort, BothSortsMatchTheStandardLibraryOverShapesAndWidths) {
    const size_t sizes[] = {0, 1, 2, 7, 8, 23, 24, 25, 100, 1000, 100000};
    const size_t widths[] = {1, 2, 3, 4, 6, 12, 16, 48};
    for (const auto& shape : kShapes) {
        for (size_t n : sizes) {
            const std::vector<uint32_t> keys = keys_for(shape.shape, n, static_cast<uint32_t>(n));
            for (size_t width : widths) {
                if (n == 100000 && width != 2 && width != 16) continue;  // the rest is covered below
                const Records input = make_records(keys, width);
                const Records stable = expected_stable(input);
                const std::vector<uint64_t> records = input.multiset();
                for (const auto& sorter : kSorts) {
                    SCOPED_TRACE(::testing::Message()
                                 << sorter.name << ", " << shape.name << ", n " << n << ", width " << width);
                    Records r = input;
                    Probe probe{key_bytes_for(width)};
                    sorter.fn(r.bytes.data(), n, width, &probe, nullptr, by_key);
                    if (sorter.stable) {
                        ASSERT_EQ(r.bytes, stable.bytes);
                    } else {
                        ASSERT_TRUE(sorted_by_key(r));
                        ASSERT_EQ(r.multiset(), records);
                    }
                    if (n < 2) {
                        EXPECT_EQ(probe.calls, 0u);
                    }
                }
            }
        }
    }
}

TEST(Sort, StableKeepsTiesInOriginalOrder) {
    struct Rec {
        uint32_t key;
        uint32_t index;
        uint32_t pad[2];
    };
    for (uint32_t distinct : {1u, 2u, 3u, 10u, 1000u}) {
        for (size_t n : {30u, 500u, 20000u}) {
            SCOPED_TRACE(::testing::Message() << distinct << " keys, n " << n);
            std::mt19937 rng(distinct * 7 + static_cast<uint32_t>(n));
            std::vector<Rec> v(n);
            // Long runs with ties inside and across their ends, to reach the merges' tie rules.
            for (size_t i = 0; i < n; ++i)
                v[i] = {static_cast<uint32_t>(i % 97 < 60 ? i % 97 % distinct : rng() % distinct),
                        static_cast<uint32_t>(i),
                        {0, 0}};
            Probe probe{4};
            sort::stable(v.data(), n, sizeof(Rec), &probe, nullptr, by_key);
            for (size_t i = 1; i < n; ++i) {
                ASSERT_LE(v[i - 1].key, v[i].key) << i;
                if (v[i - 1].key == v[i].key) {
                    ASSERT_LT(v[i - 1].index, v[i].index) << i;
                }
            }
        }
    }
}

TEST(Sort, PresortedInputCostsNMinusOneComparisonsAndNoMemory) {
    const size_t n = 50000;
    for (Shape shape : {Shape::sorted, Shape::reversed, Shape::equal}) {
        for (const auto& sorter : kSorts) {
            SCOPED_TRACE(::testing::Message() << sorter.name << ", " << name_of(shape));
            Records r = make_records(keys_for(shape, n, 1), 16);
            const size_t blocks = lowrt::live_blocks();
            Probe probe{4};
            sorter.fn(r.bytes.data(), n, 16, &probe, nullptr, by_key);
            EXPECT_EQ(probe.calls, n - 1);
            EXPECT_EQ(probe.most_blocks, blocks);
            EXPECT_TRUE(sorted_by_key(r));
        }
    }
}

TEST(Sort, NearlySortedInputCostsLinearComparisons) {
    const size_t n = 100000;
    for (Shape shape : {Shape::few_swaps, Shape::reversed_few_swaps}) {
        for (const auto& sorter : kSorts) {
            SCOPED_TRACE(::testing::Message() << sorter.name << ", " << name_of(shape));
            Records r = make_records(keys_for(shape, n, 5), 16);
            Probe probe{4};
            sorter.fn(r.bytes.data(), n, 16, &probe, nullptr, by_key);
            EXPECT_LT(probe.calls, 3 * n);
            EXPECT_TRUE(sorted_by_key(r));
        }
    }
}

// Regression: pivots sampled from the front of a range alone go quadratic on organ pipes and
// sawtooth runs, whose fronts hold only small keys.
TEST(Sort, NoShapeGoesQuadratic) {
    const size_t n = 100000;
    const double n_log_n = n * std::log2(static_cast<double>(n));
    for (const auto& shape : kShapes) {
        for (const auto& sorter : kSorts) {
            SCOPED_TRACE(::testing::Message() << sorter.name << ", " << shape.name);
            Records r = make_records(keys_for(shape.shape, n, 9), 4);
            Probe probe{4};
            sorter.fn(r.bytes.data(), n, 4, &probe, nullptr, by_key);
            EXPECT_LT(static_cast<double>(probe.calls), 2 * n_log_n);
        }
    }
}

// Balanced merging of random runs needs fewer than n log2 n comparisons; a merge order that lets
// one run grow by small steps needs more.
TEST(Sort, StableMergesStayBalanced) {
    for (size_t n : {1000u, 100000u}) {
        SCOPED_TRACE(n);
        Records r = make_records(keys_for(Shape::random, n, 13), 16);
        Probe probe{4};
        sort::stable(r.bytes.data(), n, 16, &probe, nullptr, by_key);
        EXPECT_LT(static_cast<double>(probe.calls), n * std::log2(static_cast<double>(n)));
    }
}

TEST(Sort, ThrowingComparatorLeavesAPermutationAndNoMemory) {
    const size_t n = 1000;
    for (Shape shape : {Shape::random, Shape::few_swaps, Shape::reversed_few_swaps, Shape::few_keys, Shape::noisy,
                        Shape::organ_pipe}) {
        for (size_t width : {16u, 3u}) {
            const Records input = make_records(keys_for(shape, n, 3), width);
            const std::vector<uint64_t> records = input.multiset();
            for (const auto& sorter : kSorts) {
                SCOPED_TRACE(::testing::Message() << sorter.name << ", " << name_of(shape) << ", width " << width);
                Records counted = input;
                Probe count{key_bytes_for(width)};
                sorter.fn(counted.bytes.data(), n, width, &count, nullptr, by_key);
                const uint64_t step = std::max<uint64_t>(1, count.calls / 200);
                for (uint64_t k = 1; k <= count.calls; k += k < 32 ? 1 : step) {
                    Records r = input;
                    Probe probe{key_bytes_for(width)};
                    probe.throw_at = k;
                    const size_t blocks = lowrt::live_blocks();
                    EXPECT_THROW(sorter.fn(r.bytes.data(), n, width, &probe, nullptr, by_key), error::Thrown);
                    ASSERT_EQ(lowrt::live_blocks(), blocks) << "throw at " << k;
                    ASSERT_EQ(r.multiset(), records) << "throw at " << k;
                }
            }
        }
    }
}

TEST(Sort, ComparatorThatContradictsItselfStaysInBoundsAndEnds) {
    for (size_t n : {9u, 30u, 1000u, 30000u}) {
        for (Shape shape : {Shape::random, Shape::sorted, Shape::few_swaps, Shape::few_keys}) {
            for (size_t width : {16u, 6u, 1u}) {
                const Records input = make_records(keys_for(shape, n, 11), width);
                for (const auto& sorter : kSorts) {
                    SCOPED_TRACE(::testing::Message() << sorter.name << ", n " << n << ", width " << width);
                    Records r = input;
                    Probe probe{key_bytes_for(width)};
                    probe.lie = true;
                    probe.noise = n + width;
                    const size_t blocks = lowrt::live_blocks();
                    sorter.fn(r.bytes.data(), n, width, &probe, nullptr, by_key);
                    EXPECT_EQ(lowrt::live_blocks(), blocks);
                    ASSERT_EQ(r.multiset(), input.multiset());
                }
            }
        }
    }
}

// The context words reach the comparator unchanged: here the key's offset and the direction.
int by_field(const void* a, const void* b, void* context1, void* context2) {
    const size_t offset = *static_cast<const size_t*>(context1);
    const int direction = *static_cast<const int*>(context2);
    uint32_t x, y;
    std::memcpy(&x, static_cast<const char*>(a) + offset, 4);
    std::memcpy(&y, static_cast<const char*>(b) + offset, 4);
    return direction * (x < y ? -1 : x > y);
}

TEST(Sort, ComparatorReadsBothContextWords) {
    struct Cases {
        size_t offset;
        int direction;
    };
    for (const Cases& c : {Cases{0, 1}, Cases{8, -1}, Cases{12, 1}, Cases{4, -1}}) {
        for (const auto& sorter : kSorts) {
            SCOPED_TRACE(::testing::Message()
                         << sorter.name << ", offset " << c.offset << ", direction " << c.direction);
            std::mt19937 rng(static_cast<uint32_t>(c.offset));
            std::vector<uint32_t> words(4 * 3000);
            for (auto& x : words) x = rng() % 1000;
            size_t offset = c.offset;
            int direction = c.direction;
            sorter.fn(words.data(), 3000, 16, &offset, &direction, by_field);
            for (size_t i = 1; i < 3000; ++i) {
                const uint32_t prev = words[4 * (i - 1) + offset / 4], cur = words[4 * i + offset / 4];
                ASSERT_TRUE(direction > 0 ? prev <= cur : prev >= cur) << i;
            }
        }
    }
}

TEST(Sort, StableRefusesABufferPastFourGigabytes) {
    struct Case {
        size_t n;
        size_t width;
    };
    // The records are never read: the size is refused first.
    for (const Case& c : {Case{size_t{1} << 33, 1}, Case{(size_t{1} << 29) + 2, 16}, Case{size_t{1} << 40, 48}}) {
        SCOPED_TRACE(::testing::Message() << c.n << " x " << c.width);
        unsigned char dummy[64] = {};
        Probe probe{1};
        const size_t blocks = lowrt::live_blocks();
        EXPECT_THROW(sort::stable(dummy, c.n, c.width, &probe, nullptr, by_key), error::Thrown);
        EXPECT_EQ(error::pending().id, ErrorId::too_long);
        EXPECT_EQ(probe.calls, 0u);
        EXPECT_EQ(lowrt::live_blocks(), blocks);
    }
}

}  // namespace
}  // namespace zub
