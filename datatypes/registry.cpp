// Each type's own table comes from its file; registration completes it from the parent's row.
#include "datatypes/registry.h"

#include <algorithm>
#include <array>

#include "datatypes/block.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/series.h"

namespace zub {

extern const ActionTable datatype_actions;
extern const ActionTable unset_actions;
extern const ActionTable none_actions;
extern const ActionTable logic_actions;
extern const ActionTable integer_actions;
extern const ActionTable char_actions;
extern const ActionTable float_actions;
extern const ActionTable percent_actions;
extern const ActionTable symbol_actions;
extern const ActionTable word_actions;
extern const ActionTable set_word_actions;
extern const ActionTable lit_word_actions;
extern const ActionTable get_word_actions;
extern const ActionTable refinement_actions;
extern const ActionTable issue_actions;
extern const ActionTable series_actions;
extern const ActionTable typeset_actions;
extern const ActionTable block_actions;
extern const ActionTable paren_actions;
extern const ActionTable path_actions;
extern const ActionTable lit_path_actions;
extern const ActionTable set_path_actions;
extern const ActionTable get_path_actions;
extern const ActionTable string_actions;
extern const ActionTable native_actions;
extern const ActionTable action_actions;
extern const ActionTable op_actions;
extern const ActionTable function_actions;
extern const ActionTable routine_actions;
extern const ActionTable time_actions;
extern const ActionTable triple_actions;
extern const ActionTable object_actions;
extern const ActionTable error_actions;

namespace registry {

ActionTable g_actions[kTypeIdLimit];

namespace {

struct TypeRecord {
    std::string_view name;
    TypeId parent;
};

// The parent column of the type list: a type's name, or `root` for none.
struct Parents {
    static constexpr TypeId root = TypeId{0};
#define ZUB_TYPE(member, text, id, parent_type) static constexpr TypeId member = TypeId::member;
#include "datatypes/types.def"
};

constexpr auto kTypes = [] {
    std::array<TypeRecord, kTypeIdLimit> records{};
#define ZUB_TYPE(member, text, id, parent_type) \
    records[id] = {text, Parents::parent_type == Parents::root ? TypeId::member : Parents::parent_type};
#include "datatypes/types.def"
    return records;
}();

constexpr std::string_view kActionWords[] = {
#define ZUB_ACTION(member, word, signature) word,
#include "datatypes/actions.def"
};

const ActionTable kNone{};  // a type whose actions are not built yet: every slot unsupported

// The table a type's own file defines.
const ActionTable& own_table(TypeId type) {
    switch (type) {
        case TypeId::datatype: return datatype_actions;
        case TypeId::unset: return unset_actions;
        case TypeId::none: return none_actions;
        case TypeId::logic: return logic_actions;
        case TypeId::integer: return integer_actions;
        case TypeId::char_: return char_actions;
        case TypeId::float_: return float_actions;
        case TypeId::percent: return percent_actions;
        case TypeId::symbol: return symbol_actions;
        case TypeId::word: return word_actions;
        case TypeId::set_word: return set_word_actions;
        case TypeId::lit_word: return lit_word_actions;
        case TypeId::get_word: return get_word_actions;
        case TypeId::refinement: return refinement_actions;
        case TypeId::issue: return issue_actions;
        case TypeId::series: return series_actions;
        case TypeId::typeset: return typeset_actions;
        case TypeId::block: return block_actions;
        case TypeId::paren: return paren_actions;
        case TypeId::path: return path_actions;
        case TypeId::lit_path: return lit_path_actions;
        case TypeId::set_path: return set_path_actions;
        case TypeId::get_path: return get_path_actions;
        case TypeId::string: return string_actions;
        case TypeId::native: return native_actions;
        case TypeId::action: return action_actions;
        case TypeId::op: return op_actions;
        case TypeId::function: return function_actions;
        case TypeId::routine: return routine_actions;
        case TypeId::time: return time_actions;
        case TypeId::triple: return triple_actions;
        case TypeId::object: return object_actions;
        case TypeId::error: return error_actions;
        default: return kNone;
    }
}

void register_type(TypeId type) {
    ActionTable row = own_table(type);
    const TypeId up = kTypes[static_cast<uint8_t>(type)].parent;
    const ActionTable* inherited = up != type ? &g_actions[static_cast<uint8_t>(up)] : nullptr;
#define ZUB_ACTION(member, word, signature) \
    if (!row.member) row.member = inherited ? inherited->member : unsupported::member;
#include "datatypes/actions.def"
    g_actions[static_cast<uint8_t>(type)] = row;
}

}  // namespace

void init() {
#define ZUB_TYPE(member, text, id, parent_type) register_type(TypeId::member);
#include "datatypes/types.def"
}

bool is_type_id(uint32_t id) { return id >= 1 && id <= static_cast<uint32_t>(kTypeCount); }
std::string_view name(TypeId type) { return kTypes[static_cast<uint8_t>(type)].name; }
TypeId parent(TypeId type) { return kTypes[static_cast<uint8_t>(type)].parent; }
std::string_view action_word(Slot slot) { return kActionWords[static_cast<uint8_t>(slot)]; }

}  // namespace registry

namespace {

// script expect-arg naming the call, the datatype and the action's argument (from its loaded spec).
[[noreturn]] void fire_expect_arg(Slot slot, TypeId type, uint32_t argument) {
    Cell word = cell::none();
    if (natives::actions_loaded()) {
        const signatures::Shape& shape = natives::action_shape(slot);
        if (argument < shape.params) word = words::global(natives::param(shape, argument).word);
    }
    error::fire(ErrorId::expect_arg, stack::call_word(), cell::datatype_of(type),
                word);
}

}  // namespace

void raise_unsupported(Slot slot, TypeId type) { fire_expect_arg(slot, type, 0); }

void raise_bad_path(const Cell& parent, const Cell& element, const PathStep& step) {
    const Cell type = cell::datatype_of(cell::type(parent));
    const TypeId path_type = cell::type(step.path);
    if (path_type != TypeId::path && path_type != TypeId::set_path && path_type != TypeId::get_path &&
        path_type != TypeId::lit_path)
        error::fire(ErrorId::bad_path_type2, element, type);
    // The path up to the element that gave the value, as a plain path.
    const uint32_t head = block::head_index(step.path);
    const uint32_t end = std::min(step.position, series::length(cell::series_node(step.path)));
    const Cell given = block::make(end > head ? end - head : 1, TypeId::path);
    for (uint32_t i = head; i < end; ++i) block::append(cell::series_node(given), block::abs_at(step.path, i));
    error::fire(ErrorId::bad_path_type, step.path, type, given);
}

void raise_expect_arg(Slot slot, const Cell& value, int argument) {
    fire_expect_arg(slot, cell::type(value), static_cast<uint32_t>(argument));
}

}  // namespace zub
