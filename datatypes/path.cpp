// The path family: blocks in memory that differ from block! in how they are written. A path's
// items are joined by "/" (lit-path!, set-path! and get-path! add their "'" or ":"). Everything
// else comes from block!, except that paths refuse random, sort and trim.
#include "datatypes/block.h"
#include "datatypes/mold.h"
#include "datatypes/registry.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/series.h"
#include "runtime/type_traits.h"

namespace zub {
namespace {

Cell path_make(TypeId type, Cell, Cell spec) {
    const TypeId t = cell::type(spec);
    if (block::is_block_like(t)) {
        Cell path = block::clone(spec, false, false);
        cell::set_type(path, type);
        return path;
    }
    switch (t) {
        case TypeId::integer:
        case TypeId::float_:
        case TypeId::percent: {
            const int32_t n = cell::to_int32_checked(spec);
            return block::make(n < 1 ? 1 : static_cast<uint32_t>(n), type);
        }
        default: error::fire(ErrorId::bad_make_arg, cell::datatype_of(type), spec);
    }
}

Cell path_to(TypeId type, Cell, Cell value) {
    switch (cell::type(value)) {
        case TypeId::object:
        case TypeId::typeset:
        case TypeId::map: {
            // These stand for themselves as one item, where a block would take their contents.
            const Cell path = block::make(1, type);
            series::append_cell(cell::series_node(path), value);
            return path;
        }
        default: return block::convert(type, value);
    }
}

// The items from the head, formed or (with flags) molded, joined by "/". With a budget the walk
// stops after the item that spends it; the caller cuts the text.
int32_t join(Cell path, NodeId out, int32_t limit, const MoldFlags* flags) {
    const NodeId node = cell::series_node(path);
    cycles::Guard walking(node);
    for (uint32_t i = block::head_index(path); i < series::length(node); ++i) {
        const Cell item = block::abs_at(path, i);
        const ActionTable& row = registry::actions(cell::type(item));
        // Items lay out on one line whatever their markers; only their own mold flags pass on.
        limit = flags ? row.mold(item, out, MoldFlags{false, flags->all, flags->flat, flags->indent}, limit)
                      : row.form(item, out, limit);
        if (limit <= 0) break;
        if (i + 1 < series::length(node)) limit = mold::emit(out, "/", limit);
    }
    return limit;
}

int32_t path_form(Cell value, NodeId out, int32_t limit) {
    if (cycles::mold_marker(value, out, &limit, false)) return limit;
    return join(value, out, limit, nullptr);
}

// A path met again inside itself is written as the marker alone, as a block's "[...]" stands for
// its brackets too.
template <char prefix, char suffix>
int32_t path_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    static constexpr char before[] = {prefix}, after[] = {suffix};
    if (cycles::mold_marker(value, out, &limit, true)) return limit;
    if (prefix) limit = mold::emit(out, {before, 1}, limit);
    limit = join(value, out, limit, &flags);
    if (suffix) limit = mold::emit(out, {after, 1}, limit);
    return limit;
}

}  // namespace

// copy is block!'s: the copy keeps the path's type.
extern const ActionTable path_actions = {
    .make = path_make,
    .random = unsupported::random,
    .to = path_to,
    .form = path_form,
    .mold = path_mold<0, 0>,
    .sort = unsupported::sort,
    .trim = unsupported::trim,
};
extern const ActionTable lit_path_actions = {.mold = path_mold<'\'', 0>};
extern const ActionTable set_path_actions = {.mold = path_mold<0, ':'>};
extern const ActionTable get_path_actions = {.mold = path_mold<':', 0>};

// The path family: evaluated, so not self-evaluating.
constexpr type_traits::Traits kPathTraits = block::cells_traits("...", false);
extern const type_traits::Traits path_traits = kPathTraits;
extern const type_traits::Traits lit_path_traits = kPathTraits;
extern const type_traits::Traits set_path_traits = kPathTraits;
extern const type_traits::Traits get_path_traits = kPathTraits;

}  // namespace zub
