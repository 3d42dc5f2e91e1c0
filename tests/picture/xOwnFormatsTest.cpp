// Our own readers (Photoshop, Autodesk Animator, Paint Shop Pro, enhanced metafiles) through
// the analyser, on small files built here byte by byte.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "xPixan.h"
#include "xSampler.h"
#include "xTestFiles.h"

namespace {

std::string Le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; }
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Be16(unsigned v) { return {static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)}; }
std::string Be32(std::uint32_t v) { return Be16(v >> 16) + Be16(v & 0xFFFF); }
std::string Bytes(const std::vector<std::uint8_t>& v) { return {v.begin(), v.end()}; }

void ExpectWorkingIs(const TPixan& pixan, const TTestImage& image) {
  ASSERT_EQ(image.Width, WorkingSize);
  ASSERT_EQ(image.Height, WorkingSize);
  int wrong = 0;
  for (int y = 0; y < WorkingSize; ++y)
    for (int x = 0; x < WorkingSize; ++x) {
      const std::uint8_t* got = pixan.WorkingPicture().Row(y) + x * 3;
      const std::uint8_t* want = image.At(x, y);
      if ((got[0] != want[2] || got[1] != want[1] || got[2] != want[0]) && wrong++ < 3)
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): got BGR " << int(got[0]) << " " << int(got[1]) << " "
                      << int(got[2]) << ", want RGB " << int(want[0]) << " " << int(want[1]) << " " << int(want[2]);
    }
  EXPECT_EQ(wrong, 0);
}

// A picture whose red, green and blue all come from one 256-entry palette.
struct TIndexed {
  TTestImage Image{128, 128};
  std::vector<std::uint8_t> Indices = std::vector<std::uint8_t>(128 * 128);
  std::vector<std::uint8_t> Palette = std::vector<std::uint8_t>(768);  // RGB triples
};

TIndexed IndexedNoise(unsigned seed) {
  TIndexed picture;
  const TTestImage colours = NoiseImage(256, 1, seed);
  std::memcpy(picture.Palette.data(), colours.Rgb.data(), 768);
  const TTestImage noise = NoiseImage(128, 128, seed + 1);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      const std::uint8_t i = noise.At(x, y)[0];
      picture.Indices[static_cast<std::size_t>(y * 128 + x)] = i;
      picture.Image.Set(x, y, picture.Palette[i * 3U], picture.Palette[i * 3U + 1], picture.Palette[i * 3U + 2]);
    }
  return picture;
}

class OwnFormats : public ::testing::Test {
protected:
  TTempDir Dir;
  TPixan Pixan;
  std::string Write(const std::string& name, const std::string& bytes) {
    WriteBytes(Dir.File(name), bytes);
    return Dir.File(name);
  }
  void ExpectLoads(const std::string& path, int width, int height) {
    ASSERT_TRUE(Pixan.LoadPicture(path)) << path << ": " << Pixan.LastError();
    EXPECT_EQ(Pixan.PictureSize(), (TPictureSize{width, height})) << path;
  }
  void ExpectFails(const std::string& path) {
    EXPECT_FALSE(Pixan.LoadPicture(path)) << path;
    EXPECT_EQ(Pixan.LastError(), "Failed to load \"" + path + "\"") << path;
  }
};

// ---- Photoshop ------------------------------------------------------------------------------

std::string PackBits(const std::string& row) {
  std::string out;
  std::size_t i = 0;
  while (i < row.size()) {
    std::size_t run = 1;
    while (i + run < row.size() && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 3) {
      out += static_cast<char>(1 - static_cast<int>(run));
      out += row[i];
      i += run;
      continue;
    }
    std::size_t literal = 0;
    while (i + literal < row.size() && literal < 128 &&
           !(i + literal + 2 < row.size() && row[i + literal] == row[i + literal + 1] &&
             row[i + literal] == row[i + literal + 2]))
      ++literal;
    out += static_cast<char>(literal - 1);
    out += row.substr(i, literal);
    i += literal;
  }
  return out;
}

struct TPsd {
  int Width = 0, Height = 0, Depth = 8, Mode = 3;
  std::vector<std::string> Planes;  // each Height rows of Width samples (one byte, or two at 16 bits)
  std::string ColourData;
};

