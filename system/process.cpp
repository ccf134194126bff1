// Child processes on posix_spawn, pipes and poll. Every descriptor this file opens is close-on-exec,
// so a child inherits only the three streams it is given.
#include "system/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace zub::process {

namespace {

std::vector<pid_t> g_unwaited;  // children started without waiting, reaped on later calls

void reap_finished() {
    std::erase_if(g_unwaited, [](pid_t pid) {
        int status;
        return waitpid(pid, &status, WNOHANG) != 0;
    });
}

// Closes a descriptor once and forgets it.
void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Descriptors that end with the call however it ends.
struct Fds {
    int fds[8];
    Fds() { std::fill(std::begin(fds), std::end(fds), -1); }
    ~Fds() {
        for (int& fd : fds) close_fd(fd);
    }
};
enum { kNull, kInFile, kInRead, kInWrite, kOutRead, kOutWrite, kErrRead, kErrWrite };

int open_null() { return open("/dev/null", O_RDWR | O_CLOEXEC); }

bool make_pipe(int& read_end, int& write_end) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    read_end = ends[0];
    write_end = ends[1];
    return true;
}

// A redirection of an output stream: the write end the child gets, the read end kept here.
bool open_output(const Output& out, int& read_end, int& write_end, Result& result) {
    if (out.kind == Redirect::file) {
        write_end = open(out.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
        if (write_end < 0) {
            result.error = errno;
            result.failed = out.path;
            return false;
        }
        return true;
    }
    if (out.kind == Redirect::bytes && !make_pipe(read_end, write_end)) {
        result.error = errno;
        return false;
    }
    return true;
}

bool is_shell_builtin(std::string_view word) {
    static constexpr std::string_view kBuiltins[] = {
        ".",     ":",        "[",      "alias", "bg",    "break",   "cd",    "command", "continue", "echo",   "eval",
        "exec",  "exit",     "export", "false", "fg",    "getopts", "hash",  "jobs",    "kill",     "printf", "pwd",
        "read",  "readonly", "return", "set",   "shift", "test",    "times", "trap",    "true",     "type",   "ulimit",
        "umask", "unalias",  "unset",  "wait",  "if",    "for",     "while", "until",   "case"};
    return std::find(std::begin(kBuiltins), std::end(kBuiltins), word) != std::end(kBuiltins);
}

// Whether a command line that names no program file still means something to the shell.
bool is_shell_syntax(std::string_view command, const std::vector<std::string>& args) {
    if (!args.empty() && is_shell_builtin(args[0])) return true;
    return command.find_first_of("|&;<>()$`*?\n") != std::string_view::npos;
}

// Moves the bytes between this process and the child until both outputs end: the input is written
// as the child takes it, in the same poll as the reads, so neither side waits on the other.
void exchange(int& in_write, std::string_view input, int& out_read, std::string* out, int& err_read, std::string* err) {
    for (int fd : {in_write, out_read, err_read})
        if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    size_t written = 0;
    if (in_write >= 0 && input.empty()) close_fd(in_write);
    char chunk[65536];
    while (in_write >= 0 || out_read >= 0 || err_read >= 0) {
        pollfd polls[3];
        int n = 0;
        if (in_write >= 0) polls[n++] = {in_write, POLLOUT, 0};
        if (out_read >= 0) polls[n++] = {out_read, POLLIN, 0};
        if (err_read >= 0) polls[n++] = {err_read, POLLIN, 0};
        if (poll(polls, static_cast<nfds_t>(n), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (polls[i].revents == 0) continue;
            const int fd = polls[i].fd;
            if (fd == in_write) {
                const ssize_t k = write(fd, input.data() + written, std::min<size_t>(input.size() - written, 65536));
                if (k > 0) written += static_cast<size_t>(k);
                // A child that stops reading (EPIPE) simply gets no more.
                if ((k < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) close_fd(in_write);
                continue;
            }
            const ssize_t k = read(fd, chunk, sizeof chunk);
            if (k > 0) {
                (fd == out_read ? out : err)->append(chunk, static_cast<size_t>(k));
            } else if (k == 0 || (errno != EAGAIN && errno != EINTR)) {
                // The end of the stream, or a failure that no retry would mend.
                close_fd(fd == out_read ? out_read : err_read);
            }
        }
    }
    close_fd(in_write);
    close_fd(out_read);
    close_fd(err_read);
}

int64_t wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

// Writing to a pipe whose reader has gone must be an error to handle, not the end of the program.
class IgnorePipeSignal {
  public:
    IgnorePipeSignal() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &saved_);
    }
    ~IgnorePipeSignal() { sigaction(SIGPIPE, &saved_, nullptr); }
    IgnorePipeSignal(const IgnorePipeSignal&) = delete;
    IgnorePipeSignal& operator=(const IgnorePipeSignal&) = delete;

  private:
    struct sigaction saved_ {};
};

// posix_spawnp with the three streams given; answers 0 or an errno.
int spawn(const std::vector<std::string>& args, int in, int out, int err, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (in >= 0) posix_spawn_file_actions_adddup2(&actions, in, 0);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int failed = posix_spawnp(pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed;
}

}  // namespace

std::vector<std::string> split_command(std::string_view command) {
    std::vector<std::string> args;
    std::string word;
    bool in_word = false;
    for (size_t i = 0; i < command.size(); ++i) {
        const char c = command[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (in_word) args.push_back(std::move(word));
            word.clear();
            in_word = false;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            const size_t end = command.find('\'', i + 1);
            const size_t stop = end == std::string_view::npos ? command.size() : end;
            word.append(command.substr(i + 1, stop - i - 1));
            i = stop;
        } else if (c == '"') {
            for (++i; i < command.size() && command[i] != '"'; ++i) {
                if (command[i] == '\\' && i + 1 < command.size() && (command[i + 1] == '"' || command[i + 1] == '\\'))
                    ++i;
                word += command[i];
            }
        } else if (c == '\\' && i + 1 < command.size()) {
            word += command[++i];
        } else {
            word += c;
        }
    }
    if (in_word) args.push_back(std::move(word));
    return args;
}

Result run(const Request& request) {
    reap_finished();
    Result result;
    const IgnorePipeSignal no_sigpipe;
    Fds fds;
    int* f = fds.fds;
    const bool redirected =
        request.in.kind != Redirect::none || request.out.kind != Redirect::none || request.err.kind != Redirect::none;
    const bool wait = request.wait || request.console || redirected;

    // Streams not asked for go to /dev/null unless the child shares ours.
    if (!request.console && (f[kNull] = open_null()) < 0) {
        result.error = errno;
        result.failed = "/dev/null";
        result.value = -1;
        return result;
    }
    auto fail = [&result](int error, std::string what) {
        if (result.error == 0) result.error = error;
        if (result.failed.empty()) result.failed = std::move(what);
        result.value = -1;
        return result;
    };
    int in = request.console ? -1 : f[kNull];
    if (request.in.kind == Redirect::file) {
        if ((f[kInFile] = open(request.in.path.c_str(), O_RDONLY | O_CLOEXEC)) < 0) return fail(errno, request.in.path);
        in = f[kInFile];
    } else if (request.in.kind == Redirect::bytes) {
        if (!make_pipe(f[kInRead], f[kInWrite])) return fail(errno, "pipe");
        in = f[kInRead];
    }
    if (!open_output(request.out, f[kOutRead], f[kOutWrite], result)) return fail(result.error, "pipe");
    if (!open_output(request.err, f[kErrRead], f[kErrWrite], result)) return fail(result.error, "pipe");
    const int out = request.out.kind != Redirect::none ? f[kOutWrite] : request.console ? -1 : f[kNull];
    const int err = request.err.kind != Redirect::none ? f[kErrWrite] : request.console ? -1 : f[kNull];

    std::vector<std::string> args;
    if (request.shell) args = {"/bin/sh", "-c", request.command};
    else if (request.program) args = {request.command};
    else args = split_command(request.command);
    if (args.empty()) return result;  // nothing to run

    pid_t pid;
    int failed = spawn(args, in, out, err, &pid);
    if (failed == ENOENT && !request.shell && !request.program && is_shell_syntax(request.command, args))
        failed = spawn({"/bin/sh", "-c", request.command}, in, out, err, &pid);
    if (failed) return fail(failed, args[0]);

    // Only the child keeps its ends: the outputs end when it does.
    close_fd(f[kInRead]);
    close_fd(f[kOutWrite]);
    close_fd(f[kErrWrite]);
    close_fd(f[kInFile]);
    close_fd(f[kNull]);
    if (!wait) {
        g_unwaited.push_back(pid);
        result.value = pid;
        return result;
    }
    std::string out_bytes, err_bytes;
    exchange(f[kInWrite], request.in.kind == Redirect::bytes ? request.in.bytes : std::string_view{}, f[kOutRead],
             request.out.bytes ? request.out.bytes : &out_bytes, f[kErrRead],
             request.err.bytes ? request.err.bytes : &err_bytes);
    result.value = wait_for(pid);
    return result;
}

Result browse(const std::string& target) {
    reap_finished();
    Result result;
    const int null = open_null();
    if (null < 0) {
        result.error = errno;
        result.failed = "/dev/null";
        result.value = -1;
        return result;
    }
    pid_t pid;
    const int failed = spawn({"xdg-open", target}, null, null, null, &pid);
    close(null);
    if (failed) {
        result.error = failed;
        result.failed = "xdg-open";
        result.value = -1;
        return result;
    }
    result.value = wait_for(pid);
    return result;
}

}  // namespace zub::process
