// The parse engine: one loop over an explicit stack of rule frames. A block frame walks a rule
// block element by element; a code frame (a repetition, to, thru, copy, set, not, ahead, into,
// case, collect, keep, remove, change) waits for the one element after its keyword and decides,
// when that element ends, whether to run it again or to hand its own result down. Nothing recurses
// in C++ but the parens and the trace callback, which run as code.
//
// Parens may change the input (and the rules) while frames hold positions in them, so every
// position is checked against the tail as it stands before anything is read there. The engine's
// own changes (remove, insert, change) move the positions its frames hold on that input instead.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/series_value.h"
#include "datatypes/string.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/parse/parse.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zub::parse {
namespace {

using words::Word;

enum class Kind : uint8_t {
    block,
    repeat,
    to,
    thru,
    copy,
    set,
    not_,
    ahead,
    into,
    case_,
    collect,
    keep,
    remove,
    change
};

// Cells a frame counts against the stack limit: a block frame is the block and its marker; a
// code frame adds its counter or target word.
constexpr uint32_t cells_of(Kind kind) { return kind == Kind::block ? 2 : 3; }

struct Frame {
    Kind kind;
    bool repeat_while;  // repeat: a `while` loop, which goes on without advancing
    bool saved_case;    // case: the flag to restore
    bool only;          // keep: `pick` (a run kept value by value); change: `only`
    Cell rule;          // block: the rule block at its head; copy, set: the target word; else none
    uint32_t index;     // block: the next element's index in the rules; code: its element's index
    uint32_t start;     // input position when pushed
    uint32_t round;     // repeat: position at the round's start; to, thru: the position tried
    uint32_t length;    // repeat: input length at the round's start; block: at entry
    int32_t min, max;   // repeat: the counts (max -1 for none)
    int32_t count;      // repeat: rounds matched; change: the index of the new value in the rules
    uint32_t outer;     // block: the frame index of the enclosing block frame
    NodeId input;       // the input series when pushed
};

// Where a collect puts what keep gives it: a new block (returned, added to the enclosing collect,
// or set to a word), or an existing series at a position that moves past each kept value.
enum class Target : uint8_t { block, set, into, after };
struct Collect {
    Cell series;  // the block or target series (at its head)
    Cell word;    // set, after: the word to set at the end
    uint32_t at;  // where the next kept value goes
    Target target;
};

// An entered input: the series with its head at the position to resume at, and its limit.
struct Input {
    Cell series;
    uint32_t limit;
};

// The rule stack, every parse running at once. Every frame counts two cells or more, so it never
// holds more than kStackCells / 2 frames: its room is taken once, a frame never moves (it stays
// where it is while parens and the trace callback run), and a push is a store.
class FrameStack {
  public:
    void init() {
        if (!frames_) frames_ = std::make_unique<Frame[]>(kMost);
        count_ = 0;
    }
    size_t size() const { return count_; }
    Frame& operator[](size_t i) { return frames_[i]; }
    Frame& back() { return frames_[count_ - 1]; }
    void push_back(const Frame& f) { frames_[count_++] = f; }
    void pop_back() { --count_; }
    const Frame* begin() const { return frames_.get(); }
    const Frame* end() const { return frames_.get() + count_; }

  private:
    static constexpr size_t kMost = kStackCells / 2 + 1;
    std::unique_ptr<Frame[]> frames_;
    size_t count_ = 0;
};
FrameStack g_frames;
std::vector<Input> g_inputs;      // the input stack
std::vector<Collect> g_collects;  // open collects, innermost last
std::vector<Cell> g_held;         // per call: the collected result and the trace's stack block
uint32_t g_rule_cells = 0;        // cells the rule stack counts

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
    for (const Collect& c : g_collects) {
        collector::keep_root(c.series);
        collector::keep_root(c.word);
    }
    for (const Cell& c : g_held) collector::keep_root(c);
}

Keyword keyword_of(const Cell& word) {
    if (!cell::is(word, TypeId::word)) return Keyword::none_;
    const symbol::Id id = symbol::resolve(word::symbol_of(word));
    return id < g_keywords.size() ? g_keywords[id] : Keyword::none_;
}

