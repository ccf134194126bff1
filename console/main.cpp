// zub: the engine with the GUI library and the console window. Until the console window exists it
// runs what zub-cli runs, with the GUI library's words defined. It opens the display at start-up;
// without one it says so on stderr and goes on as zub-cli would. `zub --cli ...` asks for that road
// at once.
#include <cstring>

#include "boot/cli/cli.h"
#include "console/print_hooks.h"
#include "view/backend/platform/routines.h"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--cli") == 0) {
        zub::platform::set_display_wanted(false);
        argv[1] = argv[0];  // the rest of the command line as if --cli were not there
        return zub::cli::run(argc - 1, argv + 1, "zub", &zub::console_window::extension());
    }
    return zub::cli::run(argc, argv, "zub", &zub::console_window::extension());
}
