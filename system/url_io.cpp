// The dispatch of url input and output by scheme: http and https urls are one request each; any
// other url, and a file! opened, becomes a port of its scheme, read, written or opened through
// the port.
#include "system/url_io.h"

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "system/http.h"

namespace zub::url_io {
namespace {

enum class Scheme : uint8_t { port, http };

Scheme scheme_of(const Cell& url) {
    if (string::match_literal(url, "http:") || string::match_literal(url, "https:")) return Scheme::http;
    return Scheme::port;
}

// A port for the url or file: access unknown-scheme when its scheme has no actor. May collect.
Cell port_for(Cell target) { return registry::actions(TypeId::port).make(TypeId::port, cell::none(), target); }

// The answer of an http request, or access no-connect naming the url when there is none.
Cell answered(Cell answer, const Cell& url) {
    if (cell::is(answer, TypeId::none)) error::fire(ErrorId::no_connect, url);
    return answer;
}

Cell read_http(Cell url, const ReadOptions& o) {
    if (o.part || o.seek || o.as) error::fire(ErrorId::not_done);
    stack::Rooted kept(url);
    return answered(
        http::request(words::global(words::Word::get), url, cell::none(), cell::none(), o.binary, o.lines, o.info),
        kept.cell());
}

// The data of a write is a string! or a binary! (posted), or a block of the method word, a block
// of headers when it is not the last item, and the data (an empty block is a plain get).
Cell write_http(Cell url, Cell data, const WriteOptions& o) {
    if (o.part || o.seek || o.allow || o.as) error::fire(ErrorId::not_done);
    stack::Rooted kept_url(url), kept_data(data);
    Cell method = words::global(words::Word::post), headers = cell::none(), body = data;
    if (cell::is(data, TypeId::block)) {
        const uint32_t n = block::length(data), at = block::head_index(data);
        method = words::global(words::Word::get);
        body = cell::none();
        if (n > 0) {
            method = block::abs_at(data, at);
            if (!cell::is(method, TypeId::word)) error::fire(ErrorId::invalid_arg, data);
            if (n > 2) {
                headers = block::abs_at(data, at + 1);
                if (!cell::is(headers, TypeId::block)) error::fire(ErrorId::invalid_arg, data);
            }
            if (n > 1) body = block::abs_at(data, at + n - 1);
        }
    } else if (!cell::is(data, TypeId::string) && !cell::is(data, TypeId::binary)) {
        error::fire(ErrorId::invalid_arg, data);
    }
    return answered(http::request(method, kept_url.cell(), headers, body, o.binary, o.lines, o.info), kept_url.cell());
}

}  // namespace

Cell read(Cell url, const ReadOptions& options) {
    switch (scheme_of(url)) {
        case Scheme::http: return read_http(url, options);
        case Scheme::port: break;
    }
    stack::Rooted port(port_for(url));
    return registry::actions(TypeId::port).read(port.cell(), options);
}

Cell write(Cell url, Cell data, const WriteOptions& options) {
    switch (scheme_of(url)) {
        case Scheme::http: return write_http(url, data, options);
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
