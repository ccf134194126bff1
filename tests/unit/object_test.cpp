// object!: change notification reaches on-change* once per change with the old and the new value,
// whichever road the change takes (path, word, set, put, the C++ field setter), and objects,
// their handlers and the values in flight survive collections run from inside the handlers.
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
        const NodeId code = lexer::load(reinterpret_cast<const std::byte*>(text.data()), static_cast<uint32_t>(text.size()));
        stack::push(cell::series(TypeId::block, code));
        EXPECT_EQ(interp::eval(stack::top_cell(), true), Status::normal);
        return stack::top_cell();
    }
    static std::string mold(const std::string& text) { return boot::mold_utf8(eval(text)); }
    static Cell global(const char* name) { return *context::get(word(name)); }
};

TEST_F(Object, OnChangeRunsOncePerChangeWithOldAndNew) {
    eval("log: copy [] "
         "o: make object! [a: 1 b: [x] on-change*: func [word old new] [recycle append log reduce [word old new]]]");
    EXPECT_EQ(mold("log"), "[]");  // making the object notifies nothing
    struct Step {
        const char* code;
        const char* log;
    };
    const Step steps[] = {
        {"o/a: 2", "[a 1 2]"},
        {"o/a: 2", "[a 2 2]"},  // the same value again is still a change
        {"set in o 'b \"s\"", "[b [x] \"s\"]"},
        {"put o 'a 3", "[a 2 3]"},
        {"set o [4 5 6]", "[a 3 4 b \"s\" 5]"},  // the handler field itself is set without notice
    };
    for (const Step& s : steps) {
        eval("clear log");
        eval(s.code);
        EXPECT_EQ(mold("log"), s.log) << s.code;
    }
}

TEST_F(Object, CppFieldSetterNotifies) {
    eval("seen: 0 o: make object! [a: 1 on-change*: func [w o n] [seen: seen + n]]");
    const Cell o = global("o");
    object::set_field(o, static_cast<uint32_t>(object::find_word(o, symbol::make("a"))), cell::integer(40));
    EXPECT_EQ(cell::as_integer(global("seen")), 40);
    EXPECT_EQ(cell::as_integer(object::select_word(o, symbol::make("a"))), 40);
    // The word gets its set mark either way.
    EXPECT_EQ(mold("reflect o 'changed"), "[a]");
}

TEST_F(Object, ObjectsSurviveCollectionsInHandlersAndSpecs) {
    eval("keep: copy [] "
         "repeat i 50 [append keep make object! [n: i s: append copy \"v\" i recycle b: reduce [i i * 2]]]");
    collector::do_cycle();
    EXPECT_EQ(mold("keep/50/s"), "\"v50\"");
    EXPECT_EQ(mold("keep/50/b"), "[50 100]");
    EXPECT_EQ(mold("keep/1/n"), "1");
    eval("log: copy [] d: make object! [items: [1] on-deep-change*: func [o w t a v i p] [recycle append log a]]");
    eval("repeat i 20 [append d/items i]");
    collector::do_cycle();
    EXPECT_EQ(mold("length? log"), "40");
    EXPECT_EQ(mold("length? d/items"), "21");
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
