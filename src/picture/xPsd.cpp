// Photoshop documents (.psd, .pdd, and the large-document variant): only the flattened
// composite that follows the layers, raw or PackBits-compressed. The composite is stored plane
// by plane, so a row is gathered from every plane it needs; only the wanted rows are read.

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "xOwnFormats.h"

namespace {

enum TPsdMode : std::uint16_t { Grey = 1, Indexed = 2, Rgb = 3, Cmyk = 4 };

// PackBits into exactly `out.size()` bytes; false when the data does not fill the row exactly.
bool UnpackBits(const std::vector<std::uint8_t>& in, std::vector<std::uint8_t>& out) {
  std::size_t i = 0, o = 0;
  while (o < out.size()) {
    if (i >= in.size()) return false;
    const int n = static_cast<std::int8_t>(in[i++]);
    if (n >= 0) {
      const std::size_t count = static_cast<std::size_t>(n) + 1;
      if (i + count > in.size() || o + count > out.size()) return false;
      std::memcpy(&out[o], &in[i], count);
      i += count;
      o += count;
    } else if (n != -128) {
      const std::size_t count = static_cast<std::size_t>(1 - n);
      if (i >= in.size() || o + count > out.size()) return false;
      std::memset(&out[o], in[i++], count);
      o += count;
    }
  }
  return true;
}

}  // namespace

TDecodeResult DecodePsd(const std::string& path, TPictureSink& sink) {
  TFileReader file(path);
  std::array<char, 4> signature{};
  file.Read(signature.data(), 4);
  const std::uint16_t version = file.U16BE();
  file.Skip(6);
  const int channels = file.U16BE();
  const std::uint32_t height32 = file.U32BE();
  const std::uint32_t width32 = file.U32BE();
  const int depth = file.U16BE();
  const std::uint16_t mode = file.U16BE();
  if (!file.Good() || std::memcmp(signature.data(), "8BPS", 4) != 0 || (version != 1 && version != 2))
    return TDecodeResult::Failed;
  const bool large = version == 2;
  const std::uint32_t maxSide = large ? 300000 : 30000;
  if (channels < 1 || channels > 56 || width32 > maxSide || height32 > maxSide) return TDecodeResult::Failed;
  if (depth != 8 && depth != 16) return TDecodeResult::Failed;
  int needed = 0;
  switch (mode) {
    case Grey: case Indexed: needed = 1; break;
    case Rgb: needed = 3; break;
    case Cmyk: needed = 4; break;
    default: return TDecodeResult::Failed;  // bitmap, duotone, Lab, multichannel
  }
  if (mode == Indexed && depth != 8) return TDecodeResult::Failed;
  if (channels < needed) return TDecodeResult::Failed;
  if (width32 == 0 || height32 == 0) return TDecodeResult::Empty;
  const int width = static_cast<int>(width32);
  const int height = static_cast<int>(height32);

  // Colour mode data: the palette of indexed pictures, 256 reds, then greens, then blues.
  const std::uint32_t colourBytes = file.U32BE();
  std::array<std::uint8_t, 768> palette{};
  if (mode == Indexed) {
    if (colourBytes < 768 || !file.Read(palette.data(), 768) || !file.Skip(colourBytes - 768))
      return TDecodeResult::Failed;
  } else if (!file.Skip(colourBytes)) {
    return TDecodeResult::Failed;
  }
  file.Skip(file.U32BE());                           // image resources
  file.Skip(large ? static_cast<std::int64_t>(std::min<std::uint64_t>(file.U64BE(), INT64_MAX)) : file.U32BE());  // layers
  const std::uint16_t compression = file.U16BE();
  if (!file.Good() || compression > 1) return TDecodeResult::Failed;  // zip only appears in layers

  const std::int64_t rowBytes = static_cast<std::int64_t>(width) * (depth / 8);
  const std::int64_t planeRows = static_cast<std::int64_t>(channels) * height;
  // Where row y of plane c starts, and for PackBits how long it is.
  std::vector<std::int64_t> offsets;
  std::vector<std::uint32_t> lengths;
  const std::int64_t usedRows = static_cast<std::int64_t>(needed) * height;
  if (compression == 0) {
    if (file.Remaining() < usedRows * rowBytes) return TDecodeResult::Failed;
  } else {
    const int countBytes = large ? 4 : 2;
    if (file.Remaining() < planeRows * countBytes) return TDecodeResult::Failed;
    lengths.resize(static_cast<std::size_t>(usedRows));
    for (auto& length : lengths) length = large ? file.U32BE() : file.U16BE();
    if (!file.Skip((planeRows - usedRows) * countBytes)) return TDecodeResult::Failed;
    offsets.resize(lengths.size());
    std::int64_t at = file.Tell();
    // A PackBits row never takes more than one byte in 128 above its own length, plus one.
    const std::int64_t maxPacked = rowBytes + rowBytes / 128 + 2;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
      if (lengths[i] > maxPacked) return TDecodeResult::Failed;
      offsets[i] = at;
      at += lengths[i];
    }
    if (at > file.Size()) return TDecodeResult::Failed;
  }
  if (!sink.Begin(width, height)) return TDecodeResult::Failed;

  const std::int64_t dataStart = file.Tell();
  std::vector<std::vector<std::uint8_t>> planes(static_cast<std::size_t>(needed),
                                                std::vector<std::uint8_t>(static_cast<std::size_t>(rowBytes)));
  std::vector<std::uint8_t> packed;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
  const int step = depth / 8;  // 16-bit samples are big-endian: the first byte is the high one
  const int last = std::min(sink.LastWantedRow(), height - 1);
  for (int y = 0; y <= last; ++y) {
    if (sink.Cancelled()) return TDecodeResult::Failed;
    if (!sink.WantsRow(y)) continue;
    for (int c = 0; c < needed; ++c) {
      const std::size_t index = static_cast<std::size_t>(c) * static_cast<std::size_t>(height) + static_cast<std::size_t>(y);
      auto& plane = planes[static_cast<std::size_t>(c)];
      if (compression == 0) {
        if (!file.Seek(dataStart + static_cast<std::int64_t>(index) * rowBytes) || !file.Read(plane.data(), rowBytes))
          return TDecodeResult::Failed;
      } else {
        packed.resize(lengths[index]);
        if (!file.Seek(offsets[index]) || !file.Read(packed.data(), lengths[index]) || !UnpackBits(packed, plane))
          return TDecodeResult::Failed;
      }
    }
    for (int x = 0; x < width; ++x) {
      const std::size_t at = static_cast<std::size_t>(x) * static_cast<std::size_t>(step);
      std::uint8_t* out = &row[static_cast<std::size_t>(x) * 3];
      switch (mode) {
        case Grey: out[0] = out[1] = out[2] = planes[0][at]; break;
        case Indexed: {
          const std::uint8_t i = planes[0][at];
          out[0] = palette[i];
          out[1] = palette[256 + i];
          out[2] = palette[512 + i];
          break;
        }
        case Rgb:
          for (int c = 0; c < 3; ++c) out[c] = planes[static_cast<std::size_t>(c)][at];
          break;
        default: {
          // CMYK is stored inverted (255 = no ink); a plain multiply with black is close enough
          // for comparing pictures.
          const unsigned k = planes[3][at];
          for (int c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>((planes[static_cast<std::size_t>(c)][at] * k + 127) / 255);
        }
      }
    }
    sink.PutRow(y, row.data(), TPixelFormat::RGB8);
  }
  return TDecodeResult::Ok;
}
