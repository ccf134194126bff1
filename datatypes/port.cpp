// port!: making a port from its spec and finding its scheme, its molded form, and the forwarding
// of every series and I/O action to the port's actor. An object! actor's function of the action's
// name is applied to the port, the action's arguments and, for each refinement in the action's
// order, whether it is used followed by its argument; a scheme built into the system is called
// through its own action table, found by the index its handle! holds.
#include "datatypes/port.h"

#include <array>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/exits.h"
#include "evaluator/interp.h"
#include "evaluator/stack.h"
#include "evaluator/words.h"
#include "runtime/error.h"
#include "runtime/handles.h"
#include "runtime/symbol.h"
#include "runtime/type_traits.h"

namespace zub {

extern const ActionTable file_scheme_actions;

namespace port {
namespace {

// The schemes built into the system; a native actor's handle holds an index into this table.
// A network scheme adds its line here.
constexpr NativeScheme kSchemes[] = {
    {"file", &file_scheme_actions},
};

constexpr uint32_t kPortClass = 2;
constexpr std::array<std::string_view, 6> kPortFields = {"spec", "scheme", "actor", "awake", "data", "extra"};
constexpr std::array<std::string_view, 9> kSpecFields = {"scheme", "ref",     "title", "path", "target",
                                                         "host",   "port-id", "user",  "pass"};

// The handle class of native actors. Registered on first use in each run of the runtime (a
// restart empties the class table).
uint32_t actor_class() {
    static uint32_t id = 0;
    if (id == 0 || handles::class_name(id) != "port-actor") id = handles::register_class("port-actor", nullptr);
    return id;
}

// A new record of the type with the fields named, each none. May collect.
Cell make_record(const std::string_view* names, size_t n, TypeId type, uint32_t class_id) {
    const NodeId context = object::make_context(static_cast<uint32_t>(n));
    stack::Rooted keep(cell::make(TypeId::object, context, class_id, 0));
    for (size_t i = 0; i < n; ++i) {
        const uint32_t index = context::find_or_add_word(context, symbol::make(names[i]));
        *context::value_at(context, index) = cell::none();
    }
    return object::wrap(context, class_id, false, type);
}

Cell field(const Cell& object, std::string_view name) { return object::select_word(object, symbol::make(name)); }

void set(const Cell& object, std::string_view name, Cell value) {
    const int32_t index = object::find_word(object, symbol::make(name));
    if (index >= 0) object::set_field(object, static_cast<uint32_t>(index), value);
}

// The scheme a file or url names: "file" for a file!, the text before the first ":" of a url.
Cell scheme_word_of(const Cell& target) {
    if (cell::is(target, TypeId::file)) return words::global(symbol::make("file"));
    const int32_t colon = string::find_char(target, ':');
    if (colon <= 0) error::fire(ErrorId::no_scheme, target);
    std::string name;
    const NodeId node = cell::series_node(target);
    for (int32_t i = 0; i < colon; ++i) {
        const uint32_t cp = string::char_at(node, cell::series_index(target) + static_cast<uint32_t>(i));
        if (cp >= 0x80) error::fire(ErrorId::no_scheme, target);
        name += static_cast<char>(cp);
    }
    return words::global(symbol::make(name));
}

// The spec object: a copy of an object, fields from a block, or the scheme and target a file or
// url names. May collect; a block spec runs its code.
Cell spec_object(Cell spec) {
    if (cell::is(spec, TypeId::object)) return object::copy(spec, false, nullptr);
    stack::Rooted keep(spec);
    stack::Rooted proto(make_record(kSpecFields.data(), kSpecFields.size(), TypeId::object, 0));
    if (cell::is(spec, TypeId::file) || cell::is(spec, TypeId::url)) {
        set(proto.cell(), "scheme", scheme_word_of(spec));
        set(proto.cell(), "ref", spec);
        return proto.cell();
    }
    return object::make(proto.cell(), spec);
}

// The scheme of that name built into the system, as its index, or -1.
int32_t find_scheme(symbol::Id name) {
    for (size_t i = 0; i < std::size(kSchemes); ++i)
        if (symbol::compare_utf8(symbol::utf8(name), kSchemes[i].name, false) == 0) return static_cast<int32_t>(i);
    return -1;
}

Cell port_make(TypeId, Cell, Cell spec) {
    stack::Rooted spec_obj(spec_object(spec));
    const Cell scheme = field(spec_obj.cell(), "scheme");
    if (!cell::is(scheme, TypeId::word)) error::fire(ErrorId::no_scheme, spec_obj.cell());
    const int32_t index = find_scheme(word::symbol_of(scheme));
    if (index < 0) error::fire(ErrorId::unknown_scheme, spec_obj.cell());
    stack::Rooted port(make_record(kPortFields.data(), kPortFields.size(), TypeId::port, kPortClass));
    set(port.cell(), "spec", spec_obj.cell());
    set(port.cell(), "scheme", scheme);
    set(port.cell(), "actor", handle::make(handles::store(static_cast<uintptr_t>(index), actor_class())));
    return port.cell();
}

int32_t port_mold(Cell value, NodeId out, MoldFlags flags, int32_t limit) {
    return object::mold_as(value, "port!", out, flags, limit);
}
int32_t port_form(Cell value, NodeId out, int32_t limit) { return port_mold(value, out, MoldFlags{}, limit); }

// ---- Forwarding ---------------------------------------------------------------------------------

// The actor of a port: a scheme's table, or an object of functions.
struct Actor {
    const ActionTable* table;  // null for an object actor
    Cell object;
};

Actor actor_of(const Cell& port) {
    const Cell actor = field(port, "actor");
    if (cell::is(actor, TypeId::handle)) {
        const int32_t entry = handle::entry(actor);
        if (handles::live(entry) && handles::class_of(entry) == actor_class()) {
            const uintptr_t index = handles::get(entry);
            if (index < std::size(kSchemes)) return Actor{kSchemes[index].actions, cell::none()};
        }
    }
    if (cell::is(actor, TypeId::object)) return Actor{nullptr, actor};
    error::fire(ErrorId::invalid_port);
}

[[noreturn]] void no_action(Slot slot) {
    error::fire(ErrorId::no_port_action, words::global(symbol::make(kActionWords[static_cast<int>(slot)])));
}

// The values an object actor's function is applied to, gathered in a block on the stack.
class Forward {
  public:
    explicit Forward(const Cell& port) : block_(block::make(8)) { value(port); }
    Forward& value(Cell v) {
        block::append(cell::series_node(block_.cell()), v);
        return *this;
    }
    Forward& flag(bool used) { return value(cell::logic(used)); }
    // A refinement with one argument: whether it is used, then its argument or none.
    Forward& option(const Cell* arg) { return flag(arg != nullptr).value(arg ? *arg : cell::none()); }
    Forward& count(int32_t n, bool used) { return flag(used).value(used ? cell::integer(n) : cell::none()); }

