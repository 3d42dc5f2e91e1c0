// The format registry through the analyser: every extension that decodes gives the right size
// and pixels, every one counts as a picture, and damaged or hostile files fail with the
// documented message.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <Magick++.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "xPicDecode.h"
#include "xPixan.h"
#include "xTestFiles.h"

namespace {

// Every extension the registry knows, with its dot.
const std::vector<std::string> RegistryExtensions = {
    ".bmp", ".rle", ".dib", ".ico", ".wmf", ".emf", ".jfif", ".jpg", ".jpe", ".jpeg", ".win", ".vst", ".vda",
    ".tga", ".icb", ".tiff", ".tif", ".fax", ".eps", ".pcx", ".pcc", ".scr", ".rpf", ".rla", ".sgi", ".rgba",
    ".rgb", ".bw", ".psd", ".pdd", ".ppm", ".pgm", ".pbm", ".cel", ".pic", ".pcd", ".cut", ".psp", ".png"};

// Extensions whose decoders leave LastError empty on failure: the caller words the message.
bool Direct(const std::string& extension) {
  return extension == ".bmp" || extension == ".jpg" || extension == ".jpeg" || extension == ".png";
}

std::string FailedMessage(const std::string& path) { return "Failed to load \"" + path + "\""; }

std::string Le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; }
std::string Le32(std::uint32_t v) { return Le16(v & 0xFFFF) + Le16(v >> 16); }
std::string Be16(unsigned v) { return {static_cast<char>(v >> 8 & 0xFF), static_cast<char>(v & 0xFF)}; }
std::string Be32(std::uint32_t v) { return Be16(v >> 16) + Be16(v & 0xFFFF); }

// The working picture must equal the 128 x 128 image pixel for pixel (it holds blue, green, red).
void ExpectWorkingIs(const TPixan& pixan, const TTestImage& image) {
  ASSERT_EQ(image.Width, WorkingSize);
  ASSERT_EQ(image.Height, WorkingSize);
  const TBitmap24& working = pixan.WorkingPicture();
  int wrong = 0;
  for (int y = 0; y < WorkingSize; ++y)
    for (int x = 0; x < WorkingSize; ++x) {
      const std::uint8_t* got = working.Row(y) + x * 3;
      const std::uint8_t* want = image.At(x, y);
      if ((got[0] != want[2] || got[1] != want[1] || got[2] != want[0]) && wrong++ < 3)
        ADD_FAILURE() << "pixel (" << x << ", " << y << "): got BGR " << int(got[0]) << " " << int(got[1]) << " "
                      << int(got[2]) << ", want RGB " << int(want[0]) << " " << int(want[1]) << " " << int(want[2]);
    }
  EXPECT_EQ(wrong, 0);
}

// Every pixel of the working picture, but for a border of `margin` (where drawn edges are
// smoothed), lies within `tolerance` of the colour.
void ExpectWorkingNear(const TPixan& pixan, int r, int g, int b, int tolerance, int margin = 0) {
  const TBitmap24& working = pixan.WorkingPicture();
  int wrong = 0;
  for (int y = margin; y < WorkingSize - margin; ++y)
    for (int x = margin; x < WorkingSize - margin; ++x) {
      const std::uint8_t* p = working.Row(y) + x * 3;
      if ((std::abs(p[2] - r) > tolerance || std::abs(p[1] - g) > tolerance || std::abs(p[0] - b) > tolerance) &&
          wrong++ < 3)
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is RGB " << int(p[2]) << " " << int(p[1]) << " "
                      << int(p[0]);
    }
  EXPECT_EQ(wrong, 0);
}

TTestImage GreyNoise(int width, int height, unsigned seed) {
  TTestImage image = NoiseImage(width, height, seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.At(x, y);
      p[1] = p[2] = p[0];
    }
  return image;
}

TTestImage BlackAndWhite(int width, int height, unsigned seed) {
  TTestImage image = NoiseImage(width, height, seed);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = image.At(x, y);
      p[0] = p[1] = p[2] = p[0] < 128 ? 0 : 255;
    }
  return image;
}

