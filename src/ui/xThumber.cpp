#include "xThumber.h"

#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <unordered_map>

#include <QPainter>
#include <QPixmap>

#include "xLog.h"
#include "xShellObjHelper.h"

namespace {

constexpr int ShadowSide = 8;
// Alpha of the bottom band's rows, top to bottom, and of the right band's columns, left to right.
constexpr std::array<int, ShadowSide> BottomRows = {122, 109, 91, 72, 52, 33, 16, 3};
constexpr std::array<int, ShadowSide> RightColumns = {121, 107, 89, 69, 50, 30, 14, 2};
// How the band ends fade in along the band (out of 255).
constexpr std::array<int, ShadowSide> FadeIn = {30, 61, 91, 121, 151, 182, 212, 242};

const QRgb Silver = qRgb(192, 192, 192);
const QRgb Grey = qRgb(128, 128, 128);

QImage ShadowPiece(int (*alpha)(int x, int y)) {
  QImage piece(ShadowSide, ShadowSide, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < ShadowSide; ++y)
    for (int x = 0; x < ShadowSide; ++x) piece.setPixel(x, y, qRgba(0, 0, 0, alpha(x, y)));
  return piece;
}

int Scaled(int a, int b, double by) { return static_cast<int>(std::lround(a * b / by)); }

// The type icon's size on a card of width x height: the shell's large icon, bigger on the
// larger cards so that it does not look lost on them.
int IconSide(int width, int height) {
  const int side = std::min(width, height) * 3 / 4;
  return std::max(32, side / 16 * 16);
}

}  // namespace

// What AddThumbnail finds out before it draws: the thumbnail, or that there is none (the icon
// is drawn on the interface's thread), or that the file could not be reached.
struct TThumbResult {
  bool Failed = false;
  std::optional<QImage> Thumbnail;
};

static TThumbResult MakeThumbnail(const std::string& fileName, int width, int height) {
  TThumbResult result;
  try {
    if (const std::optional<TExtractImage> extractor = GetExtractImage(fileName))
      result.Thumbnail = ExtractThumbnail(*extractor, width, height);
  } catch (...) {
    result.Failed = true;
    result.Thumbnail.reset();
  }
  return result;
}

// Worker threads making a list of thumbnails in order; results wait until they are taken.
class TThumbPrefetch {
public:
  TThumbPrefetch(const std::vector<std::string>& fileNames, int width, int height)
      : Files(fileNames), Width(width), Height(height), Results(fileNames.size()), Ready(fileNames.size(), false) {
    for (std::size_t i = 0; i < Files.size(); ++i) Index.emplace(Files[i], i);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const std::size_t count = std::min<std::size_t>(cores, Files.size());
    try {
      for (std::size_t i = 0; i < count; ++i) Workers.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      // Fewer threads than cores, or none: AddThumbnail then makes its thumbnails itself.
    }
  }
  ~TThumbPrefetch() {
    Stop = true;
    for (std::thread& worker : Workers) worker.join();
  }

  bool Fits(int width, int height) const { return width == Width && height == Height; }

  // The file's result once it is made; none when the file is not in the list or was taken.
  std::optional<TThumbResult> Take(const std::string& fileName) {
    const auto found = Index.find(fileName);
    if (Workers.empty() || found == Index.end()) return std::nullopt;
    const std::size_t i = found->second;
    Index.erase(found);
    std::unique_lock<std::mutex> lock(Lock);
    Done.wait(lock, [&] { return Ready[i]; });
    return std::move(Results[i]);
  }

private:
  void Work() {
    for (std::size_t i = Next++; i < Files.size() && !Stop; i = Next++) {
      TThumbResult result = MakeThumbnail(Files[i], Width, Height);
      std::lock_guard<std::mutex> lock(Lock);
      Results[i] = std::move(result);
      Ready[i] = true;
      Done.notify_all();
    }
  }

  const std::vector<std::string> Files;
  const int Width, Height;
  std::unordered_map<std::string, std::size_t> Index;  // the interface thread's alone
  std::mutex Lock;
  std::condition_variable Done;
  std::vector<TThumbResult> Results;
  std::vector<bool> Ready;
  std::atomic<std::size_t> Next{0};
  std::atomic<bool> Stop{false};
  std::vector<std::thread> Workers;
};

void TImageList::SetSize(int width, int height) {
  Width_ = width;
  Height_ = height;
  Images.clear();
}

int TImageList::Add(const QImage& image) {
  Images.push_back(image);
  return Count() - 1;
}

QIcon TImageList::Icon(int index) const { return QIcon(QPixmap::fromImage(Image(index))); }

