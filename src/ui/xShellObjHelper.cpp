#include "xShellObjHelper.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPainter>
#include <QPainterPath>

#include "uPicture.h"
#include "xJpeg.h"
#include "xPicDecode.h"

namespace {

// The size folders of the cache, smallest first: the first current entry is the cheapest to read.
const char* const SizeFolders[] = {"normal", "large", "x-large", "xx-large"};

// The side of the cache's "normal" entries.
constexpr int NormalSide = 128;

// Cache entries are at most 1024 pixels a side; anything much larger is not one.
constexpr int MaxCachedSide = 2048;

// The cache entry, when it describes the file as it is now.
std::optional<QImage> CurrentEntry(const std::string& entryFile, const std::string& uri, const struct stat& info) {
  QImageReader reader(QString::fromStdString(entryFile), "png");
  const QSize size = reader.size();
  if (!size.isValid() || size.width() > MaxCachedSide || size.height() > MaxCachedSide) return std::nullopt;
  QImage image = reader.read();
  if (image.isNull()) return std::nullopt;
  if (image.text(QStringLiteral("Thumb::URI")).toStdString() != uri) return std::nullopt;
  // Integer seconds; a writer that adds a fraction still names the same second.
  bool ok = false;
  const QString mtime = image.text(QStringLiteral("Thumb::MTime"));
  const qlonglong seconds = mtime.section(QLatin1Char('.'), 0, 0).toLongLong(&ok);
  if (!ok || seconds != static_cast<qlonglong>(info.st_mtime)) return std::nullopt;
  const QString size_ = image.text(QStringLiteral("Thumb::Size"));
  if (!size_.isEmpty() && size_.toLongLong() != static_cast<qlonglong>(info.st_size)) return std::nullopt;
  return image;
}

QImage Fitted(const QImage& image, QSize bound) {
  const QSize target = FittedSize(image.size(), bound);
  QImage result = target == image.size() ? image : image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return result.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// A page with a folded corner and the extension on a band: the icon of a type the theme has none for.
QImage OwnTypeIcon(const std::string& fileName, int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal left = size * 0.17, right = size * 0.83, top = size * 0.5 / 16, bottom = size - size * 0.5 / 16;
  const qreal fold = size * 0.25;
  QPainterPath page;
  page.moveTo(left, top);
  page.lineTo(right - fold, top);
  page.lineTo(right, top + fold);
  page.lineTo(right, bottom);
  page.lineTo(left, bottom);
  page.closeSubpath();
  painter.setPen(QPen(QColor(118, 124, 132), std::max(1.0, size / 32.0)));
  painter.setBrush(QColor(250, 250, 250));
  painter.drawPath(page);
  QPainterPath corner;
  corner.moveTo(right - fold, top);
  corner.lineTo(right - fold, top + fold);
  corner.lineTo(right, top + fold);
  painter.setBrush(QColor(214, 218, 224));
  painter.drawPath(corner);
  // Text lines on the page.
  painter.setPen(QPen(QColor(190, 195, 202), std::max(1.0, size / 32.0)));
  for (qreal y = top + fold + size * 0.08; y < size * 0.58; y += size * 0.09)
    painter.drawLine(QPointF(left + size * 0.1, y), QPointF(right - size * 0.1, y));
  std::string extension = LowerExtension(fileName);
  if (extension.size() > 1) {
    QString label = QString::fromStdString(extension.substr(1)).toUpper().left(4);
    const QRectF band(left - size * 0.06, size * 0.62, right - left + size * 0.12, size * 0.24);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(52, 101, 164));
    painter.drawRoundedRect(band, size * 0.03, size * 0.03);
    QFont font;
    font.setBold(true);
    font.setPixelSize(std::max(6, static_cast<int>(size * 0.19)));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(band, Qt::AlignCenter, label);
  }
  return image;
}

}  // namespace

std::string ThumbnailUri(const std::string& path) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const unsigned char c : path) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      std::string_view("!$&'()*+,-./:=@_~").find(static_cast<char>(c)) != std::string_view::npos;
    if (kept) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += Hex[c >> 4];
      uri += Hex[c & 15];
    }
  }
  return uri;
}

std::string ThumbnailCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && cache[0] == '/') return std::string(cache) + "/thumbnails";
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.cache/thumbnails";
}

std::string CachedThumbnailFile(const std::string& uri, const std::string& sizeFolder) {
  const QByteArray digest =
      QCryptographicHash::hash(QByteArray::fromStdString(uri), QCryptographicHash::Md5).toHex();
  return ThumbnailCacheFolder() + "/" + sizeFolder + "/" + digest.toStdString() + ".png";
}

