// JPEG through libjpeg (the version-62 interface), decoded row by row: only one scanline is
// held, so the size of the picture does not bound memory. Analysis always decodes at full
// resolution; thumbnails may ask libjpeg to scale while decoding (xJpeg.h).

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "xJpeg.h"
#include "xPicDecode.h"

namespace {

// Beyond this libjpeg fails instead of allocating (it has no backing store here). Only a
// progressive or multi-scan picture keeps its coefficients, 2 bytes a sample: a 4:2:0 photo
// of 170 megapixels or a 4:4:4 one of 110 still fits.
constexpr long JpegMemoryLimit = 512L * 1024 * 1024;

// An encoder writes ten or twenty scans; each scan costs a pass over the picture, so a file of
// thousands of tiny scans takes minutes. libjpeg-turbo's own tools stop hostile input at 500.
constexpr int JpegScanLimit = 500;

struct TJpegErrors {
  jpeg_error_mgr Manager;  // first: libjpeg hands back a pointer to it
  jpeg_progress_mgr Progress;
  const TPictureSink* Sink = nullptr;
  std::jmp_buf Jump;
};

[[noreturn]] void JpegFail(j_common_ptr info) {
  auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
  std::longjmp(errors->Jump, 1);
}

// Warnings that mean the coded data is missing or damaged: libjpeg goes on with grey or
// garbled blocks, which would pass for a picture. The rest (extra bytes before a marker,
// which cameras write, an unknown JFIF revision, a bad ICC profile) leave the pixels intact.
bool DataLost(int code) {
  switch (code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
      return true;
    default:
      return false;
  }
}

void JpegMessage(j_common_ptr info, int level) {
  if (level < 0 && DataLost(info->err->msg_code)) JpegFail(info);
}

// Called between rows and, while a multi-scan file is read in, after every row of blocks.
void JpegProgress(j_common_ptr info) {
  auto* errors = reinterpret_cast<TJpegErrors*>(info->err);
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > JpegScanLimit || errors->Sink->Cancelled())
    JpegFail(info);
}

// Adobe writes CMYK inverted (0 = full ink); a photo application's CMYK JPEG reads right
// with this, a plain one comes out as its negative, as in most viewers.
void CmykToRgb(JSAMPROW row, int width) {
  for (int x = 0; x < width; ++x) {
    const unsigned c = row[4 * x], m = row[4 * x + 1], y = row[4 * x + 2], k = row[4 * x + 3];
    row[3 * x] = static_cast<JSAMPLE>((c * k + 127) / 255);
    row[3 * x + 1] = static_cast<JSAMPLE>((m * k + 127) / 255);
    row[3 * x + 2] = static_cast<JSAMPLE>((y * k + 127) / 255);
  }
}

// The smallest of libjpeg's fast scales (1/8, 1/4, 1/2, 1) whose output still covers the wanted
// size; 1 when nothing is wanted.
unsigned ScaleDenominator(JDIMENSION width, JDIMENSION height, int minWidth, int minHeight) {
  if (minWidth <= 0 || minHeight <= 0) return 1;
  for (unsigned denom = 8; denom > 1; denom /= 2) {
    const JDIMENSION scaledWidth = (width + denom - 1) / denom, scaledHeight = (height + denom - 1) / denom;
    if (scaledWidth >= static_cast<JDIMENSION>(minWidth) && scaledHeight >= static_cast<JDIMENSION>(minHeight))
      return denom;
  }
  return 1;
}

// Kept free of C++ objects with destructors: libjpeg leaves by longjmp.
TDecodeResult DecodeOpenFile(std::FILE* file, TPictureSink& sink, int minWidth, int minHeight) {
  jpeg_decompress_struct info;
  std::memset(&info, 0, sizeof info);
  TJpegErrors errors;
  info.err = jpeg_std_error(&errors.Manager);
  errors.Manager.error_exit = JpegFail;
  errors.Manager.emit_message = JpegMessage;
  errors.Progress.progress_monitor = JpegProgress;
  errors.Sink = &sink;
  if (setjmp(errors.Jump) != 0) {
    jpeg_destroy_decompress(&info);
    return TDecodeResult::Failed;
  }
  jpeg_create_decompress(&info);
  info.progress = &errors.Progress;
  info.mem->max_memory_to_use = JpegMemoryLimit;
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  const unsigned denom = ScaleDenominator(info.image_width, info.image_height, minWidth, minHeight);
  if (denom > 1) {
    // Scaled: the IDCT yields the smaller picture directly; the fast integer IDCT and plain
    // upsampling cost nothing visible once the result is reduced further.
    info.scale_num = 1;
    info.scale_denom = denom;
    info.dct_method = JDCT_IFAST;
    info.do_fancy_upsampling = FALSE;
  }
  jpeg_start_decompress(&info);
  const int width = static_cast<int>(info.output_width);
  const int height = static_cast<int>(info.output_height);
  if (width <= 0 || height <= 0) {
    jpeg_destroy_decompress(&info);
    return TDecodeResult::Empty;
  }
  if (!sink.Begin(width, height)) {
    jpeg_destroy_decompress(&info);
    return TDecodeResult::Failed;
  }
  JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                             info.output_width * static_cast<JDIMENSION>(info.output_components), 1);
  // Rows nobody samples are skipped: libjpeg still reads their data, but spends no time on
  // their pixels. The rows it does return are the ones a full decode gives.
  for (int next = sink.NextWantedRow(0); next >= 0; next = sink.NextWantedRow(next + 1)) {
    const auto current = static_cast<int>(info.output_scanline);
    if (next > current) jpeg_skip_scanlines(&info, static_cast<JDIMENSION>(next - current));
    if (static_cast<int>(info.output_scanline) != next || jpeg_read_scanlines(&info, row, 1) != 1) break;
    if (cmyk) CmykToRgb(row[0], width);
    sink.PutRow(next, row[0], TPixelFormat::RGB8);
  }
  // The rows after the last sampled one are not needed.
  jpeg_destroy_decompress(&info);
  return TDecodeResult::Ok;
}

}  // namespace

TDecodeResult DecodeJpeg(const std::string& path, TPictureSink& sink) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return TDecodeResult::Failed;
  const TDecodeResult result = DecodeOpenFile(file, sink, 0, 0);
  std::fclose(file);
  return result;
}

TDecodeResult DecodeJpegReduced(const std::string& path, TPictureSink& sink, int minWidth, int minHeight) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return TDecodeResult::Failed;
  const TDecodeResult result = DecodeOpenFile(file, sink, minWidth, minHeight);
  std::fclose(file);
  return result;
}
