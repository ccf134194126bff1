// zub-cli: the engine without the GUI.
#include "boot/cli/cli.h"

int main(int argc, char** argv) { return zub::cli::run(argc, argv, "zub-cli"); }
