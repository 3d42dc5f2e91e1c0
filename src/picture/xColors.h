#pragma once
// Colour conversion for picture analysis.

struct TColorTriple {
  float A, B, C;  // input: red, green, blue; output of RGBToHSL: lightness, hue, saturation
};

// Red, green, blue in 0..1 to (lightness, hue, saturation), each in 0..1 with hue below 1:
// red at hue 0, green at 1/3, blue at 2/3. Greys have hue and saturation 0.
TColorTriple RGBToHSL(const TColorTriple& rgb);