// The words that qualify a keyword after it (keep pick, insert only, change only, collect after):
// words of their own elsewhere.
symbol::Id g_pick, g_only, g_after;
bool is_word(const Cell& v, symbol::Id canonical) {
    return cell::is(v, TypeId::word) && symbol::resolve(word::symbol_of(v)) == canonical;
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
            case Keyword::remove: continue;
            case Keyword::copy:
            case Keyword::set:
            case Keyword::case_: ++i; continue;
            case Keyword::keep:
                if (i < length && is_word(rule_cells(rules)[i], g_pick)) ++i;
                continue;
            case Keyword::collect:
                if (i < length &&
                    (keyword_of(rule_cells(rules)[i]) == Keyword::set ||
                     keyword_of(rule_cells(rules)[i]) == Keyword::into || is_word(rule_cells(rules)[i], g_after)))
                    i += 2;
                continue;
            case Keyword::change:
                if (i < length && is_word(rule_cells(rules)[i], g_only)) ++i;
                return std::min(element_end(rules, i) + 1, length);
            case Keyword::insert:
                if (i < length && is_word(rule_cells(rules)[i], g_only)) ++i;
                [[fallthrough]];
            case Keyword::into:
            case Keyword::quote:
            case Keyword::if_: return std::min(i + 1, length);
            default: return i;
        }
    }
}