// A 256-colour bitmap with run-length encoded rows (BI_RLE8), 128 x 128: each row is one run
// of colour y % 4 over the left half and literal pixels over the right half.
std::string Rle8Bitmap(TTestImage& expected) {
  const std::uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
  std::string palette;
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t* c = colours[i % 4];
    palette += {static_cast<char>(c[2]), static_cast<char>(c[1]), static_cast<char>(c[0]), 0};
  }
  std::string data;
  expected = TTestImage(128, 128);
  for (int row = 0; row < 128; ++row) {  // stored from the bottom
    const int y = 127 - row;
    data += {static_cast<char>(64), static_cast<char>(y % 4)};
    data += {0, static_cast<char>(64)};  // 64 literal pixels
    for (int x = 64; x < 128; ++x) data += static_cast<char>((x + y) % 4);
    data += {0, 0};  // end of line
    for (int x = 0; x < 128; ++x) {
      const std::uint8_t* c = colours[x < 64 ? y % 4 : (x + y) % 4];
      expected.Set(x, y, c[0], c[1], c[2]);
    }
  }
  data += {0, 1};  // end of bitmap
  const std::uint32_t offset = 14 + 40 + static_cast<std::uint32_t>(palette.size());
  std::string file = "BM" + Le32(offset + static_cast<std::uint32_t>(data.size())) + Le32(0) + Le32(offset);
  file += Le32(40) + Le32(128) + Le32(128) + Le16(1) + Le16(8) + Le32(1) + Le32(static_cast<std::uint32_t>(data.size())) +
          Le32(2835) + Le32(2835) + Le32(256) + Le32(0);
  return file + palette + data;
}

// A 32-bit icon, 32 x 32, with straight alpha: the left half opaque, the right half clear.
std::string Icon32(const TTestImage& image) {
  const int size = 32;
  std::string bitmap = Le32(40) + Le32(size) + Le32(size * 2) + Le16(1) + Le16(32) + Le32(0) + Le32(0) + Le32(0) +
                       Le32(0) + Le32(0) + Le32(0);
  for (int row = size - 1; row >= 0; --row)
    for (int x = 0; x < size; ++x) {
      const std::uint8_t* p = image.At(x, row);
      bitmap += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0]),
                 static_cast<char>(x < size / 2 ? 255 : 0)};
    }
  for (int row = 0; row < size; ++row) bitmap += std::string("\0\0\xff\xff", 4);  // AND mask: the right half clear
  std::string file = Le16(0) + Le16(1) + Le16(1);
  file += {static_cast<char>(size), static_cast<char>(size), 0, 0};
  file += Le16(1) + Le16(32) + Le32(static_cast<std::uint32_t>(bitmap.size())) + Le32(22);
  return file + bitmap;
}

// A placeable Windows metafile, 100 x 50 units at 72 units an inch, filled with one rectangle.
std::string RedMetafile() {
  std::string placeable = Le32(0x9AC6CDD7) + Le16(0) + Le16(0) + Le16(0) + Le16(100) + Le16(50) + Le16(72) + Le32(0);
  unsigned checksum = 0;
  for (std::size_t i = 0; i < 20; i += 2)
    checksum ^= static_cast<unsigned char>(placeable[i]) | static_cast<unsigned char>(placeable[i + 1]) << 8;
  placeable += Le16(checksum);
  std::string records;
  records += Le32(5) + Le16(0x020B) + Le16(0) + Le16(0);      // SetWindowOrg
  records += Le32(5) + Le16(0x020C) + Le16(50) + Le16(100);   // SetWindowExt
  records += Le32(7) + Le16(0x02FC) + Le16(0) + Le32(0x000000FF) + Le16(0);  // CreateBrushIndirect: red
  records += Le32(4) + Le16(0x012D) + Le16(0);                // SelectObject
  records += Le32(8) + Le16(0x02FA) + Le16(5) + Le32(0) + Le32(0);  // CreatePenIndirect: no outline
  records += Le32(4) + Le16(0x012D) + Le16(1);
  records += Le32(7) + Le16(0x041B) + Le16(51) + Le16(101) + Le16(0) + Le16(0);  // Rectangle
  records += Le32(3) + Le16(0);                               // end
  const std::uint32_t words = static_cast<std::uint32_t>((18 + records.size()) / 2);
  std::string header = Le16(1) + Le16(9) + Le16(0x0300) + Le32(words) + Le16(2) + Le32(8) + Le16(0);
  return placeable + header + records;
}

