// The table is a constant array of entries in the order of natives.def; no slot is ever null, so a
// call is one indexed load. Natives not written yet share one entry.
#include "evaluator/natives.h"

#include <vector>

#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "evaluator/refinements.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/error.h"

namespace zub::natives {
namespace {

// Indexes outside the table: make native! refuses them, so only a bug reaches this.
Status outside(const int32_t*) { error::fire(ErrorId::not_done); }

// boot/natives.zub lists the natives in this same order; a line moved in one but not the other is a
// build error here rather than a start-up failure.
constexpr bool same_words(const std::string_view* a, const std::string_view* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
    return true;
}
static_assert(std::size(generated::kNativeWords) == kCount && same_words(kWords, generated::kNativeWords, kCount),
              "boot/natives.zub lists the natives of natives.def, in its order");

signatures::Table g_natives;
signatures::Table g_actions;

}  // namespace

Status planned(const int32_t*) { error::fire(ErrorId::not_done); }

const Entry g_entries[] = {
#define ZUB_NATIVE(member, word, entry) entry,
#include "evaluator/natives.def"
};
static_assert(std::size(g_entries) == kCount);

void init(const unsigned char* native_specs, uint32_t native_specs_size, const unsigned char* action_specs,
          uint32_t action_specs_size) {
    groups::control();
    groups::evaluation();
    groups::output();
    g_natives = signatures::load(native_specs, native_specs_size,
                                 std::vector<std::string_view>(std::begin(kWords), std::end(kWords)));
    g_actions = signatures::load(action_specs, action_specs_size,
                                 std::vector<std::string_view>(std::begin(kActionWords), std::end(kActionWords)));
    // Every native! and action! value shares its spec block with these tables.
    collector::add_root(&g_natives.source);
    collector::add_root(&g_actions.source);
}

Entry entry(uint32_t index) { return filled(index) ? g_entries[index - 1] : outside; }
std::string_view word(uint32_t index) { return filled(index) ? kWords[index - 1] : ""; }

const signatures::Shape& shape(uint32_t index) { return g_natives.shapes.at(index - 1); }
bool actions_loaded() { return !g_actions.shapes.empty(); }
const signatures::Shape& action_shape(Slot slot) { return g_actions.shapes.at(static_cast<uint8_t>(slot)); }
Cell spec(uint32_t index) { return cell::series(TypeId::block, shape(index).spec); }
Cell action_spec(Slot slot) { return cell::series(TypeId::block, action_shape(slot).spec); }

const signatures::Param& param(const signatures::Shape& shape, uint32_t i) { return shape.param[i]; }
const signatures::Shape* native_shapes() { return g_natives.shapes.data(); }
const signatures::Shape* action_shapes() { return g_actions.shapes.data(); }

void check_arg(const Cell& value, const Cell& types, symbol::Id argument) {
    if (typeset::contains(types, cell::type(value))) return;
    error::fire(ErrorId::expect_arg, stack::call_word(), cell::datatype_of(value), words::global(argument));
}

void raise_arg(Native native, uint32_t param, const Cell& value) {
    const symbol::Id word = natives::param(natives::shape(index_of(native)), param).word;
    error::fire(ErrorId::expect_arg, stack::call_word(), cell::datatype_of(value), words::global(word));
}

void check_args(const signatures::Shape& shape, const int32_t* refinements) {
    const Cell* args = stack::args();
    int16_t refinement = -1;
    uint32_t offset = 0;  // of the argument within its refinement
    for (uint32_t i = 0; i < shape.params; ++i) {
        const signatures::Param& p = param(shape, i);
        if (p.refinement < 0) {
            check_arg(args[i], p.types, p.word);
            continue;
        }
        if (p.refinement != refinement) refinement = p.refinement, offset = 0;
        const int32_t at = refinements[refinement];
        if (at > -1) check_arg(args[at + offset], p.types, p.word);
        ++offset;
    }
}

Status call(uint32_t index, const int32_t* refinements, bool check) {
    if (check && filled(index)) check_args(shape(index), refinements);
    return entry(index)(refinements);
}

}  // namespace zub::natives
