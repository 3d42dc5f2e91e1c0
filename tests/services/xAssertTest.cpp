#include <gtest/gtest.h>

#include "xAssert.h"

TEST(Assert, FailureNamesTheUnitAndTheLine) {
  const int line = __LINE__ + 2;
  try {
    TS_ASSERT(1 + 1 == 3);
    FAIL() << "no exception";
  } catch (const EAssertionFailed& error) {
    EXPECT_EQ(std::string(error.what()), "Assertion failure (xAssertTest, line " + std::to_string(line) + ")");
  }
}

TEST(Assert, HoldingConditionDoesNothing) { EXPECT_NO_THROW(TS_ASSERT(2 > 1)); }

TEST(Assert, UnitNameIsTheFileBaseName) {
  const struct {
    const char* File;
    const char* Unit;
  } cases[] = {{"/work/src/picture/xPixan.cpp", "xPixan"}, {"xEngine.h", "xEngine"},
               {"C:\\src\\uMain.cpp", "uMain"}, {"noextension", "noextension"}, {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(UnitName(c.File), c.Unit) << c.File;
}

TEST(Assert, InternalErrorCarriesItsOwnText) {
  EXPECT_THROW(
      {
        try {
          InternalError("Failed to allocate memory for the vector");
        } catch (const EAssertionFailed& error) {
          EXPECT_STREQ(error.what(), "Failed to allocate memory for the vector");
          throw;
        }
      },
      EAssertionFailed);
}
