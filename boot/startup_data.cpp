// Start-up data: decoded into a block whose cells are the files' blocks; nothing in it is trusted
// more than any other ZUBBIN data.
#include "boot/startup_data.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "boot/embedded.h"
#include "datatypes/block.h"
#include "evaluator/exits.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/unicode.h"
#include "system/zubbin.h"

namespace zub::startup_data {

bool present() { return embedded::startup_data_size != 0 && !std::getenv("ZUB_BOOT_TEXT"); }

Cell load(const uint8_t* data, size_t size) {
    stack::Rooted files(block::make(1));
    try {
        zubbin::decode(data, size, cell::series_node(files.cell()), zubbin::Mode::start_up);
        const NodeId node = cell::series_node(files.cell());
        if (series::length(node) != 1 || !cell::is(memory::buffer(node)->cells()[0], TypeId::block))
            error::fire(ErrorId::invalid_data, cell::none());
        const Cell loaded = memory::buffer(node)->cells()[0];
        for (uint32_t i = 0; i < block::length(loaded); ++i)
            if (!cell::is(block::abs_at(loaded, i), TypeId::block)) error::fire(ErrorId::invalid_data, cell::none());
        return loaded;
    } catch (const Thrown&) {
        const bool magic = size >= 6 && std::string_view(reinterpret_cast<const char*>(data), 6) == "ZUBBIN";
        std::fputs(magic ? "Error: Zubbin start-up data corrupted!\n" : "Error: Not a Zubbin file!\n", stderr);
        const NodeId out = series::alloc_with_unit(64, 1);
        exits::form_pending_error(out, 0x7FFFFFFF);
        series::append_ascii(out, "\n");
        Cell text = cell::series(TypeId::string, out);
        const unicode::Converted utf8 = unicode::string_to_utf8(text);
        std::fwrite(utf8.data, 1, utf8.size, stderr);
        std::fflush(stderr);
        std::exit(1);
    }
}

}  // namespace zub::startup_data
