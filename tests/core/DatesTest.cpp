// Calendar arithmetic used for the time shift and the expiry day.
#include "core/Dates.h"

#include <gtest/gtest.h>

using namespace movik;

TEST(Dates, RoundTripAndValidity)
{
    for (std::int64_t d = daysFromCivil(1, 1, 1); d <= daysFromCivil(9999, 12, 31); d += 97) {
        CivilDate c = civilFromDays(d);
        ASSERT_TRUE(isValidDate(c.year, c.month, c.day)) << d;
        ASSERT_EQ(daysFromCivil(c.year, c.month, c.day), d);
    }
    EXPECT_EQ(daysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(daysFromCivil(2000, 3, 1) - daysFromCivil(2000, 2, 28), 2) << "2000 is a leap year";
    EXPECT_EQ(daysFromCivil(1900, 3, 1) - daysFromCivil(1900, 2, 28), 1) << "1900 is not";
    EXPECT_TRUE(isValidDate(2024, 2, 29));
    EXPECT_FALSE(isValidDate(2023, 2, 29));
    EXPECT_FALSE(isValidDate(2023, 4, 31));
    EXPECT_FALSE(isValidDate(2023, 13, 1));
    EXPECT_FALSE(isValidDate(0, 1, 1));
    EXPECT_FALSE(isValidDate(2023, 1, 0));
}