std::string PsdFile(const TPsd& psd, int compression, int version = 1) {
  std::string file = "8BPS" + Be16(static_cast<unsigned>(version)) + std::string(6, '\0');
  file += Be16(static_cast<unsigned>(psd.Planes.size())) + Be32(static_cast<std::uint32_t>(psd.Height)) +
          Be32(static_cast<std::uint32_t>(psd.Width)) + Be16(static_cast<unsigned>(psd.Depth)) +
          Be16(static_cast<unsigned>(psd.Mode));
  file += Be32(static_cast<std::uint32_t>(psd.ColourData.size())) + psd.ColourData;
  file += Be32(0);                                             // image resources
  file += version == 2 ? Be32(0) + Be32(0) : Be32(0);          // layers
  file += Be16(static_cast<unsigned>(compression));
  const std::size_t rowBytes = static_cast<std::size_t>(psd.Width) * (psd.Depth / 8);
  if (compression == 0) {
    for (const auto& plane : psd.Planes) file += plane;
    return file;
  }
  std::string counts, data;
  for (const auto& plane : psd.Planes)
    for (int y = 0; y < psd.Height; ++y) {
      const std::string packed = PackBits(plane.substr(static_cast<std::size_t>(y) * rowBytes, rowBytes));
      counts += version == 2 ? Be32(static_cast<std::uint32_t>(packed.size())) : Be16(static_cast<unsigned>(packed.size()));
      data += packed;
    }
  return file + counts + data;
}

TPsd RgbPsd(const TTestImage& image, int depth, int extraPlanes) {
  TPsd psd{image.Width, image.Height, depth, 3, {}, {}};
  for (int c = 0; c < 3 + extraPlanes; ++c) {
    std::string plane;
    for (int y = 0; y < image.Height; ++y)
      for (int x = 0; x < image.Width; ++x) {
        const std::uint8_t v = c < 3 ? image.At(x, y)[c] : 0x5A;
        plane += static_cast<char>(v);
        if (depth == 16) plane += static_cast<char>(255 - v);  // the low byte must not matter
      }
    psd.Planes.push_back(plane);
  }
  return psd;
}

TEST_F(OwnFormats, PhotoshopCompositeInEveryLayout) {
  const TTestImage rgb = NoiseImage(128, 128, 31);
  const TIndexed indexed = IndexedNoise(33);
  TTestImage grey = NoiseImage(128, 128, 35);
  TPsd greyPsd{128, 128, 8, 1, {""}, {}};
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      std::uint8_t* p = grey.At(x, y);
      p[1] = p[2] = p[0];
      greyPsd.Planes[0] += static_cast<char>(p[0]);
    }
  TPsd indexedPsd{128, 128, 8, 2, {Bytes(indexed.Indices)}, {}};
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) indexedPsd.ColourData += static_cast<char>(indexed.Palette[static_cast<std::size_t>(i * 3 + c)]);

  struct TCase {
    const char* Name;
    TPsd Psd;
    const TTestImage& Expected;
  };
  const TCase cases[] = {
      {"rgb8", RgbPsd(rgb, 8, 0), rgb},
      {"rgb8 with alpha", RgbPsd(rgb, 8, 1), rgb},
      {"rgb16", RgbPsd(rgb, 16, 0), rgb},
      {"grey", greyPsd, grey},
      {"indexed", indexedPsd, indexed.Image},
  };
  for (const auto& c : cases)
    for (int compression : {0, 1})
      for (const char* extension : {".psd", ".pdd"}) {
        SCOPED_TRACE(std::string(c.Name) + " compression " + std::to_string(compression) + extension);
        const std::string path = Write(std::string("p") + extension, PsdFile(c.Psd, compression));
        ExpectLoads(path, 128, 128);
        ExpectWorkingIs(Pixan, c.Expected);
      }
  // The large-document variant stores longer lengths.
  const std::string large = Write("large.psd", PsdFile(RgbPsd(rgb, 8, 0), 1, 2));
  ExpectLoads(large, 128, 128);
  ExpectWorkingIs(Pixan, rgb);
}

