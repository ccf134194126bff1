// Events from the platform to the language: the input pre-filter that sees every GDK event before
// GTK does, the one live event record, and the dispatcher that hands the live event to
// system/view/awake under a guard that nothing escapes. Everything runs on the evaluator's thread
// except post_event, which any thread may call.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/event.h"
#include "view/backend/platform/platform.h"

namespace zub::platform::events {

// What an event knows besides its type and flags word.
struct Detail {
    double x = 0, y = 0;  // the offset, device pixels (in the window's client area, or a
                          // position or size for move and resize)
    bool has_offset = false;
    int32_t key_code = -1;     // the special key's code (see key_word), -1 when the key is a character
    double wheel = 0;          // wheel steps, away from the user positive
    uint32_t picked_word = 0;  // a menu event's chosen entry: its word's symbol + 1, 0 for none
    // A scroll bar's request: its word for event/key, the position for event/picked and the bar's
    // orientation word (0: none of these).
    symbol::Id key_symbol = 0, orientation = 0;
    int32_t picked = 0;  // an ime event's caret index in its composition
    // An ime event's composition (UTF-8), held by the caller for the dispatch.
    const std::string* text = nullptr;
};

// Installs the pre-filter and the live event's reader. Once, when the display opens.
void install();
// Forgets what was made for the runtime that ran before (its words and rooted path). At each start.
void reset();

// Fills the live event for a window and runs system/view/awake on it, with tracing off, inside a
// frame that stops every error and exit. 1: go on with the platform's own handling; 0: the
// handler answered `stop`. Never throws. May collect.
int32_t dispatch(WindowId window, int32_t type, uint32_t flags, const Detail& detail);
inline int32_t dispatch_simple(WindowId window, int32_t type, uint32_t flags) {
    return dispatch(window, type, flags, Detail{});
}

// A key event's detail for a window: the pointer's place in it.
Detail key_detail(WindowId window);

// Queues an event for a window, dispatched at the next loop pass (dropped when the window is gone
// by then). Safe from any thread. Its detail holds no text.
void post_event(WindowId window, int32_t type, uint32_t flags, const Detail& detail);

// The modifier and button bits reported instead of the live state while one lives (a synthetic
// event reports its own); each loop starts without one. Scoped, innermost wins.
class ModifierOverride {
  public:
    ModifierOverride();                        // keeps the current one, clears it for the scope
    explicit ModifierOverride(uint32_t bits);  // reports `bits` for the scope
    ~ModifierOverride();
    ModifierOverride(const ModifierOverride&) = delete;
    ModifierOverride& operator=(const ModifierOverride&) = delete;

  private:
    int64_t saved_;
};

// The word of a special key's code (pause, left, F1 ... right-alt), 0 for none. May collect on
// first use.
symbol::Id key_word(int32_t key_code);

}  // namespace zub::platform::events
