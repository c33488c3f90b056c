#include "ui/icon_layout.h"

#include <gtest/gtest.h>

namespace morivane {
namespace {

TEST(IconLayout, CentresWithDivisionTowardZero) {
    const IconOrigin o = CentredIconOrigin(100, 61, 32, 32);
    EXPECT_EQ(o.x, 34);  // (100 - 32 + 1) / 2 = 69 / 2
    EXPECT_EQ(o.y, 15);  // (61 - 32 + 1) / 2 = 30 / 2
    // Smaller than the icon: -11 / 2 is -5, not the floor -6.
    EXPECT_EQ(CentredIconOrigin(20, 0, 32, 32).x, -5);
    EXPECT_EQ(CentredIconOrigin(20, 0, 32, 32).y, -15);  // -31 / 2
    EXPECT_EQ(CentredIconOrigin(31, 32, 32, 32).x, 0);
    EXPECT_EQ(CentredIconOrigin(31, 32, 32, 32).y, 0);
}

}  // namespace
}  // namespace morivane
