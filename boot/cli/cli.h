// The command line of the programs built on the engine: zub-cli, and zub when it runs without a
// display or is asked to with --cli.
#pragma once

#include "boot/boot.h"

namespace zub::cli {

// Starts the engine with the extension's part, then runs what the arguments ask; answers the
// process's exit status. `program` names the program in its messages.
int run(int argc, char** argv, const char* program, const boot::Extension* extension = nullptr);

}  // namespace zub::cli
