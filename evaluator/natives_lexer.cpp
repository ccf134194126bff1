// The lexer native: transcode, text or UTF-8 bytes to values, one value, or the type of the next
// token; /trace hands every lexer event to a function of the language.
#include "datatypes/function.h"
#include "datatypes/word.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/native_args.h"
#include "evaluator/natives.h"
#include "evaluator/part_skip.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::natives {
namespace {

// Units (bytes or characters) from the series' index to its tail.
uint32_t remaining(const Cell& series) {
    const uint32_t length = series::length(cell::series_node(series));
    const uint32_t index = cell::series_index(series);
    return length > index ? length - index : 0;
}

// The events a callback asks for: the event words of a block that begins its body, else all.
uint32_t trace_mask(const Cell& callback) {
    if (!cell::is(callback, TypeId::function)) return lexer::event::all;
    const Cell body = function::more_at(callback, function::kBody);
    if (!cell::is(body, TypeId::block)) return lexer::event::all;
    const NodeId node = cell::series_node(body);
    const uint32_t index = cell::series_index(body);
    if (series::length(node) <= index) return lexer::event::all;
    const Cell first = memory::buffer(node)->cells()[index];
    if (!cell::is(first, TypeId::block)) return lexer::event::all;

    struct Named {
        words::Word word;
        uint32_t bit;
    };
    static constexpr Named kEvents[] = {
        {words::Word::prescan, lexer::event::prescan}, {words::Word::scan, lexer::event::scan},
        {words::Word::load, lexer::event::load},       {words::Word::open, lexer::event::open},
        {words::Word::close, lexer::event::close},     {words::Word::error, lexer::event::error},
    };
    uint32_t mask = 0;
    const NodeId list = cell::series_node(first);
    const uint32_t n = series::length(list);
    for (uint32_t i = cell::series_index(first); i < n; ++i) {
        const Cell w = memory::buffer(list)->cells()[i];
        if (!type_group::in(type_group::all_word, cell::type(w))) continue;
        for (const Named& e : kEvents) {
            if (symbol::resolve(word::symbol_of(w)) == symbol::resolve(words::id(e.word))) mask |= e.bit;
        }
    }
    return mask;
}

// What the trace hook needs: where the callback and the source sit (on the evaluation stack, so
// they stay reachable and are re-read after every call) and the offset of the input in the source.
struct TraceData {
    Cell* args;         // the native's arguments base
    uint32_t callback;  // position of the callback among the arguments
    uint32_t offset;    // units between the source's index and the input start (a skipped BOM)
};

// Names the punctuation tokens that have no datatype, by lexer action number.
Cell action_word(int32_t action) {
    static constexpr const char* kNames[] = {"",       "end",    "error", "block", "block",     "paren",   "paren",
                                             "string", "string", "map",   "path",  "construct", "comment", "comma"};
    if (action < 1 || action > 13) return cell::none();
    return words::global(symbol::make(kNames[action]));
}

bool call_tracer(void* data, lexer::TraceInfo& info) {
    const TraceData& t = *static_cast<const TraceData*>(data);
    Cell values[5];
    switch (info.event) {
        case lexer::event::prescan: values[0] = words::global(words::Word::prescan); break;
        case lexer::event::scan: values[0] = words::global(words::Word::scan); break;
        case lexer::event::load: values[0] = words::global(words::Word::load); break;
        case lexer::event::open: values[0] = words::global(words::Word::open); break;
        case lexer::event::close: values[0] = words::global(words::Word::close); break;
        default: values[0] = words::global(words::Word::error); break;
    }
    Cell input = t.args[0];
    const uint32_t start = cell::series_index(input) + t.offset;
    const uint32_t at = std::min(start + (info.end > 0 ? info.end - 1 : 0), series::length(cell::series_node(input)));
    cell::set_series_index(input, at);
    values[1] = input;
    values[2] = info.type > 0 && info.type < kTypeIdLimit
                    ? cell::make(TypeId::datatype, static_cast<uint32_t>(info.type))
                    : action_word(-info.type);
    values[3] = cell::integer(static_cast<int32_t>(info.line));
    values[4] = info.value ? *info.value : cell::make(TypeId::pair, 0, info.start, info.end);

    Cell* const base = stack::g_top;
    Status status;
    {
        // Errors inside name the callback as where they happened.
        const stack::Call frame(stack::FrameType::native, words::global(words::Word::lexer_callback_tag));
        status = interp::call_reading_back(t.args[t.callback], values, 5, cell::none(), interp::Callback::lexer);
    }
    // A callback that moved its input moves the lexer there.
    const Cell moved = values[1];
    if (status == Status::normal && cell::type(moved) == cell::type(input) &&
        cell::series_node(moved) == cell::series_node(input) && cell::series_index(moved) != at)
        info.resume = cell::series_index(moved) > start ? cell::series_index(moved) - start : 0;
    if (status != Status::normal) {
        stack::g_top = base;
        exits::refuse_escape(status);
    }
    const Cell answer = stack::g_top > base ? stack::g_top[-1] : cell::unset();
    stack::g_top = base;
    return cell::is(answer, TypeId::logic) && cell::as_logic(answer);
}

}  // namespace

