// The texts embedded in the binary at build time (boot/embed.cmake): the program reads no file at
// start-up. Each is UTF-8 Zub source, followed by its size in bytes.
#pragma once

#include <cstdint>

namespace zub::embedded {

extern const unsigned char boot_natives[];  // boot/natives.zub: `word [spec]` per native
extern const uint32_t boot_natives_size;
extern const unsigned char boot_actions[];  // boot/actions.zub: `word [spec]` per action
extern const uint32_t boot_actions_size;

// One file of the environment written in Zub.
struct Source {
    const char* name;  // its file name, numbered in start-up order
    const unsigned char* text;
    const uint32_t* size;
};
extern const Source environment[];  // in start-up order
extern const uint32_t environment_count;
extern const Source console_engine[];  // console/engine/, run after the environment
extern const uint32_t console_engine_count;

// The same environment as ZUBBIN data (a block of one block per file), made at build time and
// linked into the programs; a size of 0 (the core library's own default) means the text is used.
extern const unsigned char startup_data[];
extern const uint32_t startup_data_size;

}  // namespace zub::embedded
