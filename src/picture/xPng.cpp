// PNG through libpng. A non-interlaced picture is read row by row; an interlaced one keeps only
// the rows the sink samples. Simple transparency (a transparent colour, palette transparency)
// is dropped: those pixels show their stored colour. An alpha channel is passed on.

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

#include "xPicDecode.h"

namespace {

// Interlaced pictures keep their sampled rows whole; beyond this they are refused.
constexpr png_size_t InterlacedRowMemoryLimit = 256U * 1024 * 1024;

[[noreturn]] void PngFail(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }
void PngWarning(png_structp /*png*/, png_const_charp /*message*/) {}

struct TPngBuffers {
  png_bytep Row = nullptr;       // one decoded row
  png_bytep Pixels = nullptr;    // the row as the sink takes it (palette pictures)
  png_bytep Kept = nullptr;      // interlaced: the sampled rows
};

void FreeBuffers(png_structp png, TPngBuffers& buffers) {
  png_free(png, buffers.Row);
  png_free(png, buffers.Pixels);
  png_free(png, buffers.Kept);
  buffers = {};
}

// Kept free of C++ objects with destructors: libpng leaves by longjmp.
// The buffers live with the caller: locals changed after setjmp are not reliable after longjmp.
TDecodeResult DecodeOpenFile(std::FILE* file, TPictureSink& sink, TPngBuffers& buffers) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngWarning);
  if (!png) return TDecodeResult::Failed;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return TDecodeResult::Failed;
  }
  if (setjmp(png_jmpbuf(png)) != 0) {
    FreeBuffers(png, buffers);
    png_destroy_read_struct(&png, &info, nullptr);
    return TDecodeResult::Failed;
  }
  png_init_io(png, file);
  png_set_user_limits(png, 0x7fffffffU, 0x7fffffffU);
  png_read_info(png, info);
  const auto width = png_get_image_width(png, info);
  const auto height = png_get_image_height(png, info);
  const int colorType = png_get_color_type(png, info);
  const int bitDepth = png_get_bit_depth(png, info);
  const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  if (width == 0 || height == 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    return TDecodeResult::Empty;
  }
  if (!sink.Begin(static_cast<int>(width), static_cast<int>(height))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return TDecodeResult::Failed;
  }

  // Palette pictures are mapped here, not by libpng, whose palette expansion would turn the
  // palette's transparency into alpha.
  const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
  png_colorp colors = nullptr;
  int colorCount = 0;
  if (palette) {
    if (png_get_PLTE(png, info, &colors, &colorCount) == 0) png_error(png, "no palette");
    if (bitDepth < 8) png_set_packing(png);
  } else {
    if (bitDepth == 16) png_set_scale_16(png);
    if ((colorType & PNG_COLOR_MASK_COLOR) == 0) {
      if (bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
      png_set_gray_to_rgb(png);
    }
  }
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const bool alpha = (colorType & PNG_COLOR_MASK_ALPHA) != 0;
  const TPixelFormat format = alpha ? TPixelFormat::RGBA8 : TPixelFormat::RGB8;
  const png_size_t rowBytes = png_get_rowbytes(png, info);
  buffers.Row = static_cast<png_bytep>(png_malloc(png, rowBytes));
  if (palette) buffers.Pixels = static_cast<png_bytep>(png_malloc(png, static_cast<png_size_t>(width) * 3));

  auto deliver = [&](int y, png_bytep row) {
    png_bytep pixels = row;
    if (palette) {
      for (png_uint_32 x = 0; x < width; ++x) {
        const int index = row[x];
        const png_color color = index < colorCount ? colors[index] : png_color{0, 0, 0};
        buffers.Pixels[3 * x] = color.red;
        buffers.Pixels[3 * x + 1] = color.green;
        buffers.Pixels[3 * x + 2] = color.blue;
      }
      pixels = buffers.Pixels;
    }
    sink.PutRow(y, pixels, format);
  };

  const int last = sink.LastWantedRow();
  if (!interlaced) {
    for (int y = 0; y <= last; ++y) {
      if (sink.Cancelled()) png_error(png, "cancelled");
      png_read_row(png, buffers.Row, nullptr);
      if (sink.WantsRow(y)) deliver(y, buffers.Row);
    }
  } else {
    // Each pass fills in some pixels of some rows: every sampled row needs a buffer of its own
    // across the passes; all other rows go through the scratch row.
    int kept = 0;
    for (int y = 0; y <= last; ++y) kept += sink.WantsRow(y) ? 1 : 0;
    if (static_cast<png_size_t>(kept) > InterlacedRowMemoryLimit / rowBytes) png_error(png, "too large");
    buffers.Kept = static_cast<png_bytep>(png_calloc(png, rowBytes * static_cast<png_size_t>(kept)));
    for (int pass = 0; pass < passes; ++pass) {
      int slot = 0;
      for (int y = 0; y < static_cast<int>(height); ++y) {
        if (sink.Cancelled()) png_error(png, "cancelled");
        const bool wanted = y <= last && sink.WantsRow(y);
        png_read_row(png, wanted ? buffers.Kept + rowBytes * static_cast<png_size_t>(slot++) : buffers.Row, nullptr);
      }
    }
    int slot = 0;
    for (int y = 0; y <= last; ++y)
      if (sink.WantsRow(y)) deliver(y, buffers.Kept + rowBytes * static_cast<png_size_t>(slot++));
  }
  FreeBuffers(png, buffers);
  png_destroy_read_struct(&png, &info, nullptr);
  return TDecodeResult::Ok;
}

}  // namespace

TDecodeResult DecodePng(const std::string& path, TPictureSink& sink) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return TDecodeResult::Failed;
  TPngBuffers buffers;
  const TDecodeResult result = DecodeOpenFile(file, sink, buffers);
  std::fclose(file);
  return result;
}
