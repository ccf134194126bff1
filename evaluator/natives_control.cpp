// Conditionals and loops. A loop marks a loop frame (the target of break and continue) above its
// arguments and evaluates its body with the result pushed above that frame, so the native's own
// arguments stay in place; the result goes to the native's result cell when the loop ends.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "evaluator/actions.h"
#include "evaluator/interp.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zub::natives {
namespace {

using stack::g_top;

Cell g_body = cell::unset();  // the word <body>, naming loop frames

using native_args::Args;

// ---- conditionals ------------------------------------------------------------------------------

}  // namespace

Status if_entry(const int32_t* refinements) {
    const Args<Native::if_> args(refinements);
    if (!cell::truthy(args[0])) return args.done(cell::none());
    return interp::eval(args[1], false);
}

Status unless_entry(const int32_t* refinements) {
    const Args<Native::unless> args(refinements);
    if (cell::truthy(args[0])) return args.done(cell::none());
    return interp::eval(args[1], false);
}

Status either_entry(const int32_t* refinements) {
    const Args<Native::either> args(refinements);
    return interp::eval(cell::truthy_checked(args[0]) ? args[1] : args[2], false);
}

// any and all: one expression at a time, each result pushed above the arguments.
Status any_entry(const int32_t* refinements) {
    const Args<Native::any> args(refinements);
    const Cell block = args[0];
    uint32_t index = cell::series_index(block);
    while (index < block::length(cell::series(TypeId::block, cell::series_node(block)))) {
        ZUB_PASS(interp::eval_next(block, index));
        const Cell value = g_top[-1];
        if (cell::truthy(value)) return args.done(value);
        g_top = args.cells() + 1;
    }
    return args.done(cell::none());
}

Status all_entry(const int32_t* refinements) {
    const Args<Native::all> args(refinements);
    const Cell block = args[0];
    uint32_t index = cell::series_index(block);
    Cell last = cell::none();
    while (index < block::length(cell::series(TypeId::block, cell::series_node(block)))) {
        ZUB_PASS(interp::eval_next(block, index));
        last = g_top[-1];
        if (!cell::truthy(last)) return args.done(cell::none());
        g_top = args.cells() + 1;
    }
    return args.done(last);
}

namespace {

// The first block at or after a position, or none.
bool block_after(NodeId cases, uint32_t from, Cell& found) {
    for (uint32_t i = from; i < series::length(cases); ++i) {
        const Cell item = memory::buffer(cases)->cells()[i];
        if (cell::is(item, TypeId::block)) {
            found = item;
            return true;
        }
    }
    return false;
}

}  // namespace

Status switch_entry(const int32_t* refinements) {
    const Args<Native::switch_> args(refinements);
    const Cell value = args[0];
    const Cell cases = args[1];
    const NodeId node = cell::series_node(cases);
    if (!cell::is(value, TypeId::block)) {
        for (uint32_t i = cell::series_index(cases); i < series::length(node); ++i) {
            const Cell item = memory::buffer(node)->cells()[i];
            if (cell::type(item) != cell::type(value) || !actions::compare(item, value, op_equal)) continue;
            Cell body;
            if (!block_after(node, i + 1, body)) break;
            return interp::eval(body, false);
        }
    }
    if (const Cell* fallback = args.arg<"default">()) return interp::eval(*fallback, false);
    return args.done(cell::none());
}

Status case_entry(const int32_t* refinements) {
    const Args<Native::case_> args(refinements);
    const Cell cases = args[0];
    const bool all = args.has<"all">();
    const Cell case_word = words::global(symbol::make("case"));
    uint32_t index = cell::series_index(cases);
    bool taken = false;
    Cell last = cell::none();
    const auto length = [&] { return series::length(cell::series_node(cases)); };
    while (index < length()) {
        if (all) taken = false;
        ZUB_PASS(interp::eval_next(cases, index));
        if (index >= length()) error::fire(ErrorId::need_value, case_word);
        const bool truth = cell::truthy_checked(g_top[-1]);
        g_top = args.cells() + 1;
        if (!truth) {
            ++index;
            continue;
        }
        const Cell next = memory::buffer(cell::series_node(cases))->cells()[index];
        if (cell::is(next, TypeId::block)) {
            ++index;
            ZUB_PASS(interp::eval(next, true));
        } else {
            ZUB_PASS(interp::eval_next(cases, index));
        }
        last = g_top[-1];
        g_top = args.cells() + 1;
        taken = true;
        if (!all) break;
    }
    return args.done(taken ? last : cell::none());
}

