// Reading tries text, then files, then images, as the clipboard's owner offers them; what we
// write stays ours (a copy of the bytes) until another program takes the clipboard over. Without
// a display, or when the owner does not answer, reading gives false and writing false.
#include "view/backend/platform/clipboard.h"

#include <gtk/gtk.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "environment/system_routines.h"
#include "evaluator/native_args.h"
#include "evaluator/stack.h"
#include "system/files.h"
#include "system/image_codecs.h"
#include "view/backend/platform/platform.h"
#include "view/backend/platform/values.h"

namespace zub::platform::clipboard {
namespace {

using native_args::Args;
using native_args::Plain;

constexpr const char* kUriList = "text/uri-list";
// The image types read, in order; PNG is what we write.
constexpr const char* kImageTypes[] = {"image/png", "image/jpeg", "image/gif"};

GtkClipboard* board() { return gtk_clipboard_get(GDK_SELECTION_CLIPBOARD); }

bool offers(GdkAtom* targets, gint count, const char* type) {
    const GdkAtom wanted = gdk_atom_intern_static_string(type);
    for (gint i = 0; i < count; ++i)
        if (targets[i] == wanted) return true;
    return false;
}

Cell read_text(GtkClipboard* cb) {
    gchar* text = gtk_clipboard_wait_for_text(cb);
    if (!text) return cell::logic(false);
    std::string lf(text);
    g_free(text);
    std::erase(lf, '\r');
    return values::text(lf);
}

// An empty list is an empty block (GTK's own reading takes it for no list).
Cell read_files(GtkClipboard* cb) {
    GtkSelectionData* data = gtk_clipboard_wait_for_contents(cb, gdk_atom_intern_static_string(kUriList));
    if (!data) return cell::logic(false);
    gint length = 0;
    const guchar* bytes = gtk_selection_data_get_data_with_length(data, &length);
    const std::string list(reinterpret_cast<const char*>(bytes), bytes && length > 0 ? static_cast<size_t>(length) : 0);
    gtk_selection_data_free(data);
    gchar** uris = g_uri_list_extract_uris(list.c_str());
    Cell* out = block::push_new(static_cast<uint32_t>(g_strv_length(uris)));
    for (gchar** at = uris; *at; ++at) {
        gchar* path = g_filename_from_uri(*at, nullptr, nullptr);
        if (!path) continue;  // not a local file
        const std::string text(path);
        g_free(path);
        block::append(cell::series_node(*out), files::to_zub(values::text(text)));
    }
    g_strfreev(uris);
    const Cell result = *out;
    stack::pop(1);
    return result;
}

Cell read_image_bytes(GtkClipboard* cb, const char* type) {
    GtkSelectionData* data = gtk_clipboard_wait_for_contents(cb, gdk_atom_intern_static_string(type));
    if (!data) return cell::logic(false);
    gint length = 0;
    const guchar* bytes = gtk_selection_data_get_data_with_length(data, &length);
    image_codecs::Pixels picture;
    const bool ok = bytes && length > 0 &&
                    image_codecs::decode({reinterpret_cast<const char*>(bytes), static_cast<size_t>(length)}, picture);
    gtk_selection_data_free(data);
    // Bytes another program calls an image but that do not decode are unreadable, not an error.
    return ok ? image::from_pixels(picture.width, picture.height, picture.data.data()) : cell::logic(false);
}

// Any other image type the owner offers, converted by GTK.
Cell read_pixbuf(GtkClipboard* cb) {
    GdkPixbuf* pixbuf = gtk_clipboard_wait_for_image(cb);
    if (!pixbuf) return cell::logic(false);
    const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* bytes = gdk_pixbuf_read_pixels(pixbuf);
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const guchar* p = bytes + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * channels;
            const uint32_t alpha = channels == 4 ? p[3] : 255;
            pixels[static_cast<size_t>(y) * w + x] = alpha << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
        }
    }
    g_object_unref(pixbuf);
    if (w < 1 || h < 1 || w > static_cast<int>(image::kMaxSide) || h > static_cast<int>(image::kMaxSide))
        return cell::logic(false);
    return image::from_pixels(static_cast<uint32_t>(w), static_cast<uint32_t>(h), pixels.data());
}