TEST_F(OwnFormats, PhotoshopCmykAndOddSizes) {
  // Stored inverted: 255 is no ink. Cyan 200, magenta 100, yellow 50 over black 128.
  TPsd cmyk{40, 30, 8, 4, {}, {}};
  for (std::uint8_t v : {200, 100, 50, 128}) cmyk.Planes.push_back(std::string(40 * 30, static_cast<char>(v)));
  ExpectLoads(Write("cmyk.psd", PsdFile(cmyk, 1)), 40, 30);
  const std::uint8_t* p = Pixan.WorkingPicture().Row(64) + 64 * 3;
  EXPECT_NEAR(p[2], 100, 1);
  EXPECT_NEAR(p[1], 50, 1);
  EXPECT_NEAR(p[0], 25, 1);

  const TTestImage wide = NoiseImage(1000, 3, 37);
  ExpectLoads(Write("wide.psd", PsdFile(RgbPsd(wide, 8, 0), 1)), 1000, 3);
  const std::uint8_t* q = Pixan.WorkingPicture().Row(127) + 127 * 3;
  const std::uint8_t* source = wide.At(TPointSampler::SourceIndex(127, WorkingSize, 1000), 2);
  EXPECT_TRUE(q[0] == source[2] && q[1] == source[1] && q[2] == source[0]);
}

TEST_F(OwnFormats, PhotoshopFailures) {
  const TTestImage rgb = NoiseImage(64, 64, 39);
  const std::string good = PsdFile(RgbPsd(rgb, 8, 0), 1);
  std::string bitmapMode = good, labMode = good, deep = good, zip = good, longRow = good;
  bitmapMode[25] = 0;
  labMode[25] = 9;
  deep[23] = 32;
  zip[26 + 4 + 4 + 4 + 1] = 2;  // compression after the three empty sections
  // The first row claims more packed bytes than a row can take.
  longRow.replace(26 + 12 + 2, 2, Be16(1000));
  std::string huge = good;
  huge.replace(14, 8, Be32(60000) + Be32(60000));
  const std::pair<const char*, std::string> files[] = {
      {"bitmap.psd", bitmapMode}, {"lab.psd", labMode},        {"deep.psd", deep},
      {"zip.psd", zip},           {"longrow.psd", longRow},    {"huge.psd", huge},
      {"cut.psd", good.substr(0, good.size() - 10)}, {"header.pdd", good.substr(0, 20)}};
  for (const auto& [name, bytes] : files) ExpectFails(Write(name, bytes));
  // A large document whose colour section claims almost 2^63 bytes (found by fuzzing: skipping
  // it overflowed the reader's position).
  ExpectFails(Write("skip.psd", std::string("8BPS\x00\x02\x01\x00\x00\x00\x00\x00\x00\x01\x00\x00\x0a\x1a\x00\x00"
                                            "\x00\x23\x00\x08\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\xc4\xc4\xc4\xc4",
                                            38) + std::string(12, '\0')));

  // A row whose packed bytes unpack to too few or too many pixels.
  TPsd flat = RgbPsd(TTestImage(16, 2, 1, 2, 3), 8, 0);
  std::string bad = PsdFile(flat, 1);
  const std::size_t firstRow = 26 + 12 + 2 + 3 * 2 * 2;
  bad[firstRow] = static_cast<char>(-14);  // 15 copies instead of 16
  ExpectFails(Write("short.psd", bad));
}

// ---- Autodesk Animator ----------------------------------------------------------------------

std::string CelFile(int width, int height, const std::vector<std::uint8_t>& palette6,
                    const std::vector<std::uint8_t>& indices) {
  std::string file = Le16(0x9119) + Le16(static_cast<unsigned>(width)) + Le16(static_cast<unsigned>(height)) +
                     Le16(0) + Le16(0) + std::string(1, '\x08') + std::string(1, '\0') +
                     Le32(static_cast<std::uint32_t>(width * height)) + std::string(16, '\0');
  return file + Bytes(palette6) + Bytes(indices);
}

