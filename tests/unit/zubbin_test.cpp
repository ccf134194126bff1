// The start-up mode of the ZUBBIN reader, which only the environment's own data uses: definition
// records that set words and leave no cell, and words bound to a context that an earlier root
// cell of the same load holds. The codec's own behaviour is tested through the language.
#include "system/zubbin.h"

#include <vector>

#include "datatypes/block.h"
#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class Zubbin : public RuntimeTest {
  protected:
    // Compact data with one symbol, "x", around the records.
    static std::vector<uint8_t> compact(std::initializer_list<uint8_t> records) {
        std::vector<uint8_t> d = {'Z', 'U', 'B', 'B', 'I', 'N', 2, 5, 1, static_cast<uint8_t>(records.size()), 1, 2};
        d.insert(d.end(), {0, 0, 0, 0, 'x', 0});
        d.insert(d.end(), records);
        return d;
    }
    static Cell decode(const std::vector<uint8_t>& d, zubbin::Mode mode) {
        const Cell target = block::make(1);
        stack::push(target);
        zubbin::decode(d.data(), d.size(), cell::series_node(target), mode);
        return target;
    }
    static int32_t value_of_x() { return cell::as_integer(*context::get(word("x"))); }
};

TEST_F(Zubbin, DefinitionSetsTheWordAndLeavesNoCell) {
    const Cell target = decode(compact({0xC4, 0x0F, 0x00, 0x85, 0x86}), zubbin::Mode::start_up);
    EXPECT_EQ(value_of_x(), 5);
    ASSERT_EQ(block::length(target), 1u);  // only the record after the definition
    EXPECT_EQ(cell::as_integer(block::abs_at(target, 0)), 6);
}

TEST_F(Zubbin, ClassicDefinitionIsAWordWithItsMark) {
    const std::vector<uint8_t> d = {
        'Z', 'U', 'B', 'B', 'I', 'N', 2, 4, 1, 0, 0, 0, 24, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 'x', 0,
        // word x, definition, global, looked up; then integer 7
        0x0F, 0, 0, 0x02, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0B, 0, 0, 0, 7, 0, 0, 0};
    const Cell target = decode(d, zubbin::Mode::start_up);
    EXPECT_EQ(value_of_x(), 7);
    EXPECT_EQ(block::length(target), 0u);
}

TEST_F(Zubbin, BoundWordNamesAnEarlierRootCell) {
    // An object [x: 63], then the word x bound to root cell 0, index 0.
    const auto d = compact({0x20, 0x04, 0x0E, 0x12, 0x01, 0x00, 0xBF, 0x4F, 0x00, 0x00, 0x00});
    const Cell target = decode(d, zubbin::Mode::start_up);
    ASSERT_EQ(block::length(target), 2u);
    const Cell w = block::abs_at(target, 1);
    EXPECT_EQ(w.w1, block::abs_at(target, 0).w1);
    EXPECT_EQ(cell::as_integer(*context::get(w)), 63);
}

TEST_F(Zubbin, StartUpRecordsAreRefusedOrCheckedAsData) {
    struct Case {
        std::vector<uint8_t> data;
        zubbin::Mode mode;
    };
    const Case cases[] = {
        {compact({0xC4, 0x0F, 0x00, 0x85}), zubbin::Mode::codec},                 // definitions are start-up's only
        {compact({0x05, 0x01, 0xC4, 0x0F, 0x00, 0x85}), zubbin::Mode::start_up},  // and only at the top
        {compact({0xC4, 0x0B, 0x05}), zubbin::Mode::start_up},                    // and only of words
        {compact({0x4F, 0x00, 0x00, 0x00}), zubbin::Mode::start_up},              // no root cell 0 yet
        {compact({0x85, 0x4F, 0x00, 0x00, 0x00}), zubbin::Mode::start_up},        // root cell 0 has no context
        {compact({0x20, 0x04, 0x0E, 0x12, 0x01, 0x00, 0xBF, 0x4F, 0x00, 0x00, 0x03}),
         zubbin::Mode::start_up},  // index -2
    };
    for (const Case& c : cases) EXPECT_EQ(raised([&] { (void)decode(c.data, c.mode); }), ErrorId::zb_invalid_record);
}

}  // namespace
}  // namespace zub
