// Fuzzing the inflater and the gzip and zlib readers: any bytes must decode or give a failing
// status, never crash, hang, or read or write outside the buffers. Each input is also tried with
// a short output, which must report the size the full one took. Built for libFuzzer when
// ZUB_LIBFUZZER is defined; otherwise a driver mutates streams made by the compressor.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "system/gzip.h"

namespace {

using zub::deflate::Status;
using Codec = Status (*)(uint8_t*, size_t&, const uint8_t*, size_t);

Status raw_inflate(uint8_t* out, size_t& size, const uint8_t* in, size_t length) {
    return zub::deflate::inflate(out, size, in, length);
}

void decode_all_ways(const uint8_t* data, size_t size) {
    for (const Codec codec : {raw_inflate, zub::deflate::zlib_inflate, zub::deflate::gunzip}) {
        size_t needed = 0;
        const Status measured = codec(nullptr, needed, data, size);
        if (measured != Status::ok && measured != Status::too_small) continue;
        if (needed > (size_t{64} << 20)) continue;
        // Exactly sized heap buffers, so that a write past them is caught under AddressSanitizer.
        std::vector<uint8_t> full(needed), part(needed / 2);
        size_t full_size = full.size(), part_size = part.size();
        const Status s = codec(full.data(), full_size, data, size);
        const Status p = codec(part.data(), part_size, data, size);
        if (needed > 0 && s == Status::ok && p == Status::too_small && part_size != full_size) {
            std::fprintf(stderr, "inflate fuzz: a short output reported %zu, the full one gave %zu\n", part_size,
                         full_size);
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    decode_all_ways(data, size);
    return 0;
}

#ifndef ZUB_LIBFUZZER
int main(int argc, char** argv) {
    const long rounds = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000;
    std::mt19937 rng(20261211);
    // Seeds: every framing of text, runs and noise, so mutations hit stored, fixed and dynamic
    // blocks, headers and trailers.
    std::vector<std::vector<uint8_t>> seeds;
    std::string text;
    for (int i = 0; i < 300; ++i) text += "value " + std::to_string(i % 17) + " of the series\n";
    std::string noise(3000, '\0');
    for (char& c : noise) c = static_cast<char>(rng());
    for (const std::string& plain : {std::string(), std::string("a"), text, std::string(5000, 'x'), noise}) {
        for (const Codec codec : {zub::deflate::compress, zub::deflate::zlib_deflate, zub::deflate::gzip}) {
            std::vector<uint8_t> out(plain.size() * 2 + 64);
            size_t n = out.size();
            if (codec(out.data(), n, reinterpret_cast<const uint8_t*>(plain.data()), plain.size()) != Status::ok)
                return 1;
            out.resize(n);
            seeds.push_back(out);
        }
    }
    std::vector<uint8_t> input;
    for (long round = 0; round < rounds; ++round) {
        input = seeds[rng() % seeds.size()];
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !input.empty(); ++e) {
            const size_t at = rng() % input.size();
            switch (rng() % 4) {
                case 0: input[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
                case 1: input[at] = static_cast<uint8_t>(rng()); break;
                case 2: input.erase(input.begin() + static_cast<long>(at)); break;
                default: input.resize(at); break;  // a cut: truncated streams
            }
        }
        input.shrink_to_fit();
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("inflate fuzz: %ld rounds\n", rounds);
    return 0;
}
#endif
