// The system description read from its texts, and the command line's quoting against the
// splitting that `call` applies to a command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/os_info.h"
#include "system/process.h"

namespace zub {
namespace {

TEST(OsInfo, DescribesTheSystemFromItsTexts) {
    struct Case {
        const char* os_release;
        const char* machine;
        const char* release;
        const char* name;
        const char* arch;
        uint8_t version[3];
        int32_t build;
    };
    const Case cases[] = {
        {"ID=debian\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
         "x86_64",
         "6.1.0-18-amd64",
         "Debian GNU/Linux 12 (bookworm)",
         "x86-64",
         {6, 1, 0},
         18},
        {"PRETTY_NAME='Alpine \\ Linux'\n", "aarch64", "5.15.2", "Alpine \\ Linux", "ARM64", {5, 15, 2}, 0},
        {"PRETTY_NAME=\"A \\\"quoted\\\" name\"", "i686", "4.19", "A \"quoted\" name", "x86-32", {4, 19, 0}, 0},
        {"", "armv7l", "3.300.1-rc2", "Linux", "ARM", {3, 255, 1}, 0},
        {"PRETTY_NAME=\n", "riscv64", "", "Linux", "Unknown", {0, 0, 0}, 0},
        {"PRETTY_NAME=Plain", "x86_64", "6.18.44-99999999999-x", "Plain", "x86-64", {6, 18, 44}, INT32_MAX},
    };
    for (const Case& c : cases) {
        const os_info::Info info = os_info::describe(c.os_release, c.machine, c.release);
        EXPECT_EQ(info.name, c.name) << c.release;
        EXPECT_EQ(info.arch, c.arch) << c.machine;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(info.version[i], c.version[i]) << c.release << " part " << i;
        EXPECT_EQ(info.build, c.build) << c.release;
    }
}

TEST(OsInfo, CommandLineSplitsBackIntoItsArguments) {
    const std::vector<std::vector<std::string>> cases = {
        {"zub-cli", "script.zub"},
        {"zub-cli", "-e", "print \"a b\""},
        {"prog", "it's", "back\\slash", "", "tab\there", "new\nline"},
    };
    for (const auto& args : cases) EXPECT_EQ(process::split_command(os_info::join_arguments(args)), args);
    EXPECT_FALSE(os_info::command_line().empty());
}

}  // namespace
}  // namespace zub
