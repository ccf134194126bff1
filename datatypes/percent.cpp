// percent!: a float! that holds the fraction (50% is 0.5) and prints it times 100 with "%".
// Everything but its text form is float!'s.
#include <cmath>

#include "datatypes/float.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

int32_t percent_form(Cell value, NodeId out, int32_t limit) {
    const float_text::FloatText text = float_::form(cell::as_float(value) * 100.0, float_::FormKind::percent);
    return mold::emit(out, text.view(), limit);
}

// mold/all writes every digit the value needs, so the text loads back as the same percent.
int32_t percent_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    const double x = cell::as_float(value);
    if (!flags.all || !std::isfinite(x)) return percent_form(value, out, limit);
    limit = float_::emit_plain_digits(x, 2, out, limit);
    return mold::emit(out, "%", limit);
}

}  // namespace

extern const ActionTable percent_actions = {
    .form = percent_form,
    .mold = percent_mold,
};

extern const type_traits::Traits percent_traits = {.hash = type_traits::hash_float,
                                                   .same_words = type_traits::kW2 | type_traits::kW3};

}  // namespace zub
