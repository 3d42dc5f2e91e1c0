#include "uIcons.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

#include <array>
#include <memory>
#include <mutex>
#include <span>

// The resources live in this static library, so they are registered by hand. Q_INIT_RESOURCE
// declares an extern function at its own scope: it must stay outside any namespace.
static void RegisterIconResources() { Q_INIT_RESOURCE(icons); }

namespace {

constexpr std::size_t IconCount = static_cast<std::size_t>(TIcon::Application) + 1;

const char* FileName(TIcon id) {
  switch (id) {
    case TIcon::AddFolder: return "add-folder";
    case TIcon::RemoveFolder: return "remove-folder";
    case TIcon::ClearFolders: return "clear-folders";
    case TIcon::Start: return "start";
    case TIcon::Stop: return "stop";
    case TIcon::Move: return "move";
    case TIcon::Delete: return "delete";
    case TIcon::Settings: return "settings";
    case TIcon::Help: return "help";
    case TIcon::LoadResults: return "load-results";
    case TIcon::SaveResults: return "save-results";
    case TIcon::Exit: return "exit";
    case TIcon::ShowFile: return "show-file";
    case TIcon::OpenFile: return "open-file";
    case TIcon::About: return "about";
    case TIcon::Tips: return "tips";
    case TIcon::HowTo: return "how-to";
    case TIcon::Console: return "console";
    case TIcon::Folders: return "folders";
    case TIcon::Sample: return "sample";
    case TIcon::Options: return "options";
    case TIcon::Duplicates: return "duplicates";
    case TIcon::Properties: return "properties";
    case TIcon::Info: return "info";
    case TIcon::Warning: return "warning";
    case TIcon::Error: return "error";
    case TIcon::Copy: return "copy";
    case TIcon::Clear: return "clear";
    case TIcon::Mail: return "mail";
    case TIcon::SaveFile: return "save-file";
    case TIcon::Application: return "application";
  }
  return nullptr;
}

// Drawn here into pixmaps at the sizes menus, tool bars and frames use rather than left to the
// SVG icon engine: that one is a plugin, and a machine without it would show no icons at all.
// Sizes in between are scaled from the nearest larger pixmap by QIcon.
QIcon Render(TIcon id) {
  const char* name = FileName(id);
  if (!name) return QIcon();
  const auto load = [](const char* file) {
    return std::make_unique<QSvgRenderer>(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(file)));
  };
  const auto svg = load(name);
  // The application's own icon has a simpler drawing for the smallest size.
  const auto small = id == TIcon::Application ? load("application-16") : nullptr;
  if (!svg->isValid() || (small && !small->isValid())) return QIcon();
  QIcon icon;
  static constexpr std::array<int, 4> Common{16, 24, 32, 48};
  static constexpr std::array<int, 7> Desktop{16, 24, 32, 48, 64, 128, 256};  // also the desktop entry's
  const std::span<const int> sizes = id == TIcon::Application ? std::span<const int>(Desktop) : Common;
  for (const int side : sizes) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    (small && side <= 16 ? small : svg)->render(&painter, QRectF(0, 0, side, side));
    painter.end();
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace

QIcon Icon(TIcon id) {
  static std::once_flag registered;
  std::call_once(registered, RegisterIconResources);
  static std::mutex guard;
  static std::array<QIcon, IconCount> cache;
  const auto index = static_cast<std::size_t>(id);
  if (index >= IconCount) return QIcon();
  const std::lock_guard lock(guard);
  QIcon& icon = cache[index];
  if (icon.isNull()) icon = Render(id);
  return icon;
}
