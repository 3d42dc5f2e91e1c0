// Enhanced metafiles (.emf): converted to SVG by libemf2svg and drawn by librsvg at the
// metafile's own size in pixels of its reference device. The converter is loaded at run time
// and kept to itself: its metafile library exports names (wmf_free and others) that are also
// those of the library GraphicsMagick reads Windows metafiles with, and linked in the ordinary
// way it would take their place and break that reader. Point sampling needs only some rows,
// so each wanted row is drawn on its own one-row surface: memory stays at one row whatever
// size the header claims.

#include <cairo.h>
#include <dlfcn.h>
#include <emf2svg.h>
#include <librsvg/rsvg.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "xOwnFormats.h"

namespace {

constexpr std::uint32_t HeaderRecord = 1;
constexpr std::uint32_t EofRecord = 14;
constexpr std::uint32_t EmfSignature = 0x464D4520;  // " EMF"
constexpr std::int64_t MaxEmfBytes = 64 << 20;
constexpr int MaxSide = 1 << 14;

std::int32_t Signed(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
                                   static_cast<std::uint32_t>(b[at + 2]) << 16 |
                                   static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint32_t Unsigned(const std::vector<std::uint8_t>& b, std::size_t at) { return static_cast<std::uint32_t>(Signed(b, at)); }

// The header and the chain of records must hold together before the converter sees them:
// every record inside the file, aligned, and the last one the end-of-file record.
bool WellFormed(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < 88 || Unsigned(bytes, 0) != HeaderRecord || Unsigned(bytes, 40) != EmfSignature) return false;
  const std::uint32_t total = Unsigned(bytes, 48);
  if (total < 88 || total > bytes.size()) return false;
  std::size_t at = 0;
  while (at + 8 <= total) {
    const std::uint32_t type = Unsigned(bytes, at);
    const std::uint32_t size = Unsigned(bytes, at + 4);
    if (size < 8 || size % 4 != 0 || size > total - at) return false;
    if (at == 0 && size < 88) return false;
    at += size;
    if (type == EofRecord) return true;
  }
  return false;
}

// The picture frame (in hundredths of a millimetre) in pixels of the reference device.
bool FrameSize(const std::vector<std::uint8_t>& bytes, int& width, int& height) {
  const double frameWidth = static_cast<double>(Signed(bytes, 32)) - Signed(bytes, 24);
  const double frameHeight = static_cast<double>(Signed(bytes, 36)) - Signed(bytes, 28);
  const double devicePixelsX = Signed(bytes, 72), devicePixelsY = Signed(bytes, 76);
  const double deviceMmX = Signed(bytes, 80), deviceMmY = Signed(bytes, 84);
  if (devicePixelsX <= 0 || devicePixelsY <= 0 || deviceMmX <= 0 || deviceMmY <= 0) return false;
  const double w = std::round(frameWidth * devicePixelsX / (deviceMmX * 100.0));
  const double h = std::round(frameHeight * devicePixelsY / (deviceMmY * 100.0));
  if (!(w > -1e9 && w < 1e9 && h > -1e9 && h < 1e9)) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

using TConvert = int (*)(char*, std::size_t, char**, std::size_t*, generatorOptions*);

TConvert Converter() {
  static const TConvert convert = [] {
    void* library = ::dlopen("libemf2svg.so.1", RTLD_NOW | RTLD_LOCAL);
    return library ? reinterpret_cast<TConvert>(::dlsym(library, "emf2svg")) : nullptr;
  }();
  return convert;
}

// The converter is not documented as safe for concurrent use.
std::mutex ConverterLock;

bool ToSvg(std::vector<std::uint8_t>& bytes, int width, int height, std::string& svg) {
  generatorOptions options{};
  // No namespace prefix: the converter allocates one per call and never frees it.
  options.nameSpace = const_cast<char*>("");
  options.emfplus = true;
  options.svgDelimiter = true;
  options.imgWidth = width;
  options.imgHeight = height;
  const TConvert convert = Converter();
  if (!convert) return false;
  char* out = nullptr;
  std::size_t length = 0;
  int ok = 0;
  {
    std::lock_guard<std::mutex> lock(ConverterLock);
    ok = convert(reinterpret_cast<char*>(bytes.data()), bytes.size(), &out, &length, &options);
  }
  if (ok && out) svg.assign(out, length);
  std::free(out);
  return ok && !svg.empty();
}

struct TUnref {
  void operator()(RsvgHandle* handle) const { g_object_unref(handle); }
};

TDecodeResult ReadChecked(const std::string& path, std::vector<std::uint8_t>& bytes, int& width, int& height) {
  TFileReader file(path);
  if (!file.Good() || file.Size() > MaxEmfBytes) return TDecodeResult::Failed;
  bytes.resize(static_cast<std::size_t>(file.Size()));
  if (!file.Read(bytes.data(), file.Size()) || !WellFormed(bytes)) return TDecodeResult::Failed;
  if (!FrameSize(bytes, width, height)) return TDecodeResult::Failed;
  if (width <= 0 || height <= 0) return TDecodeResult::Empty;
  if (width > MaxSide || height > MaxSide) return TDecodeResult::Failed;
  return TDecodeResult::Ok;
}

}  // namespace

TDecodeResult CheckEmf(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  int width = 0, height = 0;
  return ReadChecked(path, bytes, width, height);
}

TDecodeResult DecodeEmf(const std::string& path, TPictureSink& sink) {
  std::vector<std::uint8_t> bytes;
  int width = 0, height = 0;
  if (const TDecodeResult checked = ReadChecked(path, bytes, width, height); checked != TDecodeResult::Ok)
    return checked;
  std::string svg;
  if (!ToSvg(bytes, width, height, svg)) return TDecodeResult::Failed;

  GError* error = nullptr;
  std::unique_ptr<RsvgHandle, TUnref> handle(
      rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(svg.data()), svg.size(), &error));
  if (!handle) {
    g_clear_error(&error);
    return TDecodeResult::Failed;
  }
  if (!sink.Begin(width, height)) return TDecodeResult::Failed;
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, 1);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return TDecodeResult::Failed;
  }
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4);
  bool ok = true;
  const int last = std::min(sink.LastWantedRow(), height - 1);
  for (int y = 0; y <= last && ok; ++y) {
    if (!sink.WantsRow(y)) continue;
    cairo_t* cr = cairo_create(surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    const RsvgRectangle viewport{0, -static_cast<double>(y), static_cast<double>(width), static_cast<double>(height)};
    ok = rsvg_handle_render_document(handle.get(), cr, &viewport, &error) != FALSE;
    g_clear_error(&error);
    cairo_destroy(cr);
    if (!ok) break;
    cairo_surface_flush(surface);
    // Cairo keeps premultiplied native-endian ARGB words.
    const auto* pixels = reinterpret_cast<const std::uint32_t*>(cairo_image_surface_get_data(surface));
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = pixels[x];
      const unsigned a = p >> 24;
      std::uint8_t* out = &row[static_cast<std::size_t>(x) * 4];
      for (int c = 0; c < 3; ++c) {
        const unsigned v = (p >> (16 - 8 * c)) & 0xFF;
        out[c] = static_cast<std::uint8_t>(a == 0 ? 0 : std::min(255U, (v * 255 + a / 2) / a));
      }
      out[3] = static_cast<std::uint8_t>(a);
    }
    sink.PutRow(y, row.data(), TPixelFormat::RGBA8);
  }
  cairo_surface_destroy(surface);
  return ok ? TDecodeResult::Ok : TDecodeResult::Failed;
}