// A Dr. Halo picture: one byte a pixel, each row a counted run-length line.
std::string HaloCut(const TTestImage& grey) {
  std::string file = Le16(static_cast<unsigned>(grey.Width)) + Le16(static_cast<unsigned>(grey.Height)) + Le16(0);
  for (int y = 0; y < grey.Height; ++y) {
    std::string line;
    for (int x = 0; x < grey.Width; x += 64) {
      const int count = std::min(64, grey.Width - x);
      line += static_cast<char>(count);  // literal run
      for (int i = 0; i < count; ++i) line += static_cast<char>(grey.At(x + i, y)[0]);
    }
    line += '\0';
    file += Le16(static_cast<unsigned>(line.size())) + line;
  }
  return file;
}

// An Alias/Wavefront picture (third revision of the header), 8 bits a channel: a header, the
// offsets of the scanlines from the bottom up, then each scanline as counted runs per channel.
std::string WavefrontRla(const TTestImage& image) {
  std::string header = Be16(0) + Be16(static_cast<unsigned>(image.Width - 1)) + Be16(0) +
                       Be16(static_cast<unsigned>(image.Height - 1));
  header += header;  // the active window is the whole window
  header += Be16(1) + Be16(0) + Be16(3) + Be16(0) + Be16(0) + Be16(0xFFFE);  // frame, 8 bits, 3 channels
  header += std::string(16 + 4 * 24, '\0') + Be32(0) + std::string(128 + 128 + 64 + 32 + 32 + 20 + 24 + 8, '\0');
  header += std::string("rgb") + std::string(29, '\0') + Be16(0);
  header += std::string(12 + 32, '\0') + Be16(8) + Be16(0) + Be16(0) + Be16(0) + Be16(0) + std::string(32 + 36, '\0') +
            Be32(0);
  std::string lines;
  std::vector<std::uint32_t> offsets;
  const std::size_t dataStart = header.size() + static_cast<std::size_t>(image.Height) * 4;
  for (int y = image.Height - 1; y >= 0; --y) {
    offsets.push_back(static_cast<std::uint32_t>(dataStart + lines.size()));
    for (int c = 0; c < 3; ++c) {
      std::string runs;
      for (int x = 0; x < image.Width; x += 128) {
        const int count = std::min(128, image.Width - x);
        runs += static_cast<char>(-count);  // that many bytes as they are
        for (int i = 0; i < count; ++i) runs += static_cast<char>(image.At(x + i, y)[c]);
      }
      lines += Be16(static_cast<unsigned>(runs.size())) + runs;
    }
  }
  std::string table;
  for (std::uint32_t offset : offsets) table += Be32(offset);
  return header + table + lines;
}

class Registry : public ::testing::Test {
protected:
  TTempDir Dir;
  TPixan Pixan;

  std::string Path(const std::string& name) const { return Dir.File(name); }
  void ExpectLoads(const std::string& path, int width, int height) {
    ASSERT_TRUE(Pixan.LoadPicture(path)) << path << ": " << Pixan.LastError();
    EXPECT_EQ(Pixan.LastError(), "");
    EXPECT_EQ(Pixan.PictureSize(), (TPictureSize{width, height})) << path;
  }
};

struct TWritten {
  const char* Extension;
  const char* Coder;
};

