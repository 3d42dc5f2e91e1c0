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

// A progressive JPEG of three grey components whose coefficients are sent one at a time, bit
// plane by bit plane: `scans` scans (at most 2,647) that libjpeg must each take in over the
// whole picture. Written directly, so that even a large one takes no time to make.
void WriteManyScansJpeg(const std::string& path, int width, int height, int scans);
// A JPEG cut inside the coded data of its scan number `scan` (from 0), after the given share
// of it, with the end marker put back: what a repair tool makes of a file that was cut short.
std::string CutJpegScan(const std::string& jpeg, int scan, double kept);
// A large RGB PNG of Paeth-filtered rows: each row costs its decoder the full work, while the
// file stays small and quick to write. Height a multiple of 16.
void WriteLargePng(const std::string& path, int width, int height);
