// The text conversions keep the new string on the evaluation stack while it fills, since filling
// may collect.
#include "view/backend/platform/values.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/unicode.h"

namespace zub::platform::values {

Cell text(std::string_view utf8) {
    const Cell made = string::make(static_cast<uint32_t>(utf8.size()));
    stack::push(made);
    string::append_utf8(cell::series_node(made), utf8);
    const Cell filled = stack::top_cell();
    stack::pop(1);
    return filled;
}

void append_text(NodeId block, std::string_view utf8) { block::append(block, text(utf8)); }

// The conversion may collect: the value converted is a copy held on the stack.
std::string utf8_of(Cell value) {
    stack::push(value);
    const unicode::Converted converted = unicode::string_to_utf8(stack::top_cell());
    std::string utf8(reinterpret_cast<const char*>(converted.data), converted.size);
    stack::pop(1);
    return utf8;
}

Cell field(const Cell& object, uint32_t index) {
    if (!cell::is(object, TypeId::object) || index >= context::word_count(object.w1)) return cell::none();
    const Cell* v = context::value_at(object.w1, index);
    return v ? *v : cell::none();
}

void set_quiet(const Cell& object, uint32_t index, const Cell& value) {
    if (!cell::is(object, TypeId::object) || index >= context::word_count(object.w1)) return;
    if (Cell* v = context::value_at(object.w1, index)) *v = value;
}

}  // namespace zub::platform::values