TEST_F(OwnFormats, AnimatorCelsAndPictures) {
  TIndexed picture = IndexedNoise(41);
  std::vector<std::uint8_t> palette6(768);
  for (std::size_t i = 0; i < 768; ++i) palette6[i] = static_cast<std::uint8_t>(picture.Palette[i] >> 2);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      const std::size_t i = picture.Indices[static_cast<std::size_t>(y * 128 + x)];
      // Six bits stretched to eight: 63 becomes 255.
      auto full = [](std::uint8_t v) { return static_cast<std::uint8_t>((v * 255 + 31) / 63); };
      picture.Image.Set(x, y, full(palette6[i * 3]), full(palette6[i * 3 + 1]), full(palette6[i * 3 + 2]));
    }
  for (const char* extension : {".cel", ".pic"}) {
    ExpectLoads(Write(std::string("a") + extension, CelFile(128, 128, palette6, picture.Indices)), 128, 128);
    ExpectWorkingIs(Pixan, picture.Image);
  }
  ExpectLoads(Write("screen.pic", CelFile(320, 200, palette6, std::vector<std::uint8_t>(64000, 7))), 320, 200);

  const std::string good = CelFile(128, 128, palette6, picture.Indices);
  std::string eightBit = good, wrongMagic = good, wrongDepth = good, huge = good;
  eightBit[32 + 5] = 64;  // palette components have six bits
  wrongMagic[0] = 0x20;
  wrongDepth[10] = 4;
  huge.replace(2, 4, Le16(65535) + Le16(65535));
  huge.replace(12, 4, Le32(65535U * 65535U));
  const std::pair<const char*, std::string> files[] = {{"eight.cel", eightBit}, {"magic.cel", wrongMagic},
                                                       {"depth.pic", wrongDepth}, {"huge.cel", huge},
                                                       {"cut.cel", good.substr(0, good.size() - 1)}};
  for (const auto& [name, bytes] : files) ExpectFails(Write(name, bytes));
}

// ---- Paint Shop Pro -------------------------------------------------------------------------

struct TPspChannel {
  int BitmapType;   // 0 colours, 1 transparency mask
  int ChannelType;  // 0 single channel, 1 red, 2 green, 3 blue
  std::string Samples;
};

struct TPspLayer {
  int Type = 1;  // raster
  int Left = 0, Top = 0, Width = 0, Height = 0;
  std::vector<TPspChannel> Channels;
};

struct TPsp {
  int Major = 5;
  int Width = 0, Height = 0, Depth = 24, Compression = 0;
  bool Grey = false;
  std::vector<std::uint8_t> Palette;  // RGB triples
  std::vector<TPspLayer> Layers;
};

std::string PspRle(const std::string& samples) {
  std::string out;
  for (std::size_t i = 0; i < samples.size();) {
    std::size_t run = 1;
    while (i + run < samples.size() && run < 127 && samples[i + run] == samples[i]) ++run;
    if (run >= 3) {
      out += static_cast<char>(128 + run);
      out += samples[i];
      i += run;
    } else {
      const std::size_t literal = std::min<std::size_t>(128, samples.size() - i);
      const std::size_t take = std::min<std::size_t>(literal, 100);
      out += static_cast<char>(take);
      out += samples.substr(i, take);
      i += take;
    }
  }
  return out;
}

std::string Compressed(const std::string& samples, int compression) {
  if (compression == 1) return PspRle(samples);
  if (compression == 2) {
    uLongf length = compressBound(static_cast<uLong>(samples.size()));
    std::string out(length, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &length, reinterpret_cast<const Bytef*>(samples.data()),
             static_cast<uLong>(samples.size()));
    out.resize(length);
    return out;
  }
  return samples;
}

std::string PspBlock(int major, int id, const std::string& content, std::size_t initial = 0) {
  std::string block = std::string("~BK\0", 4) + Le16(static_cast<unsigned>(id));
  if (major < 4) block += Le32(static_cast<std::uint32_t>(initial));
  return block + Le32(static_cast<std::uint32_t>(content.size())) + content;
}

std::string Rect(int left, int top, int right, int bottom) {
  return Le32(static_cast<std::uint32_t>(left)) + Le32(static_cast<std::uint32_t>(top)) +
         Le32(static_cast<std::uint32_t>(right)) + Le32(static_cast<std::uint32_t>(bottom));
}

