// The C++ routines of the environment: registered by name at start-up, given their specs by the
// environment's own source through `make-routine`, a word defined only while start-up runs.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/function.h"
#include "evaluator/exits.h"

namespace zub::routines {

// Registers every routine under its name. Once per start, after the runtime. May collect.
void register_all();
// The image codecs' encoders and decoder; register_all calls it.
void register_image_routines();
// Defines a global word as a routine from its argument block's text and its entry. May collect.
void define(std::string_view name, std::string_view spec, function::RoutineEntry entry);

// Binds `make-routine` for the environment's source, and unsets it once start-up is done.
void define_make_routine();
void forget_make_routine();

// os-info: the running system's description as an object (name, arch, version, build). May collect.
Status os_info(const int32_t* refinements);

}  // namespace zub::routines