// Formats GraphicsMagick writes losslessly: a 128 x 128 noise picture comes back pixel for pixel.
TEST_F(Registry, LosslessFormatsLoadPixelForPixel) {
  const TTestImage image = NoiseImage(128, 128, 7);
  const TWritten formats[] = {{".bmp", "BMP"},   {".dib", "BMP"},  {".tga", "TGA"},  {".win", "TGA"},
                              {".vst", "TGA"},   {".vda", "TGA"},  {".icb", "TGA"},  {".tif", "TIFF"},
                              {".tiff", "TIFF"}, {".pcx", "PCX"},  {".pcc", "PCX"},  {".sgi", "SGI"},
                              {".rgb", "SGI"},   {".rgba", "SGI"}, {".bw", "SGI"},   {".ppm", "PPM"}};
  for (const auto& format : formats) {
    SCOPED_TRACE(format.Extension);
    const std::string path = Path(std::string("noise") + format.Extension);
    WriteMagick(path, image, format.Coder);
    ExpectLoads(path, 128, 128);
    ExpectWorkingIs(Pixan, image);
  }
}

// A 24-bit bitmap with a version 5 header, as ImageMagick and many editors write it: the header
// carries an alpha mask although the pixels have no alpha. The picture must not depend on what
// was decoded before it.
TEST_F(Registry, BitmapWithVersion5HeaderHasNoAlpha) {
  const TTestImage image = NoiseImage(128, 128, 11);
  auto le32 = [](std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xFF);
    return bytes;
  };
  const std::uint32_t rowBytes = 128 * 3, pixels = rowBytes * 128;
  std::string info = le32(124) + le32(128) + le32(128) + std::string("\x01\x00\x18\x00", 4) + le32(0) + le32(pixels) +
                     le32(2835) + le32(2835) + le32(0) + le32(0) + le32(0x00FF0000) + le32(0x0000FF00) +
                     le32(0x000000FF) + le32(0xFF000000) + le32(0x73524742);
  info.resize(124, '\0');
  std::string bitmap = "BM" + le32(14 + 124 + pixels) + le32(0) + le32(14 + 124) + info;
  for (int y = 127; y >= 0; --y)  // bottom-up
    for (int x = 0; x < 128; ++x) {
      const std::uint8_t* p = image.At(x, y);
      bitmap += static_cast<char>(p[2]);
      bitmap += static_cast<char>(p[1]);
      bitmap += static_cast<char>(p[0]);
    }
  const std::string path = Path("version5.bmp");
  WriteBytes(path, bitmap);
  for (const std::uint8_t before : {0, 255}) {
    SCOPED_TRACE(int(before));
    const std::string previous = Path("before.png");
    WritePng(previous, TTestImage(128, 128, before, before, before));
    ASSERT_TRUE(Pixan.LoadPicture(previous));
    ExpectLoads(path, 128, 128);
    ExpectWorkingIs(Pixan, image);
  }
}

TEST_F(Registry, GreyAndBilevelFormats) {
  const TTestImage grey = GreyNoise(128, 128, 3);
  WriteMagick(Path("grey.pgm"), grey, "PGM");
  ExpectLoads(Path("grey.pgm"), 128, 128);
  ExpectWorkingIs(Pixan, grey);

  const TTestImage bilevel = BlackAndWhite(128, 128, 4);
  WriteMagick(Path("bits.pbm"), bilevel, "PBM");
  ExpectLoads(Path("bits.pbm"), 128, 128);
  ExpectWorkingIs(Pixan, bilevel);

  // A fax is a bilevel TIFF with fax compression.
  Magick::Image fax(Magick::Geometry(128, 128), "white");
  fax.read(128, 128, "RGB", Magick::CharPixel, bilevel.Rgb.data());
  fax.type(Magick::BilevelType);
  fax.compressType(Magick::FaxCompression);
  fax.write("TIFF:" + Path("page.fax"));
  ExpectLoads(Path("page.fax"), 128, 128);
  ExpectWorkingIs(Pixan, bilevel);

  const TTestImage cutGrey = GreyNoise(128, 128, 5);
  WriteBytes(Path("halo.cut"), HaloCut(cutGrey));
  ExpectLoads(Path("halo.cut"), 128, 128);
  ExpectWorkingIs(Pixan, cutGrey);
}

