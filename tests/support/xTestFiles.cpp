#include "xTestFiles.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>

#include <Magick++.h>
#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

TTempDir::TTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "twinsifter-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
  Path_ = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(Path_, ignored);
}

TTestImage::TTestImage(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b)
    : Width(width), Height(height), Rgb(static_cast<std::size_t>(width) * height * 3) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) Set(x, y, r, g, b);
}

void TTestImage::Set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  std::uint8_t* p = At(x, y);
  p[0] = r;
  p[1] = g;
  p[2] = b;
}

TTestImage NoiseImage(int width, int height, unsigned seed) {
  TTestImage image(width, height);
  std::uint32_t state = seed * 2654435761U + 1;
  for (auto& byte : image.Rgb) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  return image;
}

TTestImage PhotoLikeImage(int width, int height) {
  TTestImage image(width, height);
  std::uint32_t state = 12345;
  for (int y = 0; y < height; ++y) {
    const double v = static_cast<double>(y) / height;
    for (int x = 0; x < width; ++x) {
      const double u = static_cast<double>(x) / width;
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const double grain = static_cast<double>(state >> 28) - 7.5;
      auto channel = [grain](double base) { return static_cast<std::uint8_t>(std::clamp(base + grain, 0.0, 255.0)); };
      image.Set(x, y, channel(128 + 100 * std::sin(6 * u + 2 * v)), channel(128 + 90 * std::cos(5 * v - 3 * u)),
                channel(128 + 80 * std::sin(9 * u * v + 1)));
    }
  }
  return image;
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WritePngRaw(const std::string& path, int width, int height, const TPngLayout& layout,
                 const std::vector<std::vector<std::uint8_t>>& rows) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    throw std::runtime_error("libpng failed writing " + path);
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), layout.BitDepth,
               layout.ColorType, layout.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (std::size_t i = 0; i + 2 < layout.Palette.size(); i += 3)
    palette.push_back({layout.Palette[i], layout.Palette[i + 1], layout.Palette[i + 2]});
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  png_color_16 transparentColor{};
  if (!layout.Transparency.empty()) {
    if (layout.ColorType == PNG_COLOR_TYPE_PALETTE) {
      png_set_tRNS(png, info, layout.Transparency.data(), static_cast<int>(layout.Transparency.size()), nullptr);
    } else {
      const auto& t = layout.Transparency;
      transparentColor.gray = t[0];
      transparentColor.red = t[0];
      transparentColor.green = t.size() > 1 ? t[1] : t[0];
      transparentColor.blue = t.size() > 2 ? t[2] : t[0];
      png_set_tRNS(png, info, nullptr, 0, &transparentColor);
    }
  }
  std::vector<png_bytep> pointers;
  for (const auto& row : rows) pointers.push_back(const_cast<png_bytep>(row.data()));
  png_set_rows(png, info, pointers.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

void WritePng(const std::string& path, const TTestImage& image, bool interlaced) {
  std::vector<std::vector<std::uint8_t>> rows;
  for (int y = 0; y < image.Height; ++y) rows.emplace_back(image.At(0, y), image.At(0, y) + image.Width * 3);
  TPngLayout layout;
  layout.Interlaced = interlaced;
  WritePngRaw(path, image.Width, image.Height, layout, rows);
}

void WriteJpeg(const std::string& path, const TTestImage& image, int quality, bool progressive) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot write " + path);
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(image.Width);
  info.image_height = static_cast<JDIMENSION>(image.Height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.At(0, static_cast<int>(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(file);
}

void WriteMagick(const std::string& path, const TTestImage& image, const std::string& coder) {
  static const bool initialised = [] {
    Magick::InitializeMagick(nullptr);
    return true;
  }();
  (void)initialised;
  Magick::Image picture(static_cast<unsigned>(image.Width), static_cast<unsigned>(image.Height), "RGB",
                        Magick::CharPixel, image.Rgb.data());
  picture.write(coder + ":" + path);
}

namespace {

// Entropy-coded bits, most significant first, with a zero byte after every 0xFF.
class TJpegBits {
public:
  explicit TJpegBits(std::string& out) : Out(out) {}
  void Put(unsigned value, int count) {
    for (int i = count - 1; i >= 0; --i) {
      Byte = static_cast<unsigned char>(Byte << 1 | ((value >> i) & 1));
      if (++Filled == 8) Flush();
    }
  }
  void Finish() {  // padded with ones
    while (Filled != 0) Put(1, 1);
  }

private:
  void Flush() {
    Out += static_cast<char>(Byte);
    if (Byte == 0xFF) Out += '\0';
    Byte = 0;
    Filled = 0;
  }
  std::string& Out;
  unsigned char Byte = 0;
  int Filled = 0;
};

void PutMarker(std::string& out, unsigned marker, const std::string& body) {
  out += static_cast<char>(0xFF);
  out += static_cast<char>(marker);
  const std::size_t length = body.size() + 2;
  out += static_cast<char>(length >> 8);
  out += static_cast<char>(length & 0xFF);
  out += body;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (const int v : values) bytes += static_cast<char>(v);
  return bytes;
}

}  // namespace

void WriteManyScansJpeg(const std::string& path, int width, int height, int scans) {
  constexpr int MaxAl = 13;  // the deepest bit plane libjpeg accepts
  if (scans < 1 || scans > 1 + 3 * 63 * (MaxAl + 1)) throw std::invalid_argument("scan count");
  const long blocks = static_cast<long>((width + 7) / 8) * ((height + 7) / 8);
  std::string out = Bytes({0xFF, 0xD8});
  PutMarker(out, 0xDB, std::string(1, '\0') + std::string(64, '\1'));
  PutMarker(out, 0xC2, Bytes({8, height >> 8, height & 0xFF, width >> 8, width & 0xFF, 3, 1, 0x11, 0, 2, 0x11, 0, 3,
                              0x11, 0}));
  // DC: one code, "0", for a difference of nothing. AC: the fifteen end-of-band runs, four bits each.
  std::string tables = Bytes({0x00, 1}) + std::string(15, '\0') + Bytes({0});
  tables += Bytes({0x10, 0, 0, 0, 15}) + std::string(12, '\0');
  for (int r = 0; r < 15; ++r) tables += static_cast<char>(r << 4);
  PutMarker(out, 0xC4, tables);
  // Every DC difference is zero: a flat grey picture.
  PutMarker(out, 0xDA, Bytes({3, 1, 0, 2, 0, 3, 0, 0, 0, 0}));
  {
    TJpegBits bits(out);
    for (long b = 0; b < 3 * blocks; ++b) bits.Put(0, 1);
    bits.Finish();
  }
  // Then each coefficient of each component alone, from the top bit plane down.
  int written = 1;
  for (int al = MaxAl; al >= 0 && written < scans; --al)
    for (int k = 1; k <= 63 && written < scans; ++k)
      for (int c = 1; c <= 3 && written < scans; ++c, ++written) {
        const int ah = al == MaxAl ? 0 : al + 1;
        PutMarker(out, 0xDA, Bytes({1, c, 0, k, k, ah << 4 | al}));
        TJpegBits bits(out);
        for (long left = blocks; left > 0;) {  // all blocks end at once, in runs of up to 32,767
          const long run = std::min(left, 32767L);
          int r = 0;
          while ((2L << r) <= run) ++r;
          bits.Put(static_cast<unsigned>(r), 4);
          bits.Put(static_cast<unsigned>(run - (1L << r)), r);
          left -= run;
        }
        bits.Finish();
      }
  out += Bytes({0xFF, 0xD9});
  WriteBytes(path, out);
}

std::string CutJpegScan(const std::string& jpeg, int scan, double kept) {
  std::size_t sos = std::string::npos;
  for (int i = 0; i <= scan; ++i) {
    sos = jpeg.find("\xFF\xDA", sos == std::string::npos ? 0 : sos + 2);
    if (sos == std::string::npos || sos + 4 > jpeg.size()) throw std::invalid_argument("no such scan");
  }
  const std::size_t start = sos + 2 + (static_cast<unsigned char>(jpeg[sos + 2]) << 8 | static_cast<unsigned char>(jpeg[sos + 3]));
  // The data ends at the first marker other than a stuffed zero or a restart marker.
  std::size_t end = start;
  for (; end + 1 < jpeg.size(); ++end) {
    const auto next = static_cast<unsigned char>(jpeg[end + 1]);
    if (static_cast<unsigned char>(jpeg[end]) == 0xFF && next != 0 && (next < 0xD0 || next > 0xD7)) break;
  }
  const auto cut = start + static_cast<std::size_t>(static_cast<double>(end - start) * kept);
  return jpeg.substr(0, cut) + "\xFF\xD9";
}

void WriteLargePng(const std::string& path, int width, int height) {
  constexpr int UnitRows = 16;
  if (height % UnitRows != 0) throw std::invalid_argument("height");
  // One unit of rows, compressed on its own and flushed to a byte boundary, repeated: the
  // copies need nothing of each other.
  const std::size_t rowBytes = 1 + static_cast<std::size_t>(width) * 3;
  std::string rows;
  for (int y = 0; y < UnitRows; ++y) rows += '\4' + std::string(rowBytes - 1, '\x40');
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("zlib");
  std::string unit(deflateBound(&stream, rows.size()) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(rows.data());
  stream.avail_in = static_cast<uInt>(rows.size());
  stream.next_out = reinterpret_cast<Bytef*>(unit.data());
  stream.avail_out = static_cast<uInt>(unit.size());
  if (deflate(&stream, Z_FULL_FLUSH) != Z_OK || stream.avail_in != 0) throw std::runtime_error("zlib");
  unit.resize(unit.size() - stream.avail_out);
  deflateEnd(&stream);
  const uLong unitAdler = adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(rows.data()),
                                  static_cast<uInt>(rows.size()));
  uLong adler = adler32(0, nullptr, 0);

  std::string out("\x89PNG\r\n\x1A\n", 8);
  auto chunk = [&out](const char* type, const std::string& data) {
    for (int i = 3; i >= 0; --i) out += static_cast<char>(data.size() >> (8 * i));
    const std::string body = std::string(type, 4) + data;
    out += body;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    for (int i = 3; i >= 0; --i) out += static_cast<char>(crc >> (8 * i));
  };
  auto be32 = [](unsigned long v) { return Bytes({int(v >> 24 & 0xFF), int(v >> 16 & 0xFF), int(v >> 8 & 0xFF), int(v & 0xFF)}); };
  chunk("IHDR", be32(static_cast<unsigned long>(width)) + be32(static_cast<unsigned long>(height)) + Bytes({8, 2, 0, 0, 0}));
  std::string data = Bytes({0x78, 0xDA});
  for (int u = 0; u < height / UnitRows; ++u) {
    data += unit;
    adler = adler32_combine(adler, unitAdler, static_cast<z_off_t>(rows.size()));
    if (data.size() > (1U << 20)) {
      chunk("IDAT", data);
      data.clear();
    }
  }
  data += Bytes({0x03, 0x00});  // an empty final block
  data += be32(adler);
  chunk("IDAT", data);
  chunk("IEND", "");
  WriteBytes(path, out);
}
