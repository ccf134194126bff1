// The series! actions over every unit width (a block of cells and strings of 1-, 2- and 4-byte
// units): what the language does not reach (arguments the natives refuse first, pair! parts, owner
// notification), then what only cells, text, binary! or vector! do. The rest is in
// tests/lang/series-actions.zub.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/ownership.h"
#include "datatypes/series_value.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

const ActionTable& act() { return registry::actions(TypeId::series); }

struct Note {
    std::string action;
    int32_t index, part;
    bool operator==(const Note&) const = default;
};
std::vector<Note> g_notes;

void record_note(const Cell&, const Cell&, const Cell&, Cell action, int32_t index, int32_t part) {
    g_notes.push_back({std::string(symbol::utf8(action.w2)), index, part});
}

class SeriesBase : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        ownership::init();
        stack::init();
        ownership::set_notify(record_note);
        g_notes.clear();
    }
    void TearDown() override {
        ownership::set_notify(nullptr);
        RuntimeTest::TearDown();
    }

    static Cell at(Cell s, uint32_t head) {
        s.w1 = head;
        return s;
    }
    static Cell text(std::vector<uint32_t> points, uint32_t unit, TypeId type = TypeId::string) {
        const NodeId node = series::alloc_with_unit(std::max<uint32_t>(1, static_cast<uint32_t>(points.size())), unit);
        for (uint32_t cp : points) series::store_unit(series::reserve_tail(node, unit), unit, cp);
        return cell::series(type, node);
    }
    static std::vector<uint32_t> points(const Cell& s) {
        SeriesBuffer* b = memory::buffer(s.w2);
        std::vector<uint32_t> out;
        for (uint32_t i = 0; i < series::length(s.w2); ++i)
            out.push_back(series::code_point_at(b->head_ptr(), b->unit(), i));
        return out;
    }
    // Makes the series owned by an object whose change handlers want to hear of it.
    static void own(const Cell& s) { ownership::set(s, cell::make(TypeId::object, 78, 0, 1), word("field")); }
};

// ---- The shared suite -----------------------------------------------------------------------------

struct Width {
    const char* name;
    uint32_t unit;  // 16: a block of integer! cells
    uint32_t base;  // text: the code point of element 0, one that needs the unit's width
};
const Width kWidths[] = {{"cells", 16, 0}, {"text1", 1, 0x61}, {"text2", 2, 0x400}, {"text4", 4, 0x1F600}};

using Elements = std::vector<int>;

class SeriesActions : public SeriesBase, public ::testing::WithParamInterface<Width> {
  protected:
    bool cells() const { return GetParam().unit == 16; }
    TypeId type() const { return cells() ? TypeId::block : TypeId::string; }

    // The series of the numbered elements, head at the index.
    Cell make(const Elements& ns, uint32_t head = 0) const {
        Cell s;
        if (cells()) {
            s = block_of({});
            for (int n : ns) series::append_cell(s.w2, cell::integer(n));
        } else {
            std::vector<uint32_t> cps;
            for (int n : ns) cps.push_back(GetParam().base + static_cast<uint32_t>(n));
            s = text(cps, GetParam().unit);
        }
        return at(s, head);
    }
    Cell element(int n) const {
        return cells() ? cell::integer(n) : cell::character(GetParam().base + static_cast<uint32_t>(n));
    }
    // The element's number, or -1000 for a value of another kind.
    int number(const Cell& c) const {
        if (cells()) return cell::is(c, TypeId::integer) ? cell::as_integer(c) : -1000;
        return cell::is(c, TypeId::char_) ? static_cast<int>(c.w2 - GetParam().base) : -1000;
    }
    // Every element of the buffer, from unit 0.
    Elements all(const Cell& s) const {
        Elements out;
        SeriesBuffer* b = memory::buffer(s.w2);
        for (uint32_t i = 0; i < series::length(s.w2); ++i) {
            out.push_back(cells()
                              ? cell::as_integer(b->cells()[i])
                              : static_cast<int>(series::code_point_at(b->head_ptr(), b->unit(), i) - GetParam().base));
        }
        return out;
    }
    Elements from_head(const Cell& s) const {
        const Elements whole = all(s);
        return Elements(whole.begin() + std::min<size_t>(s.w1, whole.size()), whole.end());
    }
};

