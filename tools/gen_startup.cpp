// Build step: loads the environment's embedded sources, then the console engine's (one block per
// file, in start-up order), writes them as one compact ZUBBIN value, packs it with the runtime's LZ
// compressor and writes it out as a C++ byte array, which start-up decodes instead of loading the
// text.
// usage: zub-gen-startup output.cpp
#include <cstdio>
#include <utility>
#include <vector>

#include "boot/embedded.h"
#include "boot/runtime.h"
#include "datatypes/block.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "system/zubbin.h"

int main(int argc, char** argv) {
    using namespace zub;
    if (argc != 2) {
        std::fputs("usage: zub-gen-startup output.cpp\n", stderr);
        return 2;
    }
    runtime::init();
    std::vector<uint8_t> data;
    try {
        stack::Rooted files(block::make(embedded::environment_count + embedded::console_engine_count));
        const std::pair<const embedded::Source*, uint32_t> tables[] = {
            {embedded::environment, embedded::environment_count},
            {embedded::console_engine, embedded::console_engine_count}};
        for (const auto& [table, count] : tables) {
            for (uint32_t i = 0; i < count; ++i) {
                const embedded::Source& source = table[i];
                const NodeId code = lexer::load(reinterpret_cast<const std::byte*>(source.text), *source.size);
                block::append(cell::series_node(files.cell()), cell::series(TypeId::block, code));
            }
        }
        const std::vector<uint8_t> plain = zubbin::encode_bytes(files.cell(), true);
        data = zubbin::compress(plain.data(), plain.size());
    } catch (const Thrown&) {
        std::fprintf(stderr, "zub-gen-startup: the environment sources do not load (error %d)\n",
                     error::code_of(error::pending().id));
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::fputs(
        "// Generated at build time by zub-gen-startup; not to be edited.\n#include <cstdint>\n"
        "namespace zub::embedded {\nextern const unsigned char startup_data[] = {",
        out);
    for (size_t i = 0; i < data.size(); ++i) std::fprintf(out, "%s%u,", i % 24 ? "" : "\n    ", data[i]);
    std::fprintf(out, "\n    0};\nextern const uint32_t startup_data_size = %zu;\n}  // namespace zub::embedded\n",
                 data.size());
    return std::fclose(out) == 0 ? 0 : 1;
}
