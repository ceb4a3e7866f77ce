// The status light's exact fills and its outline, read from the drawn pixels.
#include "app/qt/StatusLed.h"

#include <QImage>

#include <gtest/gtest.h>

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

TEST(StatusLed, StartsWhiteInsideABlackOutline)
{
    StatusLed led;
    EXPECT_EQ(led.fill(), QColor(255, 255, 255));
    const QImage image = drawn(led);
    expectOutline(image);
    expectFill(image, QColor(255, 255, 255));
}

TEST(StatusLed, RedAndLimeAreExact)
{
    StatusLed led;
    led.setLight(StatusLight::Red);
    QImage image = drawn(led);
    expectOutline(image);
    expectFill(image, QColor(255, 0, 0));

    led.setLight(StatusLight::Lime);
    image = drawn(led);
    expectOutline(image);
    expectFill(image, QColor(0, 255, 0));

    led.setLight(StatusLight::White);
    expectFill(drawn(led), QColor(255, 255, 255));
}