TEST_F(Registry, WavefrontUnderRlaAndRpf) {
  const TTestImage image = NoiseImage(128, 128, 19);
  for (const char* extension : {".rla", ".rpf"}) {
    const std::string path = Path(std::string("render") + extension);
    WriteBytes(path, WavefrontRla(image));
    ExpectLoads(path, 128, 128);
    ExpectWorkingIs(Pixan, image);
  }
}

// A packed DIB (no file header) under ".dib", and Word's screen captures: PCX files with the
// signature byte 0xCD.
TEST_F(Registry, PackedDibAndScreenCaptures) {
  const TTestImage image = NoiseImage(128, 128, 11);
  WriteMagick(Path("packed.dib"), image, "DIB");
  ASSERT_NE(ReadBytes(Path("packed.dib")).substr(0, 2), "BM");
  ExpectLoads(Path("packed.dib"), 128, 128);
  ExpectWorkingIs(Pixan, image);

  WriteMagick(Path("capture.scr"), image, "PCX");
  std::string bytes = ReadBytes(Path("capture.scr"));
  ASSERT_EQ(bytes[0], '\x0A');
  bytes[0] = '\xCD';
  WriteBytes(Path("capture.scr"), bytes);
  ExpectLoads(Path("capture.scr"), 128, 128);
  ExpectWorkingIs(Pixan, image);
}

TEST_F(Registry, RunLengthBitmapUnderRle) {
  TTestImage expected(1, 1);
  WriteBytes(Path("runs.rle"), Rle8Bitmap(expected));
  ExpectLoads(Path("runs.rle"), 128, 128);
  ExpectWorkingIs(Pixan, expected);
}

// An icon's transparent half shows the white the working picture starts from.
TEST_F(Registry, IconTransparencyOverWhite) {
  const TTestImage image = NoiseImage(32, 32, 13);
  WriteBytes(Path("app.ico"), Icon32(image));
  ExpectLoads(Path("app.ico"), 32, 32);
  const TBitmap24& working = Pixan.WorkingPicture();
  for (int y : {0, 50, 127})
    for (int x : {0, 60, 64, 127}) {
      const std::uint8_t* got = working.Row(y) + x * 3;
      const std::uint8_t* source = image.At(x / 4, y / 4);
      if (x < 64)
        EXPECT_TRUE(got[0] == source[2] && got[1] == source[1] && got[2] == source[0]) << x << ", " << y;
      else
        EXPECT_TRUE(got[0] == 255 && got[1] == 255 && got[2] == 255) << x << ", " << y;
    }
}

// JPEG under the registry's own extensions decodes exactly as under ".jpg".
TEST_F(Registry, JpegUnderRegistryExtensions) {
  const TTestImage image = NoiseImage(200, 90, 17);
  WriteJpeg(Path("a.jpg"), image);
  ASSERT_TRUE(Pixan.LoadPicture(Path("a.jpg")));
  const TBitmap24 reference = Pixan.WorkingPicture();
  for (const char* extension : {".jfif", ".jpe"}) {
    const std::string path = Path(std::string("a") + extension);
    WriteBytes(path, ReadBytes(Path("a.jpg")));
    ExpectLoads(path, 200, 90);
    EXPECT_TRUE(Pixan.WorkingPicture() == reference) << extension;
  }
}

