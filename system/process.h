// Child processes: `call` runs a command with its standard streams fed from and collected into
// memory or files, and `browse` hands a URL or file to the desktop's opener. Plain C++ values in
// and out; the natives turn them into Zub values and errors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zub::process {

enum class Redirect { none, bytes, file };

struct Input {
    Redirect kind = Redirect::none;
    std::string_view bytes;  // Redirect::bytes: what the child reads
    std::string path;        // Redirect::file: the file it reads
};

struct Output {
    Redirect kind = Redirect::none;
    std::string* bytes = nullptr;  // Redirect::bytes: what the child wrote is appended here
    std::string path;              // Redirect::file: appended to this file (made when missing)
};

struct Request {
    std::string command;   // a command line, split into arguments as a shell would without running one
    bool program = false;  // the command is one program path, taken whole
    bool shell = false;    // run the command line through /bin/sh -c
    bool wait = false;     // wait for the child (always when a stream is redirected or console)
    bool console = false;  // the child shares this process's standard streams
    Input in;
    Output out, err;
};

struct Result {
    int64_t value = 0;   // the exit code (128 + signal for a child killed by one), or the process id
    int error = 0;       // errno when the command could not be started; then value is -1
    std::string failed;  // what could not be opened or started: the program or a redirection file
};

// Runs the request. Input is written while both outputs are read, so a child that fills its
// output and error pipes before it has read all of its input cannot stall the exchange. Children
// not waited for are reaped on later calls. A command line whose program is not found is tried
// through the shell when it is shell syntax (a builtin or an operator). Blocks while waiting.
Result run(const Request& request);

// The arguments of a command line: words split at blanks, '...' taken as written, "..." with \"
// and \\ escaped, a backslash elsewhere escaping the next character. Never starts anything.
std::vector<std::string> split_command(std::string_view command);

// Opens the target with xdg-open, given as one argument (never through a shell), and waits for the
// opener to hand it over. A failure to start it or a non-zero exit from it is reported in Result.
Result browse(const std::string& target);

}  // namespace zub::process
