// Powersort run merging for the stable sort; for the fast one a presortedness check, an in-place
// repair of nearly sorted input, and three-way quicksort with a heapsort floor. Everything is
// written once over a record layout and instantiated for the widths that matter.
#include "runtime/sort.h"

#include <cstdint>
#include <cstring>

#include "runtime/error.h"
#include "runtime/lowrt.h"

namespace zub::sort {
namespace {

// Record layouts. Cells and string units get fixed widths so that moves become plain loads and
// stores; anything else swaps four bytes at a time when it can, a byte at a time otherwise.
template <size_t W>
struct Fixed {
    static constexpr bool kFixed = true;
    static constexpr size_t width() { return W; }
    static void swap(char* a, char* b) {
        unsigned char t[W];
        std::memcpy(t, a, W);
        std::memcpy(a, b, W);
        std::memcpy(b, t, W);
    }
};

struct Cells {  // a group of cells: a multiple of 16 bytes
    static constexpr bool kFixed = false;
    size_t w;  // bytes per record
    size_t width() const { return w; }
    void swap(char* a, char* b) const {
        for (size_t i = 0; i < w; i += 16) Fixed<16>::swap(a + i, b + i);
    }
};

struct Words {  // a multiple of 4 bytes
    static constexpr bool kFixed = false;
    size_t w;  // bytes per record
    size_t width() const { return w; }
    void swap(char* a, char* b) const {
        for (size_t i = 0; i < w; i += 4) Fixed<4>::swap(a + i, b + i);
    }
};

struct Bytes {  // any other width
    static constexpr bool kFixed = false;
    size_t w;  // bytes per record
    size_t width() const { return w; }
    void swap(char* a, char* b) const {
        for (size_t i = 0; i < w; ++i) {
            const char t = a[i];
            a[i] = b[i];
            b[i] = t;
        }
    }
};

// Runs shorter than this are lengthened by insertion before merging.
constexpr size_t kMinRun = 24;
// Blocks at least this long keep a merge galloping; also where its threshold starts.
constexpr size_t kGallop = 7;
// Ranges of at most this many records are insertion sorted by the quicksort.
constexpr size_t kSmallRange = 7;
// Above this the quicksort's pivot is a median of three medians.
constexpr size_t kNintherRange = 127;
// The presortedness sample takes every this many records.
constexpr size_t kSampleStep = 97;
// After this many drops in a row the repair suspects its last kept record instead.
constexpr size_t kRetreat = 8;
// Rotations with a side this small go through the stack instead of three reversals.
constexpr size_t kRotateBytes = 1024;
// Room for any Powersort stack: powers on it strictly increase and never pass log2(n) + 2.
constexpr int kRunStack = 66;

// The merge buffer, allocated when the first merge needs it and freed on every way out, and
// what the merges have learnt about galloping.
class Scratch {
  public:
    explicit Scratch(size_t bytes) : bytes_(bytes) {}
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() { lowrt::free(block_); }

    char* get() {
        if (!block_) block_ = static_cast<char*>(lowrt::allocate(bytes_));
        return block_;
    }

    size_t gallop_after = kGallop;  // wins in a row before a merge gallops

  private:
    size_t bytes_;           // (n / 2) x width
    char* block_ = nullptr;  // null until the first merge
};

// While a merge runs, the shorter run exists only in the buffer and the array has a gap of the
// same size. Whether the merge ends or a comparison throws, the records still parked go back into
// the gap; on the normal path this copy is the merge's own tail.
struct Refill {
    char* gap;         // first record of the gap in the array
    const char* from;  // parked records still in the buffer: [from, to)
    const char* to;
    ~Refill() { std::memcpy(gap, from, static_cast<size_t>(to - from)); }
};

// Powersort's node power of the boundary between runs [s1, s2) and [s2, e2): the depth at which
// the two midpoints, as fractions of n, first fall in different halves. Works on twice the
// midpoints so that everything stays integral.
unsigned node_power(size_t s1, size_t s2, size_t e2, size_t n) {
    size_t a = s1 + s2;
    size_t b = s2 + e2;
    unsigned power = 0;
    for (;;) {
        ++power;
        if (a >= n) {
            a -= n;
            b -= n;
        } else if (b >= n) {
            return power;
        }
        a <<= 1;
        b <<= 1;
    }
}

size_t isqrt(size_t n) {
    size_t r = 0;
    for (size_t bit = size_t{1} << 31; bit; bit >>= 1)
        if ((r + bit) * (r + bit) <= n) r += bit;
    return r;
}

template <class L>
struct Sorter {
    L rec;        // layout of a record
    Compare cmp;  // the caller's comparator
    void* c1;     // its context words
    void* c2;

