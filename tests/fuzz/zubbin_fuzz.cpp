// Fuzzing the ZUBBIN reader: mutated encodings of a sample of every kind of value (bit flips, byte
// changes, insertions, deletions, truncations, splices, lying counts) must decode to values or
// raise a Zub error: never a crash, a read past the end or a hang. What decodes is molded and
// encoded again, so a structure the reader left unsound shows too. The seed is fixed (a second
// argument changes it).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string_view>
#include <vector>

#include "boot/boot.h"
#include "boot/runtime.h"
#include "datatypes/block.h"
#include "evaluator/depth.h"
#include "evaluator/interp.h"
#include "evaluator/lexer/lexer.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "system/zubbin.h"

namespace {

using namespace zub;

constexpr std::string_view kSample = R"(
    o: make object! [x: 1 f: func [y /local z] [z: x + y] w: 'x]
    s: "shared text"
    b: reduce [
        0 63 64 -1 2147483647 2.5 -0.0 1e300 50% 0.5% 10:20 #"a" #"€" 1x2 (1.5, 2) (1, 2, 3) 1.2.3.4
        $1.50 -EUR$2 1-Jan-2000 1-Jan-2000/10:00:00-3:45 "text" "wide €😀" s next s %file http://x.y
        <tag> me@there.org @ref #{00FF} #issue
        integer! make typeset! [integer! string!] charset "abc" complement charset "x"
        make vector! [integer! 16 [1 2 3]] make vector! [float! 64 [1.5]] make hash! [a 1]
        make map! [a 1 "b" [2]] o o in o 'x :o/f :if :append :+ make error! "boom" true false none
        make image! [2x1 #{010203040506} #{00FF}]
    ]
    append b [word set: :get 'lit /ref a/b/c (1 + 2) [nested [deep]]]
    append/only b b
    b
)";

Cell sample() {
    const NodeId code =
        lexer::load(reinterpret_cast<const std::byte*>(kSample.data()), static_cast<uint32_t>(kSample.size()));
    stack::push(cell::series(TypeId::block, code, 0));
    (void)interp::eval(stack::top_cell(), true);
    return stack::top_cell();
}

void mutate(std::vector<uint8_t>& d, std::mt19937& rng, const std::vector<std::vector<uint8_t>>& seeds) {
    const int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits && !d.empty(); ++e) {
        const size_t at = rng() % d.size();
        switch (rng() % 8) {
            case 0: d[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
            case 1: d[at] = static_cast<uint8_t>(rng()); break;
            case 2: d.insert(d.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
            case 3: d.erase(d.begin() + static_cast<long>(at)); break;
            case 4: d.resize(at); break;
            case 5: {  // a piece of another seed
                const auto& other = seeds[rng() % seeds.size()];
                const size_t from = rng() % other.size(), n = rng() % 16;
                for (size_t k = 0; k < n && from + k < other.size() && at + k < d.size(); ++k)
                    d[at + k] = other[from + k];
                break;
            }
            case 6: d[at] = static_cast<uint8_t>(0x80 | rng()); break;  // a varint that goes on
            default: {  // a byte that matters: prefixes, references, long type ids
                constexpr uint8_t kBytes[] = {0xC0, 0xC1, 0xC4, 0xFF, 0x3F, 0x00, 0x7F, 0x05, 0x07};
                d[at] = kBytes[rng() % sizeof kBytes];
            }
        }
    }
}

long g_decoded = 0;  // inputs that gave values

void decode_one(const std::vector<uint8_t>& d, zubbin::Mode mode) {
    const stack::Saved saved = stack::save();
    try {
        stack::Rooted target(block::make(1));
        zubbin::decode(d.data(), d.size(), cell::series_node(target.cell()), mode);
        (void)boot::mold_utf8(target.cell(), true);
        (void)zubbin::encode_bytes(target.cell(), true);
        (void)zubbin::encode_bytes(target.cell(), false);
        ++g_decoded;
    } catch (const Thrown&) {
        cycles::reset();
    }
    stack::restore(saved);
}

struct Run {
    long rounds;
    uint32_t seed;
};

int run(void* arg) {
    const Run& r = *static_cast<const Run*>(arg);
    boot::start();
    std::vector<std::vector<uint8_t>> seeds;
    {
        const Cell value = sample();
        seeds.push_back(zubbin::encode_bytes(value, true));
        seeds.push_back(zubbin::encode_bytes(value, false));
        const std::vector<uint8_t> packed = zubbin::compress(seeds[0].data(), seeds[0].size());
        seeds.push_back(packed);
        stack::pop(2);
    }
    for (const auto& s : seeds) decode_one(s, zubbin::Mode::codec);
    std::mt19937 rng(r.seed);
    std::vector<uint8_t> d;
    for (long round = 0; round < r.rounds; ++round) {
        d = seeds[rng() % seeds.size()];
        mutate(d, rng, seeds);
        decode_one(d, round % 4 == 3 ? zubbin::Mode::start_up : zubbin::Mode::codec);
        if (round % 500 == 499) collector::do_cycle();
    }
    runtime::cleanup();
    std::printf("zubbin fuzz: %ld inputs, %ld decoded\n", r.rounds, g_decoded);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Run r{argc > 1 ? std::strtol(argv[1], nullptr, 10) : 20000,
          argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 20261211u};
    return depth::run_on_evaluator_thread(run, &r);
}
