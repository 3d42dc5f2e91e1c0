// Autodesk Animator pictures and cels (.pic, .cel): a 32-byte header, a palette of 256 colours
// with 6-bit components, then one byte a pixel, rows from the top.

#include <algorithm>
#include <array>
#include <vector>

#include "xOwnFormats.h"

namespace {
constexpr std::uint16_t CelMagic = 0x9119;
constexpr int PaletteBytes = 768;
}  // namespace

TDecodeResult DecodeCel(const std::string& path, TPictureSink& sink) {
  TFileReader file(path);
  const std::uint16_t magic = file.U16LE();
  const int width = file.U16LE();
  const int height = file.U16LE();
  file.Skip(4);  // position on the screen
  const std::uint8_t depth = file.U8();
  const std::uint8_t compression = file.U8();
  const std::uint32_t dataSize = file.U32LE();
  file.Skip(16);
  if (!file.Good() || magic != CelMagic || depth != 8 || compression != 0) return TDecodeResult::Failed;
  if (width == 0 || height == 0) return dataSize == 0 ? TDecodeResult::Empty : TDecodeResult::Failed;
  const std::int64_t pixels = static_cast<std::int64_t>(width) * height;
  if (dataSize != pixels || file.Remaining() < PaletteBytes + pixels) return TDecodeResult::Failed;

  std::array<std::uint8_t, PaletteBytes> palette{};
  if (!file.Read(palette.data(), PaletteBytes)) return TDecodeResult::Failed;
  for (std::uint8_t& component : palette) {
    if (component > 63) return TDecodeResult::Failed;
    component = static_cast<std::uint8_t>((component * 255 + 31) / 63);
  }
  if (!sink.Begin(width, height)) return TDecodeResult::Failed;
  const std::int64_t start = file.Tell();
  std::vector<std::uint8_t> indices(static_cast<std::size_t>(width));
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
  const int last = std::min(sink.LastWantedRow(), height - 1);
  for (int y = 0; y <= last; ++y) {
    if (sink.Cancelled()) return TDecodeResult::Failed;
    if (!sink.WantsRow(y)) continue;
    if (!file.Seek(start + static_cast<std::int64_t>(y) * width) || !file.Read(indices.data(), width))
      return TDecodeResult::Failed;
    for (int x = 0; x < width; ++x) {
      const std::uint8_t* colour = &palette[static_cast<std::size_t>(indices[static_cast<std::size_t>(x)]) * 3];
      std::copy(colour, colour + 3, &row[static_cast<std::size_t>(x) * 3]);
    }
    sink.PutRow(y, row.data(), TPixelFormat::RGB8);
  }
  return TDecodeResult::Ok;
}
