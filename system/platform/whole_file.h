// Reading a whole file into memory in one call, for services that take a file's bytes at once
// (checksums of a file!). Raises nothing: the caller decides what a failure means.
#pragma once

#include <string>
#include <string_view>

namespace zub::platform {

// Replaces `out` with the bytes of the file at the path (UTF-8, as the kernel takes it); false
// when it cannot be opened or read (a folder, a missing file, a path holding a NUL byte).
bool read_whole_file(std::string_view path, std::string& out);

}  // namespace zub::platform