    // Applies the actor's function named by the slot's word; its result.
    Cell call(const Cell& actor, Slot slot) {
        const symbol::Id name = symbol::make(kActionWords[static_cast<int>(slot)]);
        const Cell fn = object::select_word(actor, name);
        if (!cell::is(fn, TypeId::function)) no_action(slot);
        Cell* const base = stack::g_top;
        const Status status = interp::apply(fn, words::global(name), block_.cell(),
                                            interp::kApplyAll | interp::kApplyValues, nullptr, interp::Callback::port);
        if (status != Status::normal) {
            stack::g_top = base;
            exits::refuse_escape(status);
        }
        const Cell result = stack::g_top > base ? stack::g_top[-1] : cell::unset();
        stack::g_top = base;
        return result;
    }

  private:
    stack::Rooted block_;
};

// The entry of a scheme's table for the slot; access no-port-action when it has none.
template <typename Fn>
Fn native_entry(const ActionTable* table, Fn ActionTable::*member, Slot slot) {
    const Fn fn = table->*member;
    if (!fn) no_action(slot);
    return fn;
}

#define ZUB_NATIVE_ACTOR(member, slot, ...) \
    const Actor actor = actor_of(port);     \
    if (actor.table) return native_entry(actor.table, member, slot)(__VA_ARGS__);

// Actions with nothing beyond the port.
template <Slot slot, UnaryFn ActionTable::*member>
Cell unary(Cell port) {
    ZUB_NATIVE_ACTOR(member, slot, port)
    return Forward(port).call(actor.object, slot);
}
template <Slot slot, PredicateFn ActionTable::*member>
bool predicate(Cell port) {
    ZUB_NATIVE_ACTOR(member, slot, port)
    return cell::truthy(Forward(port).call(actor.object, slot));
}
// Actions with one more value.
template <Slot slot, BinaryFn ActionTable::*member>
Cell binary(Cell port, Cell value) {
    ZUB_NATIVE_ACTOR(member, slot, port, value)
    return Forward(port).value(value).call(actor.object, slot);
}

int32_t port_length(Cell port) {
    ZUB_NATIVE_ACTOR(&ActionTable::length_q, Slot::length_q, port)
    const Cell n = Forward(port).call(actor.object, Slot::length_q);
    return cell::is(n, TypeId::integer) ? cell::as_integer(n) : -1;
}

template <Slot slot, InsertFn ActionTable::*member>
Cell insertion(Cell port, Cell value, const InsertOptions& o) {
    ZUB_NATIVE_ACTOR(member, slot, port, value, o)
    return Forward(port)
        .value(value)
        .count(o.part, o.part >= 0)
        .flag(o.only)
        .count(o.dup, o.dup > 1)
        .call(actor.object, slot);
}

template <Slot slot, FindFn ActionTable::*member>
Cell search(Cell port, Cell value, const FindOptions& o) {
    ZUB_NATIVE_ACTOR(member, slot, port, value, o)
    Forward f(port);
    f.value(value).option(o.part).flag(o.only).flag(o.case_sensitive).flag(o.same).flag(o.any).option(o.with);
    f.option(o.skip).flag(o.last).flag(o.reverse);
    if (slot == Slot::find) f.flag(o.tail).flag(o.match);
    return f.call(actor.object, slot);
}

Cell port_copy(Cell port, const CopyOptions& o) {
    ZUB_NATIVE_ACTOR(&ActionTable::copy, Slot::copy, port, o)
    return Forward(port).option(o.part).flag(o.deep).option(o.types).call(actor.object, Slot::copy);
}

Cell port_move(Cell port, Cell target, const Cell* part) {
    ZUB_NATIVE_ACTOR(&ActionTable::move, Slot::move, port, target, part)
    return Forward(port).value(target).option(part).call(actor.object, Slot::move);
}

Cell port_pick(Cell port, int32_t index, Cell index_value) {
    ZUB_NATIVE_ACTOR(&ActionTable::pick, Slot::pick, port, index, index_value)
    return Forward(port).value(index_value).call(actor.object, Slot::pick);
}

Cell port_poke(Cell port, int32_t index, Cell index_value, Cell value) {
    ZUB_NATIVE_ACTOR(&ActionTable::poke, Slot::poke, port, index, index_value, value)
    return Forward(port).value(index_value).value(value).call(actor.object, Slot::poke);
}

template <Slot slot, PutFn ActionTable::*member>
Cell keyed(Cell port, Cell key, Cell value, bool case_sensitive) {
    ZUB_NATIVE_ACTOR(member, slot, port, key, value, case_sensitive)
    return Forward(port).value(key).value(value).flag(case_sensitive).call(actor.object, slot);
}

Cell port_remove(Cell port, const Cell* part, const Cell* key) {
    ZUB_NATIVE_ACTOR(&ActionTable::remove, Slot::remove, port, part, key)
    return Forward(port).option(part).option(key).call(actor.object, Slot::remove);
}

Cell port_reverse(Cell port, const Cell* part, const Cell* skip) {
    ZUB_NATIVE_ACTOR(&ActionTable::reverse, Slot::reverse, port, part, skip)
    return Forward(port).option(part).option(skip).call(actor.object, Slot::reverse);
}

Cell port_sort(Cell port, const SortOptions& o) {
    ZUB_NATIVE_ACTOR(&ActionTable::sort, Slot::sort, port, o)
    Forward f(port);
    f.flag(o.case_sensitive).option(o.skip).option(o.compare).option(o.part);
    return f.flag(o.all).flag(o.reverse).flag(o.stable).call(actor.object, Slot::sort);
}

Cell port_take(Cell port, const Cell* part, bool deep, bool last) {
    ZUB_NATIVE_ACTOR(&ActionTable::take, Slot::take, port, part, deep, last)
    return Forward(port).option(part).flag(deep).flag(last).call(actor.object, Slot::take);
}

Cell port_trim(Cell port, const TrimOptions& o) {
    ZUB_NATIVE_ACTOR(&ActionTable::trim, Slot::trim, port, o)
    Forward f(port);
    f.flag(o.head).flag(o.tail).flag(o.automatic).flag(o.lines).flag(o.all).option(o.with);
    return f.call(actor.object, Slot::trim);
}

Cell port_open(Cell port, const OpenOptions& o) {
    ZUB_NATIVE_ACTOR(&ActionTable::open, Slot::open, port, o)
    Forward f(port);
    f.flag(o.create).flag(o.read).flag(o.write).flag(o.seek).option(o.allow);
    return f.call(actor.object, Slot::open);
}

// read: open (for random access when a position is given), copy (a part as given), close.
Cell port_read(Cell port, const ReadOptions& o) {
    ZUB_NATIVE_ACTOR(&ActionTable::read, Slot::read, port, o)
    stack::Rooted keep(port);
    (void)Forward(port)
        .flag(false)
        .flag(true)
        .flag(false)
        .flag(o.seek != nullptr)
        .option(nullptr)
        .call(actor.object, Slot::open);
    const Cell copied = Forward(port).option(o.part).flag(false).option(nullptr).call(actor.object, Slot::copy);
    stack::Rooted data(copied);
    (void)Forward(port).call(actor.object, Slot::close);
    return data.cell();
}

// write: open for writing, insert the data (a part as given), copy what the port then holds,
// close.
Cell port_write(Cell port, Cell data, const WriteOptions& o) {
    ZUB_NATIVE_ACTOR(&ActionTable::write, Slot::write, port, data, o)
    stack::Rooted keep(port);
    stack::Rooted keep_data(data);
    (void)Forward(port)
        .flag(false)
        .flag(false)
        .flag(true)
        .flag(o.seek != nullptr)
        .option(nullptr)
        .call(actor.object, Slot::open);
    const int32_t part = o.part ? cell::to_int32_checked(*o.part) : -1;
    (void)Forward(port).value(data).count(part, part >= 0).flag(false).count(1, false).call(actor.object, Slot::insert);
    const Cell copied = Forward(port).option(nullptr).flag(false).option(nullptr).call(actor.object, Slot::copy);
    stack::Rooted result(copied);
    (void)Forward(port).call(actor.object, Slot::close);
    return result.cell();
}

#undef ZUB_NATIVE_ACTOR

}  // namespace

Cell target_of(const Cell& port) {
    const Cell spec = field(port, "spec");
    if (!object::is_object(cell::type(spec))) return cell::none();
    const Cell ref = field(spec, "ref");
    return cell::is(ref, TypeId::none) ? field(spec, "path") : ref;
}

bool is_open(const Cell& port) {
    const Cell extra = field(port, "extra");
    return cell::is(extra, TypeId::logic) && cell::as_logic(extra);
}

void set_open(const Cell& port, bool open) { set(port, "extra", open ? cell::logic(true) : cell::none()); }

}  // namespace port

// The series and I/O actions all go to the actor.
extern const ActionTable port_actions = {
    .make = port::port_make,
    .form = port::port_form,
    .mold = port::port_mold,
    .append = port::insertion<Slot::append, &ActionTable::append>,
    .at = port::binary<Slot::at, &ActionTable::at>,
    .back = port::unary<Slot::back, &ActionTable::back>,
    .change = port::insertion<Slot::change, &ActionTable::change>,
    .clear = port::unary<Slot::clear, &ActionTable::clear>,
    .copy = port::port_copy,
    .find = port::search<Slot::find, &ActionTable::find>,
    .head = port::unary<Slot::head, &ActionTable::head>,
    .head_q = port::predicate<Slot::head_q, &ActionTable::head_q>,
    .index_q = port::unary<Slot::index_q, &ActionTable::index_q>,
    .insert = port::insertion<Slot::insert, &ActionTable::insert>,
    .length_q = port::port_length,
    .move = port::port_move,
    .next = port::unary<Slot::next, &ActionTable::next>,
    .pick = port::port_pick,
    .poke = port::port_poke,
    .put = port::keyed<Slot::put, &ActionTable::put>,
    .remove = port::port_remove,
    .reverse = port::port_reverse,
    .select = port::search<Slot::select, &ActionTable::select>,
    .sort = port::port_sort,
    .skip = port::binary<Slot::skip, &ActionTable::skip>,
    .swap = port::binary<Slot::swap, &ActionTable::swap>,
    .tail = port::unary<Slot::tail, &ActionTable::tail>,
    .tail_q = port::predicate<Slot::tail_q, &ActionTable::tail_q>,
    .take = port::port_take,
    .trim = port::port_trim,
    .create = port::unary<Slot::create, &ActionTable::create>,
    .close = port::unary<Slot::close, &ActionTable::close>,
    .delete_ = port::unary<Slot::delete_, &ActionTable::delete_>,
    .modify = port::keyed<Slot::modify, &ActionTable::modify>,
    .open = port::port_open,
    .open_q = port::unary<Slot::open_q, &ActionTable::open_q>,
    .query = port::unary<Slot::query, &ActionTable::query>,
    .read = port::port_read,
    .rename = port::binary<Slot::rename, &ActionTable::rename>,
    .update = port::unary<Slot::update, &ActionTable::update>,
    .write = port::port_write,
};

// A port is its context (w1) and its handler record (w3), as an object.
extern const type_traits::Traits port_traits = {
    .refs = {type_traits::Ref::cells, type_traits::Ref::none, type_traits::Ref::bytes},
    .key_words = type_traits::kW1,
    .walk_word = 1,
};

}  // namespace zub
