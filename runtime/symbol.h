// Symbols: every spelling of a word, interned once in the symbol table and named everywhere by
// its id, a 1-based index into that table. Spellings that differ only in the case of ASCII letters
// are distinct symbols tied to the first one interned (their canonical form), so words compare
// case-insensitively by canonical id and strictly by id.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zub::symbol {

using Id = uint32_t;

// The symbol table and its hash. Once, at start, before any word is interned. May collect.
void init();
NodeId table();  // the block of symbol! cells; id N is cell N - 1
NodeId hash();   // the index from names to positions
uint32_t count();

// Interns a UTF-8 name, making a case variant of an existing name an alias of it. The bytes may
// lie in a series: they are copied before anything is allocated. May collect.
Id make(std::string_view utf8);
// Single-pass interning for start-up: an existing case variant is returned as it is.
Id make_exact(std::string_view utf8);

// The raw alias field: -1 for a canonical symbol.
int32_t alias(Id id);
// The table's node, read inline by resolve: words are compared by it on hot paths.
extern NodeId g_table;
// The canonical id: the alias when there is one, else the id itself.
inline Id resolve(Id id) {
    const auto a = static_cast<int32_t>(memory::buffer(g_table)->cells()[id - 1].w1);
    return a > 0 ? static_cast<Id>(a) : id;
}

// The symbol's UTF-8 name. Valid until the next allocation.
std::string_view utf8(Id id);
// The node of the name as a string!, decoded on first use and kept. May collect.
NodeId name_string(Id id);
// The symbol! cell, with its name string made. May collect.
Cell get(Id id);

// Orders two names by code point, case-insensitively unless asked: < 0, 0 or > 0.
int32_t compare_names(Id a, Id b, bool case_sensitive);
int32_t compare_utf8(std::string_view a, std::string_view b, bool case_sensitive);
// Code points in the name.
uint32_t name_length(Id id);
// Appends the name to a string series of any unit width, widening it as needed. May collect.
void append_name(Id id, NodeId out);

}  // namespace zub::symbol
