#pragma once
// Colour conversion for picture analysis. Inline: the analyser calls it for every pixel.

#include <algorithm>

struct TColorTriple {
  float A, B, C;  // input: red, green, blue; output of RGBToHSL: lightness, hue, saturation
};

// Red, green, blue in 0..1 to (lightness, hue, saturation), each in 0..1 with hue below 1:
// red at hue 0, green at 1/3, blue at 2/3. Greys have hue and saturation 0. Computed in double,
// each result rounded to float.
inline TColorTriple RGBToHSL(const TColorTriple& rgb) {
  const double red = rgb.A;
  const double green = rgb.B;
  const double blue = rgb.C;
  const double max = std::max({red, green, blue});
  const double min = std::min({red, green, blue});
  const double lightness = (max + min) / 2;
  if (max == min) return {static_cast<float>(lightness), 0.0f, 0.0f};
  const double d = max - min;
  const double saturation = lightness < 0.5 ? d / (max + min) : d / (2 - max - min);
  double hue;
  if (red == max)
    hue = (green - blue) / d;
  else if (green == max)
    hue = (blue - red) / d + 2;
  else
    hue = (red - green) / d + 4;
  hue /= 6;
  if (hue < 0) hue += 1;
  return {static_cast<float>(lightness), static_cast<float>(hue), static_cast<float>(saturation)};
}
