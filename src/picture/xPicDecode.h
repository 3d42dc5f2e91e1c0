#pragma once
// The decoders behind picture loading. A decoder reports the picture's size to a sink, then
// hands it rows from the top; the sink says which rows it wants, so that a decoder that can
// go row by row never holds more than one row of a large picture.

#include <cstdint>
#include <string>

enum class TPixelFormat {
  RGB8,   // red, green, blue
  RGBA8,  // red, green, blue, straight alpha (255 = opaque)
};

class TPictureSink {
public:
  virtual ~TPictureSink() = default;
  // The decoded size, always at least 1 x 1. False refuses the picture (too large).
  virtual bool Begin(int width, int height) = 0;
  virtual bool WantsRow(int y) const = 0;
  // The last row any caller wants; a decoder may stop after it.
  virtual int LastWantedRow() const = 0;
  // The first wanted row at or after y, or -1 when none is left; a decoder may skip to it.
  virtual int NextWantedRow(int y) const {
    for (const int last = LastWantedRow(); y <= last; ++y)
      if (WantsRow(y)) return y;
    return -1;
  }
  virtual void PutRow(int y, const std::uint8_t* pixels, TPixelFormat format) = 0;
  // True once the search is stopped: a decoder asks between rows or scans (at least every
  // 0.1 s of work) and then fails at once.
  virtual bool Cancelled() const { return false; }
};

enum class TDecodeResult {
  Ok,
  Failed,  // not decodable, truncated, or beyond the resource limits
  Empty,   // decoded, but width x height <= 0
};

// Pictures larger than this many pixels are refused by every decoder: decoding one would take
// minutes or, for decoders that hold the whole picture, more memory than the machine has.
inline constexpr std::int64_t MaxPicturePixels = std::int64_t{1} << 30;

TDecodeResult DecodeJpeg(const std::string& path, TPictureSink& sink);
TDecodeResult DecodePng(const std::string& path, TPictureSink& sink);
// Everything else: the format registry, chosen by the lower-cased extension with its dot.
TDecodeResult DecodeRegistry(const std::string& path, const std::string& extension, TPictureSink& sink);

// Any picture file, by its extension: JPEG and PNG by our own readers, the rest by the registry.
// Anything but a regular file fails without being opened (a pipe must not be read).
TDecodeResult DecodePicture(const std::string& path, TPictureSink& sink);

// Lower-cased extensions (with the dot) that count as pictures, whether or not they decode here.
bool IsPictureExtension(const std::string& lowerExtension);

// A file name's extension with its dot, in lower case; empty when the name has none.
std::string LowerExtension(const std::string& fileName);