    size_t w() const { return rec.width(); }
    char* at(char* base, size_t i) const { return base + i * w(); }
    int compare(const char* a, const char* b) const { return cmp(a, b, c1, c2); }
    void copy(char* dst, const char* src) const { std::memcpy(dst, src, w()); }
    void swap(char* a, char* b) const { rec.swap(a, b); }

    void swap_blocks(char* a, char* b, size_t count) const {
        for (size_t i = 0; i < count; ++i, a += w(), b += w()) swap(a, b);
    }

    void reverse(char* base, size_t n) const {
        if (n < 2) return;
        for (char *lo = base, *hi = at(base, n - 1); lo < hi; lo += w(), hi -= w()) swap(lo, hi);
    }

    // Exchanges [first, middle) and [middle, last) without comparing anything.
    void rotate(char* first, char* middle, char* last) const {
        const size_t left = static_cast<size_t>(middle - first);
        const size_t right = static_cast<size_t>(last - middle);
        if (left == 0 || right == 0) return;
        alignas(16) unsigned char t[kRotateBytes];
        if (right <= kRotateBytes) {
            std::memcpy(t, middle, right);
            std::memmove(first + right, first, left);
            std::memcpy(first, t, right);
        } else if (left <= kRotateBytes) {
            std::memcpy(t, first, left);
            std::memmove(first, middle, right);
            std::memcpy(first + right, t, left);
        } else {
            reverse(first, left / w());
            reverse(middle, right / w());
            reverse(first, (left + right) / w());
        }
    }

    // Moves the record at `src` back to `dst`, shifting the records between up by one.
    void rotate_one(char* dst, char* src) const {
        if constexpr (L::kFixed) {
            unsigned char t[L::width()];
            std::memcpy(t, src, L::width());
            std::memmove(dst + L::width(), dst, static_cast<size_t>(src - dst));
            std::memcpy(dst, t, L::width());
        } else {
            rotate(dst, src, src + w());
        }
    }

    // The smallest i in [0, len] with pred(i), for a pred that turns true once and stays true.
    // Probes outwards from 0 first, so an answer near the start costs few comparisons.
    template <class Pred>
    static size_t gallop(size_t len, Pred pred) {
        size_t lo = 0;  // pred is false below lo
        size_t hi = 1;
        while (hi <= len && !pred(hi - 1)) {
            lo = hi;
            hi = 2 * hi + 1;
        }
        if (hi > len) hi = len;
        while (lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            if (pred(mid)) hi = mid;
            else lo = mid + 1;
        }
        return lo;
    }

    // ---- Stable sort ----

    // The end of the natural run at `start`, reversing a strictly descending one (which keeps
    // ties in order, having none), then lengthened to kMinRun records by binary insertion.
    // Each insertion compares first and moves afterwards, so a throw leaves whole records.
    size_t take_run(char* base, size_t start, size_t n) const {
        if (n - start < 2) return n;
        char* run = at(base, start);
        size_t len = 2;
        if (compare(run, at(run, 1)) > 0) {
            while (start + len < n && compare(at(run, len - 1), at(run, len)) > 0) ++len;
            reverse(run, len);
        } else {
            while (start + len < n && compare(at(run, len - 1), at(run, len)) <= 0) ++len;
        }
        const size_t want = n - start < kMinRun ? n - start : kMinRun;
        for (; len < want; ++len) {
            char* x = at(run, len);
            size_t lo = 0, hi = len;  // after every record that ties with x
            while (lo < hi) {
                const size_t mid = lo + (hi - lo) / 2;
                if (compare(at(run, mid), x) > 0) hi = mid;
                else lo = mid + 1;
            }
            if (lo < len) rotate_one(at(run, lo), x);
        }
        return start + len;
    }

