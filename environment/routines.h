// The C++ routines of the environment: registered by name at start-up, given their specs by the
// environment's own source through `make-routine`, a word defined only while start-up runs.
#pragma once

namespace zub::routines {

// Registers every routine under its name. Once per start, after the runtime. May collect.
void register_all();
// The image codecs' encoders and decoder; register_all calls it.
void register_image_routines();
// Binds `make-routine` for the environment's source, and unsets it once start-up is done.
void define_make_routine();
void forget_make_routine();

}  // namespace zub::routines
