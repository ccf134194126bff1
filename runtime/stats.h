// Memory statistics: what the `stats` native reports, from a walk over the memory manager's node
// frames, series frames and big series. Sizes are counted as on a 32-bit build, not this one's:
// a node slot counts 4 bytes (here it holds a 64-bit address) and every low-level heap block a
// 16-byte header, so the figures compare across builds.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zub::stats {

// Bytes in use: 4 per used node slot, the bytes carved from every series frame (buffers with
// their headers, live or not yet collected) and the total size of every big series. Never
// allocates.
double used();

// Appends the five items of the statistics block to a block of cells:
//   1. node frames, a block holding [free used capacity] (slots) per frame;
//   2. series frames, a block holding [free used size] (bytes of the data area) per frame;
//   3. a block of the sizes of the big series;
//   4. the bytes of the blocks taken from the system (frames and big series);
//   5. the bytes taken on the low-level heap, each block with its 16-byte header.
// The per-frame blocks of 1 and 2 and the sizes of 3 start new lines. The figures are taken
// before anything is built, so the allocation the block needs does not show in it. Never
// collects. The block must be reachable (on the stack) for the caller's sake.
void fill(NodeId block);

// integer! when the count fits 31 bits, else float!.
Cell number(double count);

}  // namespace zub::stats
