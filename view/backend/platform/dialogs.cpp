// The dialogs hand back plain texts (font names, paths); the Zub side turns them into font
// objects and file! values. A test can queue the answer the next dialog gets: it is given
// through the chooser itself (its folder and selection set, then OK once the chooser shows that
// selection), so the same reading of the chooser serves users and tests.
#include "view/backend/platform/dialogs.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/string.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "runtime/lowrt.h"
#include "view/backend/platform/platform.h"
#include "view/backend/platform/values.h"

namespace zub::platform::dialogs {
namespace {

using native_args::Args;
using native_args::Plain;

// The answer queued for the next dialog.
struct Answer {
    bool pending = false;
    bool cancel = false;
    std::vector<std::string> items;  // the paths to choose, or the font's description
};
Answer g_answer;

// How the last dialog was set up, as the test hook reports it.
struct Seen {
    std::string kind;                  // "font", "open", "save", "folder" or "message"
    std::string title, folder, name;   // empty: not given
    std::vector<std::string> filters;  // description, pattern, ... as the chooser got them
    bool flag = false;                 // multi-selection, or monospaced fonts only
};
Seen g_seen;

GThread* g_gtk_thread = nullptr;  // the thread that opened the display

GtkWindow* foreground() {
    GtkWindow* found = nullptr;
    GList* all = gtk_window_list_toplevels();
    for (GList* at = all; at && !found; at = at->next)
        if (gtk_window_is_active(GTK_WINDOW(at->data))) found = GTK_WINDOW(at->data);
    g_list_free(all);
    return found;
}

std::string parent_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

std::string base_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string chooser_file(GtkFileChooser* chooser) {
    gchar* name = gtk_file_chooser_get_filename(chooser);
    std::string text = name ? name : "";
    g_free(name);
    return text;
}

std::vector<std::string> chooser_files(GtkFileChooser* chooser) {
    std::vector<std::string> list;
    GSList* names = gtk_file_chooser_get_filenames(chooser);
    for (GSList* at = names; at; at = at->next) {
        list.emplace_back(static_cast<const char*>(at->data));
        g_free(at->data);
    }
    g_slist_free(names);
    return list;
}

GtkTreeView* file_list(GtkWidget* widget) {
    if (GTK_IS_TREE_VIEW(widget)) return GTK_TREE_VIEW(widget);
    GtkTreeView* found = nullptr;
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* at = children; at && !found; at = at->next) found = file_list(GTK_WIDGET(at->data));
        g_list_free(children);
    }
    return found;
}

// Selects the rows of the chooser's list whose file is one of the paths.
void select_rows(GtkWidget* dialog, const std::vector<std::string>& paths) {
    GtkTreeView* list = file_list(dialog);
    GtkTreeModel* model = list ? gtk_tree_view_get_model(list) : nullptr;
    if (!model) return;
    gint column = -1;
    for (gint i = 0, n = gtk_tree_model_get_n_columns(model); i < n && column < 0; ++i)
        if (g_type_is_a(gtk_tree_model_get_column_type(model, i), G_TYPE_FILE)) column = i;
    if (column < 0) return;
    GtkTreeSelection* selection = gtk_tree_view_get_selection(list);
    GtkTreeIter row;
    for (gboolean more = gtk_tree_model_get_iter_first(model, &row); more;
         more = gtk_tree_model_iter_next(model, &row)) {
        GFile* file = nullptr;
        gtk_tree_model_get(model, &row, column, &file, -1);
        if (!file) continue;
        gchar* path = g_file_get_path(file);
        if (path && std::find(paths.begin(), paths.end(), path) != paths.end())
            gtk_tree_selection_select_iter(selection, &row);
        g_free(path);
        g_object_unref(file);
    }
}

// Answering a dialog: the first tick sets the chooser up, later ticks wait until it shows what
// was asked for (file choosers load folders in the background), then say OK. A chooser that never
// shows it is answered anyway after about two seconds.
struct Answering {
    GtkDialog* dialog;
    Answer answer;
    guint source = 0;
    int ticks = 0;
};

