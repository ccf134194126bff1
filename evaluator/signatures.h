// The specs of the built-in functions, natives and actions, as start-up reads them: Zub text
// embedded in the binary (boot/natives.zub, boot/actions.zub), loaded by the lexer and walked as
// data, never evaluated. The walk gives each function its parameter list with the typeset that
// the argument checks test, so no C++ table repeats what the specs say.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/cell.h"
#include "runtime/symbol.h"

namespace zub::signatures {

// One argument of a spec.
struct Param {
    symbol::Id word;     // its spec word, for expect-arg and help
    Cell types;          // typeset! of the accepted types (every type when the function spec names none)
    bool literal;        // written as a lit-word: taken unevaluated
    int16_t refinement;  // the 0-based refinement it belongs to, -1 for a fixed argument
    uint8_t kind;        // how the interpreter fetches it: 0 evaluated, 1 as written (get-word), 2 quoted
    uint64_t mask;       // types as typeset::low_mask gives them: the interpreter's check
};

// One refinement of a spec: its word and the run of parameters that are its arguments.
struct Refinement {
    symbol::Id word;
    uint16_t first;  // its first argument's place among the function's parameters
    uint16_t count;  // its arguments
};

// One function of a spec file.
struct Shape {
    symbol::Id word;               // the word the function is bound to
    NodeId spec;                   // the function spec block, head 0
    uint32_t first_param;          // its first Param in the list
    uint16_t params;               // all its arguments, refinement arguments included
    uint16_t fixed;                // the arguments before the first refinement
    uint16_t refinements;          // refinements, /local excluded
    const Param* param;            // its parameters, in the table's list (set once the list is complete)
    uint32_t first_refinement;     // its first Refinement in the list
    const Refinement* refinement;  // its refinements, in spec order (set with param)
};

struct Table {
    NodeId source;                        // the loaded block holding every spec; keeps them alive
    std::vector<Shape> shapes;            // in file order
    std::vector<Param> params;            // every function's parameters, in order
    std::vector<Refinement> refinements;  // every function's refinements, in order
};

// Loads `word [spec] ...` text and walks it. The words must be exactly `expected`, in order. Text
// that is not so (a fault of the build) raises script bad-func-def with the offending word or
// spec, invalid-type-spec with an unknown type name, or the lexer's syntax error. May collect.
Table load(const unsigned char* text, uint32_t size, const std::vector<std::string_view>& expected);

// The typeset of a type block: datatype names and the standard typeset names (any-type!,
// series!, number! ...); nested blocks (a callback's own spec) are passed over. Returns false for
// a word that names neither. Never allocates.
bool typeset_of(Cell type_block, Cell& out);

// Adds the types of one datatype or standard typeset name; false when the symbol names neither.
bool add_named(Cell& set, symbol::Id name);

}  // namespace zub::signatures
