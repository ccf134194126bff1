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
#include "runtime/type_traits.h"

namespace zub {

// Every type's file defines its action table and its traits row.
#define ZUB_TYPE(member, text, id, parent_type, stem) \
    extern const ActionTable stem##_actions;          \
    extern const type_traits::Traits stem##_traits;
#include "datatypes/types.def"

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
#define ZUB_TYPE(member, text, id, parent_type, stem) static constexpr TypeId member = TypeId::member;
#include "datatypes/types.def"
};

constexpr auto kTypes = [] {
    std::array<TypeRecord, kTypeIdLimit> records{};
#define ZUB_TYPE(member, text, id, parent_type, stem) \
    records[id] = {text, Parents::parent_type == Parents::root ? TypeId::member : Parents::parent_type};
#include "datatypes/types.def"
    return records;
}();

void register_type(TypeId type, const ActionTable& own, const type_traits::Traits& traits) {
    const auto i = static_cast<uint8_t>(type);
    ActionTable row = own;
    const TypeId up = kTypes[static_cast<uint8_t>(type)].parent;
    const ActionTable* inherited = up != type ? &g_actions[static_cast<uint8_t>(up)] : nullptr;
#define ZUB_ACTION(member, word, signature) \
    if (!row.member) row.member = inherited ? inherited->member : unsupported::member;
#include "datatypes/actions.def"
    g_actions[i] = row;
    type_traits::set(type, traits);
}

}  // namespace

void init() {
#define ZUB_TYPE(member, text, id, parent_type, stem) register_type(TypeId::member, stem##_actions, stem##_traits);
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
    error::fire(ErrorId::expect_arg, stack::call_word(), cell::datatype_of(type), word);
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
