// The format registry: every picture extension and the decoder that reads it. Most formats go
// through GraphicsMagick with the coder named explicitly, so that a file is read as what its
// extension says (".rle" is a Windows RLE bitmap, not a Utah raster); the rest through readers
// of our own.
//
// GraphicsMagick is driven through its C layer: it lets us hand over an open file (so that no
// character of the path is read as a frame selection like "name[2]"), pick the frame, and see
// the severity of what went wrong, which Magick++ folds into exceptions or drops.

#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <magick/api.h>

#include "xDecodeHelper.h"
#include "xOwnFormats.h"
#include "xPicDecode.h"

namespace {

enum class TReader {
  Magick,
  Dib,  // a full bitmap file ("BM") or a packed DIB without the file header
  Scr,  // a PCX file with its own signature byte
  Pcd,
  Delegate,  // rendered by an outside program, which needs the file by its name
  Psd,
  Cel,
  Psp,
  Emf,
  Jpeg,
  Png,
};

struct TFormat {
  TReader Reader;
  const char* Coder;  // GraphicsMagick's coder for the readers that use it
  bool Helper = false;  // decoded in the bounded helper process
};

const std::map<std::string, TFormat>& Formats() {
  static const std::map<std::string, TFormat> formats = {
      // Windows bitmaps; RLE-compressed ones are ordinary bitmap files.
      {".bmp", {TReader::Magick, "BMP"}},
      {".rle", {TReader::Magick, "BMP"}},
      {".dib", {TReader::Dib, nullptr}},
      {".ico", {TReader::Magick, "ICO"}},
      {".wmf", {TReader::Magick, "WMF", true}},
      {".emf", {TReader::Emf, nullptr, true}},
      {".jfif", {TReader::Jpeg, nullptr}},
      {".jpg", {TReader::Jpeg, nullptr}},
      {".jpe", {TReader::Jpeg, nullptr}},
      {".jpeg", {TReader::Jpeg, nullptr}},
      {".win", {TReader::Magick, "TGA"}},
      {".vst", {TReader::Magick, "TGA"}},
      {".vda", {TReader::Magick, "TGA"}},
      {".tga", {TReader::Magick, "TGA"}},
      {".icb", {TReader::Magick, "TGA"}},
      // Fax pictures of this family are TIFF files with fax compression; GraphicsMagick's
      // "FAX" coder reads headerless Group 3 data, which any bytes at all would pass for.
      {".tiff", {TReader::Magick, "TIFF"}},
      {".tif", {TReader::Magick, "TIFF"}},
      {".fax", {TReader::Magick, "TIFF"}},
      {".eps", {TReader::Delegate, "EPS", true}},
      {".pcx", {TReader::Magick, "PCX"}},
      {".pcc", {TReader::Magick, "PCX"}},
      {".scr", {TReader::Scr, "PCX"}},
      {".rpf", {TReader::Magick, "RLA"}},
      {".rla", {TReader::Magick, "RLA"}},
      {".sgi", {TReader::Magick, "SGI"}},
      {".rgba", {TReader::Magick, "SGI"}},
      {".rgb", {TReader::Magick, "SGI"}},
      {".bw", {TReader::Magick, "SGI"}},
      {".psd", {TReader::Psd, nullptr}},
      {".pdd", {TReader::Psd, nullptr}},
      {".ppm", {TReader::Magick, "PNM"}},
      {".pgm", {TReader::Magick, "PNM"}},
      {".pbm", {TReader::Magick, "PNM"}},
      {".cel", {TReader::Cel, nullptr}},
      {".pic", {TReader::Cel, nullptr}},
      {".pcd", {TReader::Pcd, "PCD"}},
      {".cut", {TReader::Magick, "CUT"}},
      {".psp", {TReader::Psp, nullptr}},
      {".png", {TReader::Png, nullptr}},
  };
  return formats;
}

// GraphicsMagick holds the whole picture in its pixel cache (8 bytes a pixel here), and the
// limits are shared by every decode in the process. Beyond them a read fails cleanly. The
// cache never goes to memory-mapped or plain temporary files, and a decode runs on the
// calling thread only: analysers decoding side by side bring their own parallelism, and the
// progress handler below sees the reading thread. This GraphicsMagick (1.3) has no time limit:
// a stop reaches a long read through that handler instead.
constexpr magick_int64_t MagickPixelLimit = magick_int64_t{1} << 27;  // 1 GiB of cache
constexpr magick_int64_t MagickMemoryLimit = magick_int64_t{1536} << 20;
constexpr magick_int64_t MagickSideLimit = 1 << 20;

// The sink of the read running on this thread, which the progress handler asks whether to
// go on; null outside our reads.
thread_local const TPictureSink* MagickReader = nullptr;

// GraphicsMagick's coders report progress every hundredth of the rows or so; a failure makes
// them give up the read.
MagickPassFail MagickProgress(const char* /*text*/, magick_int64_t /*quantum*/, magick_uint64_t /*span*/,
                              ExceptionInfo* exception) {
  if (MagickReader == nullptr || !MagickReader->Cancelled()) return MagickPass;
  ThrowException(exception, MonitorError, "stopped", nullptr);
  return MagickFail;
}

// Marks a read of ours on this thread for the progress handler.
class TMagickReading {
public:
  explicit TMagickReading(const TPictureSink& sink) { MagickReader = &sink; }
  ~TMagickReading() { MagickReader = nullptr; }
  TMagickReading(const TMagickReading&) = delete;
  TMagickReading& operator=(const TMagickReading&) = delete;
};

void InitialiseMagick() {
  static std::once_flag once;
  std::call_once(once, [] {
    InitializeMagick(nullptr);
    SetMonitorHandler(MagickProgress);
    SetMagickResourceLimit(PixelsResource, MagickPixelLimit);
    SetMagickResourceLimit(WidthResource, MagickSideLimit);
    SetMagickResourceLimit(HeightResource, MagickSideLimit);
    SetMagickResourceLimit(MemoryResource, MagickMemoryLimit);
    SetMagickResourceLimit(MapResource, 0);
    SetMagickResourceLimit(DiskResource, 0);
    SetMagickResourceLimit(ThreadsResource, 1);
  });
}

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

struct TImageInfoFree {
  void operator()(ImageInfo* info) const { DestroyImageInfo(info); }
};
struct TImageFree {
  void operator()(Image* image) const { DestroyImageList(image); }
};
using TImage = std::unique_ptr<Image, TImageFree>;

// A read counts when it gave a picture and nothing worse than a harmless warning (an unknown
// TIFF tag, say). A corrupt-image warning or any error means the pixels are incomplete.
bool Acceptable(ExceptionType severity) {
  return severity < ErrorException && severity != CorruptImageWarning;
}

// The first frame of a picture, read as `coder` from the open file, from `blob`, or else by
// the file's name. `subimage` picks the frame, or for Photo CD the resolution.
TImage ReadMagick(std::FILE* file, const std::vector<unsigned char>* blob, const char* coder, unsigned long subimage,
                  const std::string& path = {}) {
  InitialiseMagick();
  std::unique_ptr<ImageInfo, TImageInfoFree> info(CloneImageInfo(nullptr));
  if (!info) return nullptr;
  if (file || blob) {
    // The name is only the coder's: the data comes from the file or the blob.
    std::snprintf(info->filename, sizeof info->filename, "%s:picture", coder);
  } else {
    // A name is read as one: it ends in its extension, so never in a frame selection like
    // "[2]", and a relative one gets "./" so that a leading "|" is no command.
    const std::string name = std::string(coder) + ":" + (path.starts_with("/") ? "" : "./") + path;
    if (name.size() >= sizeof info->filename) return nullptr;
    std::snprintf(info->filename, sizeof info->filename, "%s", name.c_str());
  }
  std::snprintf(info->magick, sizeof info->magick, "%s", coder);
  info->affirm = MagickTrue;
  info->subimage = subimage;
  info->subrange = 1;
  ExceptionInfo exception;
  GetExceptionInfo(&exception);
  TImage image;
  if (blob) {
    image.reset(BlobToImage(info.get(), blob->data(), blob->size(), &exception));
  } else {
    info->file = file;  // may be null: then by name
    image.reset(ReadImage(info.get(), &exception));
  }
  const bool acceptable = Acceptable(exception.severity) && (!image || Acceptable(image->exception.severity));
  DestroyExceptionInfo(&exception);
  if (!acceptable) image.reset();
  return image;
}

// alphaAllowed false: the picture's alpha, if GraphicsMagick claims one, is not to be trusted.
TDecodeResult Deliver(Image* image, TPictureSink& sink, bool alphaAllowed = true) {
  if (!image) return TDecodeResult::Failed;
  if (image->columns == 0 || image->rows == 0) return TDecodeResult::Empty;
  if (image->columns > static_cast<unsigned long>(MagickSideLimit) ||
      image->rows > static_cast<unsigned long>(MagickSideLimit))
    return TDecodeResult::Failed;
  const int width = static_cast<int>(image->columns);
  const int height = static_cast<int>(image->rows);
  if (!sink.Begin(width, height)) return TDecodeResult::Failed;
  if (image->colorspace == CMYKColorspace &&
      TransformColorspace(image, RGBColorspace) != MagickPass)
    return TDecodeResult::Failed;
  const bool alpha = alphaAllowed && image->matte != MagickFalse;
  const TPixelFormat format = alpha ? TPixelFormat::RGBA8 : TPixelFormat::RGB8;
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * (alpha ? 4 : 3));
  ExceptionInfo exception;
  GetExceptionInfo(&exception);
  const int last = std::min(sink.LastWantedRow(), height - 1);
  // A read cut short by a stop may still have handed back a picture.
  bool ok = !sink.Cancelled();
  for (int y = 0; y <= last && ok; ++y) {
    if (!sink.WantsRow(y)) continue;
    ok = !sink.Cancelled() && DispatchImage(image, 0, y, image->columns, 1, alpha ? "RGBA" : "RGB", CharPixel,
                                  row.data(), &exception) == MagickPass;
    if (ok) sink.PutRow(y, row.data(), format);
  }
  DestroyExceptionInfo(&exception);
  return ok ? TDecodeResult::Ok : TDecodeResult::Failed;
}

