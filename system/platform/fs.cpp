// Files and directories through open, read, write, fstat, mkdir, unlink, rename and readdir.
// Interrupted calls are retried and short transfers continued here, so no caller sees either.
#include "system/platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace zub::platform::fs {
namespace {

int failed() { return -errno; }

// Calls `call` again while it fails with EINTR.
template <typename Call>
auto retry(Call call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) return result;
    }
}

}  // namespace

int stat(const std::string& path, Info& info) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return failed();
    info.directory = S_ISDIR(st.st_mode);
    info.regular = S_ISREG(st.st_mode);
    info.size = st.st_size;
    info.modified = st.st_mtim.tv_sec;
    info.modified_ns = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    info.mode = st.st_mode & 07777;
    return 0;
}

bool is_link(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int open_read(const std::string& path) {
    const int fd = retry([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    return fd < 0 ? failed() : fd;
}

int open_write(const std::string& path, bool truncate) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0);
    const int fd = retry([&] { return ::open(path.c_str(), flags, 0666); });
    return fd < 0 ? failed() : fd;
}

// A close that fails with EINTR has still released the descriptor on Linux: never retried.
void close(int fd) { ::close(fd); }

int64_t size(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return failed();
    return st.st_size;
}

int seek(int fd, int64_t offset) {
    const off_t at = offset < 0 ? ::lseek(fd, 0, SEEK_END) : ::lseek(fd, offset, SEEK_SET);
    return at < 0 ? failed() : 0;
}

int64_t read(int fd, void* buffer, size_t count) {
    auto* bytes = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = retry([&] { return ::read(fd, bytes + done, std::min<size_t>(count - done, SSIZE_MAX)); });
        if (n < 0) return failed();
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int read_rest(int fd, std::string& out) {
    char piece[65536];
    for (;;) {
        const ssize_t n = retry([&] { return ::read(fd, piece, sizeof piece); });
        if (n < 0) return failed();
        if (n == 0) return 0;
        out.append(piece, static_cast<size_t>(n));
    }
}

int write(int fd, const void* bytes, size_t count) {
    const auto* from = static_cast<const char*>(bytes);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = retry([&] { return ::write(fd, from + done, std::min<size_t>(count - done, SSIZE_MAX)); });
        if (n < 0) return failed();
        if (n == 0) return -EIO;  // a device that takes nothing would loop for ever
        done += static_cast<size_t>(n);
    }
    return 0;
}

int create_temp_beside(const std::string& target, uint32_t mode, std::string& temp) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    // A hidden name, so a listing made while the write runs does not show it as a file of the user's.
    temp = folder + "." + name + ".zub-XXXXXX";
    const int fd = retry([&] { return ::mkostemp(temp.data(), O_CLOEXEC); });
    if (fd < 0) return failed();
    if (::fchmod(fd, mode) != 0) {
        const int error = failed();
        ::close(fd);
        ::unlink(temp.c_str());
        return error;
    }
    return fd;
}

uint32_t default_file_mode() {
    // umask can only be read by setting it: set it back at once (the process has one thread).
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

int chmod(int fd, uint32_t mode) { return ::fchmod(fd, mode) == 0 ? 0 : failed(); }

int make_dir(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 ? 0 : failed(); }
int remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : failed(); }
int remove_dir(const std::string& path) { return ::rmdir(path.c_str()) == 0 ? 0 : failed(); }
int rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : failed();
}

int resolve(const std::string& path, std::string& out) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return failed();
    out = real;
    std::free(real);
    return 0;
}

int list_dir(const std::string& path, std::vector<Entry>& entries) {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return failed();
    const int fd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (e == nullptr) break;
        const std::string_view name(e->d_name);
        if (name == "." || name == "..") continue;
        bool directory = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            directory = ::fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back(Entry{std::string(name), directory});
    }
    const int error = errno;
    ::closedir(dir);
    return error != 0 ? -error : 0;
}

}  // namespace zub::platform::fs