    // Merges the adjacent sorted runs [lo, mid) and [mid, hi); ties take the left run first.
    void merge(char* lo, char* mid, char* hi, Scratch& scratch) const {
        const size_t width = w();
        if (compare(mid - width, mid) <= 0) return;  // already in order
        // Left records not above the right run's first, and right records not below the left
        // run's last, are already where they belong.
        const size_t n1 = static_cast<size_t>(mid - lo) / width;
        lo += width * gallop(n1, [&](size_t i) { return compare(lo + i * width, mid) > 0; });
        const char* left_last = mid - width;
        const size_t n2 = static_cast<size_t>(hi - mid) / width;
        hi -= width * gallop(n2, [&](size_t j) { return compare(hi - (j + 1) * width, left_last) < 0; });
        if (lo == mid || hi == mid) return;  // only a comparator that contradicts itself
        if (mid - lo <= hi - mid) merge_forward(lo, mid, hi, scratch);
        else merge_backward(lo, mid, hi, scratch);
    }

    // The left run is parked in the buffer and the merge fills the gap from the front. One
    // record at a time while the runs interleave; once one side has won `gallop_after` times
    // in a row, blocks found by galloping, for as long as the blocks stay long. How soon to
    // gallop adapts to how well it pays, so random input hardly ever tries.
    void merge_forward(char* lo, char* mid, char* hi, Scratch& scratch) const {
        const size_t width = w();
        char* buffer = scratch.get();
        std::memcpy(buffer, lo, static_cast<size_t>(mid - lo));
        Refill parked{lo, buffer, buffer + (mid - lo)};
        char* right = mid;
        size_t& gallop_after = scratch.gallop_after;
        for (;;) {
            size_t left_wins = 0, right_wins = 0;
            const size_t threshold = gallop_after;
            do {
                if (compare(parked.from, right) > 0) {
                    copy(parked.gap, right);
                    parked.gap += width;
                    right += width;
                    ++right_wins;
                    left_wins = 0;
                    if (right == hi) return;
                } else {
                    copy(parked.gap, parked.from);
                    parked.gap += width;
                    parked.from += width;
                    ++left_wins;
                    right_wins = 0;
                    if (parked.from == parked.to) return;
                }
            } while ((left_wins | right_wins) < threshold);
            ++gallop_after;
            size_t r, l;
            do {
                gallop_after -= gallop_after > 1;
                r = gallop(static_cast<size_t>(hi - right) / width,
                           [&](size_t i) { return compare(parked.from, right + i * width) <= 0; });
                std::memmove(parked.gap, right, r * width);
                parked.gap += r * width;
                right += r * width;
                if (right == hi) return;
                copy(parked.gap, parked.from);  // the right's next is not below it
                parked.gap += width;
                parked.from += width;
                if (parked.from == parked.to) return;
                l = gallop(static_cast<size_t>(parked.to - parked.from) / width,
                           [&](size_t i) { return compare(parked.from + i * width, right) > 0; });
                std::memcpy(parked.gap, parked.from, l * width);
                parked.gap += l * width;
                parked.from += l * width;
                if (parked.from == parked.to) return;
                copy(parked.gap, right);  // below the parked next
                parked.gap += width;
                right += width;
                if (right == hi) return;
            } while (r >= kGallop || l >= kGallop);
            ++gallop_after;
        }
    }

