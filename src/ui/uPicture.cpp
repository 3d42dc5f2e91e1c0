#include "uPicture.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "xJpeg.h"
#include "xPicDecode.h"

namespace {

// Receives the decoder's rows into a QImage; with a smaller target, every target pixel is the
// average of the source pixels that map onto it.
class TImageSink : public TPictureSink {
public:
  explicit TImageSink(QSize bound) : Bound(bound) {}

  bool Begin(int width, int height) override {
    Source = QSize(width, height);
    Target = Bound.isValid() ? FittedSize(Source, Bound) : Source;
    Image = QImage(Target, QImage::Format_ARGB32_Premultiplied);
    if (Image.isNull()) return false;  // not enough memory for it
    Image.fill(Qt::transparent);
    Sums.assign(static_cast<std::size_t>(Target.width()) * 4, 0);
    Counts.assign(static_cast<std::size_t>(Target.width()), 0);
    Column.resize(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
      Column[static_cast<std::size_t>(x)] =
          static_cast<int>(static_cast<std::int64_t>(x) * Target.width() / width);
    return true;
  }
  bool WantsRow(int) const override { return true; }
  int LastWantedRow() const override { return Source.height() - 1; }

  void PutRow(int y, const std::uint8_t* pixels, TPixelFormat format) override {
    const int row = static_cast<int>(static_cast<std::int64_t>(y) * Target.height() / Source.height());
    if (row != PendingRow) Flush();
    PendingRow = row;
    const int step = format == TPixelFormat::RGBA8 ? 4 : 3;
    for (int x = 0; x < Source.width(); ++x, pixels += step) {
      const std::uint32_t alpha = step == 4 ? pixels[3] : 255;
      const std::size_t tx = static_cast<std::size_t>(Column[static_cast<std::size_t>(x)]);
      std::uint64_t* sum = &Sums[tx * 4];
      sum[0] += pixels[0] * alpha;
      sum[1] += pixels[1] * alpha;
      sum[2] += pixels[2] * alpha;
      sum[3] += alpha * 255;
      ++Counts[tx];
    }
  }

  QImage Finish() {
    Flush();
    return std::move(Image);
  }

private:
  // Writes the averages gathered for the pending target row (premultiplied, 255 x 255 scale).
  void Flush() {
    if (PendingRow < 0) return;
    auto* line = reinterpret_cast<QRgb*>(Image.scanLine(PendingRow));
    for (int x = 0; x < Target.width(); ++x) {
      const std::size_t i = static_cast<std::size_t>(x);
      const std::uint64_t divisor = Counts[i] * 255;
      if (divisor == 0) continue;
      const auto channel = [&](int c) { return static_cast<int>((Sums[i * 4 + c] + divisor / 2) / divisor); };
      line[x] = qRgba(channel(0), channel(1), channel(2), channel(3));
    }
    std::fill(Sums.begin(), Sums.end(), 0);
    std::fill(Counts.begin(), Counts.end(), 0);
    PendingRow = -1;
  }

  QSize Bound, Source, Target;
  QImage Image;
  std::vector<std::uint64_t> Sums;
  std::vector<std::uint64_t> Counts;
  std::vector<int> Column;
  int PendingRow = -1;
};

}  // namespace

QSize FittedSize(QSize source, QSize bound) {
  if (source.width() <= bound.width() && source.height() <= bound.height()) return source;
  // The side that hits its bound first decides; the other follows, rounded, at least 1.
  const double scale = std::min(static_cast<double>(bound.width()) / source.width(),
                                static_cast<double>(bound.height()) / source.height());
  return QSize(std::max(1, static_cast<int>(source.width() * scale + 0.5)),
               std::max(1, static_cast<int>(source.height() * scale + 0.5)));
}

QImage LoadToImage(const std::string& fileName, QSize bound) {
  TImageSink sink(bound);
  TDecodeResult result;
  const std::string extension = LowerExtension(fileName);
  struct stat info {};
  if (bound.isValid() && (extension == ".jpg" || extension == ".jpeg") && ::stat(fileName.c_str(), &info) == 0 &&
      S_ISREG(info.st_mode))
    result = DecodeJpegReduced(fileName, sink, bound.width(), bound.height());  // libjpeg scales while decoding
  else
    result = DecodePicture(fileName, sink);
  if (result == TDecodeResult::Empty) throw EPictureLoad("Empty image in \"" + fileName + "\"");
  if (result != TDecodeResult::Ok) throw EPictureLoad("Failed to load \"" + fileName + "\"");
  return sink.Finish();
}
