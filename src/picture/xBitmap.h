#pragma once
// A 24-bit bitmap: three bytes a pixel in the order blue, green, red; row 0 is the top row.

#include <cstdint>
#include <vector>

struct TBitmap24 {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Pixels;

  TBitmap24() = default;
  TBitmap24(int width, int height) { SetSize(width, height); }

  // Resizes only when the size differs; a new size starts black.
  void SetSize(int width, int height) {
    if (width == Width && height == Height) return;
    Width = width;
    Height = height;
    Pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
  }
  int Stride() const { return Width * 3; }
  std::uint8_t* Row(int y) { return Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Stride()); }
  const std::uint8_t* Row(int y) const {
    return Pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(Stride());
  }
  void Fill(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    for (std::size_t i = 0; i + 2 < Pixels.size(); i += 3) {
      Pixels[i] = blue;
      Pixels[i + 1] = green;
      Pixels[i + 2] = red;
    }
  }
  bool operator==(const TBitmap24&) const = default;
};
