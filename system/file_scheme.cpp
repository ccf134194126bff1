// The file scheme: the actor of file ports, built into the system. A file port names a file
// through its spec (`ref`, a file! or a file:// url); every action opens, works and closes, so
// an open port records only that it is open.
#include "datatypes/port.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "system/files.h"

namespace zub {
namespace {

// The file a port names; access invalid-spec with the target when it names none. May collect.
Cell file_of(const Cell& port) {
    const Cell target = port::target_of(port);
    if (cell::is(target, TypeId::file)) return target;
    if (cell::is(target, TypeId::url) && string::match_literal(target, "file://")) {
        const Cell copy = registry::actions(TypeId::url).copy(target, CopyOptions{});
        return cell::make(TypeId::file, cell::series_index(copy) + 7, copy.w2);
    }
    error::fire(ErrorId::invalid_spec, target);
}

// An empty file, made only where nothing is.
void create_empty(const Cell& file) {
    stack::Rooted keep(file);
    if (!files::exists(file)) (void)files::write(keep.cell(), string::make(1), WriteOptions{});
}

Cell file_open(Cell port, const OpenOptions& o) {
    stack::Rooted keep(port);
    const Cell file = file_of(port);
    if (o.create) {
        stack::Rooted keep_file(file);
        (void)files::write(keep_file.cell(), string::make(1), WriteOptions{});
    } else if (o.write) {
        create_empty(file);
    } else if (!files::exists(file)) {
        error::fire(ErrorId::cannot_open, file);
    }
    port::set_open(keep.cell(), true);
    return keep.cell();
}

Cell file_close(Cell port) {
    port::set_open(port, false);
    return port;
}

Cell file_open_q(Cell port) { return cell::logic(port::is_open(port)); }

Cell file_read(Cell port, const ReadOptions& o) { return files::read(file_of(port), o); }

Cell file_write(Cell port, Cell data, const WriteOptions& o) {
    stack::Rooted keep(data);
    return files::write(file_of(port), keep.cell(), o);
}

// copy of a file port is its content; a part counts its first units.
Cell file_copy(Cell port, const CopyOptions& o) {
    ReadOptions read{};
    read.part = o.part;
    return files::read(file_of(port), read);
}

// append and insert add to the end of the file.
Cell file_append(Cell port, Cell value, const InsertOptions& o) {
    stack::Rooted keep(port);
    stack::Rooted keep_value(value);
    stack::Rooted part(cell::integer(o.part));
    WriteOptions write{};
    write.append = true;
    write.part = o.part >= 0 ? &part.cell() : nullptr;
    (void)files::write(file_of(keep.cell()), keep_value.cell(), write);
    return keep.cell();
}

Cell file_query(Cell port) { return files::query(file_of(port)); }
Cell file_delete(Cell port) { return files::remove(file_of(port)); }

Cell file_create(Cell port) {
    stack::Rooted keep(port);
    create_empty(file_of(port));
    return keep.cell();
}

int32_t file_length(Cell port) {
    const Cell size = files::size(file_of(port));
    return cell::is(size, TypeId::integer) ? cell::as_integer(size) : -1;
}

// The new name may be a file or another file port.
Cell file_rename(Cell port, Cell to) {
    stack::Rooted keep(port);
    stack::Rooted target(cell::is(to, TypeId::port) ? file_of(to) : to);
    if (!cell::is(target.cell(), TypeId::file)) raise_expect_arg(Slot::rename, to, 1);
    stack::Rooted from(file_of(keep.cell()));
    return files::rename(from.cell(), target.cell());
}

}  // namespace

extern const ActionTable file_scheme_actions = {
    .append = file_append,
    .copy = file_copy,
    .insert = file_append,
    .length_q = file_length,
    .create = file_create,
    .close = file_close,
    .delete_ = file_delete,
    .open = file_open,
    .open_q = file_open_q,
    .query = file_query,
    .read = file_read,
    .rename = file_rename,
    .write = file_write,
};

}  // namespace zub
