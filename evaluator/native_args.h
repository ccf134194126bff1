// The one argument layer of natives and actions: a view of a call's arguments on the evaluation
// stack with typed reads, refinements tested by name, and the result convention (the checks of
// /part and /skip are evaluator/part_skip.h). A refinement's position comes from the argument blocks
// in boot/natives.zub and boot/actions.zub at build time (evaluator/refinements.h, generated), so `args.has<"part">()` is one load and a
// compare, and a name the function's argument block lacks does not
// compile.
//
// The view is inline and allocates nothing: it sits on every native call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "datatypes/actions.h"
#include "evaluator/exits.h"
#include "evaluator/natives.h"
#include "evaluator/refinements.h"
#include "evaluator/stack.h"
#include "runtime/cell.h"

namespace zub::native_args {

// A refinement's name as a template argument: `has<"case">()`.
template <size_t N>
struct Name {
    char text[N];
    consteval Name(const char (&s)[N]) {  // NOLINT: implicit from a literal on purpose
        for (size_t i = 0; i < N; ++i) text[i] = s[i];
    }
    constexpr std::string_view view() const { return {text, N - 1}; }
};

// Functions with arguments but no refinements of their own: the environment's routines.
enum class Plain : uint8_t { routine };

namespace detail {

consteval int32_t find(const generated::RefinementName* table, size_t n, uint32_t function, std::string_view word) {
    for (size_t i = 0; i < n; ++i)
        if (table[i].function == function && table[i].word == word) return table[i].position;
    throw "the function's spec has no refinement of this name";
}

// The refinement's position among the function's refinements; F is a natives::Native or a Slot.
template <auto F>
consteval int32_t refinement(std::string_view word) {
    if constexpr (std::is_same_v<decltype(F), natives::Native>)
        return find(generated::kNativeRefinements, std::size(generated::kNativeRefinements), static_cast<uint32_t>(F),
                    word);
    else if constexpr (std::is_same_v<decltype(F), Slot>)
        return find(generated::kActionRefinements, std::size(generated::kActionRefinements), static_cast<uint32_t>(F),
                    word);
    else return find(nullptr, 0, 0, word);  // a routine has no refinements to test
}

}  // namespace detail

// The arguments of a call of F (a natives::Native, a Slot or Plain::routine), laid out as
// natives::Entry says.
// Cells are read in place: a view taken before an evaluation or an allocation stays valid, since
// the stack does not move, but a read value that must survive one is copied first.
template <auto F>
class Args {
  public:
    explicit Args(const int32_t* refinements) : cells_(stack::args()), refinements_(refinements) {}

    // The i-th argument in the order of the argument block, and typed reads of it (the call has
    // checked its type).
    Cell& operator[](uint32_t i) const { return cells_[i]; }
    Cell* cells() const { return cells_; }
    int32_t integer(uint32_t i) const { return cell::as_integer(cells_[i]); }
    bool logic(uint32_t i) const { return cell::as_logic(cells_[i]); }
    NodeId series(uint32_t i) const { return cell::series_node(cells_[i]); }
    uint32_t index(uint32_t i) const { return cell::series_index(cells_[i]); }

    // Whether the refinement is present, and its (first) argument or null when it is absent.
    template <Name R>
    bool has() const {
        constexpr int32_t at = detail::refinement<F>(R.view());
        return refinements_[at] >= 0;
    }
    template <Name R>
    Cell* arg() const {
        constexpr int32_t at = detail::refinement<F>(R.view());
        return refinements_[at] < 0 ? nullptr : cells_ + refinements_[at];
    }

    // The one result convention: the value goes to the first argument's cell and the stack top
    // comes down to just above it (what the call pushed is dropped); done also says the call
    // ended normally.
    void result(Cell value) const {
        cells_[0] = value;
        stack::g_top = cells_ + 1;
    }
    Status done(Cell value) const {
        result(value);
        return Status::normal;
    }

  private:
    Cell* cells_;
    const int32_t* refinements_;
};

}  // namespace zub::native_args