void choose(Answering& a) {
    GtkWidget* widget = GTK_WIDGET(a.dialog);
    if (GTK_IS_FONT_CHOOSER(widget)) {
        if (!a.answer.items.empty()) gtk_font_chooser_set_font(GTK_FONT_CHOOSER(widget), a.answer.items[0].c_str());
        return;
    }
    if (!GTK_IS_FILE_CHOOSER(widget) || a.answer.items.empty()) return;
    auto* chooser = GTK_FILE_CHOOSER(widget);
    const std::string& first = a.answer.items[0];
    switch (gtk_file_chooser_get_action(chooser)) {
        case GTK_FILE_CHOOSER_ACTION_SAVE:
            gtk_file_chooser_set_current_folder(chooser, parent_of(first).c_str());
            gtk_file_chooser_set_current_name(chooser, base_of(first).c_str());
            break;
        case GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER:
            (void)gtk_file_chooser_select_filename(chooser, first.c_str());
            break;
        default:
            // Selecting a file through the chooser drops the rest of the selection, so a second
            // file is added to the list's own selection once the folder shows.
            if (a.ticks == 0) (void)gtk_file_chooser_select_filename(chooser, first.c_str());
            else select_rows(widget, a.answer.items);
            break;
    }
}

bool shows_answer(Answering& a) {
    GtkWidget* widget = GTK_WIDGET(a.dialog);
    if (!GTK_IS_FILE_CHOOSER(widget) || a.answer.items.empty()) return true;
    auto* chooser = GTK_FILE_CHOOSER(widget);
    if (gtk_file_chooser_get_action(chooser) != GTK_FILE_CHOOSER_ACTION_OPEN)
        return chooser_file(chooser) == a.answer.items[0];
    std::vector<std::string> shown = chooser_files(chooser), wanted = a.answer.items;
    std::sort(shown.begin(), shown.end());
    std::sort(wanted.begin(), wanted.end());
    return shown == wanted;
}

gboolean answer_tick(gpointer data) {
    auto& a = *static_cast<Answering*>(data);
    if (a.answer.cancel) {
        a.source = 0;
        gtk_dialog_response(a.dialog, GTK_RESPONSE_CANCEL);
        return G_SOURCE_REMOVE;
    }
    // Set up again now and then: a folder that finished loading may have dropped the selection.
    if (a.ticks % 10 == 0 || a.ticks == 3) choose(a);
    if (++a.ticks > 1 && (shows_answer(a) || a.ticks > 100)) {
        a.source = 0;
        gtk_dialog_response(a.dialog, GTK_RESPONSE_ACCEPT);
        return G_SOURCE_REMOVE;
    }
    return G_SOURCE_CONTINUE;
}

// Runs the dialog modally, answered by the queued answer when there is one. True on OK.
bool run(GtkWidget* dialog, const char* title) {
    if (title) gtk_window_set_title(GTK_WINDOW(dialog), title);
    if (GtkWindow* owner = foreground()) gtk_window_set_transient_for(GTK_WINDOW(dialog), owner);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    Answering answering{GTK_DIALOG(dialog), {}};
    if (g_answer.pending) {
        answering.answer = std::move(g_answer);
        g_answer = Answer{};
        answering.source = g_timeout_add(20, answer_tick, &answering);
    }
    const gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (answering.source) g_source_remove(answering.source);
    return response == GTK_RESPONSE_ACCEPT || response == GTK_RESPONSE_OK;
}

std::string text_or_empty(const Cell& value) {
    return cell::is(value, TypeId::none) ? std::string() : values::utf8_of(value);
}

const char* title_of(const std::string& title) { return title.empty() ? nullptr : title.c_str(); }

// Zub's patterns are Windows-style lists separated by ";"; "*.*" means every file there, so it
// means "*" here.
void add_patterns(GtkFileFilter* filter, const std::string& patterns) {
    size_t from = 0;
    while (from <= patterns.size()) {
        size_t end = patterns.find(';', from);
        if (end == std::string::npos) end = patterns.size();
        std::string one = patterns.substr(from, end - from);
        one.erase(0, one.find_first_not_of(' '));
        one.erase(one.find_last_not_of(' ') + 1);
        if (one == "*.*") one = "*";
        if (!one.empty()) gtk_file_filter_add_pattern(filter, one.c_str());
        from = end + 1;
    }
}

