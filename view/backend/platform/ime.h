// Input methods for drawn faces. Each top level has one GTK input method context, used while its
// keyboard focus is on a drawn face (a native widget has its own): key events go through it
// first; its composition (preedit) becomes `ime` events, whose picked is the composition string
// and whose key is the caret's index in it; the text it commits becomes `key` events, one per
// character. A key the input method only echoes back as its own character keeps the ordinary
// key-down, key, key-up sequence. Everything runs on the evaluator's thread.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "view/backend/platform/platform.h"

namespace zub::platform::ime {

// Offers a key press or release, meant for the drawn face window `target` of the top level
// `root`, to the input method. `echo` is the character the key types by itself (0 for none).
// True when the input method took the key: its events (if any) have been dispatched, and the key
// makes no events of its own. May collect.
bool filter_key(WindowId root, WindowId target, const GdkEventKey& e, uint32_t echo);

// The top level gained or lost the keyboard focus.
void focus(WindowId root, bool in);

// A caret face's window moved or changed size: the input method shows its composition there.
void note_caret(WindowId caret);

// The window is being destroyed: its context (a top level's) and its caret role are dropped.
void forget(WindowId id);

}  // namespace zub::platform::ime
