// Case mapping over ASCII and Latin-1 until the full tables are generated.
#include "runtime/unicode.h"

namespace zub::unicode {

uint32_t change_char_case(uint32_t cp, bool upper) {
    if (upper) {
        if ((cp >= 'a' && cp <= 'z') || (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7)) return cp - 32;
        if (cp == 0xFF) return 0x178;
    } else {
        if ((cp >= 'A' && cp <= 'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)) return cp + 32;
        if (cp == 0x178) return 0xFF;
    }
    return cp;
}

}  // namespace zub::unicode
