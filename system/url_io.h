// Reading, writing and opening urls: the one place where a url's scheme picks the service that
// serves it. A scheme the system does not serve yet raises access unknown-scheme with the url.
#pragma once

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zub::url_io {

// The actions of url! (and open of file!). All may collect.
Cell read(Cell url, const ReadOptions& options);
Cell write(Cell url, Cell data, const WriteOptions& options);
Cell open(Cell target, const OpenOptions& options);

}  // namespace zub::url_io
