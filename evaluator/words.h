// The words that native code recognises, interned once at start so that it compares symbol ids
// instead of text, and the global words bound to them.
#pragma once

#include <cstdint>

#include "runtime/symbol.h"

namespace zub::words {

enum class Word : uint16_t {
#define ZUB_WORD(name, spelling) name,
#include "evaluator/words.def"
};
inline constexpr uint32_t kWordCount = 0
#define ZUB_WORD(name, spelling) +1
#include "evaluator/words.def"
    ;

extern symbol::Id g_ids[kWordCount];

// Interns every word, then the datatype names. Once, after the symbol table and the global
// context exist. May collect.
void build();

inline symbol::Id id(Word w) { return g_ids[static_cast<uint16_t>(w)]; }

// The global word of a symbol, bound with its index resolved. May collect.
Cell global(symbol::Id symbol);
inline Cell global(Word w) { return global(id(w)); }

// The global word naming a datatype: integer! for integer!.
Cell type_word(TypeId type);

}  // namespace zub::words