// read-clipboard: a string!, a block! of file!, an image!, none when nothing we know is there,
// false when the clipboard cannot be read.
Status read_clipboard(const int32_t* r) {
    const Args<Plain::routine> args(r);
    if (!has_display()) return args.done(cell::logic(false));
    GtkClipboard* cb = board();
    GdkAtom* targets = nullptr;
    gint count = 0;
    // Asked each time (GTK's own list of targets may be stale): no owner, or an owner offering
    // nothing, is an empty clipboard.
    GtkSelectionData* offered = gtk_clipboard_wait_for_contents(cb, gdk_atom_intern_static_string("TARGETS"));
    const bool any = offered && gtk_selection_data_get_targets(offered, &targets, &count);
    if (offered) gtk_selection_data_free(offered);
    if (!any) return args.done(cell::none());
    Cell result = cell::none();
    if (gtk_targets_include_text(targets, count)) {
        result = read_text(cb);
    } else if (offers(targets, count, kUriList)) {
        result = read_files(cb);
    } else {
        const char* type = nullptr;
        for (const char* one : kImageTypes)
            if (!type && offers(targets, count, one)) type = one;
        if (type) result = read_image_bytes(cb, type);
        else if (gtk_targets_include_image(targets, count, FALSE)) result = read_pixbuf(cb);
    }
    g_free(targets);
    return args.done(result);
}

// What we offer, kept until the clipboard is taken from us.
struct Offer {
    std::string bytes;
};

void give(GtkClipboard*, GtkSelectionData* selection, guint, gpointer data) {
    const std::string& bytes = static_cast<Offer*>(data)->bytes;
    gtk_selection_data_set(selection, gtk_selection_data_get_target(selection), 8,
                           reinterpret_cast<const guchar*>(bytes.data()), static_cast<gint>(bytes.size()));
}

void forget(GtkClipboard*, gpointer data) { delete static_cast<Offer*>(data); }

bool offer(const char* type, std::string bytes) {
    const GtkTargetEntry entry{const_cast<gchar*>(type), 0, 0};
    auto* kept = new Offer{std::move(bytes)};
    if (gtk_clipboard_set_with_data(board(), &entry, 1, give, forget, kept)) return true;
    delete kept;
    return false;
}

// Emptying: whoever owns the clipboard loses it, and nobody owns it after.
bool empty() {
    gtk_clipboard_clear(board());
    return gdk_selection_owner_set_for_display(gdk_display_get_default(), nullptr, GDK_SELECTION_CLIPBOARD,
                                               GDK_CURRENT_TIME, TRUE);
}

// Files go as file: URIs, one a line, each line ended by CR LF as text/uri-list asks.
bool write_files(const Cell& list) {
    std::string uris;
    for (uint32_t i = 0, n = block::length(list); i < n; ++i) {
        const Cell path = block::abs_at(list, block::head_index(list) + i);
        const std::string local = values::utf8_of(files::to_local(path, true));
        gchar* uri = g_filename_to_uri(local.c_str(), nullptr, nullptr);
        if (!uri) return false;
        uris += uri;
        uris += "\r\n";
        g_free(uri);
    }
    return offer(kUriList, std::move(uris));
}

bool write_image(const Cell& picture) {
    std::string png;
    const uint32_t* pixels = image::pixels(picture);
    if (!image_codecs::encode(image_codecs::Format::png, image::width(picture), image::height(picture), pixels, png))
        return false;
    return offer(kImageTypes[0], std::move(png));
}

// write-clipboard value: true when the clipboard took it.
Status write_clipboard(const int32_t* r) {
    const Args<Plain::routine> args(r);
    routines::check_clipboard_value(args[0]);
    if (!has_display()) return args.done(cell::logic(false));
    const Cell value = args[0];
    bool done = false;
    if (cell::is(value, TypeId::string)) {
        const std::string text = values::utf8_of(value);
        gtk_clipboard_set_text(board(), text.c_str(), static_cast<gint>(text.size()));
        done = true;
    } else if (cell::is(value, TypeId::block)) {
        done = write_files(args[0]);
    } else if (cell::is(value, TypeId::image) && image::pixel_count(value) > 0) {
        done = write_image(value);
    } else {
        done = empty();
    }
    return args.done(cell::logic(done));
}

}  // namespace

void register_routines() {
    (void)function::add_routine("read-clipboard", read_clipboard);
    (void)function::add_routine("write-clipboard", write_clipboard);
}

}  // namespace zub::platform::clipboard