    // The right run is parked and the merge fills the gap from the back, so that the gap stays
    // just after the left run's unmerged records. Otherwise as merge_forward.
    void merge_backward(char* lo, char* mid, char* hi, Scratch& scratch) const {
        const size_t width = w();
        char* buffer = scratch.get();
        std::memcpy(buffer, mid, static_cast<size_t>(hi - mid));
        Refill parked{mid, buffer, buffer + (hi - mid)};
        char* out = hi;  // the gap is [parked.gap, out)
        size_t& gallop_after = scratch.gallop_after;
        for (;;) {
            size_t left_wins = 0, right_wins = 0;
            const size_t threshold = gallop_after;
            do {
                out -= width;
                if (compare(parked.gap - width, parked.to - width) > 0) {
                    parked.gap -= width;
                    copy(out, parked.gap);
                    ++left_wins;
                    right_wins = 0;
                    if (parked.gap == lo) return;
                } else {
                    parked.to -= width;
                    copy(out, parked.to);
                    ++right_wins;
                    left_wins = 0;
                    if (parked.to == parked.from) return;
                }
            } while ((left_wins | right_wins) < threshold);
            ++gallop_after;
            size_t l, r;
            do {
                gallop_after -= gallop_after > 1;
                l = gallop(static_cast<size_t>(parked.gap - lo) / width,
                           [&](size_t i) { return compare(parked.gap - (i + 1) * width, parked.to - width) <= 0; });
                out -= l * width;
                parked.gap -= l * width;
                std::memmove(out, parked.gap, l * width);
                if (parked.gap == lo) return;
                out -= width;  // the left's next is not above it
                parked.to -= width;
                copy(out, parked.to);
                if (parked.to == parked.from) return;
                r = gallop(static_cast<size_t>(parked.to - parked.from) / width,
                           [&](size_t i) { return compare(parked.gap - width, parked.to - (i + 1) * width) > 0; });
                out -= r * width;
                parked.to -= r * width;
                std::memcpy(out, parked.to, r * width);
                if (parked.to == parked.from) return;
                out -= width;  // above the parked last
                parked.gap -= width;
                copy(out, parked.gap);
                if (parked.gap == lo) return;
            } while (l >= kGallop || r >= kGallop);
            ++gallop_after;
        }
    }

    void stable(char* base, size_t n, Scratch& scratch) const {
        struct Entry {
            size_t start;    // first record of a stacked run; it ends where the next begins
            unsigned power;  // power of the boundary after it
        };
        Entry stack[kRunStack];
        int top = 0;
        size_t start = 0;
        size_t end = take_run(base, 0, n);
        while (end < n) {
            const size_t next_end = take_run(base, end, n);
            const unsigned power = node_power(start, end, next_end, n);
            while (top > 0 && stack[top - 1].power >= power) {
                --top;
                merge(at(base, stack[top].start), at(base, start), at(base, end), scratch);
                start = stack[top].start;
            }
            stack[top++] = {start, power};
            start = end;
            end = next_end;
        }
        while (top > 0) {
            --top;
            merge(at(base, stack[top].start), at(base, start), at(base, n), scratch);
            start = stack[top].start;
        }
    }

    // ---- Fast sort ----
    // Everything below moves records only by swaps and rotations between comparisons, so a
    // throw always leaves a permutation.

    void insertion(char* a, size_t n) const {
        for (size_t i = 1; i < n; ++i)
            for (size_t j = i; j > 0 && compare(at(a, j - 1), at(a, j)) > 0; --j) swap(at(a, j - 1), at(a, j));
    }

    size_t median3(char* a, size_t i, size_t j, size_t k) const {
        if (compare(at(a, i), at(a, j)) < 0) {
            if (compare(at(a, j), at(a, k)) < 0) return j;
            return compare(at(a, i), at(a, k)) < 0 ? k : i;
        }
        if (compare(at(a, j), at(a, k)) > 0) return j;
        return compare(at(a, i), at(a, k)) < 0 ? i : k;
    }

