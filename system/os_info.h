// What the operating system says about itself and about this process: the description `os-info`
// gives (from uname and /etc/os-release) and the process's command line (from /proc).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zub::os_info {

struct Info {
    std::string name;    // the distribution's PRETTY_NAME, else "Linux"
    std::string arch;    // x86-64, x86-32, ARM64, ARM, ... or Unknown
    uint8_t version[3];  // the kernel release's first three numbers, each held to 0-255
    int32_t build;       // the number after the kernel release's dash (its ABI), else 0
};

// The description of the running system. Never fails: what cannot be read takes its fallback.
Info query();

// The same from the texts it is read from: /etc/os-release, uname's machine and release.
Info describe(std::string_view os_release, std::string_view machine, std::string_view release);

// The process's whole command line, each argument quoted when it needs to be so that splitting the
// line as a shell would gives the arguments back. Empty when /proc cannot be read.
std::string command_line();
std::string join_arguments(const std::vector<std::string>& args);

}  // namespace zub::os_info