std::optional<TExtractImage> GetExtractImage(const std::string& fileName) {
  struct stat info {};
  if (::stat(fileName.c_str(), &info) != 0) throw EShellFailure("Cannot reach \"" + fileName + "\"");
  if (!S_ISREG(info.st_mode)) return std::nullopt;
  const std::string uri = ThumbnailUri(fileName);
  for (const char* folder : SizeFolders) {
    const std::string entry = CachedThumbnailFile(uri, folder);
    struct stat entryInfo {};
    if (::stat(entry.c_str(), &entryInfo) != 0 || !S_ISREG(entryInfo.st_mode)) continue;
    if (std::optional<QImage> image = CurrentEntry(entry, uri, info)) return TExtractImage{fileName, std::move(*image)};
  }
  if (!IsPictureExtension(LowerExtension(fileName))) return std::nullopt;
  return TExtractImage{fileName, QImage()};
}

std::optional<QImage> ExtractThumbnail(const TExtractImage& extractor, int width, int height) {
  const QSize bound(std::max(1, width), std::max(1, height));
  if (!extractor.Cached.isNull()) return Fitted(extractor.Cached, bound);
  const std::string& name = extractor.FileName;
  try {
    // A pipe put in the file's place must not be opened; the time and size go into the cache.
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) throw EPictureLoad("Failed to load \"" + name + "\"");
    // Made at the cache's normal size where that is enough, and kept there for the next time.
    const bool cacheable = bound.width() <= NormalSide && bound.height() <= NormalSide;
    const QSize decoded = cacheable ? QSize(NormalSide, NormalSide) : bound;
    const QImage picture = LoadToImage(name, decoded);  // JPEGs scaled by libjpeg while decoding
    if (cacheable) StoreThumbnail(name, picture, info);
    return Fitted(picture, bound);
  } catch (const EPictureLoad& failure) {
    qDebug().noquote() << "EPictureLoad:" << failure.what();
    return std::nullopt;
  }
}

bool StoreThumbnail(const std::string& fileName, const QImage& thumbnail, const struct stat& info) {
  const std::string folder = ThumbnailCacheFolder();
  // The cache's own files get no thumbnails.
  if (fileName.compare(0, folder.size() + 1, folder + "/") == 0 || thumbnail.isNull()) return false;
  const std::string uri = ThumbnailUri(fileName);
  const std::string entry = CachedThumbnailFile(uri, "normal");
  const std::string sizeFolder = folder + "/normal";
  // The folders are private to the user, as the standard asks.
  ::mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
  ::mkdir(folder.c_str(), 0700);
  ::mkdir(sizeFolder.c_str(), 0700);
  QImage image = thumbnail;
  image.setText(QStringLiteral("Thumb::URI"), QString::fromStdString(uri));
  image.setText(QStringLiteral("Thumb::MTime"), QString::number(static_cast<qlonglong>(info.st_mtime)));
  image.setText(QStringLiteral("Thumb::Size"), QString::number(static_cast<qlonglong>(info.st_size)));
  image.setText(QStringLiteral("Software"), QStringLiteral("Twinsifter"));
  // Written beside its place and renamed into it: a reader never sees half an entry.
  static std::atomic<unsigned> written{0};
  const std::string temporary = entry + "." + std::to_string(::getpid()) + "-" + std::to_string(++written) + ".tmp";
  const int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (descriptor < 0) return false;
  QFile file;
  if (!file.open(descriptor, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle)) {
    ::close(descriptor);
    ::unlink(temporary.c_str());
    return false;
  }
  bool done = image.save(&file, "PNG");
  file.close();
  done = done && ::rename(temporary.c_str(), entry.c_str()) == 0;
  if (!done) ::unlink(temporary.c_str());
  return done;
}

QImage GetShellIcon(const std::string& fileName, int size) {
  struct stat info {};
  const bool regular = ::stat(fileName.c_str(), &info) == 0 && S_ISREG(info.st_mode);
  // Only a regular file is opened to look at its content; a pipe would block.
  const QMimeType mime = QMimeDatabase().mimeTypeForFile(
      QString::fromStdString(fileName), regular ? QMimeDatabase::MatchDefault : QMimeDatabase::MatchExtension);
  for (const QString& name : {mime.iconName(), mime.genericIconName()}) {
    const QIcon icon = QIcon::fromTheme(name);
    if (icon.isNull()) continue;
    QImage image = icon.pixmap(QSize(size, size)).toImage();
    if (image.isNull()) continue;
    image.setDevicePixelRatio(1);  // a high-density screen's larger pixmap is taken at its pixels
    return Fitted(image, QSize(size, size));
  }
  return OwnTypeIcon(fileName, size);
}
