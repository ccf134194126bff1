// The draw engine's internals the language does not reach: the cycle guard after an error, the
// paint road that prints dialect errors instead of raising them, the shadow blur, and figures
// that reach beyond Cairo's coordinate range. No display is needed.
#include <gtest/gtest.h>

#include <cairo.h>

#include <cmath>
#include <numeric>
#include <string>
#include <vector>

#include "datatypes/image.h"
#include "datatypes/pair.h"
#include "datatypes/tuple.h"
#include "runtime/unicode.h"
#include "system/output.h"
#include "tests/unit/runtime_fixture.h"
#include "view/backend/draw/blur.h"
#include "view/backend/draw/dialect.h"
#include "view/backend/draw/figure.h"

namespace zub {
namespace {

class DrawTest : public RuntimeTest {
  protected:
    void SetUp() override {
        RuntimeTest::SetUp();
        draw::init_words();
    }
};

// What the value hook was handed, for the error printed by a paint.
std::string g_printed;
void capture(Cell text, bool) {
    const unicode::Converted utf8 = unicode::string_to_utf8(text);
    g_printed.append(reinterpret_cast<const char*>(utf8.data), utf8.size);
}
void ignore_text(const char*, size_t) {}

TEST_F(DrawTest, AnErrorLeavesTheCycleGuardAsItFoundIt) {
    // A walk already under way (an outer drawing, a mold) keeps its entry.
    const NodeId outer = memory::alloc_cells(1);
    cycles::push(outer);
    stack::Rooted image(image::make(4, 4));
    stack::Rooted bad(block_of({word("box"), word("bogus")}));
    EXPECT_EQ(raised([&] { draw::draw_image(image.cell(), bad.cell(), false); }), ErrorId::draw_invalid);
    ASSERT_EQ(cycles::depth(), 1u);
    EXPECT_TRUE(cycles::find(outer));
    // The same holds for recursion, raised from deep inside the walk.
    stack::Rooted self(block_of({word("push")}));
    series::append_cell(cell::series_node(self.cell()), block_of({}));
    memory::buffer(cell::series_node(self.cell()))->cells()[1] = self.cell();
    EXPECT_EQ(raised([&] { draw::draw_image(image.cell(), self.cell(), false); }), ErrorId::draw_infinite);
    EXPECT_EQ(cycles::depth(), 1u);
    cycles::pop();
}

TEST_F(DrawTest, APaintPrintsTheErrorAndKeepsWhatWasDrawn) {
    output::add_hooks(capture, ignore_text);
    g_printed.clear();
    stack::Rooted image(image::make(4, 4));
    const uint8_t red[3] = {255, 0, 0};
    stack::Rooted commands(block_of({word("pen"), word("off"), word("fill-pen"), tuple::make(red, 3), word("box"),
                                     pair::make(0, 0), pair::make(4, 4), word("bogus")}));
    EXPECT_NO_THROW(draw::draw_image(image.cell(), commands.cell(), true));
    output::remove_hooks(capture, ignore_text);
    EXPECT_NE(g_printed.find("DRAW - invalid input at: [bogus]"), std::string::npos) << g_printed;
    EXPECT_EQ(image::pixels(image.cell())[5], 0xFFFF0000u);
    EXPECT_EQ(cycles::depth(), 0u);
}

// ---- Blur ------------------------------------------------------------------------------------

TEST(DrawBlur, BoxesMatchTheDeviation) {
    for (const double sigma : {0.5, 1.0, 2.5, 4.0, 10.0, 100.0}) {
        int32_t widths[3];
        draw::blur_boxes(sigma, widths);
        double variance = 0;
        for (const int32_t w : widths) {
            EXPECT_EQ(w % 2, 1) << sigma;
            variance += (static_cast<double>(w) * w - 1) / 12;
        }
        EXPECT_NEAR(std::sqrt(variance), sigma, 0.5) << sigma;
    }
}

TEST(DrawBlur, SpreadsAPointEvenlyAndKeepsItsWeight) {
    constexpr int32_t n = 41;
    std::vector<uint8_t> mask(n * n, 0);
    for (int32_t y = 17; y < 24; ++y)
        for (int32_t x = 17; x < 24; ++x) mask[y * n + x] = 255;
    const long before = std::accumulate(mask.begin(), mask.end(), 0L);
    draw::blur_alpha(mask.data(), n, n, n, 3.0);
    const long after = std::accumulate(mask.begin(), mask.end(), 0L);
    EXPECT_NEAR(static_cast<double>(after), static_cast<double>(before), before * 0.05);
    // Symmetric about the centre, falling off outwards.
    EXPECT_EQ(mask[20 * n + 10], mask[20 * n + 30]);
    EXPECT_EQ(mask[10 * n + 20], mask[30 * n + 20]);
    EXPECT_GT(mask[20 * n + 20], mask[20 * n + 14]);
    EXPECT_GT(mask[20 * n + 14], mask[20 * n + 10]);
    EXPECT_EQ(mask[0], 0);
}

TEST(DrawBlur, ATinyDeviationChangesNothing) {
    std::vector<uint8_t> mask = {0, 255, 0, 0, 255, 0};
    const std::vector<uint8_t> copy = mask;
    draw::blur_alpha(mask.data(), 3, 2, 3, 0.05);
    EXPECT_EQ(mask, copy);
    draw::blur_alpha(mask.data(), 0, 0, 3, 5);
    EXPECT_EQ(mask, copy);
}

// ---- Figures beyond Cairo's range ------------------------------------------------------------

struct Canvas {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 20, 20);
    cairo_t* cr = cairo_create(surface);
    ~Canvas() {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    uint32_t at(int x, int y) {
        cairo_surface_flush(surface);
        const auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface) +
                                                            y * cairo_image_surface_get_stride(surface));
        return row[x];
    }
};

TEST(DrawFigure, AHugeRectangleStillCoversTheTarget) {
    Canvas c;
    draw::Figure f;
    f.rectangle(0, 0, 1e9, 1e9);
    EXPECT_FALSE(f.emit(c.cr, true));
    cairo_set_source_rgba(c.cr, 1, 0, 0, 1);
    cairo_fill(c.cr);
    EXPECT_EQ(c.at(10, 10), 0xFFFF0000u);
    EXPECT_EQ(c.at(0, 19), 0xFFFF0000u);
}

TEST(DrawFigure, AFarLineKeepsItsDirection) {
    Canvas c;
    draw::Figure f;
    f.move_to(0, 0.5);
    f.line_to(2e9, 0.5 + 2e7);  // a slope of 1/100
    cairo_set_source_rgba(c.cr, 1, 0, 0, 1);
    cairo_set_line_width(c.cr, 1);
    EXPECT_FALSE(f.emit(c.cr, false));
    cairo_stroke(c.cr);
    EXPECT_NE(c.at(10, 0), 0u);
    EXPECT_EQ(c.at(10, 5), 0u);
}

TEST(DrawFigure, ANearFigureGoesAsItIs) {
    Canvas c;
    draw::Figure f;
    f.move_to(1, 1);
    f.curve_to(5, 1, 5, 9, 9, 9);
    f.close();
    EXPECT_TRUE(f.emit(c.cr, true));
    const draw::Bounds b = f.bounds();
    EXPECT_EQ(b.x0, 1);
    EXPECT_EQ(b.y1, 9);
}

}  // namespace
}  // namespace zub
