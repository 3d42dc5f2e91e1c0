// The analyser's working picture, brightness grid, hue histogram, transforms, and loading
// through the JPEG and PNG decoders.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

#include "xAssert.h"
#include "xPixan.h"
#include "xSampler.h"
#include "xTestFiles.h"

namespace {

// The working picture must hold exactly the source pixel that the documented sampling rule
// picks for every target pixel.
void ExpectSampledFrom(const TBitmap24& working, const TTestImage& source, const std::string& what) {
  ASSERT_EQ(working.Width, WorkingSize);
  ASSERT_EQ(working.Height, WorkingSize);
  for (int ty = 0; ty < WorkingSize; ++ty) {
    const int sy = TPointSampler::SourceIndex(ty, WorkingSize, source.Height);
    for (int tx = 0; tx < WorkingSize; ++tx) {
      const int sx = TPointSampler::SourceIndex(tx, WorkingSize, source.Width);
      const std::uint8_t* in = source.At(sx, sy);
      const std::uint8_t* out = working.Row(ty) + tx * 3;
      ASSERT_EQ(out[2], in[0]) << what << " red at " << tx << "," << ty;
      ASSERT_EQ(out[1], in[1]) << what << " green at " << tx << "," << ty;
      ASSERT_EQ(out[0], in[2]) << what << " blue at " << tx << "," << ty;
    }
  }
}

// The whole picture as libjpeg itself decodes it.
TTestImage DecodeJpegWhole(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  jpeg_decompress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  TTestImage image(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.At(0, static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return image;
}

TBitmap24 SolidBitmap(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  TBitmap24 bitmap(WorkingSize, WorkingSize);
  bitmap.Fill(b, g, r);
  return bitmap;
}

// Patches a big-endian 16-bit value.
void Put16(std::string& bytes, std::size_t at, unsigned value) {
  bytes[at] = static_cast<char>(value >> 8);
  bytes[at + 1] = static_cast<char>(value & 0xFF);
}

}  // namespace

TEST(Sampling, TargetPixelTakesTheSourcePixelUnderItsCentre) {
  const struct {
    int Target, Extent, Source;
  } cases[] = {{0, 128, 0}, {127, 128, 127}, {0, 1000, 3}, {127, 1000, 996}, {0, 1, 0}, {127, 1, 0},
               {64, 10, 5}, {63, 10, 4}, {127, 65535, 65279}};
  for (const auto& c : cases)
    EXPECT_EQ(TPointSampler::SourceIndex(c.Target, WorkingSize, c.Extent), c.Source) << c.Target << " of " << c.Extent;
}

TEST(FillGrid, GreyPictureHasOneBrightnessAndAllHueInBinZero) {
  TPixan analyser;
  analyser.FillGrid(SolidBitmap(100, 100, 100), true);
  const float expected = static_cast<float>(0.299 * (100 / 255.0f) + 0.587 * (100 / 255.0f) + 0.114 * (100 / 255.0f));
  for (int x = 0; x < WorkingSize; ++x)
    for (int y = 0; y < WorkingSize; ++y) ASSERT_EQ(analyser.Grid().Items(x, y), expected);
  for (int bin = 0; bin < HueBins; ++bin) EXPECT_EQ(analyser.HueHistogram().Items(bin), bin == 0 ? 1.0f : 0.0f);
}

TEST(FillGrid, PureColoursFallInTheirHueBins) {
  const struct {
    std::uint8_t R, G, B;
    int Bin;
  } cases[] = {{255, 0, 0, 0}, {0, 255, 0, 11}, {0, 0, 255, 21}, {255, 0, 128, 29}, {0, 0, 0, 0}};
  for (const auto& c : cases) {
    TPixan analyser;
    analyser.FillGrid(SolidBitmap(c.R, c.G, c.B), true);
    for (int bin = 0; bin < HueBins; ++bin)
      EXPECT_EQ(analyser.HueHistogram().Items(bin), bin == c.Bin ? 1.0f : 0.0f) << int(c.R) << "," << int(c.G) << ","
                                                                                   << int(c.B) << " bin " << bin;
  }
}

TEST(FillGrid, FirstIndexIsTheColumn) {
  TBitmap24 picture = SolidBitmap(0, 0, 0);
  std::uint8_t* pixel = picture.Row(9) + 5 * 3;  // column 5, row 9
  pixel[0] = pixel[1] = pixel[2] = 255;
  TPixan analyser;
  analyser.FillGrid(picture, false);
  EXPECT_FLOAT_EQ(analyser.Grid().Items(5, 9), 1.0f);
  EXPECT_EQ(analyser.Grid().Items(9, 5), 0.0f);
}

TEST(FillGrid, WithoutHueLeavesTheHistogramAlone) {
  TPixan analyser;
  analyser.FillGrid(SolidBitmap(0, 0, 255), true);
  analyser.FillGrid(SolidBitmap(255, 0, 0), false);
  EXPECT_EQ(analyser.HueHistogram().Items(21), 1.0f);
  EXPECT_THROW(analyser.FillGrid(TBitmap24(64, 64), false), EAssertionFailed);
}

TEST(Transforms, EachMapsPixelsAsDocumented) {
  // A 3 x 2 source whose pixels are numbered, so every destination pixel names its source.
  TBitmap24 source(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) source.Row(y)[x * 3] = static_cast<std::uint8_t>(10 * x + y);
  using TTransform = void (*)(const TBitmap24&, TBitmap24&);
  const struct {
    const char* Name;
    TTransform Transform;
    int Width, Height;
    std::vector<int> Pixels;  // 10 * source x + source y, row by row
  } cases[] = {
      {"Rotate180", TPixan::Rotate180, 3, 2, {21, 11, 1, 20, 10, 0}},
      {"Rotate90Left", TPixan::Rotate90Left, 2, 3, {20, 21, 10, 11, 0, 1}},
      {"Rotate90Right", TPixan::Rotate90Right, 2, 3, {1, 0, 11, 10, 21, 20}},
      {"FlipVertical", TPixan::FlipVertical, 3, 2, {1, 11, 21, 0, 10, 20}},
      {"FlipHorizontal", TPixan::FlipHorizontal, 3, 2, {20, 10, 0, 21, 11, 1}},
  };
  for (const auto& c : cases) {
    TBitmap24 destination(7, 7);
    c.Transform(source, destination);
    ASSERT_EQ(destination.Width, c.Width) << c.Name;
    ASSERT_EQ(destination.Height, c.Height) << c.Name;
    std::vector<int> pixels;
    for (int y = 0; y < c.Height; ++y)
      for (int x = 0; x < c.Width; ++x) pixels.push_back(destination.Row(y)[x * 3]);
    EXPECT_EQ(pixels, c.Pixels) << c.Name;
  }
}

TEST(Transforms, CompositionsGiveTheSourceBack) {
  TTestImage noise = NoiseImage(WorkingSize, WorkingSize, 3);
  TBitmap24 source(WorkingSize, WorkingSize);
  std::memcpy(source.Pixels.data(), noise.Rgb.data(), source.Pixels.size());
  TBitmap24 a, b;
  TPixan::Rotate90Left(source, a);
  TPixan::Rotate90Right(a, b);
  EXPECT_EQ(b, source);
  TPixan::FlipVertical(source, a);
  TPixan::FlipHorizontal(a, b);
  TBitmap24 turned;
  TPixan::Rotate180(source, turned);
  EXPECT_EQ(b, turned);
}

class LoadPicture : public testing::Test {
protected:
  TTempDir Dir;
  TPixan Analyser;
};

TEST_F(LoadPicture, MissingFileIsNotFound) {
  const std::string name = Dir.File("missing.jpg");
  EXPECT_FALSE(Analyser.LoadPicture(name));
  EXPECT_EQ(Analyser.LastError(), "File \"" + name + "\" not found");
}

TEST_F(LoadPicture, PictureOfWorkingSizeIsCopiedPixelForPixel) {
  const TTestImage noise = NoiseImage(WorkingSize, WorkingSize, 1);
  for (const bool interlaced : {false, true}) {
    const std::string name = Dir.File(interlaced ? "adam7.png" : "plain.png");
    WritePng(name, noise, interlaced);
    ASSERT_TRUE(Analyser.LoadPicture(name)) << name;
    EXPECT_EQ(Analyser.LastError(), "");
    EXPECT_EQ(Analyser.PictureSize(), (TPictureSize{WorkingSize, WorkingSize}));
    for (int y = 0; y < WorkingSize; ++y)
      for (int x = 0; x < WorkingSize; ++x) {
        const std::uint8_t* in = noise.At(x, y);
        const std::uint8_t* out = Analyser.WorkingPicture().Row(y) + x * 3;
        ASSERT_TRUE(out[0] == in[2] && out[1] == in[1] && out[2] == in[0]) << name << " at " << x << "," << y;
      }
  }
}

TEST_F(LoadPicture, OtherSizesArePointSampled) {
  const struct {
    int Width, Height;
    bool Interlaced;
  } cases[] = {{1000, 10, false}, {10, 1000, true}, {1, 1, false}, {129, 127, true}, {3000, 2000, false},
               {255, 257, true}};
  for (const auto& c : cases) {
    const TTestImage noise = NoiseImage(c.Width, c.Height, static_cast<unsigned>(c.Width));
    const std::string name = Dir.File("sampled.png");
    WritePng(name, noise, c.Interlaced);
    ASSERT_TRUE(Analyser.LoadPicture(name)) << c.Width << "x" << c.Height;
    EXPECT_EQ(Analyser.PictureSize(), (TPictureSize{c.Width, c.Height}));
    ExpectSampledFrom(Analyser.WorkingPicture(), noise, std::to_string(c.Width) + "x" + std::to_string(c.Height));
  }
}

TEST_F(LoadPicture, JpegSamplesTheRowsLibjpegDecodes) {
  const struct {
    int Width, Height;
    bool Progressive;
  } cases[] = {{1000, 10, false}, {300, 700, true}, {128, 128, false}, {2001, 1333, false}};
  for (const auto& c : cases) {
    const std::string name = Dir.File("photo.JPG");  // capitals: still the JPEG decoder
    WriteJpeg(name, NoiseImage(c.Width, c.Height, 7), 90, c.Progressive);
    ASSERT_TRUE(Analyser.LoadPicture(name)) << c.Width << "x" << c.Height;
    EXPECT_EQ(Analyser.PictureSize(), (TPictureSize{c.Width, c.Height}));
    ExpectSampledFrom(Analyser.WorkingPicture(), DecodeJpegWhole(name), name);
  }
}

TEST_F(LoadPicture, DecoderFollowsTheExtensionWhateverTheCase) {
  // PNG data under a JPEG name fails in the JPEG decoder, which leaves no message; under .jpe
  // it fails in the registry, which names the file.
  const std::string png = Dir.File("a.png");
  WritePng(png, TTestImage(4, 4, 1, 2, 3));
  const std::string bytes = ReadBytes(png);
  const struct {
    const char* Name;
    bool Registry;
  } cases[] = {{"x.JPG", false}, {"x.Jpeg", false}, {"x.jpe", true}, {"x.jfif", true}, {"x.unknown", true},
               {"noextension", true}};
  for (const auto& c : cases) {
    const std::string name = Dir.File(c.Name);
    WriteBytes(name, bytes);
    EXPECT_FALSE(Analyser.LoadPicture(name)) << c.Name;
    EXPECT_EQ(Analyser.LastError(), c.Registry ? "Failed to load \"" + name + "\"" : "") << c.Name;
  }
  const std::string upper = Dir.File("b.PNG");
  WriteBytes(upper, bytes);
  EXPECT_TRUE(Analyser.LoadPicture(upper));
}

TEST_F(LoadPicture, BadFilesFailWithoutMessage) {
  const std::string goodJpeg = Dir.File("good.jpg");
  WriteJpeg(goodJpeg, NoiseImage(200, 150, 5));
  const std::string goodPng = Dir.File("good.png");
  WritePng(goodPng, NoiseImage(200, 150, 5));
  const std::string jpeg = ReadBytes(goodJpeg);
  const std::string png = ReadBytes(goodPng);
  std::string random(5000, '\0');
  for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<char>((i * 2654435761U) >> 13);
  std::string pngBadCrc = png;
  pngBadCrc[30] ^= 0x55;  // inside IHDR
  const struct {
    const char* Name;
    std::string Bytes;
  } cases[] = {
      {"empty.jpg", ""},          {"empty.png", ""},           {"empty.bmp", ""},
      {"half.jpg", jpeg.substr(0, jpeg.size() / 2)},           {"header.jpg", jpeg.substr(0, 300)},
      {"half.png", png.substr(0, png.size() / 2)},             {"header.png", png.substr(0, 40)},
      {"random.jpg", random},     {"random.png", random},      {"random.bmp", random},
      {"badcrc.png", pngBadCrc},  {"magic.jpg", "\xFF\xD8\xFF"}, {"magic.png", "\x89PNG\r\n\x1A\n"},
  };
  for (const auto& c : cases) {
    const std::string name = Dir.File(c.Name);
    WriteBytes(name, c.Bytes);
    EXPECT_FALSE(Analyser.LoadPicture(name)) << c.Name;
    EXPECT_EQ(Analyser.LastError(), "") << c.Name;
  }
}

TEST_F(LoadPicture, AbsurdHeadersFailQuickly) {
  // A small valid picture whose header claims 60000 x 60000 (PNG) or 65000 x 65000 (JPEG).
  const std::string smallJpeg = Dir.File("small.jpg");
  WriteJpeg(smallJpeg, NoiseImage(64, 64, 2));
  std::string jpeg = ReadBytes(smallJpeg);
  const auto sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  Put16(jpeg, sof + 5, 65000);
  Put16(jpeg, sof + 7, 65000);
  const std::string bigJpeg = Dir.File("big.jpg");
  WriteBytes(bigJpeg, jpeg);
  EXPECT_FALSE(Analyser.LoadPicture(bigJpeg));

  // The PNG header with a correct checksum, so that only the image data is short.
  const std::string smallPng = Dir.File("small.png");
  WritePng(smallPng, NoiseImage(64, 64, 2));
  std::string png = ReadBytes(smallPng);
  Put16(png, 16, 0);
  Put16(png, 18, 60000);
  Put16(png, 20, 0);
  Put16(png, 22, 60000);
  const unsigned crc = static_cast<unsigned>(
      crc32(0, reinterpret_cast<const unsigned char*>(png.data()) + 12, 17));
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  const std::string bigPng = Dir.File("big.png");
  WriteBytes(bigPng, png);
  EXPECT_FALSE(Analyser.LoadPicture(bigPng));
  EXPECT_EQ(Analyser.LastError(), "");
}

TEST_F(LoadPicture, FailureKeepsThePreviousPicture) {
  const std::string good = Dir.File("good.png");
  WritePng(good, NoiseImage(300, 200, 9));
  ASSERT_TRUE(Analyser.LoadPicture(good));
  const TBitmap24 before = Analyser.WorkingPicture();
  const std::string truncated = Dir.File("bad.png");
  const std::string bytes = ReadBytes(good);
  WriteBytes(truncated, bytes.substr(0, bytes.size() * 3 / 4));
  EXPECT_FALSE(Analyser.LoadPicture(truncated));
  EXPECT_EQ(Analyser.WorkingPicture(), before);
  EXPECT_EQ(Analyser.PictureSize(), (TPictureSize{300, 200}));
}

TEST_F(LoadPicture, SimpleTransparencyIsDropped) {
  // Palette entry 0 is red and fully transparent; a grey picture's transparent colour is 7.
  std::vector<std::vector<std::uint8_t>> paletteRows(2, std::vector<std::uint8_t>(2, 0));
  paletteRows[1][1] = 1;
  TPngLayout palette;
  palette.ColorType = 3;  // PNG_COLOR_TYPE_PALETTE
  palette.Palette = {255, 0, 0, 0, 0, 255};
  palette.Transparency = {0, 255};
  WritePngRaw(Dir.File("palette.png"), 2, 2, palette, paletteRows);
  ASSERT_TRUE(Analyser.LoadPicture(Dir.File("palette.png")));
  const std::uint8_t* first = Analyser.WorkingPicture().Row(0);
  EXPECT_EQ(std::vector<int>(first, first + 3), (std::vector<int>{0, 0, 255})) << "BGR of red";
  const std::uint8_t* last = Analyser.WorkingPicture().Row(127) + 127 * 3;
  EXPECT_EQ(std::vector<int>(last, last + 3), (std::vector<int>{255, 0, 0})) << "BGR of blue";

  TPngLayout grey;
  grey.ColorType = 0;  // PNG_COLOR_TYPE_GRAY
  grey.Transparency = {7};
  WritePngRaw(Dir.File("grey.png"), 1, 1, grey, {{7}});
  ASSERT_TRUE(Analyser.LoadPicture(Dir.File("grey.png")));
  EXPECT_EQ(Analyser.WorkingPicture().Row(64)[0], 7);
}

TEST_F(LoadPicture, AlphaIsBlendedOverWhiteWhateverCameBefore) {
  TPngLayout rgba;
  rgba.ColorType = 6;  // PNG_COLOR_TYPE_RGBA
  // Transparent, half-transparent black, opaque green.
  WritePngRaw(Dir.File("alpha.png"), 3, 1, rgba, {{0, 0, 0, 0, 0, 0, 0, 128, 0, 255, 0, 255}});
  std::vector<TBitmap24> results;
  for (const std::uint8_t background : {0, 255}) {
    const std::string before = Dir.File("before.png");
    WritePng(before, TTestImage(8, 8, background, background, background));
    ASSERT_TRUE(Analyser.LoadPicture(before));
    ASSERT_TRUE(Analyser.LoadPicture(Dir.File("alpha.png")));
    results.push_back(Analyser.WorkingPicture());
  }
  EXPECT_EQ(results[0], results[1]);
  const TBitmap24& working = results[0];
  EXPECT_EQ(working.Row(0)[0], 255) << "transparent shows white";
  EXPECT_EQ(working.Row(0)[64 * 3], 127) << "half-transparent black over white";
  EXPECT_EQ(working.Row(0)[127 * 3 + 1], 255) << "opaque green";
  EXPECT_EQ(working.Row(0)[127 * 3 + 2], 0);
}

TPngLayout Layout(int colorType, int bitDepth, std::vector<std::uint8_t> palette = {}) {
  TPngLayout layout;
  layout.ColorType = colorType;
  layout.BitDepth = bitDepth;
  layout.Palette = std::move(palette);
  return layout;
}

TEST_F(LoadPicture, PngLayoutsDecodeToTheirColours) {
  const struct {
    const char* Name;
    TPngLayout Layout;
    std::vector<std::uint8_t> Row;  // one pixel
    std::uint8_t R, G, B;
  } cases[] = {
      {"grey16", Layout(0, 16), {0x80, 0xFF}, 128, 128, 128},
      {"grey1", Layout(0, 1), {0x80}, 255, 255, 255},
      {"grey4", Layout(0, 4), {0x30}, 51, 51, 51},
      {"greyalpha", Layout(4, 8), {90, 255}, 90, 90, 90},
      {"rgb16", Layout(2, 16), {0xFF, 0xFF, 0, 0, 0x12, 0x34}, 255, 0, 18},
      {"palette4", Layout(3, 4, {10, 20, 30, 40, 50, 60}), {0x10}, 40, 50, 60},
      {"palette1", Layout(3, 1, {1, 2, 3, 4, 5, 6}), {0x00}, 1, 2, 3},
      {"beyondpalette", Layout(3, 8, {1, 2, 3}), {9}, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const std::string name = Dir.File(std::string(c.Name) + ".png");
    WritePngRaw(name, 1, 1, c.Layout, {c.Row});
    ASSERT_TRUE(Analyser.LoadPicture(name)) << c.Name;
    const std::uint8_t* pixel = Analyser.WorkingPicture().Row(100) + 100 * 3;
    EXPECT_EQ(std::vector<int>(pixel, pixel + 3), (std::vector<int>{c.B, c.G, c.R})) << c.Name;
  }
}

namespace {

// Pictures that stress the analysis in different ways: flat, smooth, sharp, noisy, few colours.
std::vector<TTestImage> VariedPictures() {
  std::vector<TTestImage> pictures;
  pictures.push_back(TTestImage(WorkingSize, WorkingSize, 0, 0, 0));
  pictures.push_back(TTestImage(WorkingSize, WorkingSize, 200, 10, 90));
  for (unsigned seed = 1; seed <= 12; ++seed) pictures.push_back(NoiseImage(WorkingSize, WorkingSize, seed));
  for (int kind = 0; kind < 6; ++kind) {
    TTestImage image(WorkingSize, WorkingSize);
    for (int y = 0; y < WorkingSize; ++y)
      for (int x = 0; x < WorkingSize; ++x) {
        const auto v = [&](int k) { return static_cast<std::uint8_t>(k & 0xFF); };
        switch (kind) {
          case 0: image.Set(x, y, v(2 * x), v(2 * y), v(x + y)); break;
          case 1: image.Set(x, y, v(x * y), v(x ^ y), v(255 - x)); break;
          case 2: image.Set(x, y, (x / 16 + y / 16) % 2 ? 255 : 0, v(y * 3), 40); break;
          case 3: image.Set(x, y, v(x * x / 64), v(y * y / 64), v((x * 7 + y * 13) % 251)); break;
          case 4: image.Set(x, y, x < 30 ? 250 : 3, y > 100 ? 200 : 17, (x + 2 * y) % 3 ? 128 : 129); break;
          default: image.Set(x, y, v(x * 37 % 256), v(y * 91 % 256), v((x * y * 13) % 256)); break;
        }
      }
    pictures.push_back(image);
  }
  return pictures;
}

}  // namespace

TEST(Analysis, FastPathGivesThePlainSignatureExactly) {
  TTempDir dir;
  TPixan fast, plain;
  const TPicVariants all = TPicVariants::FromBits(0x7F);
  const std::vector<TTestImage> pictures = VariedPictures();
  for (std::size_t i = 0; i < pictures.size(); ++i) {
    const std::string name = dir.File("p" + std::to_string(i) + ".png");
    WritePng(name, pictures[i]);
    ASSERT_TRUE(fast.LoadPicture(name));
    ASSERT_TRUE(plain.LoadPicture(name));
    for (const TPicVariants variants : {TPicVariants(), all, TPicVariants::FromBits(0x0D), TPicVariants::FromBits(0x33)}) {
      TPicSign a(all), b(all);
      ASSERT_TRUE(fast.AnalyseLoaded(a, variants));
      ASSERT_TRUE(plain.AnalyseLoadedPlain(b, variants));
      EXPECT_EQ(a, b) << "picture " << i << ", variants " << int(variants.Bits());
    }
    // Before quantisation too: a coefficient one rounding step off seldom moves a trace byte.
    for (int variant = pvOriginal; variant <= pvFlipHorizontal; ++variant) {
      const TPicVariants only = TPicVariants().Include(variant);
      TPicSign a(only), b(only);
      ASSERT_TRUE(fast.AnalyseLoaded(a, only));
      ASSERT_TRUE(plain.AnalyseLoadedPlain(b, only));
      for (int r = 0; r < TraceSide; ++r)
        for (int c = 0; c < TraceSide; ++c)
          ASSERT_EQ(fast.LastBlock().Items(r, c), plain.LastBlock().Items(r, c))
              << "picture " << i << ", variant " << variant << " at " << r << "," << c;
    }
  }
}

TEST(Analysis, FastPathMatchesOnSampledPhotos) {
  // Larger JPEG pictures go through sampling first: the working pictures are photo-like.
  TTempDir dir;
  TPixan fast, plain;
  const TPicVariants all = TPicVariants::FromBits(0x3F);
  for (int i = 0; i < 4; ++i) {
    TTestImage image(400 + 97 * i, 300 + 61 * i);
    for (int y = 0; y < image.Height; ++y)
      for (int x = 0; x < image.Width; ++x)
        image.Set(x, y, static_cast<std::uint8_t>(x * (i + 1) / 3), static_cast<std::uint8_t>(y / 2 + i * 40),
                  static_cast<std::uint8_t>((x * y) >> (8 + i)));
    const std::string name = dir.File("photo" + std::to_string(i) + ".jpg");
    WriteJpeg(name, image, 80);
    TPicSign a(all), b(all);
    ASSERT_TRUE(fast.Analyse(name, a, all));
    ASSERT_TRUE(plain.LoadPicture(name));
    ASSERT_TRUE(plain.AnalyseLoadedPlain(b, all));
    EXPECT_EQ(a, b) << name;
  }
}
