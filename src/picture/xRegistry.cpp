// The format registry: every picture extension and the decoder that reads it. Most formats go
// through GraphicsMagick with the coder named explicitly, so that a file is read as what its
// extension says; the rest through readers of our own.

#include <map>
#include <mutex>
#include <vector>

#include <Magick++.h>
#include <magick/api.h>

#include "xOwnFormats.h"
#include "xPicDecode.h"

namespace {

enum class TReader { Magick, Psd, Cel, Psp, Emf, Jpeg, Png };

struct TFormat {
  TReader Reader;
  const char* Coder;  // GraphicsMagick's coder for TReader::Magick
};

const std::map<std::string, TFormat>& Formats() {
  static const std::map<std::string, TFormat> formats = {
      {".bmp", {TReader::Magick, "BMP"}},  {".rle", {TReader::Magick, "BMP"}},  {".dib", {TReader::Magick, "BMP"}},
      {".ico", {TReader::Magick, "ICO"}},  {".wmf", {TReader::Magick, "WMF"}},  {".emf", {TReader::Emf, nullptr}},
      {".jfif", {TReader::Jpeg, nullptr}}, {".jpg", {TReader::Jpeg, nullptr}},  {".jpe", {TReader::Jpeg, nullptr}},
      {".jpeg", {TReader::Jpeg, nullptr}}, {".win", {TReader::Magick, "TGA"}},  {".vst", {TReader::Magick, "TGA"}},
      {".vda", {TReader::Magick, "TGA"}},  {".tga", {TReader::Magick, "TGA"}},  {".icb", {TReader::Magick, "TGA"}},
      {".tiff", {TReader::Magick, "TIFF"}}, {".tif", {TReader::Magick, "TIFF"}}, {".fax", {TReader::Magick, "FAX"}},
      {".eps", {TReader::Magick, "EPS"}},  {".pcx", {TReader::Magick, "PCX"}},  {".pcc", {TReader::Magick, "PCX"}},
      {".scr", {TReader::Magick, "PCX"}},  {".rpf", {TReader::Magick, "RLA"}},  {".rla", {TReader::Magick, "RLA"}},
      {".sgi", {TReader::Magick, "SGI"}},  {".rgba", {TReader::Magick, "SGI"}}, {".rgb", {TReader::Magick, "SGI"}},
      {".bw", {TReader::Magick, "SGI"}},   {".psd", {TReader::Psd, nullptr}},   {".pdd", {TReader::Psd, nullptr}},
      {".ppm", {TReader::Magick, "PNM"}},  {".pgm", {TReader::Magick, "PNM"}},  {".pbm", {TReader::Magick, "PNM"}},
      {".cel", {TReader::Cel, nullptr}},   {".pic", {TReader::Cel, nullptr}},   {".pcd", {TReader::Magick, "PCD"}},
      {".cut", {TReader::Magick, "CUT"}},  {".psp", {TReader::Psp, nullptr}},   {".png", {TReader::Png, nullptr}},
  };
  return formats;
}

// GraphicsMagick holds the whole picture: these limits make it fail cleanly instead.
constexpr std::int64_t MagickPixelLimit = 256LL * 1024 * 1024;
constexpr std::int64_t MagickMemoryLimitMB = 2048;

void InitialiseMagick() {
  static std::once_flag once;
  std::call_once(once, [] {
    Magick::InitializeMagick(nullptr);
    MagickLib::SetMagickResourceLimit(MagickLib::PixelsResource, MagickPixelLimit);
    MagickLib::SetMagickResourceLimit(MagickLib::MemoryResource, MagickMemoryLimitMB);
    MagickLib::SetMagickResourceLimit(MagickLib::MapResource, MagickMemoryLimitMB);
    MagickLib::SetMagickResourceLimit(MagickLib::DiskResource, 0);  // never spill a picture to a temporary file
  });
}

TDecodeResult DecodeMagick(const std::string& path, const char* coder, TPictureSink& sink) {
  InitialiseMagick();
  try {
    Magick::Image image;
    image.quiet(true);
    image.read(std::string(coder) + ":" + path);
    const int width = static_cast<int>(image.columns());
    const int height = static_cast<int>(image.rows());
    if (width <= 0 || height <= 0) return TDecodeResult::Empty;
    if (!sink.Begin(width, height)) return TDecodeResult::Failed;
    const bool alpha = image.matte();
    const TPixelFormat format = alpha ? TPixelFormat::RGBA8 : TPixelFormat::RGB8;
    std::vector<unsigned char> row(static_cast<std::size_t>(width) * (alpha ? 4 : 3));
    const int last = sink.LastWantedRow();
    for (int y = 0; y <= last; ++y) {
      if (!sink.WantsRow(y)) continue;
      image.write(0, y, static_cast<unsigned>(width), 1, alpha ? "RGBA" : "RGB", Magick::CharPixel, row.data());
      sink.PutRow(y, row.data(), format);
    }
    return TDecodeResult::Ok;
  } catch (const Magick::Warning&) {
    return TDecodeResult::Failed;
  } catch (const std::exception&) {
    return TDecodeResult::Failed;
  }
}

}  // namespace

bool IsPictureExtension(const std::string& lowerExtension) { return Formats().count(lowerExtension) != 0; }

TDecodeResult DecodeRegistry(const std::string& path, const std::string& extension, TPictureSink& sink) {
  const auto found = Formats().find(extension);
  if (found == Formats().end()) return TDecodeResult::Failed;
  switch (found->second.Reader) {
    case TReader::Magick: return DecodeMagick(path, found->second.Coder, sink);
    case TReader::Jpeg: return DecodeJpeg(path, sink);
    case TReader::Png: return DecodePng(path, sink);
    case TReader::Psd: return DecodePsd(path, sink);
    case TReader::Cel: return DecodeCel(path, sink);
    case TReader::Psp: return DecodePsp(path, sink);
    case TReader::Emf: return DecodeEmf(path, sink);
  }
  return TDecodeResult::Failed;
}
