// The thin layer over the Linux calls for files and directories: descriptors, whole reads and
// writes that loop over short transfers and retry interrupted calls, metadata, directory entries
// and the temporary file a whole-file write goes through. Paths are UTF-8 bytes without NUL.
// Every call returns 0 (or a count) on success and the negated errno on failure; nothing raises.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zub::platform::fs {

// What stat says of a path, following symbolic links.
struct Info {
    bool directory;        // the path names a directory
    bool regular;          // the path names a regular file
    int64_t size;          // bytes, for a regular file
    int64_t modified;      // last modification, seconds since 1970-01-01 UTC
    uint32_t modified_ns;  // its nanoseconds
    uint32_t mode;         // permission bits
};
int stat(const std::string& path, Info& info);
// Whether a path names a symbolic link (without following it).
bool is_link(const std::string& path);

// Opening: a descriptor (0 or more) or the negated errno. Descriptors are close-on-exec.
int open_read(const std::string& path);
// Opens for writing, creating the file with mode 0666 less the umask; `truncate` empties it.
int open_write(const std::string& path, bool truncate);
void close(int fd);

// The size of an open file, or the negated errno.
int64_t size(int fd);
// Moves to an offset from the start, or to the end with `offset` -1; the negated errno on failure.
int seek(int fd, int64_t offset);
// Reads up to `count` bytes, looping over short reads until the count or the end: the bytes read,
// or the negated errno.
int64_t read(int fd, void* buffer, size_t count);
// Reads from the position to the end of the file into `out`: 0 or the negated errno.
int read_rest(int fd, std::string& out);
// Writes every byte, looping over short writes: 0 or the negated errno.
int write(int fd, const void* bytes, size_t count);

// Creates a new empty file beside `target` (in the same directory, so a rename over the target
// stays on one file system) with the permission bits given, open for writing; the descriptor or
// the negated errno, with the file's path in `temp`.
int create_temp_beside(const std::string& target, uint32_t mode, std::string& temp);
// The permission bits a new file gets: 0666 less the process's umask.
uint32_t default_file_mode();
// Changes a file's permission bits; 0 or the negated errno.
int chmod(int fd, uint32_t mode);

int make_dir(const std::string& path);
int remove_file(const std::string& path);
int remove_dir(const std::string& path);
int rename(const std::string& from, const std::string& to);
// The path a symbolic link leads to, absolute and without links; 0 or the negated errno.
int resolve(const std::string& path, std::string& out);

// One directory entry: its name and whether it is a directory (a link to one counts as one).
struct Entry {
    std::string name;
    bool directory;
};
// The entries of a directory except "." and "..", in the system's order; 0 or the negated errno.
int list_dir(const std::string& path, std::vector<Entry>& entries);

}  // namespace zub::platform::fs