TFile Open(const std::string& path) { return TFile(std::fopen(path.c_str(), "rb")); }

// The bits per pixel of a bitmap file ("BM" header) or a packed DIB; 0 when unreadable.
// Bitmaps with a version 4 or 5 header carry an alpha mask whatever their depth, and
// GraphicsMagick then reports an alpha channel it never fills for 24-bit pictures: only a
// 32-bit bitmap has alpha worth reading.
int BitmapBitCount(std::FILE* file, bool fileHeader) {
  unsigned char header[32] = {};
  const std::size_t got = std::fread(header, 1, sizeof header, file);
  std::rewind(file);
  const std::size_t info = fileHeader ? 14 : 0;
  if (got < info + 16) return 0;
  const unsigned size = header[info] | header[info + 1] << 8U;
  const std::size_t at = info + (size == 12 ? 10 : 14);  // the old OS/2 header is shorter
  return header[at] | header[at + 1] << 8;
}

TDecodeResult DecodeMagick(const std::string& path, const char* coder, TPictureSink& sink) {
  TFile file = Open(path);
  if (!file) return TDecodeResult::Failed;
  const bool bitmap = std::strcmp(coder, "BMP") == 0;
  const bool alphaAllowed = !bitmap || BitmapBitCount(file.get(), true) == 32;
  const TMagickReading reading(sink);
  return Deliver(ReadMagick(file.get(), nullptr, coder, 0).get(), sink, alphaAllowed);
}

