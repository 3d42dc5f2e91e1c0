#include "xSha0.h"

#include <algorithm>
#include <cstring>

namespace {

std::uint32_t Rotate(std::uint32_t value, int bits) { return value << bits | value >> (32 - bits); }

}  // namespace

void TSha0::Reset() {
  State = {0x67452301U, 0xEFCDAB89U, 0x98BADCFEU, 0x10325476U, 0xC3D2E1F0U};
  PendingSize = 0;
  TotalBytes = 0;
}

void TSha0::Block(const std::uint8_t* block) {
  std::uint32_t w[80];
  for (int t = 0; t < 16; ++t)
    w[t] = std::uint32_t{block[4 * t]} << 24 | std::uint32_t{block[4 * t + 1]} << 16 |
           std::uint32_t{block[4 * t + 2]} << 8 | block[4 * t + 3];
  for (int t = 16; t < 80; ++t) w[t] = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];  // no rotation: SHA-0
  std::uint32_t a = State[0], b = State[1], c = State[2], d = State[3], e = State[4];
  for (int t = 0; t < 80; ++t) {
    std::uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999U;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1U;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDCU;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6U;
    }
    const std::uint32_t temp = Rotate(a, 5) + f + e + k + w[t];
    e = d;
    d = c;
    c = Rotate(b, 30);
    b = a;
    a = temp;
  }
  State[0] += a;
  State[1] += b;
  State[2] += c;
  State[3] += d;
  State[4] += e;
}

void TSha0::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  TotalBytes += size;
  if (PendingSize > 0) {
    const std::size_t take = std::min(size, Pending.size() - PendingSize);
    std::memcpy(Pending.data() + PendingSize, bytes, take);
    PendingSize += take;
    bytes += take;
    size -= take;
    if (PendingSize < Pending.size()) return;
    Block(Pending.data());
    PendingSize = 0;
  }
  for (; size >= 64; bytes += 64, size -= 64) Block(bytes);
  std::memcpy(Pending.data(), bytes, size);
  PendingSize = size;
}

std::array<std::uint8_t, 20> TSha0::Finish() {
  const std::uint64_t bits = TotalBytes * 8;
  std::uint8_t padding[72] = {0x80};
  const std::size_t padSize = (PendingSize < 56 ? 56 : 120) - PendingSize;
  for (int i = 0; i < 8; ++i) padding[padSize + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  Update(padding, padSize + 8);
  std::array<std::uint8_t, 20> digest{};
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 4; ++j) digest[static_cast<std::size_t>(4 * i + j)] = static_cast<std::uint8_t>(State[i] >> (24 - 8 * j));
  Reset();
  return digest;
}
