// The loop stack and GLib's main context. A level's end flag is read only after the iteration
// that served its handler returns, so a request made deep inside nested loops waits for the
// inner ones to return first.
#include "view/backend/platform/loop.h"

#include <gtk/gtk.h>

#include <vector>

#include "view/backend/platform/events.h"

namespace zub::platform::loop {
namespace {

struct Level {
    bool ending;  // asked to end; the loop returns when its iteration comes back
};

std::vector<Level> g_levels;

struct Posted {
    void (*fn)(void*);
    void* data;
};

gboolean run_posted(gpointer p) {
    auto* posted = static_cast<Posted*>(p);
    posted->fn(posted->data);
    delete posted;
    return G_SOURCE_REMOVE;
}

}  // namespace

bool run(bool no_wait) {
    const events::ModifierOverride keep;  // a loop starts from the keyboard's live state
    if (no_wait) return g_main_context_iteration(nullptr, FALSE);
    g_levels.push_back(Level{false});
    const size_t mine = g_levels.size() - 1;
    bool served = false;
    while (!g_levels[mine].ending) served = g_main_context_iteration(nullptr, TRUE) || served;
    g_levels.pop_back();  // inner levels have returned already: this one is on top
    return served;
}

bool exit_innermost() {
    for (size_t i = g_levels.size(); i-- > 0;) {
        if (g_levels[i].ending) continue;
        g_levels[i].ending = true;
        g_main_context_wakeup(nullptr);
        return true;
    }
    return false;
}

bool exit_level(uint32_t level) {
    if (level == 0 || level > g_levels.size()) return false;
    g_levels[level - 1].ending = true;
    g_main_context_wakeup(nullptr);
    return true;
}

uint32_t depth() { return static_cast<uint32_t>(g_levels.size()); }

void post(void (*fn)(void*), void* data) {
    g_idle_add_full(G_PRIORITY_DEFAULT, run_posted, new Posted{fn, data}, nullptr);
}

}  // namespace zub::platform::loop
