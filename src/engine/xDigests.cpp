#include "xDigests.h"

#include <nettle/md4.h>
#include <nettle/md5.h>
#include <zlib.h>

#include <algorithm>
#include <limits>

#include "xAssert.h"
#include "xSha0.h"

std::string TDigest::Hex() const {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < Length; ++i) {
    text += digits[Bytes[i] >> 4];
    text += digits[Bytes[i] & 15];
  }
  return text;
}

namespace {

class TCrc32 final : public TDigestAlgorithm {
public:
  void Reset() override { Crc = crc32(0, nullptr, 0); }
  void Update(const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const Bytef*>(data);
    while (size > 0) {  // zlib takes 32-bit lengths
      const auto chunk = static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
      Crc = crc32(Crc, bytes, chunk);
      bytes += chunk;
      size -= chunk;
    }
  }
  TDigest Finish() override {
    TDigest digest;
    digest.Length = 4;
    for (int i = 0; i < 4; ++i) digest.Bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(Crc >> (24 - 8 * i));
    Reset();
    return digest;
  }

private:
  uLong Crc = crc32(0, nullptr, 0);
};

class TMd4 final : public TDigestAlgorithm {
public:
  TMd4() { Reset(); }
  void Reset() override { md4_init(&Context); }
  void Update(const void* data, std::size_t size) override {
    md4_update(&Context, size, static_cast<const std::uint8_t*>(data));
  }
  TDigest Finish() override {
    TDigest digest;
    digest.Length = MD4_DIGEST_SIZE;
    md4_digest(&Context, MD4_DIGEST_SIZE, digest.Bytes.data());  // resets the context
    return digest;
  }

private:
  md4_ctx Context{};
};

class TMd5 final : public TDigestAlgorithm {
public:
  TMd5() { Reset(); }
  void Reset() override { md5_init(&Context); }
  void Update(const void* data, std::size_t size) override {
    md5_update(&Context, size, static_cast<const std::uint8_t*>(data));
  }
  TDigest Finish() override {
    TDigest digest;
    digest.Length = MD5_DIGEST_SIZE;
    md5_digest(&Context, MD5_DIGEST_SIZE, digest.Bytes.data());
    return digest;
  }

private:
  md5_ctx Context{};
};

class TSha0Digest final : public TDigestAlgorithm {
public:
  void Reset() override { Sha.Reset(); }
  void Update(const void* data, std::size_t size) override { Sha.Update(data, size); }
  TDigest Finish() override {
    TDigest digest;
    digest.Length = 20;
    digest.Bytes = Sha.Finish();
    return digest;
  }

private:
  TSha0 Sha;
};

}  // namespace

std::unique_ptr<TDigestAlgorithm> MakeDigestAlgorithm(int method) {
  switch (method) {
    case fcCrc32: return std::make_unique<TCrc32>();
    case fcMd4: return std::make_unique<TMd4>();
    case fcMd5: return std::make_unique<TMd5>();
    case fcSha: return std::make_unique<TSha0Digest>();
    default: AssertionFailed(__FILE__, __LINE__);
  }
}
