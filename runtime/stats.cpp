// The walk first copies the figures out of the frame lists, then builds the blocks: building
// allocates, and a new frame appearing in the middle of the walk would make it read a moving list.
#include "runtime/stats.h"

#include <array>
#include <vector>

#include "runtime/collector.h"
#include "runtime/lowrt.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::stats {
namespace {

constexpr uint32_t kNominalSlot = 4;         // bytes a node slot counts for
constexpr uint64_t kNominalHeapHeader = 16;  // bytes a low-level heap block's header counts for

using Triple = std::array<uint64_t, 3>;

NodeId block_of(const std::vector<uint64_t>& values) {
    const NodeId node = memory::alloc_cells(static_cast<uint32_t>(values.size()));
    for (uint64_t v : values) series::append_cell(node, number(static_cast<double>(v)));
    return node;
}

// A block of one block per frame, each on a new line.
NodeId frames_block(const std::vector<Triple>& frames) {
    const NodeId node = memory::alloc_cells(static_cast<uint32_t>(frames.size()));
    for (const Triple& t : frames) {
        Cell entry = cell::series(TypeId::block, block_of({t[0], t[1], t[2]}));
        cell::set_new_line(entry, true);
        series::append_cell(node, entry);
    }
    return node;
}

}  // namespace

double used() {
    const memory::Record& r = memory::record();
    uint64_t total = 0;
    for (const NodeFrame* f = r.first_node_frame; f; f = f->next) total += uint64_t{kNominalSlot} * f->used;
    for (SeriesFrame* f = r.first_series_frame; f; f = f->next) total += static_cast<uint64_t>(f->alloc - f->data());
    for (const BigSeries* b = r.first_big; b; b = b->next) total += b->size;
    return static_cast<double>(total);
}

void fill(NodeId block) {
    collector::Guard hold;  // the walk sees the frames as they are, and the new blocks are only in locals
    const memory::Record& r = memory::record();
    std::vector<Triple> nodes;
    for (const NodeFrame* f = r.first_node_frame; f; f = f->next)
        nodes.push_back({f->capacity - f->used, f->used, f->capacity});
    std::vector<Triple> frames;
    for (SeriesFrame* f = r.first_series_frame; f; f = f->next)
        frames.push_back(
            {static_cast<uint64_t>(f->end - f->alloc), static_cast<uint64_t>(f->alloc - f->data()), f->size});
    std::vector<uint64_t> bigs;
    for (const BigSeries* b = r.first_big; b; b = b->next) bigs.push_back(b->size);
    const uint64_t system = r.used_bytes;
    const uint64_t heap = lowrt::live_bytes() + kNominalHeapHeader * lowrt::live_blocks();

    series::append_cell(block, cell::series(TypeId::block, frames_block(nodes)));
    series::append_cell(block, cell::series(TypeId::block, frames_block(frames)));
    const NodeId big_block = block_of(bigs);
    for (uint32_t i = 0; i < series::length(big_block); ++i)
        cell::set_new_line(memory::buffer(big_block)->cells()[i], true);
    series::append_cell(block, cell::series(TypeId::block, big_block));
    series::append_cell(block, number(static_cast<double>(system)));
    series::append_cell(block, number(static_cast<double>(heap)));
}

Cell number(double count) {
    return count > 2147483647.0 ? cell::floating(count) : cell::integer(static_cast<int32_t>(count));
}

}  // namespace zub::stats
