#include "xSampler.h"

#include <algorithm>
#include <cstdint>

TPointSampler::TPointSampler(TBitmap24& target) : Target(target) {}

int TPointSampler::SourceIndex(int t, int n, int extent) {
  return static_cast<int>((2 * static_cast<std::int64_t>(t) + 1) * extent / (2 * static_cast<std::int64_t>(n)));
}

bool TPointSampler::Begin(int width, int height) {
  if (width <= 0 || height <= 0) return false;
  if (static_cast<std::int64_t>(width) * height > MaxPicturePixels) return false;
  Width = width;
  Height = height;
  SourceColumns.resize(static_cast<std::size_t>(Target.Width));
  for (int t = 0; t < Target.Width; ++t) SourceColumns[static_cast<std::size_t>(t)] = SourceIndex(t, Target.Width, width);
  SourceRows.resize(static_cast<std::size_t>(Target.Height));
  for (int t = 0; t < Target.Height; ++t) SourceRows[static_cast<std::size_t>(t)] = SourceIndex(t, Target.Height, height);
  Target.Fill(255, 255, 255);
  return true;
}

bool TPointSampler::WantsRow(int y) const {
  // SourceRows is sorted: a binary search keeps this cheap for pictures of many rows.
  auto it = std::lower_bound(SourceRows.begin(), SourceRows.end(), y);
  return it != SourceRows.end() && *it == y;
}

int TPointSampler::NextWantedRow(int y) const {
  auto it = std::lower_bound(SourceRows.begin(), SourceRows.end(), y);
  return it == SourceRows.end() ? -1 : *it;
}

int TPointSampler::LastWantedRow() const { return SourceRows.empty() ? -1 : SourceRows.back(); }

void TPointSampler::PutRow(int y, const std::uint8_t* pixels, TPixelFormat format) {
  auto it = std::lower_bound(SourceRows.begin(), SourceRows.end(), y);
  for (; it != SourceRows.end() && *it == y; ++it) {
    std::uint8_t* out = Target.Row(static_cast<int>(it - SourceRows.begin()));
    for (int t = 0; t < Target.Width; ++t, out += 3) {
      const auto column = static_cast<std::size_t>(SourceColumns[static_cast<std::size_t>(t)]);
      if (format == TPixelFormat::RGB8) {
        const std::uint8_t* p = pixels + column * 3;
        out[0] = p[2];
        out[1] = p[1];
        out[2] = p[0];
      } else {
        const std::uint8_t* p = pixels + column * 4;
        const unsigned alpha = p[3];
        // Over white: c * a + 255 * (255 - a), divided by 255 and rounded.
        auto blend = [alpha](unsigned c) {
          return static_cast<std::uint8_t>((c * alpha + 255U * (255U - alpha) + 127U) / 255U);
        };
        out[0] = blend(p[2]);
        out[1] = blend(p[1]);
        out[2] = blend(p[0]);
      }
    }
  }
}
