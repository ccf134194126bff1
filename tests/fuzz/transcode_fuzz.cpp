// Fuzzing the lexer: any bytes must load or raise a Zub error, never crash, hang or read past the
// input. Built for libFuzzer when ZUB_LIBFUZZER is defined; otherwise a self-contained driver
// mutates a set of seeds for a given number of rounds, which ctest runs briefly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "boot/runtime.h"
#include "evaluator/lexer/lexer.h"
#include "runtime/error.h"

namespace {

void transcode_all_ways(const uint8_t* data, size_t size) {
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    const auto length = static_cast<uint32_t>(size);
    for (const bool load : {true, false}) {
        zub::lexer::Options options;
        options.load = load;
        try {
            zub::lexer::transcode(bytes, length, options);
        } catch (const zub::Thrown&) {
        }
        options.one = true;
        try {
            zub::lexer::transcode(bytes, length, options);
        } catch (const zub::Thrown&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (zub::runtime::init(), true);
    (void)ready;
    transcode_all_ways(data, size);
    return 0;
}

#ifndef ZUB_LIBFUZZER
int main(int argc, char** argv) {
    const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
    const std::vector<std::string> seeds = {
        "1 -2 3.5 50% 1e10 #\"a\" word set: :get 'lit /ref #issue",
        "[a [b (c d)] e/f/1 g/:h] {braced {nested} text} \"quoted ^\"^/^(41)\"",
        "%file.txt %\"a b\" http://x.y/z?q=1 me@there.org <tag attr=\"v\"> @ref #(true) #(none)",
        "%{raw}% 2#{0101} #{FF00} 1.2.3 1x2 10:20 1-Jan-2000 $1.50 #[a: 1] ;comment\n",
        "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 {\xF0\x9F\x98\x80}",
        "-USD$1'234.56789 $1,5 1/Jan/-44 2000-01-31T10:00:00.5-03:45 20000101T1000Z 2020-W53-7 2000-366",
    };
    const char specials[] = "[](){}\"^#%:/'@;<>$.,\\ \n\t\x00\x80\xC3\xE2\xF0\xFF";
    std::mt19937 rng(12345);
    std::string input;
    for (long round = 0; round < rounds; ++round) {
        input = seeds[rng() % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 8);
        for (int e = 0; e < edits && !input.empty(); ++e) {
            const size_t at = rng() % input.size();
            switch (rng() % 4) {
                case 0: input[at] = static_cast<char>(rng()); break;
                case 1: input.insert(at, 1, specials[rng() % (sizeof specials - 1)]); break;
                case 2: input.erase(at, 1 + rng() % 4); break;
                default: input.resize(at); break;  // a cut: truncated tokens and sequences
            }
        }
        // The exact bytes on the heap, so a read past them is caught under AddressSanitizer.
        std::vector<uint8_t> exact(input.begin(), input.end());
        LLVMFuzzerTestOneInput(exact.data(), exact.size());
        if (round % 2000 == 1999) {  // nothing collects yet: start afresh now and then
            zub::runtime::cleanup();
            zub::runtime::init();
        }
    }
    std::printf("transcode fuzz: %ld rounds\n", rounds);
    return 0;
}
#endif