// Formats that come back only approximately: a solid colour and the size.
TEST_F(Registry, RenderedAndLossyFormats) {
  const TTestImage orange(64, 48, 250, 140, 20);
  WriteMagick(Path("solid.eps"), orange, "EPS");
  ExpectLoads(Path("solid.eps"), 64, 48);
  ExpectWorkingNear(Pixan, 250, 140, 20, 12);

  // A Photo CD written here keeps only the resolutions up to Base (768 x 512), which is then
  // the picture. Its colours pass through PhotoYCC, which GraphicsMagick converts loosely.
  WriteMagick(Path("photo.pcd"), TTestImage(768, 512, 40, 160, 90), "PCD");
  ExpectLoads(Path("photo.pcd"), 768, 512);
  ExpectWorkingNear(Pixan, 40, 160, 90, 25);

  WriteBytes(Path("red.wmf"), RedMetafile());
  ExpectLoads(Path("red.wmf"), 100, 50);
  ExpectWorkingNear(Pixan, 255, 0, 0, 8, 4);
}

// Analysers decoding side by side get exactly what one analyser gets alone.
TEST_F(Registry, AnalysersDecodeSideBySide) {
  const TWritten formats[] = {{".bmp", "BMP"}, {".tif", "TIFF"}, {".tga", "TGA"}, {".pcx", "PCX"}, {".sgi", "SGI"}};
  std::vector<std::string> paths;
  std::vector<TBitmap24> expected;
  for (const auto& format : formats) {
    paths.push_back(Path(std::string("shared") + format.Extension));
    WriteMagick(paths.back(), NoiseImage(300, 200, static_cast<unsigned>(paths.size())), format.Coder);
    ASSERT_TRUE(Pixan.LoadPicture(paths.back()));
    expected.push_back(Pixan.WorkingPicture());
  }
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      TPixan own;
      for (int round = 0; round < 10; ++round)
        for (std::size_t i = 0; i < paths.size(); ++i) {
          const std::size_t k = (i + static_cast<std::size_t>(t)) % paths.size();
          if (!own.LoadPicture(paths[k]) || !(own.WorkingPicture() == expected[k])) ++mismatches[static_cast<std::size_t>(t)];
        }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(RegistryTable, EveryExtensionIsAPicture) {
  for (const auto& extension : RegistryExtensions) EXPECT_TRUE(IsPictureExtension(extension)) << extension;
  for (const char* other : {".gif", ".txt", ".mp3", "", ".BMP", ".jpgx"}) EXPECT_FALSE(IsPictureExtension(other)) << other;
}

// Zero bytes, random bytes and a picture cut in half fail under every extension, with the
// message of the decoder's path; the previous picture stays.
TEST_F(Registry, DamagedFilesFailWithTheDocumentedMessage) {
  const TTestImage previous = NoiseImage(128, 128, 23);
  WritePng(Path("previous.png"), previous);
  ASSERT_TRUE(Pixan.LoadPicture(Path("previous.png")));
  std::vector<std::pair<std::string, std::string>> contents = {{"empty", ""}};
  for (unsigned seed : {1U, 2U, 3U}) {
    const TTestImage noise = NoiseImage(seed * 37, 11, seed);
    contents.emplace_back("random" + std::to_string(seed), std::string(noise.Rgb.begin(), noise.Rgb.end()));
  }
  for (const auto& extension : RegistryExtensions)
    for (const auto& [name, bytes] : contents) {
      const std::string path = Path(name + extension);
      WriteBytes(path, bytes);
      EXPECT_FALSE(Pixan.LoadPicture(path)) << path;
      EXPECT_EQ(Pixan.LastError(), Direct(extension) ? "" : FailedMessage(path)) << path;
    }
  EXPECT_EQ(Pixan.PictureSize(), (TPictureSize{128, 128}));
  ExpectWorkingIs(Pixan, previous);
}

TEST_F(Registry, TruncatedPicturesFail) {
  const TTestImage image = NoiseImage(128, 128, 29);
  WriteJpeg(Path("whole.jpg"), image);
  WritePng(Path("whole.png"), image);
  const TWritten formats[] = {{".bmp", "BMP"}, {".tga", "TGA"}, {".tif", "TIFF"}, {".pcx", "PCX"},
                              {".sgi", "SGI"}, {".ppm", "PPM"}, {".dib", "BMP"}};
  std::vector<std::string> extensions = {".jpg", ".png"};
  for (const auto& format : formats) {
    WriteMagick(Path(std::string("whole") + format.Extension), image, format.Coder);
    extensions.push_back(format.Extension);
  }
  for (const auto& extension : extensions) {
    const std::string bytes = ReadBytes(Path("whole" + extension));
    const std::string path = Path("cut" + extension);
    WriteBytes(path, bytes.substr(0, bytes.size() / 2));
    EXPECT_FALSE(Pixan.LoadPicture(path)) << path;
    EXPECT_EQ(Pixan.LastError(), Direct(extension) ? "" : FailedMessage(path)) << path;
  }
}

// What a decode adds to the peak resident memory of a fresh process, in MiB, with the result
// in the exit status: 0 when the load failed.
struct TChildResult {
  bool Failed = false;
  long PeakGrowthMiB = 0;
};

long ResidentMiB() {
  long pages = 0, resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return resident * (::sysconf(_SC_PAGESIZE) / 1024) / 1024;
}

TChildResult LoadInChild(const std::string& path) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
    const long before = ResidentMiB();
    TPixan pixan;
    const bool loaded = pixan.LoadPicture(path);
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const long growth = usage.ru_maxrss / 1024 - before;
    if (::write(pipeEnds[1], &growth, sizeof growth) != sizeof growth) ::_exit(3);
    ::_exit(loaded ? 1 : 0);
  }
  ::close(pipeEnds[1]);
  TChildResult result;
  if (::read(pipeEnds[0], &result.PeakGrowthMiB, sizeof result.PeakGrowthMiB) != sizeof result.PeakGrowthMiB)
    result.PeakGrowthMiB = -1;
  ::close(pipeEnds[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  result.Failed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return result;
}

// Headers that claim 60000 x 60000 pixels over a few bytes of data fail without reserving the
// memory such a picture would take.
TEST_F(Registry, AbsurdHeadersFailWithoutHugeAllocations) {
  std::string bmp = "BM" + Le32(70) + Le32(0) + Le32(54) + Le32(40) + Le32(60000) + Le32(60000) + Le16(1) + Le16(24) +
                    Le32(0) + Le32(0) + Le32(2835) + Le32(2835) + Le32(0) + Le32(0) + std::string(16, '\x7f');
  std::string tga = std::string("\0\0\x02", 3) + std::string(9, '\0');
  tga.replace(12, 0, Le16(60000) + Le16(60000) + "\x18\x20" + std::string(32, '\x55'));
  const std::string tiffHeader = "II*" + std::string(1, '\0') + Le32(8);
  std::string ifd = Le16(4);
  ifd += Le16(256) + Le16(4) + Le32(1) + Le32(60000);  // width
  ifd += Le16(257) + Le16(4) + Le32(1) + Le32(60000);  // height
  ifd += Le16(258) + Le16(3) + Le32(1) + Le32(8);      // 8 bits
  ifd += Le16(273) + Le16(4) + Le32(1) + Le32(100);    // strip at 100
  ifd += Le32(0);
  std::string tiff = tiffHeader + ifd;
  tiff += std::string(120 - tiff.size(), '\x33');
  std::string pgm = "P5\n60000 60000\n255\n" + std::string(64, '\x10');

  const std::pair<const char*, std::string> files[] = {
      {"huge.bmp", bmp}, {"huge.tga", tga}, {"huge.tif", tiff}, {"huge.pgm", pgm}};
  for (const auto& [name, bytes] : files) {
    WriteBytes(Path(name), bytes);
    const TChildResult result = LoadInChild(Path(name));
    EXPECT_TRUE(result.Failed) << name;
    EXPECT_GE(result.PeakGrowthMiB, 0) << name;
    EXPECT_LT(result.PeakGrowthMiB, 256) << name;
    EXPECT_FALSE(Pixan.LoadPicture(Path(name)));
  }
}

}  // namespace
