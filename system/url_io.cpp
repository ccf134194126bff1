// The dispatch of url input and output by scheme. HTTP requests plug in at `Scheme::http`: until
// they do, an http url is refused like a scheme the system does not know. Any other url, and a
// file! opened, becomes a port of its scheme, read, written or opened through the port.
#include "system/url_io.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zub::url_io {
namespace {

enum class Scheme : uint8_t { port, http };

Scheme scheme_of(const Cell& url) {
    if (string::match_literal(url, "http:") || string::match_literal(url, "https:")) return Scheme::http;
    return Scheme::port;
}

// A port for the url or file: access unknown-scheme when its scheme has no actor. May collect.
Cell port_for(Cell target) { return registry::actions(TypeId::port).make(TypeId::port, cell::none(), target); }

}  // namespace

Cell read(Cell url, const ReadOptions& options) {
    switch (scheme_of(url)) {
        case Scheme::http: error::fire(ErrorId::unknown_scheme, url);
        case Scheme::port: break;
    }
    stack::Rooted port(port_for(url));
    return registry::actions(TypeId::port).read(port.cell(), options);
}

Cell write(Cell url, Cell data, const WriteOptions& options) {
    switch (scheme_of(url)) {
        case Scheme::http: error::fire(ErrorId::unknown_scheme, url);
        case Scheme::port: break;
    }
    stack::Rooted keep(data);
    stack::Rooted port(port_for(url));
    return registry::actions(TypeId::port).write(port.cell(), keep.cell(), options);
}

Cell open(Cell target, const OpenOptions& options) {
    stack::Rooted port(port_for(target));
    return registry::actions(TypeId::port).open(port.cell(), options);
}

}  // namespace zub::url_io
