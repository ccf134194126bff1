// The record sorts on a million 16-byte records keyed by a 32-bit integer, beside the standard
// library's sorts, once with the key compared inline and once through the same comparator
// pointer the runtime sorts call. Prints milliseconds, the best of five rounds.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "runtime/sort.h"

namespace {

struct Record {
    uint32_t key;
    uint32_t rest[3];
};

int by_key(const void* a, const void* b, void*, void*) {
    const uint32_t x = static_cast<const Record*>(a)->key, y = static_cast<const Record*>(b)->key;
    return x < y ? -1 : x > y;
}

// Read at run time so that the standard sorts cannot inline it either.
int (*volatile g_by_key)(const void*, const void*, void*, void*) = by_key;

template <class Fn>
double best_ms(const std::vector<Record>& input, Fn sort) {
    double best = 1e300;
    for (int round = 0; round < 5; ++round) {
        std::vector<Record> v = input;
        const auto start = std::chrono::steady_clock::now();
        sort(v);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
        if (!std::is_sorted(v.begin(), v.end(), [](const Record& a, const Record& b) { return a.key < b.key; })) {
            std::puts("not sorted");
            std::exit(1);
        }
    }
    return best;
}

void run(const char* shape, const std::vector<Record>& input) {
    const size_t n = input.size();
    const double stable = best_ms(input, [&](std::vector<Record>& v) {
        zub::sort::stable(v.data(), n, sizeof(Record), nullptr, nullptr, by_key);
    });
    const double fast = best_ms(
        input, [&](std::vector<Record>& v) { zub::sort::fast(v.data(), n, sizeof(Record), nullptr, nullptr, by_key); });
    const auto less = [](const Record& a, const Record& b) { return a.key < b.key; };
    const double std_stable =
        best_ms(input, [&](std::vector<Record>& v) { std::stable_sort(v.begin(), v.end(), less); });
    const double std_sort = best_ms(input, [&](std::vector<Record>& v) { std::sort(v.begin(), v.end(), less); });
    const auto call = [cmp = g_by_key](const Record& a, const Record& b) { return cmp(&a, &b, nullptr, nullptr) < 0; };
    const double std_stable_call =
        best_ms(input, [&](std::vector<Record>& v) { std::stable_sort(v.begin(), v.end(), call); });
    const double std_sort_call = best_ms(input, [&](std::vector<Record>& v) { std::sort(v.begin(), v.end(), call); });
    std::printf(
        "%-14s stable %6.1f   fast %6.1f   | std::stable_sort %6.1f, by pointer %6.1f"
        "   std::sort %6.1f, by pointer %6.1f   (ms)\n",
        shape, stable, fast, std_stable, std_stable_call, std_sort, std_sort_call);
}

}  // namespace

int main() {
    const size_t n = 1000000;
    std::mt19937 rng(42);
    std::vector<Record> input(n);
    for (size_t i = 0; i < n; ++i) input[i] = {static_cast<uint32_t>(rng()), {static_cast<uint32_t>(i), 0, 0}};
    run("random", input);

    for (size_t i = 0; i < n; ++i) input[i].key = static_cast<uint32_t>(i);
    for (int s = 0; s < 100; ++s) std::swap(input[rng() % n].key, input[rng() % n].key);
    run("nearly sorted", input);

    for (size_t i = 0; i < n; ++i) input[i].key = rng() % 16;
    run("16 keys", input);
    return 0;
}
