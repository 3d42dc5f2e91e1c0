#pragma once
// Draws a decoded picture into a fixed-size bitmap by point sampling: every target pixel
// takes the colour of exactly one source pixel, without averaging, stretched in both
// directions independently. Target column t of N takes source column ((2t + 1) * W) / (2N)
// (integer division): the source pixel under the centre of the target pixel. For W = N this
// is t itself, so a picture of the target's size is copied pixel for pixel. Rows likewise.
//
// The target is filled with white first; a pixel with alpha is blended over that white, so
// what a transparent picture gives depends on its file alone.

#include <functional>
#include <vector>

#include "xBitmap.h"
#include "xPicDecode.h"

class TPointSampler final : public TPictureSink {
public:
  explicit TPointSampler(TBitmap24& target);

  bool Begin(int width, int height) override;
  bool WantsRow(int y) const override;
  int LastWantedRow() const override;
  int NextWantedRow(int y) const override;
  void PutRow(int y, const std::uint8_t* pixels, TPixelFormat format) override;
  bool Cancelled() const override { return Cancel && Cancel(); }

  // What Cancelled asks; none: never.
  std::function<bool()> Cancel;

  int SourceWidth() const { return Width; }
  int SourceHeight() const { return Height; }

  // The source index sampled for target index t of n over an extent of `extent`.
  static int SourceIndex(int t, int n, int extent);

private:
  TBitmap24& Target;
  int Width = 0;
  int Height = 0;
  std::vector<int> SourceColumns;  // per target column
  std::vector<int> SourceRows;     // per target row, non-decreasing
};
