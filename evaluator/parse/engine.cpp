// The parse engine: one loop over an explicit stack of rule frames. A block frame walks a rule
// block element by element; a code frame (a repetition, to, thru, copy, set, not, ahead, into,
// case) waits for the one element after its keyword and decides, when that element ends, whether
// to run it again or to hand its own result down. Nothing recurses in C++ but the parens, which
// run as code.
//
// Parens may change the input (and the rules) while frames hold positions in them, so every
// position is checked against the tail as it stands before anything is read there.
#include <algorithm>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/series_value.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/interp.h"
#include "evaluator/parse/parse.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"

namespace zub::parse {
namespace {

using words::Word;

enum class Kind : uint8_t { block, repeat, to, thru, copy, set, not_, ahead, into, case_ };

// Cells a frame counts against the stack limit: a block frame is the block and its marker; a
// code frame adds its counter or target word.
constexpr uint32_t cells_of(Kind kind) { return kind == Kind::block ? 2 : 3; }

struct Frame {
    Kind kind;
    bool repeat_while;  // repeat: a `while` loop, which goes on without advancing
    bool saved_case;    // case: the flag to restore
    Cell rule;          // block: the rule block at its head; copy, set: the target word; else none
    uint32_t index;     // block: the next element's index in the rules; code: its element's index
    uint32_t start;     // input position when pushed
    uint32_t round;     // repeat: position at the round's start; to, thru: the position tried
    uint32_t length;    // repeat: input length at the round's start
    int32_t min, max;   // repeat: the counts (max -1 for none)
    int32_t count;      // repeat: rounds matched
    uint32_t outer;     // block: the frame index of the enclosing block frame
    NodeId input;       // block: the input series when entered (for the recursion guard)
};

// An entered input: the series with its head at the position to resume at, and its limit.
struct Input {
    Cell series;
    uint32_t limit;
};

std::vector<Frame> g_frames;  // the rule stack, every parse running at once
std::vector<Input> g_inputs;  // the input stack
uint32_t g_rule_cells = 0;    // cells the rule stack counts

// Keyword of each canonical symbol id (Keyword::none_ for other words).
enum class Keyword : uint8_t {
    none_,
    bar,
    skip,
    any,
    some,
    opt,
    while_,
    to,
    thru,
    end,
    break_,
    reject,
    fail,
    not_,
    ahead,
    copy,
    set,
    into,
    if_,
    case_,
    quote,
    none,
    collect,
    keep,
    remove,
    insert,
    change,
};
std::vector<Keyword> g_keywords;

void keep_roots() {
    for (const Frame& f : g_frames) collector::keep_root(f.rule);
    for (const Input& i : g_inputs) collector::keep_root(i.series);
}

Keyword keyword_of(const Cell& word) {
    if (!cell::is(word, TypeId::word)) return Keyword::none_;
    const symbol::Id id = symbol::resolve(word::symbol_of(word));
    return id < g_keywords.size() ? g_keywords[id] : Keyword::none_;
}

// The value of a rule word: no-value when unset. Never allocates but to raise.
Cell value_of(const Cell& word) {
    const Cell value = *context::get(word);
    if (cell::is(value, TypeId::unset)) error::fire(ErrorId::no_value, word);
    return value;
}

inline Cell* rule_cells(NodeId node) { return memory::buffer(node)->cells(); }

// A repetition count: an integer, or a word whose value is one.
bool count_at(NodeId rules, uint32_t i, int32_t& n) {
    if (i >= series::length(rules)) return false;
    Cell v = rule_cells(rules)[i];
    if (cell::is(v, TypeId::word) && keyword_of(v) == Keyword::none_) {
        // An unset word is no count; fetched as an element, it raises its error there.
        const Cell* slot = context::slot_of(v);
        if (!slot) return false;
        v = *slot;
    }
    if (!cell::is(v, TypeId::integer)) return false;
    n = cell::as_integer(v);
    return true;
}

// The index just past the element at i: its keyword chain and the value or block it ends with.
uint32_t element_end(NodeId rules, uint32_t i) {
    for (;;) {
        const uint32_t length = series::length(rules);
        if (i >= length) return length;
        const Cell v = rule_cells(rules)[i];
        int32_t n;
        if (count_at(rules, i, n)) {
            ++i;
            if (count_at(rules, i, n)) ++i;
            continue;
        }
        ++i;
        switch (keyword_of(v)) {
            case Keyword::any:
            case Keyword::some:
            case Keyword::opt:
            case Keyword::while_:
            case Keyword::not_:
            case Keyword::ahead:
            case Keyword::to:
            case Keyword::thru: continue;
            case Keyword::copy:
            case Keyword::set:
            case Keyword::case_: ++i; continue;
            case Keyword::into:
            case Keyword::quote:
            case Keyword::if_: return std::min(i + 1, length);
            default: return i;
        }
    }
}

// The engine's registers and steps for one call of parse.
class Engine {
  public:
    Engine(bool case_sensitive) : case_(case_sensitive), frame_base_(g_frames.size()), input_base_(g_inputs.size()) {}
    ~Engine() {
        // Whichever way the call ends, its frames and inputs go.
        while (g_frames.size() > frame_base_) {
            g_rule_cells -= cells_of(g_frames.back().kind);
            g_frames.pop_back();
        }
        g_inputs.resize(input_base_);
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    Status run(Cell series, Cell rules, uint32_t limit, Cell& result);

  private:
    bool case_;
    size_t frame_base_;
    size_t input_base_;
    uint32_t block_ = 0;  // the innermost block frame
    uint32_t pos_ = 0;    // the input position
    NodeId in_node_ = 0;
    bool in_block_ = false;  // block input (else text)

    Input& input() { return g_inputs.back(); }
    uint32_t tail() { return std::min(series::length(in_node_), input().limit); }
    // After code has run, a position past the tail is brought back to it.
    void clamp() { pos_ = std::min(pos_, series::length(in_node_)); }
    void set_input(const Input& entered) {
        in_node_ = cell::series_node(entered.series);
        in_block_ = type_group::in(type_group::block_like, cell::type(entered.series));
    }
    Cell input_at(uint32_t position) {
        Cell c = input().series;
        cell::set_series_index(c, position);
        return c;
    }

    void reserve(uint32_t cells) {
        if (g_rule_cells + cells > kStackCells) error::fire(ErrorId::parse_stack);
        g_rule_cells += cells;
    }
    Frame& push(Kind kind, uint32_t element) {
        reserve(cells_of(kind));
        Frame f{};
        f.kind = kind;
        f.rule = cell::none();
        f.index = element;
        f.start = pos_;
        f.round = pos_;
        g_frames.push_back(f);
        return g_frames.back();
    }
    void pop() {
        g_rule_cells -= cells_of(g_frames.back().kind);
        g_frames.pop_back();
    }
    void enter_block(const Cell& rules);
    void leave_block() {
        block_ = g_frames.back().outer;
        pop();
    }
    Status eval_paren(const Cell& paren, Cell* value);
    bool match_value(const Cell& rule, bool literal = false);
    bool match_text(const Cell& rule);
    void set_word(const Cell& word, Cell value);
    bool unwind_to_loop();
    bool simple_alternatives(Cell rule, Cell* out, uint32_t& count);
    bool search(const Cell* alternatives, uint32_t count, bool thru);
    Status fetch(bool& matched, bool& delivered);
    bool deliver(bool& matched);
};

void Engine::enter_block(const Cell& rules) {
    const NodeId node = cell::series_node(rules);
    const uint32_t head = cell::series_index(rules);
    // The same block entered again at the same place in the same input can only loop for ever.
    if (g_frames.size() > frame_base_) {
        for (uint32_t i = block_;;) {
            const Frame& f = g_frames[i];
            if (cell::series_node(f.rule) == node && cell::series_index(f.rule) == head && f.start == pos_ &&
                f.input == in_node_)
                error::fire(ErrorId::parse_infinite, rules);
            if (i == frame_base_) break;
            i = f.outer;
        }
    }
    const uint32_t outer = block_;
    Frame& f = push(Kind::block, head);
    f.rule = cell::series(TypeId::block, node, head);
    f.outer = outer;
    f.input = in_node_;
    block_ = static_cast<uint32_t>(g_frames.size() - 1);
}

Status Engine::eval_paren(const Cell& paren, Cell* value) {
    stack::Rooted code(paren);
    const Status st = interp::eval(code.cell(), true);
    if (st == Status::normal && value) *value = stack::top_cell();
    clamp();
    return st;
}

void Engine::set_word(const Cell& word, Cell value) {
    stack::Rooted kept(value);
    context::store(word, kept.cell());
}

// Matches a text rule at the position: the rule's own text for chars and texts, else its formed
// text. Case-folded unless the case flag is on.
bool Engine::match_text(const Cell& rule) {
    const uint32_t end = tail();
    if (pos_ > end) return false;
    const TypeId t = cell::type(rule);
    int32_t n;
    if (t == TypeId::char_ || string::is_text(t)) {
        if (t == TypeId::char_ && pos_ >= end) return false;
        n = string::match_at_head(input_at(pos_), rule, case_);
    } else {
        stack::Rooted text(string::make(16));
        string::append_formed(cell::series_node(text.cell()), rule);
        n = string::match_at_head(input_at(pos_), text.cell(), case_);
    }
    if (n < 0 || pos_ + static_cast<uint32_t>(n) > end) return false;
    pos_ += static_cast<uint32_t>(n);
    return true;
}

// Matches one rule value at the position and moves past what it matched. A literal (after quote)
// is compared as it is: no datatype, typeset or lit-word reading.
bool Engine::match_value(const Cell& rule, bool literal) {
    const TypeId t = cell::type(rule);
    if (!in_block_ && !literal && t == TypeId::bitset) {
        // One character whose code point is in the set.
        if (pos_ >= tail() || !string::head_in_bitset(input_at(pos_), rule)) return false;
        ++pos_;
        return true;
    }
    if (!in_block_) {
        if (!literal && (t == TypeId::datatype || t == TypeId::typeset)) error::fire(ErrorId::parse_unsupported);
        return match_text(rule);
    }
    if (pos_ >= tail()) return false;
    const Cell item = rule_cells(in_node_)[pos_];
    bool matched;
    if (literal) matched = actions::compare_direct(item, rule, case_ ? op_strict_equal : op_find) == 0;
    else if (t == TypeId::datatype) matched = cell::type(item) == cell::datatype_type(rule);
    else if (t == TypeId::typeset) matched = typeset::contains(rule, cell::type(item));
    else if (t == TypeId::lit_word) {
        // A lit-word stands for the word itself: it matches a word! of the same name.
        const symbol::Id a = word::symbol_of(item), b = word::symbol_of(rule);
        matched = cell::is(item, TypeId::word) && (case_ ? a == b : symbol::resolve(a) == symbol::resolve(b));
    } else matched = actions::compare_direct(item, rule, case_ ? op_strict_equal : op_find) == 0;
    if (matched) ++pos_;
    return matched;
}

// Whether the rule after to or thru is one plain value, or a block of plain values separated by
// bars (words read for their values): then the search runs as a loop over positions, without a
// frame per position.
bool Engine::simple_alternatives(Cell rule, Cell* out, uint32_t& count) {
    constexpr uint32_t kMost = 8;
    auto plain = [&](Cell v, Cell& into) {
        if (cell::is(v, TypeId::word)) {
            if (keyword_of(v) != Keyword::none_) return false;
            const Cell* slot = context::slot_of(v);
            if (!slot) return false;
            v = *slot;
        }
        const TypeId t = cell::type(v);
        const bool text = t == TypeId::char_ || string::is_text(t);
        if (!(in_block_ ? text || t == TypeId::datatype || t == TypeId::typeset || t == TypeId::lit_word ||
                              t == TypeId::float_ || t == TypeId::logic || t == TypeId::none
                        : text))
            return false;
        into = v;
        return true;
    };
    count = 0;
    if (!cell::is(rule, TypeId::block)) return plain(rule, out[count++]);
    const NodeId node = cell::series_node(rule);
    const uint32_t length = series::length(node);
    for (uint32_t i = cell::series_index(rule); i < length; i += 2) {
        if (count == kMost || !plain(rule_cells(node)[i], out[count++])) return false;
        if (i + 1 < length && keyword_of(rule_cells(node)[i + 1]) != Keyword::bar) return false;
        if (i + 1 == length - 1) return false;  // a bar that ends the block is an error, raised the slow way
    }
    return count > 0;
}

// to and thru over plain values: the first position where one of them matches. Plain values are
// matched without forming anything, so this never allocates.
bool Engine::search(const Cell* alternatives, uint32_t count, bool thru) {
    const uint32_t from = pos_;
    for (uint32_t at = from; at <= tail(); ++at) {
        for (uint32_t k = 0; k < count; ++k) {
            pos_ = at;
            if (match_value(alternatives[k])) {
                if (!thru) pos_ = at;
                return true;
            }
        }
    }
    pos_ = from;
    return false;
}

// break and reject: drops the frames above the innermost loop of this call (a block frame when
// there is none) and answers whether one was found.
bool Engine::unwind_to_loop() {
    size_t i = g_frames.size();
    while (i > frame_base_ + 1 && g_frames[i - 1].kind != Kind::repeat) --i;
    if (i <= frame_base_ + 1) i = block_ + 1;  // no loop: leave the innermost block
    while (g_frames.size() > i) {
        Frame& f = g_frames.back();
        if (f.kind == Kind::block) {
            leave_block();
            continue;
        }
        if (f.kind == Kind::into) {
            g_inputs.pop_back();
            set_input(input());
            pos_ = f.start;
        } else if (f.kind == Kind::case_) case_ = f.saved_case;
        pop();
    }
    return g_frames.back().kind == Kind::repeat;
}

// Fetches and runs the next element of the innermost block. Sets `delivered` when the element
// ended at once with `matched`; else it pushed frames and the loop fetches again.
Status Engine::fetch(bool& matched, bool& delivered) {
    delivered = true;
    Frame& b = g_frames[block_];
    const NodeId rules = cell::series_node(b.rule);
    const bool waiting = g_frames.size() - 1 != block_;  // a code frame waits for this element
    const uint32_t length = series::length(rules);
    if (b.index >= length) {
        // The rules changed under a keyword that waits for its element.
        if (waiting) error::fire(ErrorId::parse_end, cell::none());
        leave_block();
        matched = true;
        return Status::normal;
    }
    const uint32_t at = b.index++;
    Cell v = rule_cells(rules)[at];
    const Keyword kw = keyword_of(v);
    if (kw != Keyword::none_) {
        // The keyword's following element, which must be there.
        auto need = [&](uint32_t i) {
            if (i >= series::length(rules)) error::fire(ErrorId::parse_end, v);
        };
        switch (kw) {
            case Keyword::bar:
                if (waiting) error::fire(ErrorId::parse_rule, v);
                need(at + 1);
                // Everything before the bar matched: the block has matched.
                leave_block();
                matched = true;
                return Status::normal;
            case Keyword::skip:
                matched = pos_ < tail();
                if (matched) ++pos_;
                return Status::normal;
            case Keyword::end: matched = pos_ >= tail(); return Status::normal;
            case Keyword::none: matched = true; return Status::normal;
            case Keyword::fail: matched = false; return Status::normal;
            case Keyword::any:
            case Keyword::some:
            case Keyword::opt:
            case Keyword::while_: {
                need(at + 1);
                Frame& f = push(Kind::repeat, at + 1);
                f.min = kw == Keyword::some ? 1 : 0;
                f.max = kw == Keyword::opt ? 1 : -1;
                f.repeat_while = kw == Keyword::while_;
                f.length = series::length(in_node_);
                delivered = false;
                return Status::normal;
            }
            case Keyword::to:
            case Keyword::thru: {
                need(at + 1);
                if (keyword_of(rule_cells(rules)[at + 1]) == Keyword::end) {
                    g_frames[block_].index = at + 2;
                    pos_ = std::max(pos_, tail());
                    matched = true;
                    return Status::normal;
                }
                Cell plain[8];
                uint32_t count;
                if (simple_alternatives(rule_cells(rules)[at + 1], plain, count)) {
                    g_frames[block_].index = at + 2;
                    matched = search(plain, count, kw == Keyword::thru);
                    return Status::normal;
                }
                push(kw == Keyword::to ? Kind::to : Kind::thru, at + 1);
                delivered = false;
                return Status::normal;
            }
            case Keyword::not_:
            case Keyword::ahead:
                need(at + 1);
                push(kw == Keyword::not_ ? Kind::not_ : Kind::ahead, at + 1);
                delivered = false;
                return Status::normal;
            case Keyword::copy:
            case Keyword::set: {
                need(at + 1);
                const Cell target = rule_cells(rules)[at + 1];
                if (!cell::is(target, TypeId::word)) error::fire(ErrorId::parse_end, v);
                need(at + 2);
                g_frames[block_].index = at + 2;
                Frame& f = push(kw == Keyword::copy ? Kind::copy : Kind::set, at + 2);
                f.rule = target;
                delivered = false;
                return Status::normal;
            }
            case Keyword::case_: {
                need(at + 1);
                const Cell flag = rule_cells(rules)[at + 1];
                if (!cell::is(flag, TypeId::word)) error::fire(ErrorId::parse_end, v);
                need(at + 2);
                const bool on = cell::truthy(value_of(flag));
                g_frames[block_].index = at + 2;
                Frame& f = push(Kind::case_, at + 2);
                f.saved_case = case_;
                case_ = on;
                delivered = false;
                return Status::normal;
            }
            case Keyword::quote: {
                need(at + 1);
                g_frames[block_].index = at + 2;
                matched = match_value(rule_cells(rules)[at + 1], true);
                return Status::normal;
            }
            case Keyword::if_: {
                need(at + 1);
                const Cell paren = rule_cells(rules)[at + 1];
                if (!cell::is(paren, TypeId::paren)) error::fire(ErrorId::parse_end, v);
                g_frames[block_].index = at + 2;
                Cell value;
                ZUB_PASS(eval_paren(paren, &value));
                matched = cell::truthy(value);
                return Status::normal;
            }
            case Keyword::into: {
                need(at + 1);
                Cell sub = rule_cells(rules)[at + 1];
                if (cell::is(sub, TypeId::word)) sub = value_of(sub);
                if (!cell::is(sub, TypeId::block)) error::fire(ErrorId::parse_end, v);
                if (!in_block_) error::fire(ErrorId::parse_block, input_at(pos_));
                g_frames[block_].index = at + 2;
                if (pos_ >= tail()) {
                    matched = false;
                    return Status::normal;
                }
                const Cell item = rule_cells(in_node_)[pos_];
                const TypeId t = cell::type(item);
                if (t == TypeId::binary) error::fire(ErrorId::not_done);  // binary! input plugs in here
                if (!type_group::in(type_group::block_like | type_group::text_like, t)) {
                    matched = false;
                    return Status::normal;
                }
                if (g_inputs.size() >= kStackCells) error::fire(ErrorId::parse_stack);
                push(Kind::into, at + 1);
                input().series = input_at(pos_);
                g_inputs.push_back(Input{item, UINT32_MAX});
                set_input(input());
                pos_ = std::min(cell::series_index(item), series::length(in_node_));
                enter_block(sub);
                delivered = false;
                return Status::normal;
            }
            case Keyword::break_:
            case Keyword::reject: {
                const bool loop = unwind_to_loop();
                Frame& f = g_frames.back();
                if (loop) {
                    // The loop ends here: counted as matched after break, failed after reject.
                    g_frames[block_].index = element_end(cell::series_node(g_frames[block_].rule), f.index);
                    if (kw == Keyword::reject) pos_ = f.start;
                    pop();
                    matched = kw == Keyword::break_;
                } else {
                    if (kw == Keyword::reject) pos_ = f.start;
                    leave_block();
                    matched = kw == Keyword::break_;
                }
                return Status::normal;
            }
            case Keyword::collect:
            case Keyword::keep:
            case Keyword::remove:
            case Keyword::insert:
            case Keyword::change:
            case Keyword::none_: error::fire(ErrorId::not_done);  // the modifying keywords plug in here
        }
    }

    switch (cell::type(v)) {
        case TypeId::word:
            v = value_of(v);
            if (word::is_all_word(cell::type(v))) error::fire(ErrorId::parse_rule, rule_cells(rules)[at]);
            if (cell::is(v, TypeId::block)) {
                enter_block(v);
                delivered = false;
                return Status::normal;
            }
            if (!cell::is(v, TypeId::integer)) {
                matched = match_value(v);
                return Status::normal;
            }
            [[fallthrough]];
        case TypeId::integer: {
            int32_t min = cell::as_integer(v), max = min;
            if (count_at(rules, at + 1, max)) ++g_frames[block_].index;
            const uint32_t element = g_frames[block_].index;
            if (element >= series::length(rules)) error::fire(ErrorId::parse_rule, rule_cells(rules)[at]);
            if (min < 0) error::fire(ErrorId::out_of_range, cell::integer(min));
            if (max < 0) error::fire(ErrorId::out_of_range, cell::integer(max));
            if (max < min) error::fire(ErrorId::parse_rule, cell::integer(max));
            if (max == 0) {
                g_frames[block_].index = element_end(rules, element);
                matched = true;
                return Status::normal;
            }
            Frame& f = push(Kind::repeat, element);
            f.min = min;
            f.max = max;
            f.length = series::length(in_node_);
            delivered = false;
            return Status::normal;
        }
        case TypeId::block:
            enter_block(v);
            delivered = false;
            return Status::normal;
        case TypeId::paren:
            ZUB_PASS(eval_paren(v, nullptr));
            matched = true;
            return Status::normal;
        case TypeId::set_word: set_word(v, input_at(std::min(pos_, series::length(in_node_)))); break;
        case TypeId::get_word: {
            const Cell target = value_of(v);
            if (!cell::is(target, cell::type(input().series)) || cell::series_node(target) != in_node_)
                error::fire(ErrorId::parse_invalid_ref, v);
            pos_ = std::min(cell::series_index(target), series::length(in_node_));
            break;
        }
        case TypeId::path:
        case TypeId::lit_path:
        case TypeId::set_path:
        case TypeId::get_path: error::fire(ErrorId::parse_rule, v);
        default: matched = match_value(v); return Status::normal;
    }
    matched = true;
    return Status::normal;
}

// Hands an element's result to the frame that waits for it. Returns true when the loop should
// fetch next, false when the outermost block has ended (matched then holds its result).
bool Engine::deliver(bool& matched) {
    for (;;) {
        if (g_frames.size() == frame_base_) return false;
        Frame& f = g_frames.back();
        switch (f.kind) {
            case Kind::block: {
                if (matched) return true;
                // Try the next alternative from the block's start; with none left the block fails.
                const NodeId rules = cell::series_node(f.rule);
                for (uint32_t i = f.index; i < series::length(rules); i = element_end(rules, i)) {
                    if (keyword_of(rule_cells(rules)[i]) == Keyword::bar) {
                        if (i + 1 >= series::length(rules)) error::fire(ErrorId::parse_end, rule_cells(rules)[i]);
                        f.index = i + 1;
                        pos_ = f.start;
                        return true;
                    }
                }
                pos_ = f.start;
                leave_block();
                continue;
            }
            case Kind::repeat: {
                if (matched) {
                    ++f.count;
                    const uint32_t length = series::length(in_node_);
                    const bool moved = pos_ != f.round || length > f.length;
                    // A round that moved nothing would match the same way again: once the
                    // minimum is reached, the loop ends (a while loop goes on: its rule may stop
                    // through code).
                    const bool done =
                        (f.max >= 0 && f.count >= f.max) || (!moved && !f.repeat_while && f.count >= f.min);
                    if (!done) {
                        f.round = pos_;
                        f.length = length;
                        g_frames[block_].index = f.index;
                        return true;
                    }
                } else pos_ = f.round;
                matched = f.count >= f.min;
                if (!matched) pos_ = f.start;
                pop();
                continue;
            }
            case Kind::to:
            case Kind::thru:
                if (matched) {
                    if (f.kind == Kind::to) pos_ = f.round;
                    pop();
                    continue;
                }
                if (f.round >= tail()) {
                    pos_ = f.start;
                    pop();
                    continue;
                }
                pos_ = ++f.round;
                g_frames[block_].index = f.index;
                return true;
            case Kind::copy:
            case Kind::set:
                if (matched) {
                    const uint32_t length = series::length(in_node_);
                    const uint32_t from = std::min(f.start, length), to = std::max(from, std::min(pos_, length));
                    const Cell word = f.rule;
                    Cell value = cell::none();
                    if (f.kind == Kind::copy)
                        value = cell::series(cell::type(input().series), series::copy_part(in_node_, from, to - from));
                    else if (to > from) value = series_value::element_at(input().series, from);
                    pop();
                    set_word(word, value);
                } else pop();
                continue;
            case Kind::not_:
                matched = !matched;
                pos_ = f.start;
                pop();
                continue;
            case Kind::ahead:
                pos_ = f.start;
                pop();
                continue;
            case Kind::into: {
                matched = matched && pos_ >= tail();
                g_inputs.pop_back();
                set_input(input());
                const uint32_t at = f.start;
                pos_ = matched ? at + 1 : at;
                clamp();
                pop();
                continue;
            }
            case Kind::case_:
                case_ = f.saved_case;
                pop();
                continue;
        }
    }
}

Status Engine::run(Cell series, Cell rules, uint32_t limit, Cell& result) {
    if (g_inputs.size() >= kStackCells) error::fire(ErrorId::parse_stack);
    g_inputs.push_back(Input{series, limit});
    set_input(input());
    pos_ = std::min(cell::series_index(series), series::length(in_node_));
    block_ = static_cast<uint32_t>(frame_base_);
    enter_block(rules);
    bool matched = true;
    for (;;) {
        bool delivered;
        ZUB_PASS(fetch(matched, delivered));
        if (delivered && !deliver(matched)) break;
    }
    result = cell::logic(matched && pos_ >= tail());
    return Status::normal;
}

}  // namespace

void init() {
    collector::add_root_walker(keep_roots);
    g_frames.clear();
    g_inputs.clear();
    g_rule_cells = 0;
    struct Named {
        Word word;
        Keyword keyword;
    };
    constexpr Named kNamed[] = {
        {Word::bar, Keyword::bar},         {Word::skip, Keyword::skip},     {Word::any, Keyword::any},
        {Word::some, Keyword::some},       {Word::opt, Keyword::opt},       {Word::while_, Keyword::while_},
        {Word::to, Keyword::to},           {Word::thru, Keyword::thru},     {Word::end, Keyword::end},
        {Word::break_, Keyword::break_},   {Word::reject, Keyword::reject}, {Word::fail, Keyword::fail},
        {Word::not_, Keyword::not_},       {Word::ahead, Keyword::ahead},   {Word::copy, Keyword::copy},
        {Word::set, Keyword::set},         {Word::into, Keyword::into},     {Word::if_, Keyword::if_},
        {Word::case_, Keyword::case_},     {Word::quote, Keyword::quote},   {Word::none, Keyword::none},
        {Word::collect, Keyword::collect}, {Word::keep, Keyword::keep},     {Word::remove, Keyword::remove},
        {Word::insert, Keyword::insert},   {Word::change, Keyword::change},
    };
    g_keywords.clear();
    for (const Named& n : kNamed) {
        const symbol::Id id = symbol::resolve(words::id(n.word));
        if (id >= g_keywords.size()) g_keywords.resize(id + 1, Keyword::none_);
        g_keywords[id] = n.keyword;
    }
}

Status process(Cell input, Cell rules, bool case_sensitive, uint32_t limit, Cell& result) {
    Engine engine(case_sensitive);
    return engine.run(input, rules, limit, result);
}

}  // namespace zub::parse