std::string PspFile(const TPsp& psp) {
  const bool v4 = psp.Major >= 4;
  std::string file = std::string("Paint Shop Pro Image File\n\x1a", 27) + std::string(5, '\0') +
                     Le16(static_cast<unsigned>(psp.Major)) + Le16(0);
  std::string image = Le32(static_cast<std::uint32_t>(psp.Width)) + Le32(static_cast<std::uint32_t>(psp.Height)) +
                      std::string(8, '\0') + std::string(1, '\x01') + Le16(static_cast<unsigned>(psp.Compression)) +
                      Le16(static_cast<unsigned>(psp.Depth)) + Le16(1) + Le32(psp.Depth == 24 ? 1U << 24 : 256) +
                      std::string(1, psp.Grey ? '\x01' : '\0') + Le32(0) + Le32(0) +
                      Le16(static_cast<unsigned>(psp.Layers.size()));
  if (v4) image = Le32(46) + image + Le32(1);
  file += PspBlock(psp.Major, 0, image, image.size());
  if (!psp.Palette.empty()) {
    std::string colours = Le32(static_cast<std::uint32_t>(psp.Palette.size() / 3));
    for (std::size_t i = 0; i < psp.Palette.size(); i += 3)
      colours += {static_cast<char>(psp.Palette[i + 2]), static_cast<char>(psp.Palette[i + 1]),
                  static_cast<char>(psp.Palette[i]), 0};
    if (v4) colours = Le32(8) + colours;
    file += PspBlock(psp.Major, 2, colours, colours.size());
  }
  std::string bank;
  for (const auto& layer : psp.Layers) {
    std::string info;
    const std::string rect = Rect(layer.Left, layer.Top, layer.Left + layer.Width, layer.Top + layer.Height);
    std::string tail = std::string(5, '\xff') + Rect(0, 0, 0, 0) + Rect(0, 0, 0, 0) + std::string(3, '\0');
    if (v4) {
      info = Le16(4) + "Back" + static_cast<char>(layer.Type) + rect + rect + tail + Le16(0);
      info = Le32(static_cast<std::uint32_t>(info.size() + 4)) + info;
      info += Le32(8) + Le16(1) + Le16(static_cast<unsigned>(layer.Channels.size()));
    } else {
      info = std::string(256, '\0') + static_cast<char>(layer.Type) + rect + rect + tail + std::string(40, '\0') +
             Le16(1) + Le16(static_cast<unsigned>(layer.Channels.size()));
    }
    const std::size_t initial = info.size();
    for (const auto& channel : layer.Channels) {
      const std::string data = Compressed(channel.Samples, psp.Compression);
      std::string chunk = Le32(static_cast<std::uint32_t>(data.size())) +
                          Le32(static_cast<std::uint32_t>(channel.Samples.size())) +
                          Le16(static_cast<unsigned>(channel.BitmapType)) + Le16(static_cast<unsigned>(channel.ChannelType));
      if (v4) chunk = Le32(16) + chunk;
      info += PspBlock(psp.Major, 5, chunk + data, chunk.size());
    }
    bank += PspBlock(psp.Major, 4, info, initial);
  }
  file += PspBlock(psp.Major, 3, bank, 0);
  return file;
}

std::string Plane(const TTestImage& image, int c) {
  std::string plane;
  for (int y = 0; y < image.Height; ++y)
    for (int x = 0; x < image.Width; ++x) plane += static_cast<char>(image.At(x, y)[c]);
  return plane;
}

TPspLayer RgbLayer(const TTestImage& image) {
  return {1, 0, 0, image.Width, image.Height, {{0, 1, Plane(image, 0)}, {0, 2, Plane(image, 1)}, {0, 3, Plane(image, 2)}}};
}

TEST_F(OwnFormats, PaintShopProLayersInEveryCompression) {
  const TTestImage rgb = NoiseImage(128, 128, 43);
  TTestImage grey = NoiseImage(128, 128, 45);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) grey.At(x, y)[1] = grey.At(x, y)[2] = grey.At(x, y)[0];
  const TIndexed indexed = IndexedNoise(47);
  // Long runs as well as noise, so that the run-length coder repeats too.
  TTestImage banded = rgb;
  for (int y = 0; y < 128; y += 3)
    for (int x = 0; x < 128; ++x) banded.Set(x, y, 9, 99, 199);

  for (int major : {3, 5})
    for (int compression : {0, 1, 2}) {
      SCOPED_TRACE("format " + std::to_string(major) + " compression " + std::to_string(compression));
      TPsp colour{major, 128, 128, 24, compression, false, {}, {RgbLayer(banded)}};
      ExpectLoads(Write("colour.psp", PspFile(colour)), 128, 128);
      ExpectWorkingIs(Pixan, banded);

      TPsp greyPsp{major, 128, 128, 8, compression, true, {}, {{1, 0, 0, 128, 128, {{0, 0, Plane(grey, 0)}}}}};
      ExpectLoads(Write("grey.psp", PspFile(greyPsp)), 128, 128);
      ExpectWorkingIs(Pixan, grey);

      TPsp palette{major, 128, 128, 8, compression, false, indexed.Palette,
                   {{1, 0, 0, 128, 128, {{0, 0, Bytes(indexed.Indices)}}}}};
      ExpectLoads(Write("palette.psp", PspFile(palette)), 128, 128);
      ExpectWorkingIs(Pixan, indexed.Image);
    }
}

