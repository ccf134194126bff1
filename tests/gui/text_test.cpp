// Fonts as the draw engine describes them to Pango, and the layouts rich-text faces keep: what the
// language cannot see is the family name handed over, which must be cut after 31 characters and
// never inside a code point, and the release of a kept layout once no face holds it.
#include <glib.h>
#include <gtest/gtest.h>
#include <pango/pango.h>

#include <string>

#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/handles.h"
#include "tests/unit/runtime_fixture.h"
#include "view/backend/draw/dialect.h"
#include "view/backend/draw/text.h"

namespace zub {
namespace {

class TextTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        draw::init_words();
        draw::init_text();
    }
    // The family and absolute size (in pixels) Pango is given for a font with these fields.
    static std::string family_of(std::initializer_list<Cell> fields, double* pixels = nullptr) {
        stack::Rooted spec(block_of(fields));
        stack::Rooted font(object::construct(spec.cell(), cell::none(), false));
        PangoFontDescription* d = draw::font_description(font.cell());
        std::string family = pango_font_description_get_family(d);
        if (pixels) *pixels = pango_font_description_get_size(d) / double(PANGO_SCALE);
        pango_font_description_free(d);
        return family;
    }
    static Cell text(const std::string& utf8) {
        const Cell s = string::make(static_cast<uint32_t>(utf8.size()));
        string::append_utf8(cell::series_node(s), utf8);
        return s;
    }
};

TEST_F(TextTest, AFamilyNameIsCutAfter31CharactersOnCodePoints) {
    struct Case {
        std::string name, family;
    };
    const std::string mono = "DejaVu Sans Mono";
    const Case cases[] = {
        {mono, mono},
        {std::string(40, 'x'), std::string(31, 'x')},
        {std::string(31, 'y'), std::string(31, 'y')},
        // Four-byte and two-byte code points straddle byte 31: the cut counts characters.
        {"ab" + std::string(20, 'c') + "🙂🙂🙂🙂🙂🙂🙂🙂🙂🙂🙂",
         "ab" + std::string(20, 'c') + "🙂🙂🙂🙂🙂🙂🙂🙂🙂"},
        {std::string("éééééééééééééééééééééééééééééééééééééééé"), std::string("ééééééééééééééééééééééééééééééé")},
    };
    for (const Case& c : cases) {
        const std::string family = family_of({word("name", TypeId::set_word), text(c.name)});
        EXPECT_EQ(family, c.family) << c.name;
        EXPECT_TRUE(g_utf8_validate(family.c_str(), static_cast<gssize>(family.size()), nullptr));
        EXPECT_LE(g_utf8_strlen(family.c_str(), -1), 31);
    }
}

TEST_F(TextTest, SizesArePointsAt96DotsPerInch) {
    double px = 0;
    (void)family_of(
        {word("name", TypeId::set_word), text("DejaVu Sans"), word("size", TypeId::set_word), cell::integer(18)}, &px);
    EXPECT_DOUBLE_EQ(px, 24.0);
    // No name and no usable size: the default family at the default size.
    EXPECT_EQ(family_of({word("size", TypeId::set_word), cell::integer(0)}, &px), "DejaVu Sans");
    EXPECT_DOUBLE_EQ(px, 12.0);
}

TEST_F(TextTest, AKeptLayoutIsReleasedOnceNoFaceHoldsIt) {
    // A rich-text face: the facets in their order (the change handlers as plain fields), then the
    // fields a rich-text face adds.
    const char* fields[] = {"type",  "offset",   "size",      "text",           "image", "color",        "menu",
                            "data",  "enabled?", "visible?",  "selected",       "flags", "options",      "parent",
                            "pane",  "state",    "rate",      "edge",           "para",  "font",         "actors",
                            "extra", "draw",     "on-change", "on-deep-change", "tabs",  "line-spacing", "handles"};
    const uint32_t before = handles::live_count();
    {
        stack::Rooted spec(block_of({}));
        for (const char* f : fields) {
            series::append_cell(cell::series_node(spec.cell()), word(f, TypeId::set_word));
            const std::string name = f;
            series::append_cell(cell::series_node(spec.cell()), name == "type"   ? word("rich-text")
                                                                : name == "size" ? pair::make(200, 50)
                                                                : name == "text" ? text("abc")
                                                                                 : word("none"));
        }
        stack::Rooted face(object::construct(spec.cell(), cell::none(), false));
        const Cell first = draw::text_box_metrics(face.cell(), cell::integer(2), 0);
        EXPECT_EQ(handles::live_count(), before + 1);
        // Measured again, the kept layout serves: no new handle, the same answer.
        const Cell again = draw::text_box_metrics(face.cell(), cell::integer(2), 0);
        EXPECT_EQ(handles::live_count(), before + 1);
        EXPECT_EQ(first.w1, again.w1);
    }
    collector::do_cycle();
    EXPECT_EQ(handles::live_count(), before);
}

}  // namespace
}  // namespace zub