    void sift(char* a, size_t i, size_t n) const {
        for (;;) {
            size_t child = 2 * i + 1;
            if (child >= n) return;
            if (child + 1 < n && compare(at(a, child), at(a, child + 1)) < 0) ++child;
            if (compare(at(a, i), at(a, child)) >= 0) return;
            swap(at(a, i), at(a, child));
            i = child;
        }
    }

    // The floor under the quicksort when its pivots keep going wrong.
    void heapsort(char* a, size_t n) const {
        for (size_t i = n / 2; i-- > 0;) sift(a, i, n);
        for (size_t end = n - 1; end > 0; --end) {
            swap(a, at(a, end));
            sift(a, 0, end);
        }
    }

    // Three-way partition around the pivot at a[0], which stays there while scanning, as do the
    // records found equal to it, gathered at the front. Afterwards those move to the middle:
    // [0, *less) less, then equal, [*greater, n) greater. Every bound is checked, so a
    // comparator that contradicts itself cannot lead outside the range.
    void partition(char* a, size_t n, size_t* less, size_t* greater) const {
        const char* pivot = a;
        size_t eq = 1, i = 1, j = n - 1;
        for (;;) {
            int r = 0;
            while (i <= j && (r = compare(at(a, i), pivot)) <= 0) {
                if (r == 0) {
                    if (eq != i) swap(at(a, eq), at(a, i));
                    ++eq;
                }
                ++i;
            }
            if (i > j) break;
            int s = 1;
            while (j > i && (s = compare(at(a, j), pivot)) > 0) --j;
            if (j == i) break;
            swap(at(a, i), at(a, j));
            if (s == 0) {
                if (eq != i) swap(at(a, eq), at(a, i));
                ++eq;
            }
            ++i;
            --j;
        }
        const size_t lt = i - eq;
        swap_blocks(a, at(a, i - (eq < lt ? eq : lt)), eq < lt ? eq : lt);
        *less = lt;
        *greater = i;
    }

    // `sorted` is the length of a prefix known to be sorted; when it is most of the range its
    // middle record is a pivot close to the median for free.
    void quick(char* a, size_t n, size_t sorted, int budget) const {
        while (n > kSmallRange) {
            if (budget-- == 0) {
                heapsort(a, n);
                return;
            }
            size_t p;
            if (sorted >= n / 2) {
                p = sorted / 2;
            } else if (n > kNintherRange) {
                // Samples spread over the whole range: drawing them from the front alone goes
                // quadratic on organ pipes and sawtooth runs.
                const size_t s = n / 8, m = n / 2;
                p = median3(a, median3(a, 0, s, 2 * s), median3(a, m - s, m, m + s),
                            median3(a, n - 1 - 2 * s, n - 1 - s, n - 1));
            } else {
                p = median3(a, 0, n / 2, n - 1);
            }
            sorted = 0;
            if (p != 0) swap(a, at(a, p));
            size_t lt, gt;
            partition(a, n, &lt, &gt);
            // Recurse into the smaller side so that the C stack stays within log2(n) frames.
            if (lt < n - gt) {
                quick(a, lt, 0, budget);
                a = at(a, gt);
                n -= gt;
            } else {
                quick(at(a, gt), n - gt, 0, budget);
                n = lt;
            }
        }
        insertion(a, n);
    }

    // Merges the sorted [0, mid) with the short sorted [mid, hi) in place: the right run's last
    // record is placed by one rotation, which also settles the left records above it.
    void merge_in_place(char* a, size_t mid, size_t hi) const {
        while (mid > 0 && hi > mid) {
            const char* last = at(a, hi - 1);
            if (compare(at(a, mid - 1), last) <= 0) {
                --hi;
                continue;
            }
            size_t lo = 0, up = mid - 1;  // the first left record above `last`
            while (lo < up) {
                const size_t m = lo + (up - lo) / 2;
                if (compare(at(a, m), last) > 0) up = m;
                else lo = m + 1;
            }
            const size_t short_len = hi - mid;
            rotate(at(a, lo), at(a, mid), at(a, hi));
            mid = lo;
            hi = lo + short_len - 1;
        }
    }

