// The image operations the drawing layer uses and the language does not reach: scaling to a size
// and flipping.
#include "datatypes/image.h"

#include "tests/unit/runtime_fixture.h"

namespace zub {
namespace {

class ImageTest : public RuntimeTest {};

TEST_F(ImageTest, ResizingRepeatsEachPixel) {
    const uint32_t four[4] = {1, 2, 3, 4};
    stack::Rooted source(image::from_pixels(2, 2, four));
    const Cell big = image::resized(source.cell(), 4, 4);
    const uint32_t want[16] = {1, 1, 2, 2, 1, 1, 2, 2, 3, 3, 4, 4, 3, 3, 4, 4};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(image::pixels(big)[i], want[i]) << i;
    EXPECT_EQ(image::pixel_count(image::resized(source.cell(), 0, 3)), 0u);
}

TEST_F(ImageTest, FlippingReversesTheRows) {
    const uint32_t six[6] = {1, 2, 3, 4, 5, 6};
    stack::Rooted source(image::from_pixels(3, 2, six));
    const Cell flipped = image::flipped_vertical(source.cell());
    const uint32_t want[6] = {4, 5, 6, 1, 2, 3};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(image::pixels(flipped)[i], want[i]) << i;
}

}  // namespace
}  // namespace zub
