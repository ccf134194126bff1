// The constants of the ZUBBIN layout that the writer and the reader share.
#pragma once

#include <cstdint>

namespace zub::zubbin::format {

inline constexpr uint8_t kMagic[6] = {'Z', 'U', 'B', 'B', 'I', 'N'};
inline constexpr uint8_t kVersion = 2;
inline constexpr uint32_t kHeaderSize = 8;

// Compact form: the bytes that are not type bytes.
inline constexpr uint8_t kFlag = 0x40;          // the per-type flag F of a type byte
inline constexpr uint8_t kShortInteger = 0x80;  // 80h-BFh: integers 0 to 63
inline constexpr uint8_t kC0 = 0xC0;            // prefix: new-line marker
inline constexpr uint8_t kC1 = 0xC1;            // prefix: the contents are a reference path
inline constexpr uint8_t kTrue = 0xC2;
inline constexpr uint8_t kFalse = 0xC3;
inline constexpr uint8_t kC4 = 0xC4;  // prefix: definition (start-up data only)
inline constexpr uint8_t kValueReference = 0xFF;
inline constexpr uint32_t kMaxPath = 65536;

// Classic form: header word bits.
inline constexpr uint32_t kReference = 0xFF;  // type of a reference record
inline constexpr uint32_t kClassicNewLine = 0x80000000;
inline constexpr uint32_t kClassicReference = 0x00080000;   // bit 19
inline constexpr uint32_t kClassicGlobal = 0x02000000;      // bit 25: words
inline constexpr uint32_t kClassicEvents = 0x01000000;      // bit 24: objects
inline constexpr uint32_t kClassicMoneySign = 0x00400000;   // bit 22
inline constexpr uint32_t kClassicComplement = 0x00800000;  // bit 23

inline constexpr uint32_t kDateHasTime = 0x10000;

}  // namespace zub::zubbin::format