// transcode: its refinements are described in boot/natives.zub. The text is copied out of the
// source first, so the source may move while values are built or the callback runs.
Status transcode_entry(const int32_t* refinements) {
    const native_args::Args<Native::transcode> args(refinements);
    Cell source = args[0];
    const bool binary = cell::is(source, TypeId::binary);

    int32_t length = -1;
    if (const Cell* part_arg = args.arg<"part">()) {
        const Cell part = *part_arg;
        if (cell::is(part, TypeId::integer)) {
            length = std::max(cell::as_integer(part), 0);
        } else if (cell::type(part) != cell::type(source)) {
            error::fire(ErrorId::not_same_type);
        } else if (cell::series_node(part) != cell::series_node(source)) {
            // A position in another series measures nothing in this one.
            part_skip::refuse(words::Word::part, part);
        } else {
            const int64_t distance = int64_t{cell::series_index(part)} - int64_t{cell::series_index(source)};
            length = static_cast<int32_t>(std::max<int64_t>(distance, 0));
        }
    }

    // A UTF-8 byte-order mark before binary text is not part of it.
    uint32_t offset = 0;
    if (binary && (length < 0 || length >= 3) && remaining(source) >= 3) {
        const NodeId node = cell::series_node(source);
        const uint32_t i = cell::series_index(source) + 1;
        if (series::byte_at(node, i) == 0xEF && series::byte_at(node, i + 1) == 0xBB &&
            series::byte_at(node, i + 2) == 0xBF) {
            offset = 3;
            cell::set_series_index(source, cell::series_index(source) + 3);
            if (length >= 0) length -= 3;
        }
    }

    const bool next = args.has<"next">();
    const bool one = args.has<"one">();
    const bool prescan = args.has<"prescan">();
    const bool scan = args.has<"scan">();
    lexer::Options options;
    options.one = next || one || scan;
    options.prescan = prescan;
    options.load = !prescan && !scan;
    if (const Cell* into = args.arg<"into">()) options.into = cell::series_node(*into);

    TraceData data{args.cells(), 0, offset};
    lexer::Trace trace{call_tracer, &data, 0};
    if (const Cell* callback = args.arg<"trace">()) {
        data.callback = static_cast<uint32_t>(callback - args.cells());
        trace.mask = trace_mask(*callback);
        options.trace = &trace;
    }

    const uint32_t available = remaining(source);
    const uint32_t count = length < 0 ? available : std::min(available, static_cast<uint32_t>(length));
    if ((prescan || scan) && count == 0) return args.done(cell::none());

    const lexer::Result result = lexer::transcode_value(source, length, options);
    Cell* const out = args.cells();
    if (prescan || scan) {
        const auto type = static_cast<int32_t>(result.type);
        *out = type == 0  ? cell::none()
               : type < 0 ? cell::datatype_of(TypeId::error)
                          : cell::datatype_of(static_cast<TypeId>(type));
    } else if (next && !one) {
        // The value and the rest wait in argument cells, where the collector sees them, while
        // the block of two is made.
        Cell advanced = source;
        cell::set_series_index(advanced, cell::series_index(source) + result.consumed);
        out[1] = advanced;
        out[0] = result.value;
        const NodeId node = memory::alloc_cells(2);
        series::append_cell(node, out[0]);
        series::append_cell(node, out[1]);
        out[0] = cell::series(TypeId::block, node);
    } else if (options.into && !options.one) {
        *out = *args.arg<"into">();
    } else {
        *out = result.value;
    }
    return Status::normal;
}

}  // namespace zub::natives
