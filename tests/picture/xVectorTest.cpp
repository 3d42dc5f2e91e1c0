#include <gtest/gtest.h>
#include "xVector.h"
TEST(Vector, Empty) { EXPECT_EQ(TVector().Count(), 0); }