// Selects a file in an open dialog; a name without a folder lies in the current directory.
void select_in(GtkFileChooser* chooser, const std::string& folder, const std::string& name) {
    gchar* path = g_canonicalize_filename(name.c_str(), folder.empty() ? nullptr : folder.c_str());
    (void)gtk_file_chooser_select_filename(chooser, path);
    g_free(path);
}

Cell path_block(const std::vector<std::string>& paths) {
    Cell* out = block::push_new(static_cast<uint32_t>(paths.size()));
    for (const std::string& path : paths) values::append_text(cell::series_node(*out), path);
    const Cell result = *out;
    stack::pop(1);
    return result;
}

// font-dialog title name size mono?: [name size weight italic?] of the chosen font, or none.
Status font_dialog(const int32_t* r) {
    const Args<Plain::routine> args(r);
    if (!has_display()) return args.done(cell::none());
    const std::string title = text_or_empty(args[0]);
    const std::string initial = values::utf8_of(args[1]) + " " + std::to_string(args.integer(2));
    const bool mono = args.logic(3);
    g_seen = Seen{"font", title, "", initial, {}, mono};
    GtkWidget* dialog = gtk_font_chooser_dialog_new(title_of(title), nullptr);
    gtk_font_chooser_set_font(GTK_FONT_CHOOSER(dialog), initial.c_str());
    if (mono) {
        gtk_font_chooser_set_filter_func(
            GTK_FONT_CHOOSER(dialog),
            [](const PangoFontFamily* family, const PangoFontFace*, gpointer) -> gboolean {
                return pango_font_family_is_monospace(const_cast<PangoFontFamily*>(family));
            },
            nullptr, nullptr);
    }
    PangoFontDescription* chosen = nullptr;
    if (run(dialog, title_of(title))) chosen = gtk_font_chooser_get_font_desc(GTK_FONT_CHOOSER(dialog));
    gtk_widget_destroy(dialog);
    if (!chosen) return args.done(cell::none());
    const char* family = pango_font_description_get_family(chosen);
    const std::string name = family ? family : "";
    const int32_t size = pango_font_description_get_size(chosen) / PANGO_SCALE;
    const int32_t weight = pango_font_description_get_weight(chosen);
    const bool italic = pango_font_description_get_style(chosen) != PANGO_STYLE_NORMAL;
    pango_font_description_free(chosen);
    Cell* out = block::push_new(4);
    values::append_text(cell::series_node(*out), name);
    block::append(cell::series_node(*out), cell::integer(size));
    block::append(cell::series_node(*out), cell::integer(weight));
    block::append(cell::series_node(*out), cell::logic(italic));
    const Cell result = *out;
    stack::pop(1);
    return args.done(result);
}

// file-dialog title folder name filters save? multi?: the chosen paths, or none.
Status file_dialog(const int32_t* r) {
    const Args<Plain::routine> args(r);
    if (!has_display()) return args.done(cell::none());
    const std::string title = text_or_empty(args[0]);
    const std::string folder = text_or_empty(args[1]);
    const std::string name = text_or_empty(args[2]);
    const bool save = args.logic(4), multi = args.logic(5);
    g_seen = Seen{save ? "save" : "open", title, folder, name, {}, multi};
    // The texts are read before the dialog is made: reading them may collect.
    const Cell filters = args[3];
    if (cell::is(filters, TypeId::block)) {
        const uint32_t n = block::length(filters) & ~1U;  // an unpaired last value is left out
        for (uint32_t i = 0; i < n; ++i)
            g_seen.filters.push_back(values::utf8_of(block::abs_at(args[3], block::head_index(args[3]) + i)));
    }
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        title_of(title), nullptr, save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
        GTK_RESPONSE_CANCEL, save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    auto* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_select_multiple(chooser, multi && !save);
    gtk_file_chooser_set_do_overwrite_confirmation(chooser, FALSE);
    for (size_t i = 0; i + 1 < g_seen.filters.size(); i += 2) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, g_seen.filters[i].c_str());
        add_patterns(filter, g_seen.filters[i + 1]);
        gtk_file_chooser_add_filter(chooser, filter);
    }
    if (!folder.empty()) gtk_file_chooser_set_current_folder(chooser, folder.c_str());
    if (!name.empty()) {
        if (save) gtk_file_chooser_set_current_name(chooser, name.c_str());
        else select_in(chooser, folder, name);
    }
    std::vector<std::string> chosen;
    if (run(dialog, title_of(title))) chosen = chooser_files(chooser);
    gtk_widget_destroy(dialog);
    return args.done(chosen.empty() ? cell::none() : path_block(chosen));
}

