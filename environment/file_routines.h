// The routines over the file services that the environment's file functions stand on: the
// current directory, making a directory, whether a path exists, and the path conversion.
#pragma once

namespace zub::routines {

// Registers them by name; called by register_all.
void register_file_routines();

}  // namespace zub::routines
