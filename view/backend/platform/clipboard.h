// The system clipboard through GTK: text, lists of files (text/uri-list) and images (PNG).
#pragma once

namespace zub::platform::clipboard {

// Puts read-clipboard and write-clipboard on the display's clipboard in place of zub-cli's,
// which have none.
void register_routines();

}  // namespace zub::platform::clipboard
