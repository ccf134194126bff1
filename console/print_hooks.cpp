#include "console/print_hooks.h"

#include <vector>

#include "console/caret_blink.h"
#include "datatypes/function.h"
#include "datatypes/string.h"
#include "evaluator/depth.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "evaluator/words.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"
#include "system/output.h"
#include "view/backend/gui.h"

namespace zub::embedded {
extern const Source console_window[];  // console/*.zub, in start-up order
extern const uint32_t console_window_count;
}  // namespace zub::embedded

namespace zub::console_window {
namespace {

Cell g_vprint_path = cell::none();  // gui-console-ctx/terminal/vprint, loaded once
Cell g_vprint_word = cell::none();  // the word errors of the call name
Cell g_text = cell::none();         // the string the byte-text hook decodes into, reused

constexpr uint32_t kReplacement = 0xFFFD;

void prepare() {
    if (cell::is(g_vprint_word, TypeId::word)) return;
    static constexpr char kPath[] = "gui-console-ctx/terminal/vprint";
    const NodeId code = lexer::load(reinterpret_cast<const std::byte*>(kPath), sizeof kPath - 1);
    g_vprint_path = memory::buffer(code)->cells()[0];
    collector::add_cell_root(&g_vprint_path);
    g_vprint_word = words::global(symbol::make("vprint"));
    collector::add_cell_root(&g_vprint_word);
    collector::add_cell_root(&g_text);
}

// add-gui-print: from now on print reaches the terminal. Registering twice adds nothing.
Status add_gui_print(const int32_t* r) {
    const native_args::Args<native_args::Plain::routine> args(r);
    prepare();
    output::remove_hooks(value_hook, text_hook);
    output::add_hooks(value_hook, text_hook);
    return args.done(cell::none());
}

void register_routines() {
    // What a runtime that ended left here is gone with it.
    g_vprint_path = g_vprint_word = g_text = cell::none();
    gui::extension().register_routines();
    (void)function::add_routine("add-gui-print", add_gui_print);
    (void)function::add_routine("get-caret-blink-time", get_caret_blink_time);
}

}  // namespace

const boot::Extension& extension() {
    // The GUI library's files, then the console window's, in one table as start-up reads it.
    static const std::vector<embedded::Source> sources = [] {
        const boot::Extension& gui = gui::extension();
        std::vector<embedded::Source> all(gui.sources, gui.sources + gui.source_count);
        all.insert(all.end(), embedded::console_window, embedded::console_window + embedded::console_window_count);
        all.push_back({nullptr, nullptr, nullptr});
        return all;
    }();
    // With a display the console opens its window; without one it stays in the terminal.
    static const boot::Extension kExtension{
        register_routines, sources.data(), static_cast<uint32_t>(sources.size() - 1),
        "either view-platform/display? [gui-console-ctx/launch] [system/console/launch]"};
    return kExtension;
}

void value_hook(Cell text, bool new_line) {
    // A print deep in a runaway recursion raises where it stands instead of calling further.
    depth::check();
    prepare();
    const stack::Saved saved = stack::save();
    const trace::Quiet quiet;
    const Cell values[2] = {text, cell::logic(new_line)};
    exits::refuse_escape(interp::get_path(g_vprint_path));
    exits::refuse_escape(interp::call(stack::top_cell(), values, 2, g_vprint_word));
    stack::restore(saved);
}

void text_hook(const char* bytes, size_t length) {
    prepare();
    if (cell::is(g_text, TypeId::string)) {
        // Back to one byte a character: the next text may be plain ASCII again.
        string::rs_reset(cell::series_node(g_text));
    } else {
        g_text = string::make(static_cast<uint32_t>(length));
    }
    const auto* p = reinterpret_cast<const std::byte*>(bytes);
    size_t i = 0;
    while (i < length) {
        const unicode::Decoded d = unicode::decode_utf8_char(p + i, static_cast<uint32_t>(length - i));
        string::append_char(cell::series_node(g_text), d.cp < 0 ? kReplacement : static_cast<uint32_t>(d.cp));
        i += d.length;
    }
    value_hook(g_text, false);
}

}  // namespace zub::console_window
