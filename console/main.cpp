// zub: the engine with the GUI library. Until the console window exists it runs what zub-cli
// runs, with the GUI library's words defined.
#include "boot/cli/cli.h"
#include "view/backend/gui.h"

int main(int argc, char** argv) { return zub::cli::run(argc, argv, "zub", &zub::gui::extension()); }
