#include "evaluator/words.h"

#include <string_view>

#include "datatypes/context.h"
#include "datatypes/registry.h"

namespace zub::words {

symbol::Id g_ids[kWordCount];

namespace {

constexpr std::string_view kSpellings[] = {
#define ZUB_WORD(name, spelling) spelling,
#include "evaluator/words.def"
};

Cell g_type_words[kTypeIdLimit];

}  // namespace

void build() {
    for (uint32_t i = 0; i < kWordCount; ++i) g_ids[i] = symbol::make(kSpellings[i]);
    for (uint32_t id = 1; id <= static_cast<uint32_t>(kTypeCount); ++id)
        g_type_words[id] = global(symbol::make(registry::name(static_cast<TypeId>(id))));
}

Cell global(symbol::Id symbol) { return context::add_global_word(symbol); }

Cell type_word(TypeId type) { return g_type_words[static_cast<uint8_t>(type)]; }

}  // namespace zub::words
