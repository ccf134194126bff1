// The parse native: checks the input and the /part limit, then hands the rules to the engine.
#include <algorithm>

#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/parse/parse.h"
#include "evaluator/part_skip.h"
#include "runtime/error.h"
#include "runtime/series.h"

namespace zub::natives {

Status parse_entry(const int32_t* refinements) {
    const native_args::Args<Native::parse> args(refinements);
    const Cell input = args[0], rules = args[1];
    const uint32_t length = series::length(cell::series_node(input));
    const uint32_t head = std::min(cell::series_index(input), length);
    uint32_t limit = UINT32_MAX;
    if (const Cell* part = args.arg<"part">()) {
        // A number counts units from the input's position; a series gives a position in the
        // input itself. A limit before the position leaves nothing to match.
        const int64_t n = cell::is(*part, TypeId::float_) || cell::is(*part, TypeId::percent)
                              ? cell::to_int32_checked(*part)
                              : part_skip::length(input, *part);
        limit = static_cast<uint32_t>(std::clamp<int64_t>(int64_t{head} + n, head, length));
    }
    Cell result;
    ZUB_PASS(parse::process(input, rules, args.has<"case">(), limit, args.arg<"trace">(), result));
    return args.done(result);
}

}  // namespace zub::natives