// The first raster layer is placed on the canvas; its transparency mask and the canvas around
// it show white. Layers of other kinds before it are passed over.
TEST_F(OwnFormats, PaintShopProPlacesTheFirstRasterLayer) {
  const TTestImage patch = NoiseImage(64, 32, 49);
  TPspLayer layer = RgbLayer(patch);
  layer.Left = 32;
  layer.Top = 64;
  std::string mask(64 * 32, '\xff');
  for (int y = 0; y < 32; ++y) mask[static_cast<std::size_t>(y * 64)] = '\0';  // left column clear
  layer.Channels.push_back({1, 0, mask});
  TPspLayer vector{3, 0, 0, 128, 128, {}};
  TPsp psp{5, 128, 128, 24, 2, false, {}, {vector, layer, RgbLayer(TTestImage(128, 128, 1, 2, 3))}};
  ExpectLoads(Write("placed.psp", PspFile(psp)), 128, 128);
  TTestImage expected(128, 128, 255, 255, 255);
  for (int y = 0; y < 32; ++y)
    for (int x = 1; x < 64; ++x) {
      const std::uint8_t* p = patch.At(x, y);
      expected.Set(32 + x, 64 + y, p[0], p[1], p[2]);
    }
  ExpectWorkingIs(Pixan, expected);
}

TEST_F(OwnFormats, PaintShopProFailures) {
  const TTestImage rgb = NoiseImage(32, 32, 51);
  TPsp good{5, 32, 32, 24, 2, false, {}, {RgbLayer(rgb)}};
  const std::string bytes = PspFile(good);
  TPsp noRaster = good;
  noRaster.Layers[0].Type = 3;
  TPsp missingBlue = good;
  missingBlue.Layers[0].Channels.pop_back();
  TPsp palettedWithoutPalette{5, 32, 32, 8, 0, false, {}, {{1, 0, 0, 32, 32, {{0, 0, std::string(1024, '\x01')}}}}};
  TPsp fourBit = palettedWithoutPalette;
  fourBit.Depth = 4;
  TPsp huge = good;
  huge.Width = huge.Height = 60000;
  TPsp shortRle = good;
  shortRle.Compression = 1;
  std::string shortRleBytes = PspFile(shortRle);
  shortRleBytes.resize(shortRleBytes.size() - 5);  // the last channel ends early
  std::string badZip = bytes;
  badZip[badZip.rfind("\x78\x9c")] = '\x79';  // the zlib header of the last channel
  std::string badSignature = bytes;
  badSignature[0] = 'p';
  const std::pair<const char*, std::string> files[] = {
      {"noraster.psp", PspFile(noRaster)},   {"noblue.psp", PspFile(missingBlue)},
      {"nopal.psp", PspFile(palettedWithoutPalette)}, {"fourbit.psp", PspFile(fourBit)},
      {"huge.psp", PspFile(huge)},           {"cutrle.psp", shortRleBytes},
      {"badzip.psp", badZip},                {"signature.psp", badSignature},
      {"cut.psp", bytes.substr(0, bytes.size() / 2)}};
  for (const auto& [name, file] : files) ExpectFails(Write(name, file));
}

// ---- Enhanced metafiles ---------------------------------------------------------------------