// A ".dib" is mostly a bitmap file written under another name; a packed DIB starts straight
// with the bitmap header.
TDecodeResult DecodeDib(const std::string& path, TPictureSink& sink) {
  TFile file = Open(path);
  if (!file) return TDecodeResult::Failed;
  char magic[2] = {};
  const bool full = std::fread(magic, 1, 2, file.get()) == 2 && magic[0] == 'B' && magic[1] == 'M';
  std::rewind(file.get());
  const bool alphaAllowed = BitmapBitCount(file.get(), full) == 32;
  const TMagickReading reading(sink);
  return Deliver(ReadMagick(file.get(), nullptr, full ? "BMP" : "DIB", 0).get(), sink, alphaAllowed);
}

// Word's screen captures are PCX files whose signature byte is 0xCD instead of 0x0A.
constexpr long MaxScrBytes = 64L << 20;

TDecodeResult DecodeScr(const std::string& path, TPictureSink& sink) {
  TFile file = Open(path);
  if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return TDecodeResult::Failed;
  const long size = std::ftell(file.get());
  if (size <= 0 || size > MaxScrBytes) return TDecodeResult::Failed;
  std::rewind(file.get());
  std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
  if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return TDecodeResult::Failed;
  if (bytes[0] == 0xCD) bytes[0] = 0x0A;
  const TMagickReading reading(sink);
  return Deliver(ReadMagick(nullptr, &bytes, "PCX", 0).get(), sink);
}