namespace {

// ---- loops -------------------------------------------------------------------------------------

// The word a loop sets each round. A word of a global or function context is set straight into
// the slot found the first time, while no buffer has moved: a function's values stay in place
// while a loop runs in its call (calls from the body put them back as they found them). Any other
// word is set as set sets it, an object's handler told.
class LoopWord {
  public:
    explicit LoopWord(const Cell& word) : word_(word) {}

    // May collect (an object's handler runs).
    void store(const Cell& value) {
        if (slot_ && moves_ == memory::g_moves) [[likely]] {
            cell::copy(*slot_, value);
            return;
        }
        context::store(word_, value);
        keep();
    }

  private:
    void keep() {
        slot_ = nullptr;
        if (word_.w3 == context::kUnresolved || word_.w1 == 0) return;
        const context::ValuesEntry& e = context::entry_of(word_.w1);
        if (!e.values || e.object) return;
        slot_ = e.values + word_.w3;
        moves_ = memory::g_moves;
    }

    Cell word_;             // the loop word
    Cell* slot_ = nullptr;  // its value's slot, or null to look it up
    uint32_t moves_ = 0;    // memory::g_moves when the slot was found
};

// One evaluation of a loop body: the result pushed; break ends the loop with its value,
// continue goes on; other exits pass on.
enum class Round { go_on, broke };

// Evaluates the body above the loop frame. `value` receives the body's value (or the break's).
Status round(interp::Body& body, Cell* base, Cell& value, Round& outcome) {
    g_top = base;
    const Status st = body.run();
    outcome = Round::go_on;
    switch (st) {
        case Status::normal: cell::copy(value, g_top[-1]); break;
        case Status::continue_: break;
        case Status::break_:
            value = exits::value();
            outcome = Round::broke;
            break;
        default: return st;
    }
    g_top = base;
    return Status::normal;
}

// Rounds of the body under a loop frame while `next` (which sets up each round) says so; `value`
// gets the last body value, or the break's.
template <typename Next>
Status rounds(const Cell& block, Cell& value, Next next) {
    stack::Call loop(stack::FrameType::loop, g_body);
    Cell* const base = stack::args();
    interp::Body body(block);
    while (next()) {
        Round outcome;
        ZUB_PASS(round(body, base, value, outcome));
        if (outcome == Round::broke) break;
    }
    return Status::normal;
}

// A count of loop and repeat: a float counts its whole part.
int32_t count_of(Cell& count) {
    const int32_t n = cell::to_int32_checked(count);
    count = cell::integer(n);
    return n;
}

}  // namespace

Status while_entry(const int32_t* refinements) {
    const Args<Native::while_> args(refinements);
    const Cell cond = args[0], body = args[1];
    {
        stack::Call loop(stack::FrameType::loop, g_body);
        Cell* const base = stack::args();
        interp::Body test(cond), code(body);
        for (;;) {
            // The common condition, a comparison of integers, is read in place.
            Cell truth;
            if (!interp::plain_value(cond, truth)) {
                g_top = base;
                const Status st = test.run();
                if (st == Status::break_ || st == Status::continue_) error::fire(ErrorId::while_cond);
                ZUB_PASS(st);
                cell::copy(truth, g_top[-1]);
            }
            if (!cell::truthy_checked(truth)) break;
            Cell value;
            Round outcome;
            ZUB_PASS(round(code, base, value, outcome));
            if (outcome == Round::broke) break;
        }
    }
    return args.done(cell::unset());
}

Status until_entry(const int32_t* refinements) {
    const Args<Native::until> args(refinements);
    Cell value = cell::unset();
    {
        stack::Call loop(stack::FrameType::loop, g_body);
        Cell* const base = stack::args();
        interp::Body body(args[0]);
        for (;;) {
            g_top = base;
            const Status st = body.run();
            if (st == Status::break_) {
                value = exits::value();
                break;
            }
            if (st == Status::continue_) continue;
            ZUB_PASS(st);
            value = g_top[-1];
            if (cell::truthy_checked(value)) break;
        }
    }
    return args.done(value);
}