// A metafile whose frame is width x height pixels of its reference device (10 pixels a
// millimetre), painted with one red rectangle and no outline.
std::string RedEmf(int width, int height) {
  std::string records;
  records += Le32(39) + Le32(24) + Le32(1) + Le32(0) + Le32(0x000000FF) + Le32(0);  // brush 1: solid red
  records += Le32(37) + Le32(12) + Le32(1);                                           // select it
  records += Le32(37) + Le32(12) + Le32(0x80000008);                                  // the null pen
  records += Le32(43) + Le32(24) + Le32(0) + Le32(0) + Le32(static_cast<std::uint32_t>(width)) +
             Le32(static_cast<std::uint32_t>(height));  // rectangle
  records += Le32(14) + Le32(20) + Le32(0) + Le32(16) + Le32(20);                     // end of file
  const std::uint32_t total = 88 + static_cast<std::uint32_t>(records.size());
  std::string header = Le32(1) + Le32(88) + Rect(0, 0, width - 1, height - 1) + Rect(0, 0, width * 10, height * 10) +
                       Le32(0x464D4520) + Le32(0x10000) + Le32(total) + Le32(6) + Le16(2) + Le16(0) + Le32(0) +
                       Le32(0) + Le32(0) + Le32(1000) + Le32(1000) + Le32(100) + Le32(100);
  return header + records;
}

TEST_F(OwnFormats, EnhancedMetafiles) {
  ExpectLoads(Write("red.emf", RedEmf(100, 50)), 100, 50);
  for (int y : {10, 64, 120})
    for (int x : {10, 64, 120}) {
      const std::uint8_t* p = Pixan.WorkingPicture().Row(y) + x * 3;
      EXPECT_TRUE(p[2] > 240 && p[1] < 16 && p[0] < 16) << x << ", " << y << ": " << int(p[2]) << " " << int(p[1])
                                                        << " " << int(p[0]);
    }
  const std::string good = RedEmf(100, 50);
  std::string noEof = good, badRecord = good, badSignature = good;
  noEof.replace(good.size() - 20, 4, Le32(70));  // the last record is not the end
  badRecord.replace(88 + 4, 4, Le32(7));         // a record size that is not a multiple of four
  badSignature[40] = 'X';
  const std::pair<const char*, std::string> files[] = {{"noeof.emf", noEof},
                                                       {"badrecord.emf", badRecord},
                                                       {"signature.emf", badSignature},
                                                       {"huge.emf", RedEmf(60000, 60000)},
                                                       {"cut.emf", good.substr(0, good.size() - 8)}};
  for (const auto& [name, bytes] : files) ExpectFails(Write(name, bytes));
  // A frame without area decodes to nothing.
  const std::string empty = Write("empty.emf", RedEmf(0, 50));
  EXPECT_FALSE(Pixan.LoadPicture(empty));
  EXPECT_EQ(Pixan.LastError(), "Empty image in \"" + empty + "\"");
}

// Damaged copies of good files, one byte changed at a time across the whole file: each either
// loads or fails with one of the documented messages, and never reads out of bounds (the sanitizer
// builds watch that).
TEST_F(OwnFormats, DamagedCopiesNeverCrash) {
  const TTestImage rgb = NoiseImage(24, 16, 53);
  std::vector<std::uint8_t> palette6(768, 21);
  const std::pair<const char*, std::string> goods[] = {
      {".psd", PsdFile(RgbPsd(rgb, 8, 1), 1)},
      {".cel", CelFile(24, 16, palette6, std::vector<std::uint8_t>(24 * 16, 3))},
      {".psp", PspFile({5, 24, 16, 24, 1, false, {}, {RgbLayer(rgb)}})},
      {".psp", PspFile({3, 24, 16, 24, 2, false, {}, {RgbLayer(rgb)}})},
      {".emf", RedEmf(30, 20)}};
  std::uint32_t state = 12345;
  for (const auto& [extension, good] : goods) {
    const std::string path = Dir.File(std::string("damaged") + extension);
    for (std::size_t at = 0; at < good.size(); at += 1 + good.size() / 400) {
      std::string bytes = good;
      state = state * 1664525U + 1013904223U;
      bytes[at] = static_cast<char>(state >> 24);
      WriteBytes(path, bytes);
      if (Pixan.LoadPicture(path)) continue;
      const std::string& error = Pixan.LastError();
      EXPECT_TRUE(error == "Failed to load \"" + path + "\"" || error == "Empty image in \"" + path + "\"")
          << at << ": " << error;
    }
  }
}

}  // namespace
