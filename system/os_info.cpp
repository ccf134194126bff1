// The running system's description and the process's command line, read from uname, /etc/os-release
// and /proc/self/cmdline.
#include "system/os_info.h"

#include <sys/utsname.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

namespace zub::os_info {

namespace {

std::string read_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A value of os-release: the text after `=`, its quotes taken off and its \-escapes undone.
std::string release_value(std::string_view text) {
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
        const bool double_quoted = text.front() == '"';
        text = text.substr(1, text.size() - 2);
        if (!double_quoted) return std::string(text);
    }
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

std::string arch_of(std::string_view machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine == "i386" || machine == "i486" || machine == "i586" || machine == "i686") return "x86-32";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine.substr(0, 3) == "arm") return "ARM";
    if (machine == "ia64") return "IA-64";
    return "Unknown";
}

}  // namespace

Info describe(std::string_view os_release, std::string_view machine, std::string_view release) {
    Info info{"Linux", arch_of(machine), {0, 0, 0}, 0};
    std::istringstream lines{std::string(os_release)};
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
        const std::string name = release_value(std::string_view(line).substr(12));
        if (!name.empty()) info.name = name;
    }
    // "6.1.0-18-amd64": three numbers, then the build after the dash.
    size_t i = 0;
    for (int part = 0; part < 3 && i < release.size() && std::isdigit(static_cast<unsigned char>(release[i])); ++part) {
        uint32_t n = 0;
        for (; i < release.size() && std::isdigit(static_cast<unsigned char>(release[i])); ++i)
            n = std::min<uint32_t>(n * 10 + static_cast<uint32_t>(release[i] - '0'), 255);
        info.version[part] = static_cast<uint8_t>(n);
        if (i < release.size() && release[i] == '.') ++i;
        else break;
    }
    const size_t dash = release.find('-');
    if (dash != std::string_view::npos) {
        int64_t n = 0;
        for (i = dash + 1; i < release.size() && std::isdigit(static_cast<unsigned char>(release[i])); ++i)
            n = std::min<int64_t>(n * 10 + (release[i] - '0'), INT32_MAX);
        info.build = static_cast<int32_t>(n);
    }
    return info;
}

Info query() {
    utsname names{};
    if (uname(&names) != 0) return describe(read_file("/etc/os-release"), "", "");
    std::string os_release = read_file("/etc/os-release");
    if (os_release.empty()) os_release = read_file("/usr/lib/os-release");
    return describe(os_release, names.machine, names.release);
}

std::string join_arguments(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args) {
        if (!line.empty()) line += ' ';
        const bool plain = !arg.empty() && arg.find_first_of(" \t\n\r'\"\\") == std::string::npos;
        if (plain) {
            line += arg;
            continue;
        }
        // Single quotes keep everything but a single quote, which is closed, escaped and reopened.
        line += '\'';
        for (char c : arg) {
            if (c == '\'') line += "'\\''";
            else line += c;
        }
        line += '\'';
    }
    return line;
}

std::string command_line() {
    const std::string raw = read_file("/proc/self/cmdline");
    std::vector<std::string> args;
    for (size_t start = 0; start < raw.size();) {
        const size_t end = raw.find('\0', start);
        const size_t stop = end == std::string::npos ? raw.size() : end;
        args.emplace_back(raw, start, stop - start);
        start = stop + 1;
    }
    return join_arguments(args);
}

}  // namespace zub::os_info