// A head left past the tail by a cut elsewhere is moved back to the tail when measured.
TEST_P(SeriesActions, APastTailHeadMovesBackToTheTail) {
    Cell past = at(make({0, 1, 2, 3, 4}), 9);
    EXPECT_EQ(series_value::length_from_head(past, false), 0u);
    EXPECT_EQ(past.w1, 5u);
}

// The arguments the natives refuse before the actions see them.
TEST_P(SeriesActions, ArgumentsTheNativesRefuseFirst) {
    const Cell s = make({0, 1, 2, 3, 4});
    const Cell none = cell::none(), yes = cell::logic(true);
    EXPECT_EQ(RuntimeTest::raised([&] { act().at(s, cell::none()); }), ErrorId::invalid_arg);
    EXPECT_EQ(RuntimeTest::raised([&] { act().skip(s, cell::floating(1.0)); }), ErrorId::invalid_arg);
    EXPECT_EQ(RuntimeTest::raised([&] { act().remove(s, &none, nullptr); }), ErrorId::invalid_refine_arg);
    EXPECT_EQ(symbol::utf8(error::pending().args[0].w2), "part");
    EXPECT_EQ(RuntimeTest::raised([&] { act().reverse(s, nullptr, &none); }), ErrorId::invalid_refine_arg);
    EXPECT_EQ(RuntimeTest::raised([&] { act().take(s, &yes, false, false); }), ErrorId::invalid_refine_arg);
    EXPECT_EQ(RuntimeTest::raised([&] {
                  act().copy(s, CopyOptions{&none, false, nullptr});
              }),
              ErrorId::invalid_refine_arg);
    const Cell target = make({});
    EXPECT_EQ(RuntimeTest::raised([&] { act().move(s, target, &none); }), ErrorId::invalid_refine_arg);
    EXPECT_EQ(RuntimeTest::raised([&] { act().move(s, cell::integer(1), nullptr); }), ErrorId::expect_arg);
    EXPECT_EQ(all(s), (Elements{0, 1, 2, 3, 4}));
    EXPECT_EQ(all(target), (Elements{}));
}

// pair! has no literal in the language yet.
TEST_P(SeriesActions, CopyWithAPairPart) {
    struct Case {
        uint32_t head;
        int x, y;
        Elements expected;
    };
    const Case cases[] = {{0, 2, 5, {1, 2, 3}}, {1, 2, 4, {2, 3}}, {0, 4, 2, {}}, {3, -1, 1, {2, 3}}};
    for (const Case& c : cases) {
        const Cell s = make({0, 1, 2, 3, 4}, c.head);
        const Cell part = cell::make(TypeId::pair, 0, static_cast<uint32_t>(c.x), static_cast<uint32_t>(c.y));
        const Cell copy = act().copy(s, CopyOptions{&part, false, nullptr});
        EXPECT_EQ(all(copy), c.expected) << c.x << "x" << c.y;
        EXPECT_EQ(memory::buffer(copy.w2)->unit(), memory::buffer(s.w2)->unit());
    }
}

TEST_P(SeriesActions, CopyKeepsTheNewLineMarkerAndDropsOwnership) {
    Cell s = make({0, 1, 2});
    cell::set_new_line(s, true);
    own(s);
    const Cell copy = act().copy(s, CopyOptions{});
    EXPECT_TRUE(cell::new_line(copy));
    EXPECT_FALSE(memory::buffer(copy.w2)->flags & series_flag::owned);
    EXPECT_TRUE(cell::is(act().reflect(copy, words::id(words::Word::owned)), TypeId::none));
}