// Photo CD keeps five resolutions; 16Base (3072 x 2048, sub-image 5) is the full picture. Files
// that carry only the lower ones (Base at 768 x 512 and below) give their Base picture.
TDecodeResult DecodePcd(const std::string& path, TPictureSink& sink) {
  TFile file = Open(path);
  if (!file) return TDecodeResult::Failed;
  const TMagickReading reading(sink);
  TImage image = ReadMagick(file.get(), nullptr, "PCD", 5);
  if (!image && !sink.Cancelled()) {
    std::rewind(file.get());
    image = ReadMagick(file.get(), nullptr, "PCD", 3);
  }
  return Deliver(image.get(), sink);
}

// Ghostscript renders whatever it is given, even nothing, as a page: only PostScript goes to it,
// plain or behind the binary header of DOS EPS files.
bool IsPostScript(const std::string& path) {
  TFile file = Open(path);
  unsigned char magic[4] = {};
  if (!file || std::fread(magic, 1, 4, file.get()) != 4) return false;
  return std::memcmp(magic, "%!PS", 4) == 0 || std::memcmp(magic, "\xC5\xD0\xD3\xC6", 4) == 0;
}

TDecodeResult DecodePostScript(const std::string& path, const char* coder, TPictureSink& sink) {
  if (!IsPostScript(path)) return TDecodeResult::Failed;
  return Deliver(ReadMagick(nullptr, nullptr, coder, 0, path).get(), sink);
}

}  // namespace

std::string LowerExtension(const std::string& fileName) {
  const auto slash = fileName.find_last_of('/');
  const auto dot = fileName.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = fileName.substr(dot);
  for (char& c : extension)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return extension;
}

bool IsPictureExtension(const std::string& lowerExtension) { return Formats().count(lowerExtension) != 0; }

bool DecodesInHelper(const std::string& extension) {
  const auto found = Formats().find(extension);
  return found != Formats().end() && found->second.Helper;
}

TDecodeResult DecodeRegistry(const std::string& path, const std::string& extension, TPictureSink& sink) {
  if (!DecodesInHelper(extension)) return DecodeInProcess(path, extension, sink);
  // Our own checks first: most files that fail them are no pictures at all, and starting a
  // helper for them costs far more than reading them.
  const TReader reader = Formats().at(extension).Reader;
  if (reader == TReader::Delegate && !IsPostScript(path)) return TDecodeResult::Failed;
  if (reader == TReader::Emf)
    if (const TDecodeResult checked = CheckEmf(path); checked != TDecodeResult::Ok) return checked;
  return DecodeInHelper(path, extension, sink);
}

TDecodeResult DecodeInProcess(const std::string& path, const std::string& extension, TPictureSink& sink) {
  const auto found = Formats().find(extension);
  if (found == Formats().end()) return TDecodeResult::Failed;
  switch (found->second.Reader) {
    case TReader::Magick: return DecodeMagick(path, found->second.Coder, sink);
    case TReader::Dib: return DecodeDib(path, sink);
    case TReader::Scr: return DecodeScr(path, sink);
    case TReader::Pcd: return DecodePcd(path, sink);
    case TReader::Delegate: return DecodePostScript(path, found->second.Coder, sink);
    case TReader::Jpeg: return DecodeJpeg(path, sink);
    case TReader::Png: return DecodePng(path, sink);
    case TReader::Psd: return DecodePsd(path, sink);
    case TReader::Cel: return DecodeCel(path, sink);
    case TReader::Psp: return DecodePsp(path, sink);
    case TReader::Emf: return DecodeEmf(path, sink);
  }
  return TDecodeResult::Failed;
}

TDecodeResult DecodePicture(const std::string& path, TPictureSink& sink) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return TDecodeResult::Failed;
  const std::string extension = LowerExtension(path);
  if (extension == ".jpg" || extension == ".jpeg") return DecodeJpeg(path, sink);
  if (extension == ".png") return DecodePng(path, sink);
  return DecodeRegistry(path, extension, sink);
}