const TImageList& ShadowList() {
  static const TImageList pieces = [] {
    TImageList list(ShadowSide, ShadowSide);
    list.Add(ShadowPiece([](int x, int y) { return Scaled(BottomRows[std::size_t(y)], FadeIn[std::size_t(x)], 255); }));
    list.Add(ShadowPiece([](int, int y) { return BottomRows[std::size_t(y)]; }));
    list.Add(ShadowPiece([](int x, int y) { return Scaled(RightColumns[std::size_t(x)], BottomRows[std::size_t(y)], 128); }));
    list.Add(ShadowPiece([](int x, int) { return RightColumns[std::size_t(x)]; }));
    list.Add(ShadowPiece([](int x, int y) { return Scaled(RightColumns[std::size_t(x)], FadeIn[std::size_t(y)], 255); }));
    return list;
  }();
  return pieces;
}

TThumber::TThumber() : Cell_(16, 16, QImage::Format_ARGB32_Premultiplied), BackColor_(Qt::white) {
  Cell_.fill(BackColor_);
}

TThumber::~TThumber() = default;

void TThumber::Prefetch(const std::vector<std::string>& fileNames, const TImageList& list) {
  Ahead.reset();
  const int s = ShadowWidth();
  const int width = list.Width() - s, height = list.Height() - s;
  if (width < 1 || height < 1 || fileNames.empty()) return;
  Ahead = std::make_unique<TThumbPrefetch>(fileNames, width, height);
}

void TThumber::SetBackColor(const QColor& color) { BackColor_ = color; }

void TThumber::PrepareBackground(const TImageList& list) {
  if (Ahead && !Ahead->Fits(list.Width() - ShadowWidth(), list.Height() - ShadowWidth())) Ahead.reset();
  if (Cell_.width() != list.Width() || Cell_.height() != list.Height())
    Cell_ = QImage(std::max(1, list.Width()), std::max(1, list.Height()), QImage::Format_ARGB32_Premultiplied);
  Cell_.fill(BackColor_);
  if (!Shadows || Shadows->Count() < 5) return;
  const int s = Shadows->Width(), w = Cell_.width(), h = Cell_.height();
  QPainter painter(&Cell_);
  painter.drawImage(0, h - s, Shadows->Image(0));
  painter.drawImage(w - s, 0, Shadows->Image(4));
  painter.drawImage(w - s, h - s, Shadows->Image(2));
  for (int i = s; i < w - s; i += s) painter.drawImage(i, h - s, Shadows->Image(1));
  for (int i = s; i < h - s; i += s) painter.drawImage(w - s, i, Shadows->Image(3));
}

void TThumber::DrawCard(int width, int height) {
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(Cell_.scanLine(y));
    for (int x = 0; x < width; ++x)
      line[x] = (x == 0 || y == 0 || x == width - 1 || y == height - 1) ? Silver : qRgb(255, 255, 255);
  }
}

// Silver at the left and top, grey at the right and bottom; the top-right corner is grey, the
// bottom-left silver.
void TThumber::DrawFrame(int width, int height) {
  for (int y = 1; y < height; ++y) Cell_.setPixel(0, y, Silver);
  for (int x = 0; x < width - 1; ++x) Cell_.setPixel(x, 0, Silver);
  for (int y = 0; y < height - 1; ++y) Cell_.setPixel(width - 1, y, Grey);
  for (int x = 1; x < width; ++x) Cell_.setPixel(x, height - 1, Grey);
}

int TThumber::AddThumbnail(const std::string& fileName, TImageList& list) {
  // A list whose size changed since the last preparation gets its own background first.
  if (Cell_.width() != list.Width() || Cell_.height() != list.Height()) PrepareBackground(list);
  const int s = ShadowWidth();
  const int width = list.Width() - s, height = list.Height() - s;
  if (width < 1 || height < 1) return -1;
  std::optional<TThumbResult> made;
  if (Ahead && Ahead->Fits(width, height)) made = Ahead->Take(fileName);
  if (!made) made = MakeThumbnail(fileName, width, height);
  try {
    if (made->Failed) throw EShellFailure(fileName);
    if (const std::optional<QImage>& thumbnail = made->Thumbnail) {
      QPainter painter(&Cell_);
      // The cell is reused: a smaller thumbnail must not show the previous one around it.
      // Centred, so that wide and tall pictures sit in the frame the same way.
      painter.fillRect(0, 0, width, height, BackColor_);
      painter.drawImage((width - thumbnail->width()) / 2, (height - thumbnail->height()) / 2, *thumbnail);
      painter.end();
      DrawFrame(width, height);
      return list.Add(Cell_);
    }
    const QImage icon = GetShellIcon(fileName, IconSide(width, height));
    DrawCard(width, height);
    QPainter painter(&Cell_);
    if (icon.width() <= width && icon.height() <= height)
      painter.drawImage((width - icon.width()) / 2, (height - icon.height()) / 2, icon);
    else
      painter.drawImage(QRect(0, 0, width, height), icon);
    painter.end();
    return list.Add(Cell_);
  } catch (...) {
    DrawCard(width, height);
    const int index = list.Add(Cell_);
    LogInfo("Thumb extraction failure \"" + fileName + "\"");
    return index;
  }
}
