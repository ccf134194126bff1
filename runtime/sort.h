// The runtime's two record sorts, behind `sort` on blocks and strings: an adaptive stable merge
// sort and a faster unstable quicksort. Records are fixed-width byte groups sorted in place: cells
// (16 bytes), groups of cells, or string units of 1, 2 or 4 bytes.
#pragma once

#include <cstddef>

namespace zub::sort {

// Orders two records: negative when a goes before b, zero when they tie, positive otherwise.
// The context words reach it unchanged (compare options, a user function). It may throw.
using Compare = int (*)(const void* a, const void* b, void* context1, void* context2);

// Both sorts hold raw pointers into the records across every call of `compare`. A caller whose
// records live in a series and whose comparator runs user code holds a collector guard around the
// call. Both tolerate a comparator that contradicts itself: they stay in bounds and end.
//
// When `compare` throws, the exception passes through and the records are left as a permutation
// of the input (partly sorted): none lost, none duplicated, no memory kept.

// Sorts so that records that tie keep their order. Uses a buffer of (n / 2) x width bytes on the
// low-level heap, taken only when two runs need merging, so it never moves series. Raises
// script too-long when that buffer would pass 4 GB. Sorted or strictly descending input costs
// n - 1 comparisons.
void stable(void* base, size_t n, size_t width, void* context1, void* context2, Compare compare);

// Sorts without keeping ties in order and without allocating. Nearly sorted input (either way
// round) is repaired in about n comparisons; other input takes O(n log n) in the worst case.
void fast(void* base, size_t n, size_t width, void* context1, void* context2, Compare compare);

}  // namespace zub::sort
