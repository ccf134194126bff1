// The environment as start-up data: ZUBBIN made at build time from the environment's sources,
// decoded at start instead of loading the text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace zub::startup_data {

// Whether this binary carries the data and start-up should use it (the environment variable
// ZUB_BOOT_TEXT asks for the text instead, which is how the two are compared).
bool present();

// The block of the environment's files, one block each, decoded from the data. Data that does not
// decode is fatal: a message on stderr and exit status 1, since a binary whose environment is
// damaged cannot run anything. May collect.
Cell load(const uint8_t* data, size_t size);

}  // namespace zub::startup_data
