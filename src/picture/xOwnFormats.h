#pragma once
// Readers of our own for formats no installed library reads.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "xPicDecode.h"

TDecodeResult DecodePsd(const std::string& path, TPictureSink& sink);  // psd, pdd: the flattened composite
TDecodeResult DecodeCel(const std::string& path, TPictureSink& sink);  // cel, pic: Autodesk Animator
TDecodeResult DecodePsp(const std::string& path, TPictureSink& sink);  // psp: Paint Shop Pro
TDecodeResult DecodeEmf(const std::string& path, TPictureSink& sink);  // emf: enhanced metafiles
// Our own checks of a metafile's structure and size, without the converter: Ok when it is worth
// handing to DecodeEmf, else what DecodeEmf would give.
TDecodeResult CheckEmf(const std::string& path);

// Reads a file with every length checked against what is left of it. A failed read or seek
// makes the reader bad for good; numbers read after that are 0, so a reader may read a whole
// header and test Good() once.
class TFileReader {
public:
  explicit TFileReader(const std::string& path);
  bool Good() const { return Good_; }
  std::int64_t Size() const { return Size_; }
  std::int64_t Tell() const { return Position; }
  std::int64_t Remaining() const { return Size_ - Position; }

  bool Read(void* data, std::int64_t count);
  bool Seek(std::int64_t position);
  bool Skip(std::int64_t count) {
    if (count > Remaining() || count < -Position) return Good_ = false;  // never an overflowing sum
    return Seek(Position + count);
  }

  std::uint8_t U8();
  std::uint16_t U16LE();
  std::uint32_t U32LE();
  std::uint16_t U16BE();
  std::uint32_t U32BE();
  std::uint64_t U64BE();

private:
  struct TCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, TCloser> File;
  std::int64_t Size_ = 0;
  std::int64_t Position = 0;
  bool Good_ = false;
};
