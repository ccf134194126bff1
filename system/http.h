// HTTP and HTTPS requests through libcurl: one synchronous request with the method, headers and
// body a script gives, redirects followed, and the answer as the language wants it (the body as a
// binary!, a block of lines or a string!, or with /info a block of the status, a map of the
// response headers and the body). An HTTP error status is no failure: its body is the answer.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/cell.h"

namespace zub::http {

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
    std::string method = "GET";
    std::string url;
    bool own_headers = false;  // without them, the three default headers are sent
    Headers headers;
    bool has_body = false;
    std::string body;
};

struct Response {
    long status = 0;
    Headers headers;  // the last response's, in order (a redirect's own are dropped)
    std::string body;
};

// The headers sent when a request names none, in this order.
extern const Headers kDefaultHeaders;

// Performs the request. False on any failure to reach the server or to speak HTTP with it (a
// refused connection, an unknown host, a malformed URL, a timeout), with curl's reason in `error`.
bool perform(const Request& request, Response& response, std::string& error);

// One header line's name and value: the value runs from the first character after the colon that
// is not a space or a tab to the end of the line (CR LF dropped). False for a line with no colon.
bool split_header(std::string_view line, std::string& name, std::string& value);

// The request a read or write of an http or https url! makes: the method word (get, head and post
// as GET, HEAD and POST, any other word in upper case), a block of header names and values or
// none, a body or none (never sent by GET and HEAD), and the answer shaped by the flags. None
// when the request fails; the caller raises access cannot-open naming the url. May collect.
Cell request(Cell method, Cell url, Cell headers, Cell data, bool binary, bool lines, bool info);

}  // namespace zub::http
