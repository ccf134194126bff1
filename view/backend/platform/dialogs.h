// The standard dialogs on GTK's choosers (fonts, files to open or save, folders) and the error
// message box. Each runs modally on the evaluator's thread, owned by the window that has the
// focus, and returns when the dialog is answered.
#pragma once

#include <string_view>

namespace zub::platform::dialogs {

// Shows a modal error box with an OK button; returns when it is closed. Without a display it
// does nothing.
void message_box(std::string_view caption, std::string_view text);

// Registers the dialog routines and, when a display is open, makes the fatal runtime report show
// its text in a message box too.
void register_routines();

}  // namespace zub::platform::dialogs
