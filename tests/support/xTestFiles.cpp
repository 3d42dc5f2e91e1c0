#include "xTestFiles.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <Magick++.h>
#include <jpeglib.h>
#include <png.h>

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
