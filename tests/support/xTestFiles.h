#pragma once
// Test helpers: a temporary folder and writers of small picture files.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// A folder of its own under the system's temporary folder, removed with everything in it.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::string& Path() const { return Path_; }
  std::string File(const std::string& name) const { return Path_ + "/" + name; }

private:
  std::string Path_;
};

// A picture in memory: RGB bytes, row 0 at the top.
struct TTestImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Rgb;

  TTestImage(int width, int height, std::uint8_t r = 0, std::uint8_t g = 0, std::uint8_t b = 0);
  std::uint8_t* At(int x, int y) { return Rgb.data() + (static_cast<std::size_t>(y) * Width + x) * 3; }
  const std::uint8_t* At(int x, int y) const { return Rgb.data() + (static_cast<std::size_t>(y) * Width + x) * 3; }
  void Set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b);
};

// A picture whose every pixel differs from its neighbours, so that any misplaced pixel shows.
TTestImage NoiseImage(int width, int height, unsigned seed);
// Smooth colour fields with fine grain: compresses like a photograph, not like noise or flat colour.
TTestImage PhotoLikeImage(int width, int height);

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// PNG with the given layout: colorType and bitDepth as libpng names them, rows packed as PNG
// stores them (rowBytes each). Palette and transparency are optional.
struct TPngLayout {
  int ColorType = 2;  // PNG_COLOR_TYPE_RGB
  int BitDepth = 8;
  bool Interlaced = false;
  std::vector<std::uint8_t> Palette;  // RGB triples
  std::vector<std::uint8_t> Transparency;  // tRNS: palette alphas, or a grey/RGB colour as 16-bit values
};
void WritePngRaw(const std::string& path, int width, int height, const TPngLayout& layout,
                 const std::vector<std::vector<std::uint8_t>>& rows);
void WritePng(const std::string& path, const TTestImage& image, bool interlaced = false);
void WriteJpeg(const std::string& path, const TTestImage& image, int quality = 95, bool progressive = false);
// Any format GraphicsMagick writes, by coder: WriteMagick(path, image, "BMP3").
void WriteMagick(const std::string& path, const TTestImage& image, const std::string& coder);

#include "xLog.h"
// Readable failure messages for captured log lines.
inline void PrintTo(const TLogCapture::TLine& line, std::ostream* out) {
  *out << "{\"" << line.Text << "\", level " << int(line.Level) << (line.Quiet ? ", quiet}" : "}");
}
