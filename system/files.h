// File and directory access for file! values: whole-file reads and writes with their refinements,
// directory listings, metadata, deletion, renaming, directories and the current directory. Every
// operation opens, works and closes; no handle outlives a call. A failure is an access error
// naming the file, never a silent none (query and size? answer none only for what is not there).
#pragma once

#include <string>

#include "datatypes/actions.h"
#include "runtime/cell.h"

namespace zub::files {

// The path the system is given for a file! (or other text): its characters from the head as UTF-8.
// A NUL inside, which no system path can hold, raises access cannot-open with the value. Never
// allocates series.
std::string local_path(const Cell& file);
// Whether the text names a directory by its form: it ends with "/", or is "." or ".." or ends
// with "/." or "/..". Never allocates.
bool dir_form(const Cell& file);

// The actions of file!. All may collect.
// read: the content as string!, binary! or a block of lines; a directory form lists the folder,
// sorted by name, directories with a trailing "/".
Cell read(Cell file, const ReadOptions& options);
// write: the whole file is replaced through a temporary file beside it, so a failed write leaves
// the old content; /append and /seek write in place. Answers unset.
Cell write(Cell file, Cell data, const WriteOptions& options);
// query: the last modification time as a date! in UTC, or none when nothing is there.
Cell query(Cell file);
// delete: removes the file or the empty directory; true, or access cannot-open.
Cell remove(Cell file);
// rename: moves `from` to `to`; true, or access cannot-open naming `from`.
Cell rename(Cell from, Cell to);

// The size in bytes of a file, or none for a directory or a path where nothing is.
Cell size(Cell file);
// Whether anything (file or directory) is at the path.
bool exists(Cell path);
// Makes one directory; access no-create with the path on failure.
void make_dir(Cell path);

// The current directory as a file! ending with "/". May collect.
Cell current_dir();
// Makes the directory current; access cannot-open with the path on failure.
void set_current_dir(Cell path);

// The system's form of a path as a string!: the same text on Linux; with `full`, a relative
// path is put after the current directory. May collect.
Cell to_local(Cell path, bool full);
// A file! of a path in the system's form: the same text, runs of "/" collapsed into one.
// May collect.
Cell to_zub(Cell path);

}  // namespace zub::files