    // Repairs nearly sorted input in place. Keeps a sorted prefix and drops the records that
    // break it into a stray zone just behind, swapping each kept record over the zone's first;
    // a run of drops means the last kept record was the odd one, and it joins the strays
    // instead. The strays are then sorted and merged in. Gives up, returning false with the
    // sorted prefix's length in `sorted`, once there are too many strays for the merge to pay.
    bool repair(char* a, size_t n, size_t& sorted) const {
        const size_t limit = 2 * isqrt(n) + 32;
        size_t k = sorted;  // [0, k) kept, [k, i) strays, [i, n) unseen
        size_t i = k;
        size_t dropped = 0;  // drops in a row
        while (i < n) {
            if (k == 0 || compare(at(a, k - 1), at(a, i)) <= 0) {
                if (k != i) swap(at(a, k), at(a, i));
                ++k;
                ++i;
                dropped = 0;
                continue;
            }
            ++i;
            if (++dropped == kRetreat) {
                --k;
                i -= kRetreat;  // those drops are looked at again
                dropped = 0;
            }
            if (i - k > limit) {
                sorted = k;
                return false;
            }
        }
        quick(at(a, k), n - k, 0, depth_budget(n - k));
        merge_in_place(a, k, n);
        return true;
    }

    static int depth_budget(size_t n) {
        int log = 0;
        while (n >>= 1) ++log;
        return 2 * log + 2;
    }

    void fast(char* a, size_t n) const {
        if (n <= kSmallRange) {
            insertion(a, n);
            return;
        }
        // The initial monotone run; ties continue it either way.
        int direction = 0;  // 1 ascending, -1 descending
        size_t run = 1;
        for (; run < n; ++run) {
            const int c = compare(at(a, run - 1), at(a, run));
            if (c == 0) continue;
            const int d = c < 0 ? 1 : -1;
            if (direction == 0) direction = d;
            else if (d != direction) break;
        }
        if (run == n) {
            if (direction < 0) reverse(a, n);
            return;
        }
        ptrdiff_t score = direction * static_cast<ptrdiff_t>(run);
        for (size_t i = run; i < n; i += kSampleStep) {
            const int c = compare(at(a, i - 1), at(a, i));
            score += (c < 0) - (c > 0);
        }
        // Small ranges need a clear lead: with few samples a random order scores a few points.
        size_t bar = n / 512;
        if (bar < 8) bar = 8;
        size_t sorted = 0;
        if (static_cast<size_t>(score < 0 ? -score : score) > bar) {
            sorted = direction > 0 && score > 0 ? run : 1;
            if (score < 0) reverse(a, n);
            if (repair(a, n, sorted)) return;
        }
        quick(a, n, sorted, depth_budget(n));
    }
};

template <class Fn>
void with_layout(size_t width, Fn&& fn) {
    switch (width) {
        case 1: return fn(Fixed<1>{});
        case 2: return fn(Fixed<2>{});
        case 4: return fn(Fixed<4>{});
        case 16: return fn(Fixed<16>{});
        default: break;
    }
    if (width % 16 == 0) return fn(Cells{width});
    if (width % 4 == 0) return fn(Words{width});
    fn(Bytes{width});
}

}  // namespace

void stable(void* base, size_t n, size_t width, void* context1, void* context2, Compare compare) {
    if (n < 2 || width == 0) return;
    if (n / 2 > UINT32_MAX / width) error::fire(ErrorId::too_long);
    Scratch scratch(n / 2 * width);
    with_layout(width, [&](auto layout) {
        const Sorter<decltype(layout)> s{layout, compare, context1, context2};
        s.stable(static_cast<char*>(base), n, scratch);
    });
}

void fast(void* base, size_t n, size_t width, void* context1, void* context2, Compare compare) {
    if (n < 2 || width == 0) return;
    with_layout(width, [&](auto layout) {
        const Sorter<decltype(layout)> s{layout, compare, context1, context2};
        s.fast(static_cast<char*>(base), n);
    });
}

}  // namespace zub::sort