TEST_P(SeriesActions, OwnersHearOfEveryChange) {
    using Notes = std::vector<Note>;
    struct Case {
        const char* what;
        std::function<void(Cell)> action;
        Notes expected;
    };
    const Cell two = cell::integer(2);
    const Case cases[] = {
        {"clear", [](Cell s) { act().clear(at(s, 1)); }, {{"clear", 1, 3}, {"cleared", 1, 0}}},
        {"poke", [&](Cell s) { act().poke(at(s, 1), 2, two, element(7)); }, {{"poke", 2, 1}, {"poked", 2, 1}}},
        {"remove", [&](Cell s) { act().remove(at(s, 1), &two, nullptr); }, {{"remove", 1, 2}, {"removed", 1, 0}}},
        {"reverse", [](Cell s) { act().reverse(s, nullptr, nullptr); }, {{"reverse", 0, 4}, {"reversed", 0, 4}}},
        {"take", [&](Cell s) { act().take(at(s, 1), &two, false, true); }, {{"take", 1, 2}, {"taken", 1, 0}}},
        {"move", [&](Cell s) { act().move(at(s, 3), at(s, 1), nullptr); }, {{"move", 3, 1}, {"moved", 1, 1}}},
    };
    for (const Case& c : cases) {
        const Cell s = make({0, 1, 2, 3});
        own(s);
        g_notes.clear();
        c.action(s);
        EXPECT_EQ(g_notes, c.expected) << c.what;
        const Cell loose = make({0, 1, 2, 3});
        g_notes.clear();
        c.action(loose);
        EXPECT_TRUE(g_notes.empty()) << c.what;
    }
    // A move tells the target's owner.
    const Cell from = make({0, 1}), to = make({2});
    own(from);
    g_notes.clear();
    act().move(from, to, nullptr);
    EXPECT_TRUE(g_notes.empty());
}

TEST_P(SeriesActions, ReflectAndModifyOwnership) {
    const Cell s = make({0, 1});
    const Cell owned = word("owned");
    EXPECT_TRUE(cell::is(act().reflect(s, owned.w2), TypeId::none));
    EXPECT_EQ(RuntimeTest::raised([&] { act().reflect(s, word("spec").w2); }), ErrorId::not_done);

    const NodeId context = context::create(1, false, true, 0, context::Kind::object);
    const Cell object = cell::make(TypeId::object, context);
    const Cell spec = block_of({object, word("field")});
    EXPECT_EQ(act().modify(s, owned, spec, false).w2, spec.w2);
    const Cell owner = act().reflect(s, owned.w2);
    EXPECT_TRUE(cell::is(owner, TypeId::object));
    EXPECT_EQ(owner.w1, context);
    EXPECT_TRUE(context::cell_of(context).header & cell_flag::owns_series);

    act().modify(s, word("spec"), cell::none(), false);  // another field changes nothing
    EXPECT_TRUE(cell::is(act().reflect(s, owned.w2), TypeId::object));
    act().modify(s, owned, cell::none(), false);
    EXPECT_TRUE(cell::is(act().reflect(s, owned.w2), TypeId::none));
}

INSTANTIATE_TEST_SUITE_P(SeriesWidths, SeriesActions, ::testing::ValuesIn(kWidths),
                         [](const ::testing::TestParamInfo<Width>& info) { return std::string(info.param.name); });

// ---- Cells ----------------------------------------------------------------------------------------

class SeriesCells : public SeriesBase {};

TEST_F(SeriesCells, PickAndPokeKeepWholeCells) {
    Cell marked = word("foo");
    cell::set_new_line(marked, true);
    const Cell b = block_of({cell::integer(1), marked}, TypeId::paren);
    const Cell picked = act().pick(b, 2, cell::integer(2));
    EXPECT_TRUE(cell::is(picked, TypeId::word));
    EXPECT_EQ(picked.w2, marked.w2);
    EXPECT_TRUE(cell::new_line(picked));
    const Cell text_value = text({'a'}, 1);
    EXPECT_EQ(act().poke(b, 1, cell::integer(1), text_value).w2, text_value.w2);
    EXPECT_EQ(memory::buffer(b.w2)->cells()[0].w2, text_value.w2);
}

