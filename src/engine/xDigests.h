#pragma once
// The content digests: CRC-32, MD4, MD5 and SHA-0, behind one interface.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The comparison methods, as the option FileComp stores them.
enum TFileComp : std::uint8_t { fcBytes = 0, fcCrc32 = 1, fcMd4 = 2, fcMd5 = 3, fcSha = 4 };

// A finished digest, kept as its bytes (20 at most); empty until computed.
struct TDigest {
  std::uint8_t Length = 0;
  std::array<std::uint8_t, 20> Bytes{};

  bool Empty() const { return Length == 0; }
  bool operator==(const TDigest&) const = default;
  std::string Hex() const;  // lower-case hexadecimal
};

class TDigestAlgorithm {
public:
  virtual ~TDigestAlgorithm() = default;
  virtual void Reset() = 0;
  virtual void Update(const void* data, std::size_t size) = 0;
  virtual TDigest Finish() = 0;  // also resets
};

// The algorithm of a digest method 1 .. 4; anything else is a consistency failure.
std::unique_ptr<TDigestAlgorithm> MakeDigestAlgorithm(int method);
