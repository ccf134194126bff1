// Faces to native windows.
#include "view/backend/platform/views.h"

#include "datatypes/function.h"
#include "evaluator/native_args.h"
#include "view/backend/platform/platform.h"

namespace zub::platform::views {
namespace {

using native_args::Args;
using native_args::Plain;

Status answer_none(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::none());
}

Status answer_true(const int32_t* r) {
    const Args<Plain::routine> args(r);
    return args.done(cell::logic(has_display()));
}

struct Named {
    const char* name;
    function::RoutineEntry entry;
};

constexpr Named kRoutines[] = {
    {"on-change-facet", answer_none}, {"update-text", answer_none},  {"update-para", answer_none},
    {"detach-image", answer_none},    {"update-view", answer_none},  {"refresh-window", answer_none},
    {"redraw", answer_none},          {"show-window", answer_none},  {"make-view", answer_none},
    {"draw-face", answer_none},       {"gui-start", answer_true},    {"gui-settings", answer_none},
    {"window-count", answer_none},    {"face-image", answer_none},
};

}  // namespace

void register_routines() {
    for (const Named& r : kRoutines) (void)function::add_routine(r.name, r.entry);
}

}  // namespace zub::platform::views
