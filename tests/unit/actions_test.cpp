// The generic entries' handling of the stack layout, and the pick and poke index. What the
// language reaches is in tests/lang/actions.zub.
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Actions : public RuntimeTest {
  protected:
    // Calls a slot's generic entry as the interpreter does: mark, push, call, unwind.
    static Cell call(Slot slot, std::initializer_list<Cell> arguments, std::initializer_list<int32_t> refinements) {
        stack::mark(stack::FrameType::native, word(std::string(registry::action_word(slot)).c_str()));
        for (const Cell& a : arguments) stack::push(a);
        const std::vector<int32_t> r(refinements);
        actions::entry(slot)(r.data());
        stack::unwind();
        const Cell out = stack::top_cell();
        stack::pop(1);
        return out;
    }
    static std::string text(const Cell& s) {
        Cell copy = s;
        const unicode::Converted c = unicode::string_to_utf8(copy);
        return std::string(reinterpret_cast<const char*>(c.data), c.size);
    }
};

TEST_F(Actions, FormAndMoldHonourTheLimit) {
    const Cell none = cell::none();
    EXPECT_EQ(text(call(Slot::mold, {none, cell::integer(2)}, {-1, -1, -1, 1})), "no");
    EXPECT_EQ(text(call(Slot::mold, {none, cell::logic(true)}, {-1, 1, -1, -1})), "#(none)");
    EXPECT_EQ(text(call(Slot::form, {word("hello"), cell::integer(0)}, {1})), "");
    EXPECT_EQ(text(call(Slot::form, {word("hello")}, {-1})), "hello");
    EXPECT_EQ(stack::index_of(stack::g_top), 0u);
}

TEST_F(Actions, PickPokeIndex) {
    EXPECT_EQ(actions::pick_poke_index(cell::logic(true)), 1);
    EXPECT_EQ(actions::pick_poke_index(cell::logic(false)), 2);
    EXPECT_EQ(actions::pick_poke_index(cell::character('a')), 97);
    EXPECT_EQ(actions::pick_poke_index(cell::none()), 0);
}

}  // namespace
}  // namespace zub
