#include <gtest/gtest.h>

#include "Pricing.h"

using namespace vorel;

TEST(Pricing, Smoke) {
    EXPECT_EQ(Pricing::displayTable().size(), 19u);
    EXPECT_DOUBLE_EQ(Pricing::pricing("gpt-5.5-pro-2026").inputPerMTok, 30);
}
