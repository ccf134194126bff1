// Walking the built-in specs. The standard typesets are named here because the environment that
// defines them as words loads after the natives, and the argument checks need them from the start.
#include "evaluator/signatures.h"

#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/lexer/lexer.h"
#include "runtime/assert.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"

namespace zub::signatures {
namespace {

using T = TypeId;

// The standard typesets by the environment's names, from the one list the environment is also
// built from.
struct NamedSet {
    std::string_view name;
    std::string_view members;  // datatype names, one space between two
};
constexpr NamedSet kTypesets[] = {
#define ZUB_TYPESET(member, word, members) {word, members},
#include "datatypes/typesets.def"
};

TypeId type_named(std::string_view name) {
    for (int id = 1; id <= kTypeCount; ++id)
        if (registry::name(static_cast<TypeId>(id)) == name) return static_cast<TypeId>(id);
    return TypeId{};
}

Cell every_type() {
    Cell set = typeset::make_empty();
    for (int id = 1; id <= kTypeCount; ++id) typeset::add(set, static_cast<TypeId>(id));
    return set;
}

struct Named {
    std::string_view name;
    Cell types;
};

// Every name a type block may use and its types, made once: start-up walks hundreds of type
// blocks. The standard typesets come first, so series! means the family, not the family's common
// type of that name. In a spec any-type! means no check at all: the internal types (symbol!,
// context!, triple!) that the environment's any-type! leaves out pass too.
const std::vector<Named>& names() {
    static const std::vector<Named> table = [] {
        std::vector<Named> made;
        made.push_back({"any-type!", every_type()});
        for (const NamedSet& named : kTypesets) {
            Cell set = typeset::make_empty();
            for (std::string_view rest = named.members; !rest.empty();) {
                const size_t space = rest.find(' ');
                const TypeId type = type_named(rest.substr(0, space));
                ZUB_ASSERT(type != TypeId{});  // typesets.def names only datatypes
                typeset::add(set, type);
                rest = space == std::string_view::npos ? std::string_view{} : rest.substr(space + 1);
            }
            made.push_back({named.name, set});
        }
        for (int id = 1; id <= kTypeCount; ++id)
            made.push_back({registry::name(static_cast<TypeId>(id)), typeset::make_of({static_cast<TypeId>(id)})});
        return made;
    }();
    return table;
}

bool add_named(Cell& set, std::string_view name) {
    for (const Named& named : names()) {
        if (named.name != name) continue;
        typeset::add_all(set, named.types);
        return true;
    }
    return false;
}

Cell cell_at(NodeId node, uint32_t i) { return memory::buffer(node)->cells()[i]; }

// Walks one spec, appending its parameters.
Shape walk(Cell word, Cell spec, Table& table) {
    Shape shape{word::symbol_of(word),
                cell::series_node(spec),
                static_cast<uint32_t>(table.params.size()),
                0,
                0,
                0,
                nullptr,
                static_cast<uint32_t>(table.refinements.size()),
                nullptr};
    const NodeId items = shape.spec;
    const uint32_t n = series::length(items);
    int16_t refinement = -1;
    bool locals = false;
    for (uint32_t i = cell::series_index(spec); i < n; ++i) {
        const Cell item = cell_at(items, i);
        switch (cell::type(item)) {
            case T::string: break;
            case T::word:
            case T::lit_word:
            case T::get_word: {
                if (locals) break;
                const uint8_t kind = cell::is(item, T::get_word) ? 1 : cell::is(item, T::lit_word) ? 2 : 0;
                Param param{word::symbol_of(item), every_type(), kind == 2, refinement, kind, 0};
                if (i + 1 < n && cell::is(cell_at(items, i + 1), T::block)) {
                    const Cell types = cell_at(items, ++i);
                    param.types = typeset::make_empty();
                    if (!typeset_of(types, param.types)) error::fire(ErrorId::invalid_type_spec, types);
                }
                param.mask = typeset::low_mask(param.types);
                table.params.push_back(param);
                ++shape.params;
                if (refinement < 0) ++shape.fixed;
                else ++table.refinements.back().count;
                break;
            }
            case T::refinement:
                if (symbol::utf8(word::symbol_of(item)) == "local") {
                    locals = true;
                    break;
                }
                if (locals) error::fire(ErrorId::bad_func_def, spec);
                refinement = static_cast<int16_t>(shape.refinements++);
                table.refinements.push_back({word::symbol_of(item), shape.params, 0});
                break;
            case T::set_word:
                // return: and its type block say what comes back; nothing is checked against it.
                if (symbol::utf8(word::symbol_of(item)) != "return" || i + 1 >= n ||
                    !cell::is(cell_at(items, i + 1), T::block))
                    error::fire(ErrorId::bad_func_def, spec);
                ++i;
                break;
            default: error::fire(ErrorId::bad_func_def, spec);
        }
    }
    return shape;
}

}  // namespace

bool add_named(Cell& set, symbol::Id name) { return add_named(set, symbol::utf8(name)); }

bool typeset_of(Cell type_block, Cell& out) {
    const NodeId items = cell::series_node(type_block);
    for (uint32_t i = cell::series_index(type_block); i < series::length(items); ++i) {
        const Cell item = cell_at(items, i);
        if (cell::is(item, T::block)) continue;
        if (!cell::is(item, T::word) || !add_named(out, symbol::utf8(word::symbol_of(item)))) return false;
    }
    return true;
}

Table load(const unsigned char* text, uint32_t size, const std::vector<std::string_view>& expected) {
    Table table{lexer::load(reinterpret_cast<const std::byte*>(text), size), {}, {}, {}};
    const uint32_t n = series::length(table.source);
    uint32_t i = 0;
    for (std::string_view name : expected) {
        if (i >= n) error::fire(ErrorId::bad_func_def, cell::series(T::block, table.source, i));
        const Cell word = cell_at(table.source, i);
        if (!cell::is(word, T::word) || symbol::utf8(word::symbol_of(word)) != name || i + 1 >= n ||
            !cell::is(cell_at(table.source, i + 1), T::block))
            error::fire(ErrorId::bad_func_def, word);
        table.shapes.push_back(walk(word, cell_at(table.source, i + 1), table));
        i += 2;
    }
    if (i != n) error::fire(ErrorId::bad_func_def, cell_at(table.source, i));
    for (Shape& shape : table.shapes) {
        shape.param = table.params.data() + shape.first_param;
        shape.refinement = table.refinements.data() + shape.first_refinement;
    }
    return table;
}

}  // namespace zub::signatures