// dir-dialog title folder: the chosen folder, or none.
Status dir_dialog(const int32_t* r) {
    const Args<Plain::routine> args(r);
    if (!has_display()) return args.done(cell::none());
    const std::string title = text_or_empty(args[0]);
    const std::string folder = text_or_empty(args[1]);
    g_seen = Seen{"folder", title, folder, "", {}, false};
    GtkWidget* dialog =
        gtk_file_chooser_dialog_new(title_of(title), nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
                                    GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
    auto* chooser = GTK_FILE_CHOOSER(dialog);
    if (!folder.empty()) gtk_file_chooser_set_current_folder(chooser, folder.c_str());
    std::string chosen;
    if (run(dialog, title_of(title))) chosen = chooser_file(chooser);
    gtk_widget_destroy(dialog);
    return args.done(chosen.empty() ? cell::none() : values::text(chosen));
}

// message-box caption text.
Status message_box_routine(const int32_t* r) {
    const Args<Plain::routine> args(r);
    const std::string caption = values::utf8_of(args[0]);
    const std::string text = values::utf8_of(args[1]);
    message_box(caption, text);
    return args.done(cell::unset());
}

// answer-dialog answer: the next dialog is answered with these paths (or this font), or
// cancelled for none.
Status answer_dialog(const int32_t* r) {
    const Args<Plain::routine> args(r);
    Answer answer{true, cell::is(args[0], TypeId::none), {}};
    if (!answer.cancel) {
        for (uint32_t i = 0, n = block::length(args[0]); i < n; ++i)
            answer.items.push_back(values::utf8_of(block::abs_at(args[0], block::head_index(args[0]) + i)));
    }
    g_answer = std::move(answer);
    return args.done(cell::unset());
}

// last-dialog: [kind title folder name filters flag] of the last dialog opened.
Status last_dialog(const int32_t* r) {
    const Args<Plain::routine> args(r);
    Cell* out = block::push_new(6);
    const NodeId node = cell::series_node(*out);
    for (const std::string* text : {&g_seen.kind, &g_seen.title, &g_seen.folder, &g_seen.name}) {
        if (text->empty()) block::append(node, cell::none());
        else values::append_text(node, *text);
    }
    block::append(node, path_block(g_seen.filters));
    block::append(node, cell::logic(g_seen.flag));
    const Cell result = *out;
    stack::pop(1);
    return args.done(result);
}

// The fatal report's box, shown only on the thread that runs GTK.
void fatal_box(const char* caption, const char* text) {
    if (g_thread_self() == g_gtk_thread) message_box(caption, text);
}

struct Named {
    const char* name;
    function::RoutineEntry entry;
};

constexpr Named kRoutines[] = {
    {"font-dialog", font_dialog},         {"file-dialog", file_dialog},     {"dir-dialog", dir_dialog},
    {"message-box", message_box_routine}, {"answer-dialog", answer_dialog}, {"last-dialog", last_dialog},
};

}  // namespace

void message_box(std::string_view caption, std::string_view text) {
    if (!has_display()) return;
    const std::string body(text);
    g_seen = Seen{"message", std::string(caption), "", body, {}, false};
    GtkWidget* box =
        gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", body.c_str());
    const std::string title(caption);
    (void)run(box, title.c_str());
    gtk_widget_destroy(box);
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
}

void register_routines() {
    for (const Named& r : kRoutines) (void)function::add_routine(r.name, r.entry);
    if (has_display()) {
        g_gtk_thread = g_thread_self();
        lowrt::set_message_box(fatal_box);
    }
}

}  // namespace zub::platform::dialogs
