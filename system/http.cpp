// One easy handle per request: requests are rare next to the time they take, and a fresh handle
// carries no state from the last one.
#include "system/http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <limits>
#include <mutex>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/map.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/symbol.h"
#include "runtime/unicode.h"

namespace zub::http {

const Headers kDefaultHeaders = {
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept-Charset", "UTF-8"},
    {"User-Agent", "Mozilla/5.0 (X11; Linux x86_64) Zub"},
};

namespace {

constexpr long kConnectSeconds = 60;
constexpr long kStalledSeconds = 30;  // a transfer that moves no byte for this long is given up
constexpr long kMaxRedirects = 10;

size_t take_body(char* data, size_t size, size_t count, void* response) {
    static_cast<Response*>(response)->body.append(data, size * count);
    return size * count;
}

size_t take_header(char* data, size_t size, size_t count, void* response) {
    auto* r = static_cast<Response*>(response);
    const std::string_view line(data, size * count);
    // Each response of a redirect chain begins with its status line: only the last one's count.
    if (line.starts_with("HTTP/")) r->headers.clear();
    std::string name, value;
    if (split_header(line, name, value)) r->headers.emplace_back(std::move(name), std::move(value));
    return size * count;
}

void init_once() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

bool split_header(std::string_view line, std::string& name, std::string& value) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return false;
    name.assign(line.substr(0, colon));
    size_t from = colon + 1;
    while (from < line.size() && (line[from] == ' ' || line[from] == '\t')) ++from;
    value.assign(line.substr(from));
    return true;
}

bool perform(const Request& request, Response& response, std::string& error) {
    init_once();
    CURL* curl = curl_easy_init();
    if (!curl) {
        error = "no transfer handle";
        return false;
    }
    char reason[CURL_ERROR_SIZE] = {};
    curl_slist* list = nullptr;
    for (const auto& [name, value] : request.own_headers ? request.headers : kDefaultHeaders) {
        // "Name;" sends a header with no value; "Name:" alone would drop it.
        const std::string line = value.empty() ? name + ";" : name + ": " + value;
        list = curl_slist_append(list, line.c_str());
    }
    // Headers of the script's own replace the defaults: curl's own content type for a body goes too.
    const auto named = [&](std::string_view wanted) {
        return std::any_of(request.headers.begin(), request.headers.end(), [&](const auto& h) {
            return h.first.size() == wanted.size() &&
                   std::equal(h.first.begin(), h.first.end(), wanted.begin(),
                              [](char a, char b) { return std::tolower(a) == std::tolower(b); });
        });
    };
    if (request.own_headers && !named("Content-Type")) list = curl_slist_append(list, "Content-Type:");
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, reason);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStalledSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");  // whatever curl can decode
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, take_body);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, take_header);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &response);
    const bool head = request.method == "HEAD", get = request.method == "GET";
    if (head) {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (!get) {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (request.has_body) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        }
    }
    const CURLcode done = curl_easy_perform(curl);
    if (done == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response.status);
    else error = reason[0] ? reason : curl_easy_strerror(done);
    curl_slist_free_all(list);
    curl_easy_cleanup(curl);
    return done == CURLE_OK;
}

namespace {

// The UTF-8 text of a value: a string's own, any other value formed.
std::string text_of(Cell value) {
    stack::Rooted kept(value);
    if (!type_group::in(type_group::text_like, cell::type(value))) {
        const Cell formed = string::make(16);
        kept.cell() = formed;
        registry::actions(cell::type(value))
            .form(value, cell::series_node(formed), std::numeric_limits<int32_t>::max());
    }
    const unicode::Converted utf8 = unicode::string_to_utf8(kept.cell());
    return {reinterpret_cast<const char*>(utf8.data), utf8.size};
}

std::string method_of(const Cell& word) {
    std::string m(symbol::utf8(word::symbol_of(word)));
    std::transform(m.begin(), m.end(), m.begin(), [](unsigned char c) { return std::toupper(c); });
    return m;
}

Cell text(std::string_view utf8) {
    const Cell s = string::make(static_cast<uint32_t>(utf8.size()));
    stack::Rooted kept(s);
    string::append_utf8(cell::series_node(s), utf8);
    return s;
}

// A block of the lines of the text: LF ends a line and a CR before it is dropped.
Cell lines_of(std::string_view body) {
    stack::Rooted out(block::make(8));
    while (!body.empty()) {
        const size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
        block::append(cell::series_node(out.cell()), text(line));
        if (end == std::string_view::npos) break;
        body.remove_prefix(end + 1);
    }
    return out.cell();
}

// The headers as a map: a name met again turns its entry into a block of every value.
Cell headers_map(const Headers& headers) {
    std::vector<std::pair<std::string, std::vector<std::string>>> grouped;
    for (const auto& [name, value] : headers) {
        auto it = std::find_if(grouped.begin(), grouped.end(), [&](const auto& g) { return g.first == name; });
        if (it == grouped.end()) grouped.push_back({name, {value}});
        else it->second.push_back(value);
    }
    stack::Rooted pairs(block::make(static_cast<uint32_t>(grouped.size() * 2)));
    for (const auto& [name, values] : grouped) {
        block::append(cell::series_node(pairs.cell()), words::global(symbol::make(name)));
        if (values.size() == 1) {
            block::append(cell::series_node(pairs.cell()), text(values[0]));
            continue;
        }
        stack::Rooted all(block::make(static_cast<uint32_t>(values.size())));
        for (const std::string& v : values) block::append(cell::series_node(all.cell()), text(v));
        block::append(cell::series_node(pairs.cell()), all.cell());
    }
    return map::init_cell(cell::series_node(pairs.cell()));
}

}  // namespace

Cell request(Cell method, Cell url, Cell headers, Cell data, bool binary, bool lines, bool info) {
    Request r;
    r.method = method_of(method);
    r.url = text_of(url);
    if (cell::is(headers, TypeId::block)) {
        r.own_headers = true;
        const NodeId node = cell::series_node(headers);
        for (uint32_t i = cell::series_index(headers); i + 1 < block::length(cell::series(TypeId::block, node));
             i += 2) {
            const Cell name = memory::buffer(node)->cells()[i];
            const Cell value = memory::buffer(node)->cells()[i + 1];
            r.headers.emplace_back(
                word::is_all_word(cell::type(name)) ? std::string(symbol::utf8(word::symbol_of(name))) : text_of(name),
                text_of(value));
        }
    }
    if (!cell::is(data, TypeId::none) && r.method != "GET" && r.method != "HEAD") {
        r.has_body = true;
        r.body = cell::is(data, TypeId::binary) ? std::string(binary::bytes_of(data)) : text_of(data);
    }
    Response response;
    std::string error;
    if (!perform(r, response, error)) return cell::none();
    const Cell body = binary  ? binary::from_bytes(response.body)
                      : lines ? lines_of(response.body)
                              : text(response.body);
    if (!info) return body;
    stack::Rooted kept(body);
    stack::Rooted answer(block::make(3));
    block::append(cell::series_node(answer.cell()), cell::integer(static_cast<int32_t>(response.status)));
    block::append(cell::series_node(answer.cell()), headers_map(response.headers));
    block::append(cell::series_node(answer.cell()), kept.cell());
    return answer.cell();
}

}  // namespace zub::http
