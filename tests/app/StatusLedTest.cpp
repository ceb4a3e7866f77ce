// The status light's exact fills and its outline, read from the drawn pixels.
#include "app/qt/StatusLed.h"

#include <QImage>

#include <gtest/gtest.h>

#include <optional>
#include <utility>

using namespace movik;

namespace {

QImage drawn(StatusLed& led)
{
    led.resize(17, 17);
    return led.grab().toImage();
}

void expectOutline(const QImage& image)
{
    const QColor black(0, 0, 0);
    for (int i = 0; i < 17; ++i) {
        EXPECT_EQ(image.pixelColor(i, 0), black) << "top " << i;
        EXPECT_EQ(image.pixelColor(i, 16), black) << "bottom " << i;
        EXPECT_EQ(image.pixelColor(0, i), black) << "left " << i;
        EXPECT_EQ(image.pixelColor(16, i), black) << "right " << i;
    }
}

void expectFill(const QImage& image, const QColor& colour)
{
    for (int y = 1; y < 16; ++y)
        for (int x = 1; x < 16; ++x)
            ASSERT_EQ(image.pixelColor(x, y), colour) << x << "," << y;
}

} // namespace

// White at the start, then each colour exact, inside a black outline.
TEST(StatusLed, EachFillIsExactInsideABlackOutline)
{
    StatusLed led;
    const QColor white(255, 255, 255);
    const std::pair<std::optional<StatusLight>, QColor> rows[] = {{std::nullopt, white},
                                                                  {StatusLight::Red, QColor(255, 0, 0)},
                                                                  {StatusLight::Lime, QColor(0, 255, 0)},
                                                                  {StatusLight::White, white}};
    for (const auto& [light, colour] : rows) {
        if (light)
            led.setLight(*light);
        EXPECT_EQ(led.fill(), colour);
        const QImage image = drawn(led);
        expectOutline(image);
        expectFill(image, colour);
    }
}