// remove/key finds its key with the type's find; a stand-in find (exact integer match) serves
// until block! has its own.
class SeriesRemoveKey : public SeriesBase {
  protected:
    void SetUp() override {
        SeriesBase::SetUp();
        saved_ = registry::g_actions[static_cast<uint8_t>(TypeId::block)].find;
        registry::g_actions[static_cast<uint8_t>(TypeId::block)].find = [](Cell s, Cell key, const FindOptions& o) {
            EXPECT_TRUE(o.case_sensitive);
            for (uint32_t i = s.w1; i < series_value::buffer_length(s); ++i) {
                const Cell c = memory::buffer(s.w2)->cells()[i];
                if (cell::is(c, TypeId::integer) && c.w2 == key.w2) return at(s, i);
            }
            return cell::none();
        };
    }
    void TearDown() override {
        registry::g_actions[static_cast<uint8_t>(TypeId::block)].find = saved_;
        SeriesBase::TearDown();
    }
    FindFn saved_ = nullptr;
};

TEST_F(SeriesRemoveKey, RemovesTheKeyAndItsValue) {
    const Cell b =
        block_of({cell::integer(1), cell::integer(10), cell::integer(2), cell::integer(20), cell::integer(3)});
    const Cell key = cell::integer(2);
    const Cell result = act().remove(b, nullptr, &key);
    EXPECT_EQ(result.w1, 2u);
    EXPECT_EQ(series_value::buffer_length(b), 3u);
    EXPECT_EQ(cell::as_integer(memory::buffer(b.w2)->cells()[2]), 3);
    const Cell missing = cell::integer(7);
    EXPECT_TRUE(cell::is(act().remove(b, nullptr, &missing), TypeId::none));
    EXPECT_EQ(series_value::buffer_length(b), 3u);
}

// ---- Text, binary! and vector! --------------------------------------------------------------------

class SeriesText : public SeriesBase {};

TEST_F(SeriesText, PokeWidensOnlyWhenTheCodePointNeedsIt) {
    struct Case {
        uint32_t unit, cp, expected_unit;
    };
    const Case cases[] = {{1, 0xE9, 1},   {1, 0xFF, 1},    {1, 0x100, 2}, {1, 0x10000, 4},
                          {2, 0xFFFF, 2}, {2, 0x10000, 4}, {4, 0x41, 4},  {2, 0x41, 2}};
    for (const Case& c : cases) {
        const Cell s = text({'a', 'b', 'c'}, c.unit);
        act().poke(at(s, 1), 2, cell::integer(2), cell::character(c.cp));
        EXPECT_EQ(memory::buffer(s.w2)->unit(), c.expected_unit) << c.unit << " " << c.cp;
        EXPECT_EQ(points(s), (std::vector<uint32_t>{'a', 'b', c.cp})) << c.unit << " " << c.cp;
    }
}

TEST_F(SeriesText, PokeRefusesWhatTheSeriesCannotHold) {
    const Cell s = text({'a'}, 1);
    for (const Cell bad : {cell::integer(65), cell::none(), text({'b'}, 1)}) {
        EXPECT_EQ(RuntimeTest::raised([&] { act().poke(s, 1, cell::integer(1), bad); }), ErrorId::invalid_arg);
    }
    const Cell bin = text({1, 2}, 1, TypeId::binary);
    EXPECT_EQ(RuntimeTest::raised([&] { act().poke(bin, 1, cell::integer(1), cell::floating(1.0)); }),
              ErrorId::invalid_arg);
    EXPECT_EQ(points(s), (std::vector<uint32_t>{'a'}));
}

TEST_F(SeriesText, BinaryPicksAndPokesBytes) {
    const Cell bin = text({0x00, 0xFF}, 1, TypeId::binary);
    const Cell picked = act().pick(bin, 2, cell::integer(2));
    EXPECT_TRUE(cell::is(picked, TypeId::integer));
    EXPECT_EQ(cell::as_integer(picked), 255);
    act().poke(bin, 1, cell::integer(1), cell::integer(0x1234));  // the low byte, no range test
    act().poke(bin, 2, cell::integer(2), cell::character(0x41));
    EXPECT_EQ(points(bin), (std::vector<uint32_t>{0x34, 0x41}));
    EXPECT_TRUE(cell::is(act().take(bin, nullptr, false, false), TypeId::integer));
}

