// Start-up from the text and from the ZUBBIN start-up data must give the same environment. This
// program starts the engine (from the data unless ZUB_BOOT_TEXT is set) and prints every global
// word with its molded value, sorted, so that the two outputs can be compared. Given a file, it
// decodes that file as start-up data instead, which must end the process on bad data.
// usage: zub-env-dump [start-up-data-file]
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "boot/boot.h"
#include "boot/startup_data.h"
#include "datatypes/context.h"
#include "datatypes/word.h"
#include "evaluator/depth.h"
#include "runtime/symbol.h"

namespace {

using namespace zub;

int dump(void* arg) {
    const char* file = static_cast<const char*>(arg);
    boot::start();
    if (file) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Cell files = startup_data::load(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        std::printf("%s\n", boot::mold_utf8(files).c_str());
        return 0;
    }
    const NodeId global = context::global();
    std::vector<std::string> lines;
    for (uint32_t i = 0; i < context::word_count(global); ++i) {
        const Cell* value = context::value_at(global, i);
        if (!value || cell::is(*value, TypeId::unset)) continue;
        const std::string name(symbol::utf8(word::symbol_of(context::word_at(global, i))));
        lines.push_back(name + ": " + boot::mold_utf8(*context::value_at(global, i), true));
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) { return zub::depth::run_on_evaluator_thread(dump, argc > 1 ? argv[1] : nullptr); }