// The engine's registers and steps for one call of parse. Traced, it tells the callback of every
// step; the untraced engine is a build of its own, which carries no test for it.
template <bool kTraced>
class Engine {
  public:
    Engine(bool case_sensitive, const Cell* callback)
        : case_(case_sensitive),
          callback_(callback),
          frame_base_(g_frames.size()),
          input_base_(g_inputs.size()),
          collect_base_(g_collects.size()),
          held_base_(g_held.size()) {
        g_held.push_back(cell::none());  // the collected result
        g_held.push_back(cell::none());  // the trace's stack block
        g_held.push_back(cell::none());  // the rules, for the trace's last event
    }
    ~Engine() {
        // Whichever way the call ends, its frames, inputs and collects go.
        while (g_frames.size() > frame_base_) {
            g_rule_cells -= cells_of(g_frames.back().kind);
            g_frames.pop_back();
        }
        g_inputs.resize(input_base_);
        g_collects.resize(collect_base_);
        g_held.resize(held_base_);
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    Status run(Cell series, Cell rules, uint32_t limit, Cell& result);

  private:
    bool case_;
    bool stopped_ = false;          // the trace callback asked to stop
    Status exit_ = Status::normal;  // break, return ... of a paren run while a frame closed
    bool tested_ = false;           // the element fetched last was matched against the input
    const Cell* callback_;          // the trace callback, or null
    size_t frame_base_;
    size_t input_base_;
    size_t collect_base_;
    size_t held_base_;
    uint32_t announced_ = 0;  // frames of this call whose push the callback has been told of
    uint32_t block_ = 0;      // the innermost block frame
    uint32_t pos_ = 0;        // the input position
    NodeId in_node_ = 0;
    bool in_block_ = false;   // block input
    bool in_binary_ = false;  // binary input (else text)

    Input& input() { return g_inputs.back(); }
    uint32_t tail() { return std::min(series::length(in_node_), input().limit); }
    // After code has run, a position past the tail is brought back to it.
    void clamp() { pos_ = std::min(pos_, series::length(in_node_)); }
    void set_input(const Input& entered) {
        in_node_ = cell::series_node(entered.series);
        in_block_ = type_group::in(type_group::block_like, cell::type(entered.series));
        in_binary_ = cell::is(entered.series, TypeId::binary);
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
    [[gnu::always_inline]] Frame& push(Kind kind, uint32_t element) {
        reserve(cells_of(kind));
        Frame f{};
        f.kind = kind;
        f.rule = cell::none();
        f.index = element;
        f.start = pos_;
        f.round = pos_;
        f.input = in_node_;
        g_frames.push_back(f);
        return g_frames.back();
    }
    void pop() {
        if constexpr (kTraced) {
            if (g_frames.size() - frame_base_ <= announced_) {
                announced_ = static_cast<uint32_t>(g_frames.size() - frame_base_ - 1);
                fire(words::Word::pop, true);
            }
        }
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
    // Binary input's matchers stay out of line, off the block and text matching path.
    [[gnu::noinline]] bool match_binary(const Cell& rule, bool literal);
    bool match_bytes(const Cell& rule);
    bool match_token(const Cell& rule);
    void set_word(const Cell& word, Cell value);
    bool unwind_to_loop(bool matched);
    bool simple_alternatives(Cell rule, Cell* out, uint32_t& count);
    bool search(const Cell* alternatives, uint32_t count, bool thru);
    Status fetch(bool& matched, bool& delivered);
    [[gnu::noinline]] Status modify(Keyword kw, const Cell& v, uint32_t at, bool& matched, bool& delivered);
    bool deliver(bool& matched);

    // Modifiers: the value a modifier writes, the changes themselves, and the positions they move.
    Status modifier_value(const Cell& rule, Cell& value);
    void replace(uint32_t from, uint32_t to, const Cell* value, bool only);
    void moved(uint32_t at, uint32_t removed, uint32_t inserted);

    // Collect and keep.
    Collect* innermost_collect() { return g_collects.size() > collect_base_ ? &g_collects.back() : nullptr; }
    void keep_value(Cell value, bool spread);
    void keep_part(uint32_t from, uint32_t to, bool pick);
    void close_collect(bool matched);

    // Trace: tells the callback of an event; false once it asked to stop.
    bool fire(words::Word event, bool matched, const Cell* rule = nullptr);
    void announce_pushes();
    Cell frame_rule(size_t i);
};

template <bool kTraced>
void Engine<kTraced>::enter_block(const Cell& rules) {
    const NodeId node = cell::series_node(rules);
    const uint32_t head = cell::series_index(rules);
    // The same block entered again at the same place in the same input, unchanged since, can only
    // loop for ever. (A rule that removed what it matched comes back to the same place in a
    // shorter input: that one ends.)
    const uint32_t length = series::length(in_node_);
    if (g_frames.size() > frame_base_) {
        for (uint32_t i = block_;;) {
            const Frame& f = g_frames[i];
            if (cell::series_node(f.rule) == node && cell::series_index(f.rule) == head && f.start == pos_ &&
                f.input == in_node_ && f.length == length)
                error::fire(ErrorId::parse_infinite, rules);
            if (i == frame_base_) break;
            i = f.outer;
        }
    }
    const uint32_t outer = block_;
    Frame& f = push(Kind::block, head);
    f.rule = cell::series(TypeId::block, node, head);
    f.outer = outer;
    f.length = length;
    block_ = static_cast<uint32_t>(g_frames.size() - 1);
}

template <bool kTraced>
Status Engine<kTraced>::eval_paren(const Cell& paren, Cell* value) {
    stack::Rooted code(paren);
    const Status st = interp::eval(code.cell(), true);
    if (st == Status::normal && value) *value = stack::top_cell();
    clamp();
    return st;
}

template <bool kTraced>
void Engine<kTraced>::set_word(const Cell& word, Cell value) {
    stack::Rooted kept(value);
    context::store(word, kept.cell());
}

// Matches a text rule at the position: the rule's own text for chars and texts, else its formed
// text. Case-folded unless the case flag is on.
template <bool kTraced>
bool Engine<kTraced>::match_text(const Cell& rule) {
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

// Appends the UTF-8 of a text value from its head.
void put_text(std::string& out, const Cell& text) {
    SeriesBuffer* b = memory::buffer(cell::series_node(text));
    const uint32_t unit = b->unit();
    const uint32_t length = b->used() / unit;
    const std::byte* data = b->head_ptr();
    for (uint32_t i = std::min(cell::series_index(text), length); i < length; ++i) {
        std::byte bytes[4];
        const uint32_t n = unicode::encode_utf8(series::code_point_at(data, unit, i), bytes);
        out.append(reinterpret_cast<const char*>(bytes), n);
    }
}

inline uint8_t fold_byte(uint8_t b) { return b >= 'A' && b <= 'Z' ? b + 0x20 : b; }

// Matches a rule against the bytes at the position: a binary by its bytes, a char or a text by
// its UTF-8, any other value by the UTF-8 of its formed text. ASCII letters match either case
// unless the case flag is on.
template <bool kTraced>
bool Engine<kTraced>::match_bytes(const Cell& rule) {
    const uint32_t end = tail();
    if (pos_ > end) return false;
    static std::string pattern;  // kept between calls: its room is reused
    pattern.clear();
    const TypeId t = cell::type(rule);
    if (t == TypeId::binary) pattern.append(binary::bytes_of(rule));
    else if (t == TypeId::char_) {
        std::byte bytes[4];
        pattern.append(reinterpret_cast<const char*>(bytes), unicode::encode_utf8(cell::as_char(rule), bytes));
    } else if (string::is_text(t)) put_text(pattern, rule);
    else {
        stack::Rooted text(string::make(16));
        string::append_formed(cell::series_node(text.cell()), rule);
        put_text(pattern, text.cell());
    }
    if (pattern.size() > end - pos_) return false;
    const auto* at = reinterpret_cast<const uint8_t*>(memory::buffer(in_node_)->head_ptr()) + pos_;
    const auto* want = reinterpret_cast<const uint8_t*>(pattern.data());
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (at[i] != want[i] && (case_ || fold_byte(at[i]) != fold_byte(want[i]))) return false;
    }
    pos_ += static_cast<uint32_t>(pattern.size());
    return true;
}

// Matches one rule value against binary input: a bitset one byte whose value is in it, a datatype
// or typeset one token, anything else its bytes.
template <bool kTraced>
bool Engine<kTraced>::match_binary(const Cell& rule, bool literal) {
    const TypeId t = cell::type(rule);
    if (!literal) {
        if (t == TypeId::bitset) {
            if (pos_ >= tail() || !string::head_in_bitset(input_at(pos_), rule)) return false;
            ++pos_;
            return true;
        }
        if (t == TypeId::datatype || t == TypeId::typeset) return match_token(rule);
    }
    return match_bytes(rule);
}

// A datatype or typeset rule over binary input: the one token the lexer scans from the bytes at
// the position (blanks before it skipped), by its type; the position moves past it. The bytes go
// to the lexer a window at a time, widened while the token may run past the window, so a long
// input is never copied whole for one token.
template <bool kTraced>
bool Engine<kTraced>::match_token(const Cell& rule) {
    const uint32_t end = tail();
    if (pos_ >= end) return false;
    lexer::Options options;
    options.one = true;
    options.load = false;
    lexer::Result r{};
    for (uint32_t window = 64;; window *= 2) {
        const uint32_t n = std::min(window, end - pos_);
        r = lexer::transcode_value(input_at(pos_), static_cast<int32_t>(n), options);
        const auto type = static_cast<int32_t>(r.type);
        const bool cut = type < 0 || r.type == TypeId::error || r.consumed >= n;
        if (!cut || n == end - pos_ || window >= (1u << 30)) break;
    }
    clamp();
    const auto type = static_cast<int32_t>(r.type);
    if (type <= 0 || type >= static_cast<int32_t>(kTypeIdLimit) || r.type == TypeId::error) return false;
    const bool matched =
        cell::is(rule, TypeId::datatype) ? r.type == cell::datatype_type(rule) : typeset::contains(rule, r.type);
    if (matched) pos_ = std::min(pos_ + r.consumed, end);
    return matched;
}

// Matches one rule value at the position and moves past what it matched. A literal (after quote)
// is compared as it is: no datatype, typeset or lit-word reading.
template <bool kTraced>
bool Engine<kTraced>::match_value(const Cell& rule, bool literal) {
    const TypeId t = cell::type(rule);
    if (!in_block_) {
        if (!in_binary_) {
            if (!literal) {
                if (t == TypeId::bitset) {
                    // One character whose code point is in the set.
                    if (pos_ >= tail() || !string::head_in_bitset(input_at(pos_), rule)) return false;
                    ++pos_;
                    return true;
                }
                if (t == TypeId::datatype || t == TypeId::typeset) error::fire(ErrorId::parse_unsupported);
            }
            return match_text(rule);
        }
        return match_binary(rule, literal);
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
template <bool kTraced>
bool Engine<kTraced>::simple_alternatives(Cell rule, Cell* out, uint32_t& count) {
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
                        : text || (in_binary_ && t == TypeId::binary)))
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
template <bool kTraced>
bool Engine<kTraced>::search(const Cell* alternatives, uint32_t count, bool thru) {
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
template <bool kTraced>
bool Engine<kTraced>::unwind_to_loop(bool matched) {
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
        else if (f.kind == Kind::collect) {
            // A collect left this way still hands on what it gathered.
            pop();
            close_collect(matched);
            continue;
        }
        pop();
    }
    return g_frames.back().kind == Kind::repeat;
}

// The keywords that gather or change: collect, keep, remove, insert and change. Out of line, so
// the matching keywords' path stays as small as it was.
template <bool kTraced>
Status Engine<kTraced>::modify(Keyword kw, const Cell& v, uint32_t at, bool& matched, bool& delivered) {
    const NodeId rules = cell::series_node(g_frames[block_].rule);
    auto need = [&](uint32_t i) {
        if (i >= series::length(rules)) error::fire(ErrorId::parse_end, v);
    };
    // The element after insert or change, past an `only` when there is one.
    auto after_only = [&](bool& only) {
        need(at + 1);
        only = is_word(rule_cells(rules)[at + 1], g_only);
        if (only) need(at + 2);
        return only ? at + 2 : at + 1;
    };
    switch (kw) {
        case Keyword::collect: {
            need(at + 1);
            Collect c{cell::none(), cell::none(), 0, Target::block};
            uint32_t element = at + 1;
            const Cell how = rule_cells(rules)[element];
            const bool into = keyword_of(how) == Keyword::into;
            if (into || keyword_of(how) == Keyword::set || is_word(how, g_after)) {
                need(element + 1);
                c.word = rule_cells(rules)[element + 1];
                if (!cell::is(c.word, TypeId::word)) error::fire(ErrorId::parse_end, how);
                c.target = into ? Target::into : keyword_of(how) == Keyword::set ? Target::set : Target::after;
                element += 2;
            }
            need(element);
            if (c.target == Target::into || c.target == Target::after) {
                c.series = value_of(c.word);
                const TypeId t = cell::type(c.series);
                // Kept values go into a block of any input, or into text or bytes from text
                // or bytes; a vector or a value of no series takes none.
                const bool fits = type_group::in(type_group::block_like, t) ||
                                  (!in_block_ && (string::is_text(t) || t == TypeId::binary));
                if (!fits) error::fire(ErrorId::parse_into_type, c.series);
                for (const Input& i : g_inputs) {
                    if (cell::series_node(i.series) == cell::series_node(c.series))
                        error::fire(ErrorId::parse_into_bad, c.series);
                }
                c.at = std::min(cell::series_index(c.series), series::length(cell::series_node(c.series)));
                cell::set_series_index(c.series, 0);
            } else c.series = block::make(8);
            g_frames[block_].index = element;
            g_collects.push_back(c);
            push(Kind::collect, element);
            delivered = false;
            return Status::normal;
        }
        case Keyword::keep: {
            need(at + 1);
            if (!innermost_collect()) error::fire(ErrorId::parse_keep);
            uint32_t element = at + 1;
            const bool pick = is_word(rule_cells(rules)[element], g_pick);
            if (pick) {
                need(element + 1);
                ++element;
            }
            const Cell next = rule_cells(rules)[element];
            if (cell::is(next, TypeId::paren)) {
                // keep (expression): the expression's value, spread with pick.
                g_frames[block_].index = element + 1;
                Cell value;
                ZUB_PASS(eval_paren(next, &value));
                stack::Rooted kept(value);
                if (kTraced && !fire(words::Word::paren, true)) return Status::normal;
                if (!innermost_collect()) error::fire(ErrorId::parse_keep);
                keep_value(kept.cell(), pick);
                matched = true;
                return Status::normal;
            }
            g_frames[block_].index = element;
            Frame& f = push(Kind::keep, element);
            f.only = pick;
            delivered = false;
            return Status::normal;
        }
        case Keyword::remove: {
            if (at + 1 >= series::length(rules)) error::fire(ErrorId::parse_rule, v);
            const Cell next = rule_cells(rules)[at + 1];
            if (cell::is(next, TypeId::word) && keyword_of(next) == Keyword::none_) {
                // remove word: from the position the word holds in this input to here.
                const Cell target = value_of(next);
                if (type_group::in(type_group::series, cell::type(target)) && cell::series_node(target) == in_node_) {
                    g_frames[block_].index = at + 2;
                    const uint32_t length = series::length(in_node_);
                    const uint32_t mark = std::min(cell::series_index(target), length);
                    clamp();
                    replace(std::min(mark, pos_), std::max(mark, pos_), nullptr, false);
                    matched = true;
                    return Status::normal;
                }
            }
            push(Kind::remove, at + 1);
            delivered = false;
            return Status::normal;
        }
        case Keyword::insert: {
            bool only;
            const uint32_t element = after_only(only);
            g_frames[block_].index = element + 1;
            Cell value;
            ZUB_PASS(modifier_value(rule_cells(rules)[element], value));
            stack::Rooted kept(value);
            clamp();
            replace(pos_, pos_, &kept.cell(), only);
            matched = true;
            return Status::normal;
        }
        case Keyword::change: {
            bool only;
            const uint32_t element = after_only(only);
            const uint32_t value_at = element_end(rules, element);
            need(value_at);
            g_frames[block_].index = element;
            Frame& f = push(Kind::change, element);
            f.only = only;
            f.count = static_cast<int32_t>(value_at);
            delivered = false;
            return Status::normal;
        }
        default: break;
    }
    return Status::normal;
}

// Fetches and runs the next element of the innermost block. Sets `delivered` when the element
// ended at once with `matched`; else it pushed frames and the loop fetches again.
template <bool kTraced>
Status Engine<kTraced>::fetch(bool& matched, bool& delivered) {
    delivered = true;
    if constexpr (kTraced) {
        tested_ = false;
        announce_pushes();
        if (stopped_) return Status::normal;
    }
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
    if constexpr (kTraced) {
        Cell rule = b.rule;
        cell::set_series_index(rule, at);
        if (!fire(words::Word::fetch, matched, &rule)) return Status::normal;
        if (at >= series::length(rules)) error::fire(ErrorId::parse_end, cell::none());
    }
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
                if constexpr (kTraced) tested_ = true;
                matched = pos_ < tail();
                if (matched) ++pos_;
                return Status::normal;
            case Keyword::end:
                if constexpr (kTraced) tested_ = true;
                matched = pos_ >= tail();
                return Status::normal;
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
                    if constexpr (kTraced) tested_ = true;
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
                if constexpr (kTraced) tested_ = true;
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
                if (t != TypeId::binary && !type_group::in(type_group::block_like | type_group::text_like, t)) {
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
                const bool loop = unwind_to_loop(kw == Keyword::break_);
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
            case Keyword::change: return modify(kw, v, at, matched, delivered);
            case Keyword::none_: break;
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
                if constexpr (kTraced) tested_ = true;
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
            if constexpr (kTraced) fire(words::Word::paren, true);
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
        default:
            if constexpr (kTraced) tested_ = true;
            matched = match_value(v);
            return Status::normal;
    }
    matched = true;
    return Status::normal;
}

// The value insert and change write: a paren's value, a word's value, or the value itself. A path
// there is no value the rules can name.
template <bool kTraced>
Status Engine<kTraced>::modifier_value(const Cell& rule, Cell& value) {
    const TypeId t = cell::type(rule);
    if (t == TypeId::paren) return eval_paren(rule, &value);
    if (t == TypeId::path || t == TypeId::lit_path || t == TypeId::set_path || t == TypeId::get_path)
        error::fire(ErrorId::parse_rule, rule);
    value = t == TypeId::word ? value_of(rule) : rule;
    return Status::normal;
}

// Replaces the input from `from` to `to` with the value (nothing: a removal) the way change and
// insert write it (a block's values spread unless only), leaves the position after what was
// written, and moves the positions held on this input to match.
template <bool kTraced>
void Engine<kTraced>::replace(uint32_t from, uint32_t to, const Cell* value, bool only) {
    const TypeId type = cell::type(input().series);
    const ActionTable& row = registry::actions(type);
    const uint32_t before = series::length(in_node_);
    if (!value) {
        if (to > from) {
            const Cell part = cell::integer(static_cast<int32_t>(to - from));
            (void)row.remove(input_at(from), &part, nullptr);
        }
        pos_ = from;
        moved(from, before - series::length(in_node_), 0);
        return;
    }
    const InsertOptions options{static_cast<int32_t>(to - from), only, 1};
    const Cell after = from == to ? row.insert(input_at(from), *value, InsertOptions{-1, only, 1})
                                  : row.change(input_at(from), *value, options);
    const uint32_t length = series::length(in_node_);
    pos_ = std::min(cell::series_index(after), length);
    const uint32_t written = pos_ - from;
    moved(from, written + before - length, written);
}

// After `removed` units at `at` were replaced by `inserted` ones: positions past the change move
// with the units they stood before; those inside the removed part go to its start.
template <bool kTraced>
void Engine<kTraced>::moved(uint32_t at, uint32_t removed, uint32_t inserted) {
    auto shift = [&](uint32_t p) {
        if (p <= at) return p;
        if (p < at + removed) return at;
        return p - removed + inserted;
    };
    for (size_t i = frame_base_; i < g_frames.size(); ++i) {
        Frame& f = g_frames[i];
        if (f.input != in_node_) continue;
        f.start = shift(f.start);
        f.round = shift(f.round);
    }
    // A /part limit ends at the same unit it ended at before.
    if (input().limit != UINT32_MAX) input().limit = shift(input().limit);
}

// ---- collect and keep ---------------------------------------------------------------------------

// Puts a value where the innermost collect gathers: in a block as one value (its values one by one
// when spread), in text or bytes as insert writes it.
template <bool kTraced>
void Engine<kTraced>::keep_value(Cell value, bool spread) {
    Collect& c = *innermost_collect();
    const uint32_t length = series::length(cell::series_node(c.series));
    Cell at = c.series;
    cell::set_series_index(at, std::min(c.at, length));
    const Cell after = registry::actions(cell::type(at)).insert(at, value, InsertOptions{-1, !spread, 1});
    innermost_collect()->at = cell::series_index(after);
}

// Keeps what the input from `from` to `to` matched: one value or character (an integer for a byte)
// as itself, a longer run as a copy of the input's kind, or with pick each of its values.
template <bool kTraced>
void Engine<kTraced>::keep_part(uint32_t from, uint32_t to, bool pick) {
    const uint32_t length = series::length(in_node_);
    to = std::min(to, length);
    if (from >= to) return;
    if (to - from == 1 || pick) {
        for (uint32_t i = from; i < std::min(to, series::length(in_node_)); ++i) {
            const Cell item = series_value::element_at(input().series, i);
            keep_value(item, false);
        }
        return;
    }
    stack::Rooted part(cell::series(cell::type(input().series), series::copy_part(in_node_, from, to - from)));
    keep_value(part.cell(), false);
}

// Closes the innermost collect: its new block goes to the word (collect set), into the enclosing
// collect when its rule matched, or, with no enclosing collect, becomes what parse returns. A
// target series has its values already; after moves the word past them.
template <bool kTraced>
void Engine<kTraced>::close_collect(bool matched) {
    const Collect c = g_collects.back();
    g_collects.pop_back();
    stack::Rooted kept(c.series);
    switch (c.target) {
        case Target::block:
            if (innermost_collect()) {
                if (matched) keep_value(kept.cell(), false);
            } else g_held[held_base_] = kept.cell();
            break;
        case Target::set: set_word(c.word, kept.cell()); break;
        case Target::into: break;
        case Target::after: {
            Cell at = kept.cell();
            cell::set_series_index(at, std::min(c.at, series::length(cell::series_node(at))));
            set_word(c.word, at);
            break;
        }
    }
}

// ---- trace --------------------------------------------------------------------------------------

// Tells the callback of the pushes it has not been told of yet, outermost first.
template <bool kTraced>
void Engine<kTraced>::announce_pushes() {
    while (!stopped_ && announced_ < g_frames.size() - frame_base_) {
        ++announced_;
        const Cell rule = frame_rule(frame_base_ + announced_ - 1);
        fire(words::Word::push, true, &rule);
    }
}

// A frame's place in the rules: a block frame's block at its next element; a code frame's block
// at the element it waits on.
template <bool kTraced>
Cell Engine<kTraced>::frame_rule(size_t i) {
    const Frame& f = g_frames[i];
    size_t b = i;
    while (g_frames[b].kind != Kind::block) --b;
    Cell at = g_frames[b].rule;
    cell::set_series_index(at, f.kind == Kind::block ? g_frames[b].index : f.index);
    return at;
}

// Calls the callback with the event, the match flag, the rule at the element (by default the
// innermost block at its next element; the outermost rules once all frames have gone), the input
// at the position, and the rule stack: for each
// frame of this call, its rule block at the element it is at. An answer other than true stops
// the parse.
template <bool kTraced>
bool Engine<kTraced>::fire(words::Word event, bool matched, const Cell* rule) {
    if (stopped_) return false;
    Cell& stack_block = g_held[held_base_ + 1];
    if (cell::is(stack_block, TypeId::none)) stack_block = block::make(16);
    const NodeId stack_node = cell::series_node(stack_block);
    block::clear_from(stack_node, 0);
    for (size_t i = frame_base_; i < g_frames.size(); ++i)
        block::append(cell::series_node(g_held[held_base_ + 1]), frame_rule(i));
    Cell values[5];
    values[0] = words::global(event);
    values[1] = cell::logic(matched);
    if (rule) values[2] = *rule;
    else if (g_frames.size() > frame_base_) {
        values[2] = g_frames[block_].rule;
        cell::set_series_index(values[2], g_frames[block_].index);
    } else values[2] = g_held[held_base_ + 2];
    values[3] = input_at(std::min(pos_, series::length(in_node_)));
    values[4] = g_held[held_base_ + 1];
    Cell* const base = stack::g_top;
    Status status;
    {
        // Errors inside name the callback as where they happened.
        const stack::Call frame(stack::FrameType::native, words::global(words::Word::parse_callback_tag));
        status = interp::call(*callback_, values, 5, cell::none(), interp::Callback::parse);
    }
    if (status != Status::normal) {
        stack::g_top = base;
        exits::refuse_escape(status);
    }
    const Cell answer = stack::g_top > base ? stack::g_top[-1] : cell::unset();
    stack::g_top = base;
    clamp();
    if (!cell::is(answer, TypeId::logic) || !cell::as_logic(answer)) stopped_ = true;
    return !stopped_;
}

// Hands an element's result to the frame that waits for it. Returns true when the loop should
// fetch next, false when the outermost block has ended (matched then holds its result).
template <bool kTraced>
bool Engine<kTraced>::deliver(bool& matched) {
    for (;;) {
        if (g_frames.size() == frame_base_ || (kTraced && stopped_)) return false;
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
                if (kTraced && !fire(words::Word::iterate, matched)) return false;
                if (matched) {
                    ++f.count;
                    const uint32_t length = series::length(in_node_);
                    const bool moved = pos_ != f.round || length != f.length;
                    // A round that moved nothing and changed nothing would match the same way
                    // again: once the minimum is reached, the loop ends (a while loop goes on: its
                    // rule may stop through code). A round that removed what it matched has
                    // changed the input: the next one sees other input.
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
                    // The frame goes first: its pop may run the trace callback, which may collect
                    // or change the input, and the value must be made from the input as it is
                    // then and stored before anything else allocates.
                    const uint32_t start = f.start;
                    const bool copy = f.kind == Kind::copy;
                    const Cell word = f.rule;
                    pop();
                    const uint32_t length = series::length(in_node_);
                    const uint32_t from = std::min(start, length), to = std::max(from, std::min(pos_, length));
                    Cell value = cell::none();
                    if (copy)
                        value = cell::series(cell::type(input().series), series::copy_part(in_node_, from, to - from));
                    else if (to > from) value = series_value::element_at(input().series, from);
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
            case Kind::collect:
                pop();
                close_collect(matched);
                continue;
            case Kind::keep: {
                const uint32_t from = f.start;
                const bool pick = f.only;
                pop();
                if (matched) keep_part(from, pos_, pick);
                continue;
            }
            case Kind::remove: {
                const uint32_t from = f.start;
                pop();
                if (matched) {
                    clamp();
                    replace(std::min(from, pos_), pos_, nullptr, false);
                }
                continue;
            }
            case Kind::change: {
                const uint32_t from = f.start, value_at = static_cast<uint32_t>(f.count);
                const bool only = f.only;
                pop();
                // The new value follows the rule: the block goes on after it either way.
                g_frames[block_].index = value_at + 1;
                if (matched) {
                    const NodeId rules = cell::series_node(g_frames[block_].rule);
                    if (value_at >= series::length(rules)) error::fire(ErrorId::parse_end, cell::none());
                    Cell value;
                    const Status st = modifier_value(rule_cells(rules)[value_at], value);
                    if (st != Status::normal) {
                        exit_ = st;
                        return false;
                    }
                    stack::Rooted kept(value);
                    clamp();
                    replace(std::min(from, pos_), pos_, &kept.cell(), only);
                }
                continue;
            }
        }
    }
}

template <bool kTraced>
Status Engine<kTraced>::run(Cell series, Cell rules, uint32_t limit, Cell& result) {
    if (g_inputs.size() >= kStackCells) error::fire(ErrorId::parse_stack);
    g_inputs.push_back(Input{series, limit});
    set_input(input());
    pos_ = std::min(cell::series_index(series), series::length(in_node_));
    block_ = static_cast<uint32_t>(frame_base_);
    g_held[held_base_ + 2] = rules;
    enter_block(rules);
    bool matched = true;
    for (;;) {
        bool delivered;
        ZUB_PASS(fetch(matched, delivered));
        if (!delivered) continue;
        if (kTraced && tested_ && !fire(words::Word::match, matched)) break;
        if (!deliver(matched)) break;
    }
    if (exit_ != Status::normal) return exit_;
    // A stop asked by the trace callback answers the match flag as it stood.
    if (stopped_) {
        result = cell::logic(matched);
        return Status::normal;
    }
    matched = matched && pos_ >= tail();
    if constexpr (kTraced) fire(words::Word::end, matched);
    // An outermost collect with no target gives its block instead.
    result = cell::is(g_held[held_base_], TypeId::none) ? cell::logic(matched) : g_held[held_base_];
    return Status::normal;
}

}  // namespace

void init() {
    collector::add_root_walker(keep_roots);
    g_frames.init();
    g_collects.clear();
    g_held.clear();
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
    g_pick = symbol::resolve(words::id(Word::pick));
    g_only = symbol::resolve(words::id(Word::only));
    g_after = symbol::resolve(words::id(Word::after));
}

Status process(Cell input, Cell rules, bool case_sensitive, uint32_t limit, const Cell* callback, Cell& result) {
    if (callback) {
        Engine<true> engine(case_sensitive, callback);
        return engine.run(input, rules, limit, result);
    }
    Engine<false> engine(case_sensitive, callback);
    return engine.run(input, rules, limit, result);
}

}  // namespace zub::parse
