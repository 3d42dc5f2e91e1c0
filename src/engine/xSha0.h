#pragma once
// SHA-0: the Secure Hash Algorithm of the first FIPS PUB 180 (1993). It is SHA-1 without the
// one-bit left rotation in the message schedule. No maintained library carries it any more.

#include <array>
#include <cstddef>
#include <cstdint>

class TSha0 {
public:
  TSha0() { Reset(); }
  void Reset();
  void Update(const void* data, std::size_t size);
  std::array<std::uint8_t, 20> Finish();  // also resets

private:
  void Block(const std::uint8_t* block);

  std::array<std::uint32_t, 5> State{};
  std::array<std::uint8_t, 64> Pending{};
  std::size_t PendingSize = 0;
  std::uint64_t TotalBytes = 0;
};
