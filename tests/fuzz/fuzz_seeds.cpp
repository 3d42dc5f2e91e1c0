// Writes the first inputs of the picture fuzz targets: small JPEGs and PNGs of the kinds the
// readers branch on, so that the fuzzers start inside the formats rather than at their magic.
//   fuzz_seeds JPEG_FOLDER PNG_FOLDER

#include <cstdio>
#include <string>

#include "xTestFiles.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: fuzz_seeds JPEG_FOLDER PNG_FOLDER\n");
    return 2;
  }
  const std::string jpeg = argv[1], png = argv[2];
  const TTestImage photo = PhotoLikeImage(40, 24), noise = NoiseImage(17, 9, 1);
  WriteJpeg(jpeg + "/baseline.jpg", photo, 80);
  WriteJpeg(jpeg + "/progressive.jpg", photo, 60, true);
  WriteJpeg(jpeg + "/noise.jpg", noise, 95);
  WritePng(png + "/rgb.png", noise);
  WritePng(png + "/interlaced.png", photo, true);
  TPngLayout palette;
  palette.ColorType = 3;  // PNG_COLOR_TYPE_PALETTE
  palette.BitDepth = 4;
  palette.Palette = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
  palette.Transparency = {255, 128};
  WritePngRaw(png + "/palette.png", 4, 2, palette, {{0x01, 0x23}, {0x32, 0x10}});
  TPngLayout grey;
  grey.ColorType = 4;  // PNG_COLOR_TYPE_GRAY_ALPHA
  grey.BitDepth = 16;
  WritePngRaw(png + "/grey16.png", 1, 2, grey, {{0x12, 0x34, 0xFF, 0xFF}, {0xAB, 0xCD, 0x00, 0x10}});
  return 0;
}
