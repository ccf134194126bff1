// The texts embedded in the binary at build time (boot/embed.cmake): the program reads no file at
// start-up. Each is UTF-8 Zub source, followed by its size in bytes.
#pragma once

#include <cstdint>

namespace zub::embedded {

extern const unsigned char boot_natives[];  // boot/natives.zub: `word [spec]` per native
extern const uint32_t boot_natives_size;
extern const unsigned char boot_actions[];  // boot/actions.zub: `word [spec]` per action
extern const uint32_t boot_actions_size;

}  // namespace zub::embedded
