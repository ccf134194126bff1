// File and directory access over the POSIX layer of system/platform/fs.h. The language's file!
// names are POSIX paths already, so a path reaches the system as its UTF-8 text.
#include "system/files.h"

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/unicode.h"
#include "system/platform/fs.h"
#include "system/platform/os.h"

namespace zub::files {
namespace {

namespace fs = platform::fs;

constexpr int32_t kNoLimit = 0x7FFFFFFF;
// The largest content a series holds: a file longer than this cannot be read whole.
constexpr int64_t kMaxBytes = 0x7FFF0000;

[[noreturn]] void cannot_open(const Cell& file) { error::fire(ErrorId::cannot_open, file); }

// Closes a descriptor whichever way the scope is left.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) fs::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// The text of a value from its head, at most `count` characters, as UTF-8.
std::string utf8_of(const Cell& value, uint32_t count = unicode::kWhole) {
    const NodeId node = cell::series_node(value);
    const uint32_t unit = series::unit(node);
    const uint32_t length = series::length(node);
    const uint32_t head = std::min(cell::series_index(value), length);
    const uint32_t end = count >= length - head ? length : head + count;
    const std::byte* data = memory::buffer(node)->head_ptr();
    std::string text(unicode::utf8_size(data + size_t{head} * unit, data + size_t{end} * unit, unit), '\0');
    text.resize(unicode::string_to_utf8_into(value, reinterpret_cast<std::byte*>(text.data()),
                                             static_cast<uint32_t>(text.size()), count, false));
    return text;
}

// A /part or /seek argument: a count of 0 or more.
int64_t count_of(const Cell& arg) {
    const int32_t n = cell::to_int32_checked(arg);
    if (n < 0) error::fire(ErrorId::out_of_range, arg);
    return n;
}

// ---- Reading ------------------------------------------------------------------------------------

// The bytes read, shaped as asked: binary!, a block of lines, or a string! decoded from UTF-8.
// `cut` says /part ended the text early, where a character may be cut in two: the text then
// stops before it.
Cell shape(Cell bytes, const ReadOptions& options, bool cut) {
    if (options.binary) return bytes;
    stack::Rooted keep(bytes);
    const NodeId node = cell::series_node(bytes);
    const uint32_t length = series::length(node);
    if (!options.lines) {
        uint32_t consumed = 0;
        const NodeId text =
            unicode::load_utf8(unicode::series_input(node, 0, length), 0, false, cut ? &consumed : nullptr);
        return cell::series(TypeId::string, text);
    }
    // Lines end at LF; a CR before the LF belongs to the line end, and a last LF ends the last line.
    stack::Rooted lines(block::make(16));
    uint32_t start = 0;
    while (start < length) {
        uint32_t end = start;
        while (end < length && series::byte_at(node, end + 1) != '\n') ++end;
        const uint32_t next = end + 1;
        if (end > start && series::byte_at(node, end) == '\r') --end;
        (void)string::load_in(cell::series_node(lines.cell()), unicode::series_input(node, start, end - start),
                              string::Encoding::utf8);
        start = next;
    }
    return lines.cell();
}

// Pseudo-files and pipes report a size of 0 and must be read to their end.
Cell read_unsized(const Cell& file, int fd, int64_t part, int64_t seek, const ReadOptions& options) {
    std::string all;
    if (fs::read_rest(fd, all) < 0) cannot_open(file);
    const size_t from = std::min<size_t>(all.size(), static_cast<size_t>(seek));
    size_t count = all.size() - from;
    const bool cut = part >= 0 && static_cast<size_t>(part) < count;
    if (cut) count = static_cast<size_t>(part);
    if (count > static_cast<size_t>(kMaxBytes)) error::fire(ErrorId::too_long);
    return shape(binary::from_bytes(std::string_view(all).substr(from, count)), options, cut);
}

Cell read_file(const Cell& file, const std::string& path, const ReadOptions& options) {
    const int64_t part = options.part ? count_of(*options.part) : -1;
    const int64_t seek = options.seek ? count_of(*options.seek) : 0;
    const Descriptor fd(fs::open_read(path));
    if (fd.get() < 0) cannot_open(file);
    const int64_t size = fs::size(fd.get());
    if (size < 0) cannot_open(file);
    if (size == 0) return read_unsized(file, fd.get(), part, seek, options);
    int64_t count = std::max<int64_t>(0, size - seek);
    const bool cut = part >= 0 && part < count;
    if (cut) count = part;
    if (count > kMaxBytes) error::fire(ErrorId::too_long);
    if (seek > 0 && fs::seek(fd.get(), seek) < 0) cannot_open(file);
    stack::Rooted bytes(binary::make(static_cast<uint32_t>(count)));
    const NodeId node = cell::series_node(bytes.cell());
    // The buffer has room for `count` bytes: reserving them does not move it, and reading does
    // not allocate.
    std::byte* at = series::reserve_tail(node, static_cast<uint32_t>(count));
    const int64_t got = fs::read(fd.get(), at, static_cast<size_t>(count));
    if (got < 0) cannot_open(file);
    series::set_tail(node, static_cast<uint32_t>(got) + 1);  // the file may have shrunk meanwhile
    return shape(bytes.cell(), options, cut);
}

Cell read_dir(const Cell& dir, const std::string& path) {
    std::vector<fs::Entry> entries;
    if (fs::list_dir(path, entries) < 0) cannot_open(dir);
    std::sort(entries.begin(), entries.end(), [](const fs::Entry& a, const fs::Entry& b) { return a.name < b.name; });
    stack::Rooted list(block::make(static_cast<uint32_t>(entries.size())));
    for (const fs::Entry& e : entries) {
        const Cell name = string::make(static_cast<uint32_t>(e.name.size() + 1), TypeId::file);
        block::append(cell::series_node(list.cell()), name);
        string::append_utf8(cell::series_node(name), e.name);
        if (e.directory) string::append_char(cell::series_node(name), '/');
    }
    return list.cell();
}

// ---- Writing ------------------------------------------------------------------------------------

// One value's bytes: a string!'s text, a binary!'s bytes, any other value molded; at most `part`
// characters or bytes when part is 0 or more.
void append_formatted(std::string& out, Cell value, int64_t part) {
    const auto count = part < 0 ? unicode::kWhole : static_cast<uint32_t>(part);
    if (cell::is(value, TypeId::binary)) {
        const std::string_view bytes = binary::bytes_of(value);
        out.append(bytes.substr(0, std::min<size_t>(bytes.size(), count)));
        return;
    }
    if (cell::is(value, TypeId::string)) {
        out += utf8_of(value, count);
        return;
    }
    const NodeId text = series::alloc_with_unit(16, 1);
    stack::Rooted keep(cell::series(TypeId::string, text));
    (void)registry::actions(cell::type(value)).mold(value, text, MoldFlags{}, kNoLimit);
    out += utf8_of(keep.cell(), count);
}

// The bytes a write puts in the file. With /lines each value of a block (the first `part` of
// them) is a line, or the value alone is one; each line ends with LF.
std::string format(Cell data, int64_t part, bool lines) {
    std::string out;
    if (!lines) {
        append_formatted(out, data, part);
    } else if (cell::is(data, TypeId::block)) {
        const uint32_t head = block::head_index(data);
        for (uint32_t i = 0; part < 0 || i < part; ++i) {
            if (i >= block::length(data)) break;  // read again: molding may allocate, never shrink
            append_formatted(out, block::abs_at(data, head + i), -1);
            out += '\n';
        }
    } else {
        append_formatted(out, data, part);
        out += '\n';
    }
    return out;
}

void write_in_place(const Cell& file, const std::string& path, const std::string& bytes, int64_t seek, bool append) {
    const Descriptor fd(fs::open_write(path, false));
    if (fd.get() < 0) cannot_open(file);
    if (seek > 0 && fs::seek(fd.get(), seek) < 0) cannot_open(file);
    if (append && fs::seek(fd.get(), -1) < 0) cannot_open(file);
    if (fs::write(fd.get(), bytes.data(), bytes.size()) < 0) cannot_open(file);
}

// The new content goes to a temporary file beside the target, renamed over it once complete: a
// write that fails part-way (a full disk) leaves the old file as it was. A link is followed, so
// it keeps pointing at the replaced file; the file's permission bits are kept.
void replace_whole(const Cell& file, std::string path, const std::string& bytes) {
    std::string real;
    if (fs::is_link(path) && fs::resolve(path, real) == 0) path = real;
    fs::Info info{};
    const bool there = fs::stat(path, info) == 0;
    if (there && info.directory) cannot_open(file);
    if (there && !info.regular) {  // a device or a pipe is written to, not replaced
        write_in_place(file, path, bytes, -1, false);
        return;
    }
    std::string temp;
    const int fd = fs::create_temp_beside(path, there ? info.mode : fs::default_file_mode(), temp);
    if (fd < 0) {
        // A folder closed to new files may still hold a file open to writing: write that in place.
        if (there && (fd == -EACCES || fd == -EPERM || fd == -EROFS)) {
            Descriptor direct(fs::open_write(path, true));
            if (direct.get() < 0 || fs::write(direct.get(), bytes.data(), bytes.size()) < 0) cannot_open(file);
            return;
        }
        cannot_open(file);
    }
    {
        const Descriptor out(fd);
        if (fs::write(fd, bytes.data(), bytes.size()) < 0) {
            (void)fs::remove_file(temp);
            cannot_open(file);
        }
    }
    if (fs::rename(temp, path) < 0) {
        (void)fs::remove_file(temp);
        cannot_open(file);
    }
}

}  // namespace

std::string local_path(const Cell& file) {
    std::string path = utf8_of(file);
    if (path.find('\0') != std::string::npos) cannot_open(file);
    return path;
}

bool dir_form(const Cell& file) {
    const NodeId node = cell::series_node(file);
    const uint32_t length = series::length(node);
    const uint32_t head = std::min(cell::series_index(file), length);
    const auto at_end = [&](uint32_t back) { return string::char_at(node, length - back); };
    const uint32_t n = length - head;
    if (n == 0) return false;
    if (at_end(1) == '/') return true;
    if (at_end(1) != '.') return false;
    if (n == 1 || at_end(2) == '/') return true;              // "." or ".../."
    return at_end(2) == '.' && (n == 2 || at_end(3) == '/');  // ".." or ".../.."
}

Cell read(Cell file, const ReadOptions& options) {
    if (options.as) error::fire(ErrorId::not_done);
    stack::Rooted keep(file);
    const std::string path = local_path(file);
    if (dir_form(file)) return read_dir(keep.cell(), path);
    return read_file(keep.cell(), path, options);
}

Cell write(Cell file, Cell data, const WriteOptions& options) {
    if (options.allow || options.as) error::fire(ErrorId::not_done);
    stack::Rooted keep_file(file);
    stack::Rooted keep_data(data);
    const std::string path = local_path(file);
    if (dir_form(file)) cannot_open(file);
    const int64_t part = options.part ? count_of(*options.part) : -1;
    const int64_t seek = options.seek ? count_of(*options.seek) : -1;
    const std::string bytes = format(keep_data.cell(), part, options.lines);
    if (options.append || seek >= 0) write_in_place(keep_file.cell(), path, bytes, seek, options.append);
    else replace_whole(keep_file.cell(), path, bytes);
    return cell::unset();
}

Cell query(Cell file) {
    fs::Info info{};
    const int error = fs::stat(local_path(file), info);
    if (error == -ENOENT || error == -ENOTDIR) return cell::none();
    if (error < 0) cannot_open(file);
    if (dir_form(file) && !info.directory) return cell::none();
    const platform::Clock c = platform::clock_at(info.modified, info.modified_ns, true, true);
    const date::Stamp stamp = date::stamp(c.year, c.month, c.day, 0, c.seconds);
    return date::normalized(date::days_of(stamp.packed), stamp.seconds, 0, true);
}

Cell remove(Cell file) {
    const std::string path = local_path(file);
    int error = dir_form(file) ? fs::remove_dir(path) : fs::remove_file(path);
    if (error == -EISDIR) error = fs::remove_dir(path);  // a directory named without its slash
    if (error < 0) cannot_open(file);
    return cell::logic(true);
}

Cell rename(Cell from, Cell to) {
    if (fs::rename(local_path(from), local_path(to)) < 0) cannot_open(from);
    return cell::logic(true);
}

Cell size(Cell file) {
    if (dir_form(file)) return cell::none();
    fs::Info info{};
    const int error = fs::stat(local_path(file), info);
    if (error == -ENOENT || error == -ENOTDIR) return cell::none();
    if (error < 0) cannot_open(file);
    if (info.directory) return cell::none();
    if (info.size > 0x7FFFFFFF) error::fire(ErrorId::out_of_range, file);
    return cell::integer(static_cast<int32_t>(info.size));
}

bool exists(Cell path) {
    fs::Info info{};
    return fs::stat(local_path(path), info) == 0;
}

void make_dir(Cell path) {
    if (fs::make_dir(local_path(path)) < 0) error::fire(ErrorId::no_create, path);
}

Cell current_dir() {
    std::string path;
    if (!platform::get_current_dir(path)) error::fire(ErrorId::cannot_open, cell::none());
    if (path.empty() || path.back() != '/') path += '/';
    const Cell dir = string::make(static_cast<uint32_t>(path.size()), TypeId::file);
    stack::Rooted keep(dir);
    string::append_utf8(cell::series_node(dir), path);
    return dir;
}

void set_current_dir(Cell path) {
    if (!platform::set_current_dir(local_path(path))) error::fire(ErrorId::cannot_open, path);
}

Cell to_local(Cell path, bool full) {
    stack::Rooted keep(path);
    std::string text = local_path(path);
    if (full && (text.empty() || text.front() != '/')) {
        std::string dir;
        if (!platform::get_current_dir(dir)) error::fire(ErrorId::cannot_open, path);
        if (dir.back() != '/') dir += '/';
        text.insert(0, dir);
    }
    const Cell local = string::make(static_cast<uint32_t>(text.size()));
    stack::Rooted keep_local(local);
    string::append_utf8(cell::series_node(local), text);
    return local;
}

Cell to_zub(Cell path) {
    stack::Rooted keep(path);
    std::string text = local_path(path);
    text.erase(std::unique(text.begin(), text.end(), [](char a, char b) { return a == '/' && b == '/'; }), text.end());
    const Cell file = string::make(static_cast<uint32_t>(text.size()), TypeId::file);
    stack::Rooted keep_file(file);
    string::append_utf8(cell::series_node(file), text);
    return file;
}

}  // namespace zub::files
