#include <gtest/gtest.h>

#include "xMasks.h"

TEST(Masks, MatchTheWholeText) {
  const struct {
    const char* Mask;
    const char* Text;
    bool Matches;
  } cases[] = {
      {"*", "", true},
      {"*", "anything at all", true},
      {"*.*", "photo.jpg", true},
      {"*.*", "README", false},
      {"*.jpg", "photo.JPG", true},
      {"*.JPG", "photo.jpg", true},
      {"*.jpg", "photo.jpg.bak", false},
      {"photo?.png", "photo1.png", true},
      {"photo?.png", "photo.png", false},
      {"photo?.png", "photo12.png", false},
      {"?", "\xC3\xA9", true},  // one character, two bytes
      {"??", "\xC3\xA9", false},
      {"[abc]*", "beta", true},
      {"[abc]*", "delta", false},
      {"[a-c]x", "Bx", true},
      {"[!a-c]x", "dx", true},
      {"[!a-c]x", "ax", false},
      {"[a-]", "-", true},
      {"[-]", "-", true},
      {"[]", "a", false},
      {"*/photos/*", "/home/u/photos/2020/", true},
      {"*/photos/*", "/home/u/", false},
      {"a*b*c", "a1b2b3c", true},
      {"a*b*c", "a1b2b3", false},
      {"**x", "aax", true},
      {"caf\xC3\xA9*", "CAF\xC3\xA9 au lait", true},
      {"x", "\xFF", false},
      {"\xFF", "\xFF", true},
  };
  for (const auto& c : cases) {
    TMask mask;
    std::string error;
    ASSERT_TRUE(mask.Compile(c.Mask, error)) << c.Mask << ": " << error;
    EXPECT_EQ(mask.Matches(c.Text), c.Matches) << c.Mask << " against " << c.Text;
  }
}

TEST(Masks, MalformedMasksNameThePositionOfTheFault) {
  const struct {
    const char* Mask;
    const char* Error;
  } cases[] = {
      {"[abc", "'[abc' is an invalid mask at (1)"},
      {"*.[jp", "'*.[jp' is an invalid mask at (3)"},
      {"[-a]", "'[-a]' is an invalid mask at (2)"},
      {"x[!-z]", "'x[!-z]' is an invalid mask at (4)"},
      {"[a-c-e]", "'[a-c-e]' is an invalid mask at (5)"},
  };
  for (const auto& c : cases) {
    TMask mask;
    std::string error;
    EXPECT_FALSE(mask.Compile(c.Mask, error)) << c.Mask;
    EXPECT_EQ(error, c.Error);
  }
}

TEST(Masks, LongTextsWithManyStarsStayFast) {
  TMask mask;
  std::string error;
  ASSERT_TRUE(mask.Compile("*a*a*a*a*a*a*a*a*b", error));
  EXPECT_FALSE(mask.Matches(std::string(20000, 'a')));
}