Status loop_entry(const int32_t* refinements) {
    const Args<Native::loop> args(refinements);
    const int32_t n = count_of(args[0]);
    const Cell body = args[1];
    if (n <= 0) return args.done(cell::none());
    Cell value = cell::unset();
    int32_t i = 0;
    ZUB_PASS(rounds(body, value, [&] { return i++ < n; }));
    return args.done(value);
}

Status repeat_entry(const int32_t* refinements) {
    const Args<Native::repeat> args(refinements);
    const Cell word = args[0];
    const int32_t n = count_of(args[1]);
    const Cell body = args[2];
    if (n <= 0) return args.done(cell::none());
    Cell value = cell::unset();
    int32_t i = 0;
    LoopWord loop_word(word);
    ZUB_PASS(rounds(body, value, [&] {
        if (++i > n) return false;
        loop_word.store(cell::integer(i));
        return true;
    }));
    return args.done(value);
}

Status forever_entry(const int32_t* refinements) {
    const Args<Native::forever> args(refinements);
    const Cell body = args[0];
    Cell value = cell::unset();
    ZUB_PASS(rounds(body, value, [] { return true; }));
    return args.done(value);
}

namespace {

// Whether a series value has an element at its index.
bool more(const Cell& series) { return cell::series_index(series) < series_value::buffer_length(series); }

// The element i places after the position, as pick gives it: none past the tail.
Cell element(const Cell& series, uint32_t i) {
    const uint32_t at = cell::series_index(series) + i;
    return at < series_value::buffer_length(series) ? series_value::element_at(series, at) : cell::none();
}

// The value at the position, for one loop word; false at the tail.
bool first_value(const Cell& series, Cell& value) {
    // Over a block, the common loop, the element is the cell, read in place.
    SeriesBuffer* const b = memory::buffer(cell::series_node(series));
    if (b->unit() == sizeof(Cell)) {
        const uint32_t at = cell::series_index(series);
        if (at >= b->used() / sizeof(Cell)) return false;
        cell::copy(value, b->cells()[at]);
        return true;
    }
    if (!more(series)) return false;
    value = element(series, 0);
    return true;
}

// Sets the loop words to the next values; false at the tail.
bool set_words(const Cell& words, const Cell& series, uint32_t count) {
    if (cell::is(words, TypeId::word)) {
        Cell value;
        if (!first_value(series, value)) return false;
        context::store(words, value);
        return true;
    }
    if (!more(series)) return false;
    const NodeId list = cell::series_node(words);
    for (uint32_t i = 0; i < count; ++i) {
        const Cell item = memory::buffer(list)->cells()[cell::series_index(words) + i];
        if (!type_group::in(type_group::all_word, cell::type(item)) || cell::is(item, TypeId::refinement) ||
            cell::is(item, TypeId::issue))
            error::fire(ErrorId::invalid_arg, item);
        context::store(item, element(series, i));
    }
    return true;
}

// The number of words a foreach or remove-each sets per round.
uint32_t word_count(const Cell& words, const Cell& series) {
    if (cell::is(words, TypeId::word)) {
        if (cell::is(series, TypeId::map)) error::fire(ErrorId::invalid_arg, words);
        return 1;
    }
    const uint32_t n = block::length(words);
    if (n == 0) error::fire(ErrorId::invalid_arg, words);
    return n;
}

// foreach over a map: two words, given the key and the value of each live entry in turn.
Status foreach_map(const Args<Native::foreach>& args) {
    const Cell words = args[0];
    if (word_count(words, args[1]) != 2) error::fire(ErrorId::invalid_arg, words);
    const Cell key_word = block::abs_at(words, block::head_index(words));
    const Cell value_word = block::abs_at(words, block::head_index(words) + 1);
    for (const Cell& item : {key_word, value_word})
        if (!type_group::in(type_group::all_word, cell::type(item)) || cell::is(item, TypeId::refinement) ||
            cell::is(item, TypeId::issue))
            error::fire(ErrorId::invalid_arg, item);
    // The cursor lives on the stack, a copy of the map whose head index walks its entry block.
    Cell* const cursor = stack::push(args[1]);
    cell::set_series_index(*cursor, 0);
    const Cell body = args[2];
    Cell value = cell::unset();
    ZUB_PASS(rounds(body, value, [&] {
        Cell key, item;
        if (!map::next_entry(*cursor, key, item)) return false;
        context::store(key_word, map::given_key(key));  // the map holds both: nothing to root
        context::store(value_word, item);
        return true;
    }));
    return args.done(value);
}

}  // namespace

