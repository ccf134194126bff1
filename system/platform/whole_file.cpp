// open(2) and read(2) until end of file, retrying interrupted calls; the size from fstat(2) is
// only a first guess, since a file may grow or shrink while it is read.
#include "system/platform/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zub::platform {

bool read_whole_file(std::string_view path, std::string& out) {
    out.clear();
    if (path.find('\0') != std::string_view::npos) return false;
    const std::string name(path);
    int fd;
    do fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) out.reserve(static_cast<size_t>(st.st_size));
    char chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        out.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    if (!ok) out.clear();
    return ok;
}

}  // namespace zub::platform
