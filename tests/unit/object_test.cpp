// object!: the C++ field setter notifies on-change* as the language's roads do, and class ids count
// from the run-time base once start-up ends. The rest is in tests/lang/object.zub.
#include "datatypes/object.h"

#include <string>

#include "boot/boot.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "runtime/collector.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Object : public RuntimeTest {
  protected:
    void SetUp() override {
        boot::start();
        collector::enable(true);
    }

    // Evaluates source text and returns its value (rooted on the stack until the test ends).
    static Cell eval(const std::string& text) {
        const NodeId code =
            lexer::load(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size()));
        stack::push(cell::series(TypeId::block, code));
        EXPECT_EQ(interp::eval(stack::top_cell(), true), Status::normal);
        return stack::top_cell();
    }
    static std::string mold(const std::string& text) { return boot::mold_utf8(eval(text)); }
    static Cell global(const char* name) { return *context::get(word(name)); }
};

TEST_F(Object, CppFieldSetterNotifies) {
    eval("seen: 0 o: make object! [a: 1 on-change*: func [w o n] [seen: seen + n]]");
    const Cell o = global("o");
    object::set_field(o, static_cast<uint32_t>(object::find_word(o, symbol::make("a"))), cell::integer(40));
    EXPECT_EQ(cell::as_integer(global("seen")), 40);
    EXPECT_EQ(cell::as_integer(object::select_word(o, symbol::make("a"))), 40);
    // The word gets its set mark either way.
    EXPECT_EQ(mold("reflect o 'changed"), "[a]");
}

TEST_F(Object, ClassIds) {
    // Start-up ends once the environment is built: from then on ids count from the run-time base.
    const uint32_t first = object::new_class_id();
    EXPECT_GT(first, object::kRunTimeClassBase);
    object::end_start_up();  // a second call changes nothing
    EXPECT_EQ(object::new_class_id(), first + 1);
    EXPECT_EQ(mold("reflect make object! [a: 1] 'class"), std::to_string(first + 2));
}

}  // namespace
}  // namespace zub
