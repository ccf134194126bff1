// The dispatch of url input and output by scheme. HTTP requests plug in at `http`: until they
// do, an http url is refused like any scheme the system does not know, with a clear error.
#include "system/url_io.h"

#include "datatypes/string.h"
#include "runtime/error.h"

namespace zub::url_io {
namespace {

enum class Scheme : uint8_t { unknown, http };

// The scheme named before the url's first ":".
Scheme scheme_of(const Cell& url) {
    if (string::match_literal(url, "http:") || string::match_literal(url, "https:")) return Scheme::http;
    return Scheme::unknown;
}

[[noreturn]] void no_service(const Cell& url) { error::fire(ErrorId::unknown_scheme, url); }

}  // namespace

Cell read(Cell url, const ReadOptions&) {
    switch (scheme_of(url)) {
        case Scheme::http:
        case Scheme::unknown: break;
    }
    no_service(url);
}

Cell write(Cell url, Cell, const WriteOptions&) {
    switch (scheme_of(url)) {
        case Scheme::http:
        case Scheme::unknown: break;
    }
    no_service(url);
}

Cell open(Cell target, const OpenOptions&) { no_service(target); }

}  // namespace zub::url_io
