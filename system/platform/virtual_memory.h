// Blocks of virtual memory for the memory manager's frames, straight from the kernel.
#pragma once

#include <cstddef>

namespace zub::platform {

size_t page_size();
// A new zero-filled, read-write block of `size` bytes (a multiple of the page size), executable
// too when asked; null when the system refuses.
void* allocate_virtual(size_t size, bool executable);
// Returns a block from allocate_virtual; false when the system refuses.
bool free_virtual(void* block, size_t size);

}  // namespace zub::platform
