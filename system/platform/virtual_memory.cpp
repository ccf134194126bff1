// mmap and munmap. munmap needs the length, so callers remember their block sizes.
#include "system/platform/virtual_memory.h"

#include <sys/mman.h>
#include <unistd.h>

namespace zub::platform {
namespace {
constexpr size_t kHugeAdviceFrom = size_t{4} << 20;
}  // namespace

size_t page_size() {
    static const size_t size = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

void* allocate_virtual(size_t size, bool executable) {
    const int protection = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* block = ::mmap(nullptr, size, protection, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return nullptr;
    // Large blocks (big series: images, long texts) are filled soon after: huge pages cut the page
    // faults of a 48 MB image from 12,000 to a few dozen. Advice only; refusal changes nothing.
    if (size >= kHugeAdviceFrom) (void)::madvise(block, size, MADV_HUGEPAGE);
    return block;
}

bool free_virtual(void* block, size_t size) { return ::munmap(block, size) == 0; }

}  // namespace zub::platform
