#pragma once
// File and path masks. The whole text must match: "*" matches any run of characters (also
// none), "?" exactly one character, "[...]" one character of a set of single characters and
// ranges such as a-z ("[!...]" one character not in it); any other character matches itself
// without regard to letter case. Characters are UTF-8 code points; a byte that is not valid
// UTF-8 stands for itself.

#include <string>
#include <vector>

class TMask {
public:
  // False, with the message "'<mask>' is an invalid mask at (<1-based position>)", when a set is
  // not closed or a range has no start.
  bool Compile(const std::string& mask, std::string& error);
  bool Matches(const std::string& text) const;

private:
  struct TRange {
    char32_t First, Last;
  };
  struct TToken {
    enum { Literal, Any, Star, Set } Kind;
    char32_t Char = 0;
    bool Negated = false;
    std::vector<TRange> Ranges;
  };
  bool MatchesOne(const TToken& token, char32_t c) const;

  std::vector<TToken> Tokens;
};

// The code points of a UTF-8 text; an invalid byte becomes a code point of its own above
// U+10FFFF, so that it matches only itself.
std::u32string DecodeUtf8(const std::string& text);
