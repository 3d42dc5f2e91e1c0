#include "xMasks.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

char32_t Fold(char32_t c) { return c >= U'A' && c <= U'Z' ? c - U'A' + U'a' : c; }

}  // namespace

std::u32string DecodeUtf8(const std::string& text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1FU : length == 3 ? lead & 0x0FU : lead & 0x07U;
    bool valid = length > 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<std::uint8_t>(text[i + k]);
      valid = (next & 0xC0U) == 0x80U;
      code = code << 6 | (next & 0x3FU);
    }
    static constexpr char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && code >= smallest[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
    if (!valid) {
      out += static_cast<char32_t>(0x110000 + lead);
      ++i;
    } else {
      out += code;
      i += length;
    }
  }
  return out;
}

bool TMask::Compile(const std::string& mask, std::string& error) {
  Tokens.clear();
  error.clear();
  const std::u32string m = DecodeUtf8(mask);
  auto fail = [&](std::size_t position) {
    char text[64];
    std::snprintf(text, sizeof text, "(%zu)", position + 1);
    error = "'" + mask + "' is an invalid mask at " + text;
    Tokens.clear();
    return false;
  };
  for (std::size_t i = 0; i < m.size(); ++i) {
    TToken token{};
    if (m[i] == U'*') {
      token.Kind = TToken::Star;
      if (!Tokens.empty() && Tokens.back().Kind == TToken::Star) continue;
    } else if (m[i] == U'?') {
      token.Kind = TToken::Any;
    } else if (m[i] == U'[') {
      const std::size_t open = i++;
      token.Kind = TToken::Set;
      if (i < m.size() && m[i] == U'!') {
        token.Negated = true;
        ++i;
      }
      for (;; ++i) {
        if (i >= m.size()) return fail(open);
        if (m[i] == U']') break;
        if (m[i] == U'-') {
          if (i + 1 < m.size() && m[i + 1] == U']') {
            token.Ranges.push_back({U'-', U'-'});  // a dash before the closing bracket stands for itself
            continue;
          }
          return fail(i);  // a range needs a start
        }
        const char32_t first = Fold(m[i]);
        if (i + 2 < m.size() && m[i + 1] == U'-' && m[i + 2] != U']') {
          const char32_t last = Fold(m[i + 2]);
          token.Ranges.push_back({std::min(first, last), std::max(first, last)});
          i += 2;
        } else {
          token.Ranges.push_back({first, first});
        }
      }
    } else {
      token.Kind = TToken::Literal;
      token.Char = Fold(m[i]);
    }
    Tokens.push_back(std::move(token));
  }
  return true;
}

bool TMask::MatchesOne(const TToken& token, char32_t c) const {
  switch (token.Kind) {
    case TToken::Literal: return Fold(c) == token.Char;
    case TToken::Any: return true;
    case TToken::Set: {
      const char32_t folded = Fold(c);
      bool inside = false;
      for (const TRange& range : token.Ranges) inside = inside || (folded >= range.First && folded <= range.Last);
      return inside != token.Negated;
    }
    case TToken::Star: return false;
  }
  return false;
}

bool TMask::Matches(const std::string& text) const {
  const std::u32string t = DecodeUtf8(text);
  // Greedy matching with one backtracking point: the last star seen. Linear in practice, and
  // never worse than text length x mask length.
  std::size_t ti = 0, mi = 0;
  std::size_t starToken = std::string::npos, starText = 0;
  while (ti < t.size()) {
    if (mi < Tokens.size() && Tokens[mi].Kind == TToken::Star) {
      starToken = mi++;
      starText = ti;
    } else if (mi < Tokens.size() && MatchesOne(Tokens[mi], t[ti])) {
      ++mi;
      ++ti;
    } else if (starToken != std::string::npos) {
      mi = starToken + 1;
      ti = ++starText;
    } else {
      return false;
    }
  }
  while (mi < Tokens.size() && Tokens[mi].Kind == TToken::Star) ++mi;
  return mi == Tokens.size();
}