TEST_F(SeriesText, VectorElementsByTheirType) {
    Cell bytes = text({127, 128}, 1, TypeId::vector);
    bytes.w3 = static_cast<uint32_t>(TypeId::integer);
    EXPECT_EQ(cell::as_integer(act().pick(bytes, 2, cell::integer(2))), -128);
    act().poke(bytes, 1, cell::integer(1), cell::integer(-1));
    EXPECT_EQ(cell::as_integer(act().pick(bytes, 1, cell::integer(1))), -1);
    EXPECT_EQ(RuntimeTest::raised([&] { act().poke(bytes, 1, cell::integer(1), cell::floating(1.0)); }),
              ErrorId::invalid_arg);

    const NodeId node = series::alloc_with_unit(2, 8);
    const double values[] = {1.5, -2.25};
    series::append_bytes(node, values, sizeof values);
    const Cell floats = cell::make(TypeId::vector, 0, node, static_cast<uint32_t>(TypeId::float_));
    EXPECT_EQ(cell::as_float(act().pick(floats, 2, cell::integer(2))), -2.25);
    act().poke(floats, 1, cell::integer(1), cell::floating(4.0));
    EXPECT_EQ(cell::as_float(act().pick(floats, 1, cell::integer(1))), 4.0);
    const Cell copy = act().copy(floats, CopyOptions{});
    EXPECT_EQ(copy.w3, floats.w3);  // the element type goes with the copy
    const Cell one = cell::integer(1);
    EXPECT_EQ(act().take(floats, &one, false, false).w3, floats.w3);
}

TEST_F(SeriesText, MoveAcrossUnitWidthsKeepsTheCodePoints) {
    struct Case {
        uint32_t from_unit, to_unit;
        std::vector<uint32_t> moved;
        uint32_t expected_unit;
    };
    const Case cases[] = {
        {1, 4, {'x', 'y'}, 4},
        {2, 1, {0x400, 'y'}, 2},
        {4, 1, {'x', 0x1F600}, 4},
        {4, 2, {'x', 'y'}, 2},  // wide units, narrow content: nothing to widen
    };
    for (const Case& c : cases) {
        const Cell from = text(c.moved, c.from_unit), to = text({'a', 'b'}, c.to_unit);
        const Cell two = cell::integer(2);
        act().move(from, at(to, 1), &two);
        EXPECT_EQ(points(to), (std::vector<uint32_t>{'a', c.moved[0], c.moved[1], 'b'})) << c.from_unit << c.to_unit;
        EXPECT_EQ(memory::buffer(to.w2)->unit(), c.expected_unit) << c.from_unit << c.to_unit;
        EXPECT_TRUE(points(from).empty());
    }
}

TEST_F(SeriesText, IncompatibleMovesAreRefused) {
    struct Case {
        const char* what;
        Cell from, to;
    };
    const Case cases[] = {
        {"block into string", block_of({cell::integer(1)}), text({'a'}, 1)},
        {"string into block", text({'a'}, 1), block_of({})},
        {"binary into a wider string", text({1}, 1, TypeId::binary), text({0x400}, 2)},
        {"wide string into binary", text({0x400}, 2), text({1}, 1, TypeId::binary)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RuntimeTest::raised([&] { act().move(c.from, c.to, nullptr); }), ErrorId::move_bad) << c.what;
        EXPECT_EQ(error::pending().args[0].w1, static_cast<uint32_t>(cell::type(c.from))) << c.what;
        EXPECT_EQ(error::pending().args[1].w1, static_cast<uint32_t>(cell::type(c.to))) << c.what;
        EXPECT_EQ(series_value::buffer_length(c.from), 1u) << c.what;
    }
    // The same width is enough between text and binary!.
    const Cell bin = text({1}, 1, TypeId::binary), s = text({'a'}, 1);
    act().move(s, bin, nullptr);
    EXPECT_EQ(points(bin), (std::vector<uint32_t>{'a', 1}));
}

}  // namespace
}  // namespace zub