Status foreach_entry(const int32_t* refinements) {
    const Args<Native::foreach> args(refinements);
    const Cell words = args[0];
    if (cell::is(args[1], TypeId::map)) return foreach_map(args);
    const uint32_t count = word_count(words, args[1]);
    // The position lives on the stack, advanced in place.
    Cell* const position = stack::push(args[1]);
    const Cell body = args[2];
    Cell value = cell::unset();
    if (cell::is(words, TypeId::word)) {
        LoopWord loop_word(words);
        ZUB_PASS(rounds(body, value, [&] {
            Cell item;
            if (!first_value(*position, item)) return false;
            loop_word.store(item);
            cell::set_series_index(*position, cell::series_index(*position) + 1);
            return true;
        }));
        return args.done(value);
    }
    ZUB_PASS(rounds(body, value, [&] {
        if (!set_words(words, *position, count)) return false;
        cell::set_series_index(*position, cell::series_index(*position) + count);
        return true;
    }));
    return args.done(value);
}

Status forall_entry(const int32_t* refinements) {
    const Args<Native::forall> args(refinements);
    const Cell word = args[0];
    const Cell start = *context::get(word);
    if (!type_group::in(type_group::series, cell::type(start)))
        error::fire(ErrorId::expect_arg, stack::call_word(), cell::datatype_of(start),
                    words::global(symbol::make("word")));
    stack::push(start);
    Cell value = cell::unset();
    bool broke = false;
    {
        stack::Call loop(stack::FrameType::loop, g_body);
        Cell* const base = stack::args();
        interp::Body body(args[1]);
        while (more(*context::get(word))) {
            Round outcome;
            ZUB_PASS(round(body, base, value, outcome));
            if (outcome == Round::broke) {
                broke = true;
                break;
            }
            Cell now = *context::get(word);
            if (cell::type(now) != cell::type(start) || cell::series_node(now) != cell::series_node(start))
                error::fire(ErrorId::bad_loop_series, now);
            cell::set_series_index(now, cell::series_index(now) + 1);
            context::store(word, now);
            if (!more(now)) break;
        }
    }
    if (!broke) context::store(word, start);
    return args.done(value);
}

Status remove_each_entry(const int32_t* refinements) {
    const Args<Native::remove_each> args(refinements);
    const Cell words = args[0];
    const uint32_t count = word_count(words, args[1]);
    Cell* const position = stack::push(args[1]);
    {
        stack::Call loop(stack::FrameType::loop, g_body);
        Cell* const base = stack::args();
        interp::Body body(args[2]);
        while (set_words(words, *position, count)) {
            cell::set_series_index(*position, cell::series_index(*position) + count);
            g_top = base;
            const Status st = body.run();
            if (st == Status::break_) break;
            if (st == Status::continue_) continue;
            ZUB_PASS(st);
            if (!cell::truthy(g_top[-1])) continue;
            // Remove the values just visited; the position becomes what remove leaves.
            Cell at = *position;
            cell::set_series_index(at, cell::series_index(at) - count);
            const Cell part = cell::integer(static_cast<int32_t>(count));
            const Cell left = registry::actions(cell::type(at)).remove(at, count == 1 ? nullptr : &part, nullptr);
            cell::set_series_index(*position, cell::series_index(left));
            if (count == 1 && cell::series_index(*position) == cell::series_index(at) + 1)
                cell::set_series_index(*position, cell::series_index(at));
        }
    }
    return args.done(args[1]);
}

namespace groups {

void control() { g_body = words::global(words::id(words::Word::body_tag)); }

}  // namespace groups
}  // namespace zub::natives
