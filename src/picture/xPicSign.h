#pragma once
// Picture signatures: the variant set, the traces and the signature that holds them.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// A one-byte set of picture variant elements. The element numbers double as the tags of the
// settings dialog's picture check boxes.
enum TPicVariant : int {
  pvOriginal = 0,        // always in the set
  pvRotate180 = 1,
  pvRotate90Left = 2,
  pvRotate90Right = 3,
  pvFlipVertical = 4,
  pvFlipHorizontal = 5,
  pvGrayscale = 6,       // no trace of its own: the comparison ignores a lower colour similarity
};

class TPicVariants {
public:
  constexpr TPicVariants() = default;  // {0}
  static constexpr TPicVariants FromBits(std::uint8_t bits) {
    TPicVariants set;
    set.Bits_ = bits;
    return set;
  }
  constexpr bool Contains(int element) const {
    return element >= 0 && element < 8 && (Bits_ >> element & 1U) != 0;
  }
  constexpr TPicVariants& Include(int element) {
    if (element >= 0 && element < 8) Bits_ = static_cast<std::uint8_t>(Bits_ | 1U << element);
    return *this;
  }
  constexpr TPicVariants& Exclude(int element) {
    if (element >= 0 && element < 8) Bits_ = static_cast<std::uint8_t>(Bits_ & ~(1U << element));
    return *this;
  }
  constexpr std::uint8_t Bits() const { return Bits_; }
  constexpr bool operator==(const TPicVariants&) const = default;

private:
  std::uint8_t Bits_ = 1;
};

// The number of variants that carry an L-trace (elements 0 .. 5).
inline constexpr int LTraceVariants = 6;
inline constexpr int LTraceLength = 1024;  // 32 x 32 signed coefficients
inline constexpr int HTraceLength = 32;    // 32 unsigned hue bins

// A byte string: signed coefficients in an L-trace, unsigned bin weights in an H-trace.
class TPicTrace {
public:
  explicit TPicTrace(int length = 0);

  int Length() const { return static_cast<int>(Bytes_.size()); }
  void SetLength(int n);

  std::uint8_t Bytes(int index) const;
  void Bytes(int index, std::uint8_t value);

  std::uint8_t* Data() { return Bytes_.data(); }
  const std::uint8_t* Data() const { return Bytes_.data(); }
  bool operator==(const TPicTrace&) const = default;

private:
  std::vector<std::uint8_t> Bytes_;
};

class TPicSign {
public:
  // L-trace i exists (empty) for every element 0 .. 5 in the set; the H-trace always exists.
  explicit TPicSign(TPicVariants variants = {});

  TPicTrace* LTrace(int variant);
  const TPicTrace* LTrace(int variant) const;
  int LLength(int variant) const;
  void SetLLength(int variant, int n);  // the trace must exist

  TPicTrace& HTrace() { return HTrace_; }
  const TPicTrace& HTrace() const { return HTrace_; }
  int HLength() const { return HTrace_.Length(); }
  void SetHLength(int n) { HTrace_.SetLength(n); }

  bool IsValid() const { return LLength(pvOriginal) >= 1 && HLength() >= 1; }
  bool operator==(const TPicSign&) const = default;

private:
  std::array<std::optional<TPicTrace>, LTraceVariants> LTraces_;
  TPicTrace HTrace_;
};
