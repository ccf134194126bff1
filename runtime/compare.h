// The comparison operations that every compare entry takes, and the answer of values that have no
// order. They live in the runtime because its value indexes compare by them too.
#pragma once

#include <cstdint>

namespace zub {

// Comparison operations passed to every compare entry.
enum CompareOp : int32_t {
    op_equal = 0,
    op_not_equal = 1,
    op_strict_equal = 2,
    op_lesser = 3,
    op_lesser_or_equal = 4,
    op_greater = 5,
    op_greater_or_equal = 6,
    op_sort = 7,
    op_sort_case = 8,  // the sort order that tells case apart
    op_same = 9,
    op_equal_word = 10,
    op_equal_canonical = 11,
    op_find = 12,
};
inline constexpr int32_t kNotComparable = -2;

// The equality family: equal, not-equal, strict-equal, same and the equality of find.
inline bool equality_op(int32_t op) { return op <= op_strict_equal || op == op_same || op == op_find; }
// What values without an order answer: the equality family and the two sort orders.
inline bool unordered_op(int32_t op) { return equality_op(op) || op == op_sort || op == op_sort_case; }

}  // namespace zub
