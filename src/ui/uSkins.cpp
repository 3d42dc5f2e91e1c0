#include "uSkins.h"

#include <algorithm>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>

#include "xLog.h"
#include "xStorage.h"

namespace {

// The second built-in skin: the Fusion controls in warm greys with a navy selection.
const char* const ClassicSkin = "Classic";
const char* const ClassicPalette =
    "Window: #d8d4cc; WindowText: #000000; Base: #ffffff; AlternateBase: #f3f1ec; Text: #000000;"
    "Button: #dcd8d0; ButtonText: #000000; Highlight: #1c3f8c; HighlightedText: #ffffff;"
    "ToolTipBase: #ffffe1; ToolTipText: #000000; Link: #1c3f8c; LinkVisited: #6a2c8c;"
    "Light: #ffffff; Midlight: #ebe8e2; Mid: #a9a59c; Dark: #86827a; Shadow: #45423d";

QPalette FusionPalette() {
  static const QPalette palette = [] {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return fusion ? fusion->standardPalette() : QPalette();
  }();
  return palette;
}

struct TRoleName {
  const char* Name;
  QPalette::ColorRole Role;
};
constexpr TRoleName RoleNames[] = {
    {"Window", QPalette::Window},         {"WindowText", QPalette::WindowText},
    {"Base", QPalette::Base},             {"AlternateBase", QPalette::AlternateBase},
    {"Text", QPalette::Text},             {"Button", QPalette::Button},
    {"ButtonText", QPalette::ButtonText}, {"Highlight", QPalette::Highlight},
    {"HighlightedText", QPalette::HighlightedText}, {"ToolTipBase", QPalette::ToolTipBase},
    {"ToolTipText", QPalette::ToolTipText}, {"Link", QPalette::Link},
    {"LinkVisited", QPalette::LinkVisited}, {"BrightText", QPalette::BrightText},
    {"PlaceholderText", QPalette::PlaceholderText}, {"Light", QPalette::Light},
    {"Midlight", QPalette::Midlight},     {"Mid", QPalette::Mid},
    {"Dark", QPalette::Dark},             {"Shadow", QPalette::Shadow},
};

bool RoleOf(const QString& name, QPalette::ColorRole& role) {
  for (const TRoleName& entry : RoleNames)
    if (name.compare(QLatin1String(entry.Name), Qt::CaseInsensitive) == 0) {
      role = entry.Role;
      return true;
    }
  return false;
}

QColor Mix(const QColor& a, const QColor& b, double share) {
  return QColor::fromRgbF(static_cast<float>(a.redF() * share + b.redF() * (1 - share)),
                          static_cast<float>(a.greenF() * share + b.greenF() * (1 - share)),
                          static_cast<float>(a.blueF() * share + b.blueF() * (1 - share)));
}

// Role assignments "Role: colour; Group.Role: colour; ..." into a palette made from the
// window and button colours they name (or the Fusion palette when they name neither).
QPalette PaletteFrom(const QString& text) {
  struct TEntry {
    bool Disabled;
    QPalette::ColorRole Role;
    QColor Color;
  };
  std::vector<TEntry> entries;
  for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const qsizetype colon = part.indexOf(QLatin1Char(':'));
    if (colon < 0) continue;
    QString name = part.left(colon).trimmed();
    const QColor color(part.mid(colon + 1).trimmed());
    bool disabled = false;
    if (name.startsWith(QLatin1String("Disabled."), Qt::CaseInsensitive)) {
      disabled = true;
      name = name.mid(9);
    }
    QPalette::ColorRole role;
    if (color.isValid() && RoleOf(name, role)) entries.push_back({disabled, role, color});
  }
  QColor window, button;
  for (const TEntry& entry : entries)
    if (!entry.Disabled && entry.Role == QPalette::Window) window = entry.Color;
    else if (!entry.Disabled && entry.Role == QPalette::Button) button = entry.Color;
  QPalette palette = FusionPalette();
  if (window.isValid() || button.isValid())
    palette = QPalette(button.isValid() ? button : window, window.isValid() ? window : button);
  for (const TEntry& entry : entries)
    if (!entry.Disabled) {
      palette.setColor(QPalette::Active, entry.Role, entry.Color);
      palette.setColor(QPalette::Inactive, entry.Role, entry.Color);
    }
  // Disabled text half way to its background, unless the sheet says otherwise.
  const auto dim = [&palette](QPalette::ColorRole role, QPalette::ColorRole back) {
    palette.setColor(QPalette::Disabled, role,
                     Mix(palette.color(QPalette::Active, role), palette.color(QPalette::Active, back), 0.45));
  };
  if (!entries.empty()) {
    dim(QPalette::WindowText, QPalette::Window);
    dim(QPalette::Text, QPalette::Base);
    dim(QPalette::ButtonText, QPalette::Button);
    for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button})
      palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
  }
  for (const TEntry& entry : entries)
    if (entry.Disabled) palette.setColor(QPalette::Disabled, entry.Role, entry.Color);
  return palette;
}

QPalette ShiftPalette(const QPalette& base, int hue, int saturation) {
  QPalette palette = base;
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
      const auto colorRole = static_cast<QPalette::ColorRole>(role);
      palette.setColor(group, colorRole, TSkinManager::ShiftColor(base.color(group, colorRole), hue, saturation));
    }
  return palette;
}

bool IsNameChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-'); }

bool IsHexDigit(QChar c) {
  const char16_t u = c.unicode();
  return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

int Channel(const QString& text) {
  QString value = text.trimmed();
  bool ok = false;
  if (value.endsWith(QLatin1Char('%'))) {
    const double percent = value.chopped(1).trimmed().toDouble(&ok);
    return ok ? std::clamp(static_cast<int>(percent * 255 / 100 + 0.5), 0, 255) : -1;
  }
  const int number = value.toInt(&ok);
  return ok ? std::clamp(number, 0, 255) : -1;
}

// "rgb(" or "rgba(" at `at`: the replacement text and the length it replaces, or false.
bool ShiftFunction(const QString& sheet, qsizetype at, int hue, int saturation, QString& out, qsizetype& length) {
  const bool alpha = sheet.mid(at, 5).compare(QLatin1String("rgba("), Qt::CaseInsensitive) == 0;
  if (!alpha && sheet.mid(at, 4).compare(QLatin1String("rgb("), Qt::CaseInsensitive) != 0) return false;
  const qsizetype open = at + (alpha ? 5 : 4);
  const qsizetype close = sheet.indexOf(QLatin1Char(')'), open);
  if (close < 0 || close - open > 64) return false;
  const QStringList parts = sheet.mid(open, close - open).split(QLatin1Char(','));
  if (parts.size() != (alpha ? 4 : 3)) return false;
  const int r = Channel(parts[0]), g = Channel(parts[1]), b = Channel(parts[2]);
  if (r < 0 || g < 0 || b < 0) return false;
  const QColor shifted = TSkinManager::ShiftColor(QColor(r, g, b), hue, saturation);
  out = QStringLiteral("%1(%2, %3, %4").arg(alpha ? QStringLiteral("rgba") : QStringLiteral("rgb"))
            .arg(shifted.red()).arg(shifted.green()).arg(shifted.blue());
  if (alpha) out += QStringLiteral(", ") + parts[3].trimmed();
  out += QLatin1Char(')');
  length = close + 1 - at;
  return true;
}

// "url(" at `at` with a relative path: the same with the path under `folder`.
bool AnchorUrl(const QString& sheet, qsizetype at, const QString& folder, QString& out, qsizetype& length) {
  if (folder.isEmpty() || sheet.mid(at, 4).compare(QLatin1String("url("), Qt::CaseInsensitive) != 0) return false;
  const qsizetype close = sheet.indexOf(QLatin1Char(')'), at + 4);
  if (close < 0) return false;
  QString path = sheet.mid(at + 4, close - at - 4).trimmed();
  if (path.size() >= 2 && (path.front() == QLatin1Char('"') || path.front() == QLatin1Char('\'')) &&
      path.back() == path.front())
    path = path.mid(1, path.size() - 2);
  if (path.isEmpty() || path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char(':'))) return false;
  out = QStringLiteral("url(\"") + QDir(folder).absoluteFilePath(path) + QStringLiteral("\")");
  length = close + 1 - at;
  return true;
}

}  // namespace

TSkinManager::TSkinManager(std::vector<std::string> folders, QObject* parent)
    : QObject(parent), Folders(std::move(folders)), BasePalette(FusionPalette()) {
  Rescan();
}

void TSkinManager::Rescan() {
  Sources.clear();
  Sources[DefaultSkin] = {};
  Sources[ClassicSkin] = {};
  for (const std::string& folder : Folders) {
    const QDir dir(QString::fromStdString(folder));
    const QFileInfoList files =
        dir.entryInfoList({QStringLiteral("*.qss")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QFileInfo& file : files) {
      if (file.size() > MaxSheetSize) continue;
      const std::string name = file.completeBaseName().toStdString();
      if (name.empty() || Sources.count(name)) continue;
      Sources[name] = {file.absoluteFilePath().toStdString(), file.absolutePath().toStdString()};
    }
  }
}

std::vector<std::string> TSkinManager::Names() const {
  std::vector<std::string> names;
  for (const auto& entry : Sources) names.push_back(entry.first);
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const int order = QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a < b;
  });
  return names;
}

bool TSkinManager::Contains(const std::string& name) const { return Sources.count(name) != 0; }

std::string TSkinManager::FileOf(const std::string& name) const {
  const auto found = Sources.find(name);
  return found == Sources.end() ? std::string() : found->second.File;
}

bool TSkinManager::Load(const std::string& name, QString& sheet, QPalette& palette) const {
  const auto found = Sources.find(name);
  if (found == Sources.end()) return false;
  const TSkinSource& source = found->second;
  if (source.File.empty()) {
    sheet.clear();
    palette = name == ClassicSkin ? PaletteFrom(QLatin1String(ClassicPalette)) : FusionPalette();
    return true;
  }
  QFile file(QString::fromStdString(source.File));
  if (!file.open(QIODevice::ReadOnly) || file.size() > MaxSheetSize) {
    LogWarning("Unable to read the skin " + source.File);
    return false;
  }
  const QString text = QString::fromUtf8(file.read(MaxSheetSize));
  // Relative images of a sheet lie beside it; anchoring them once keeps the shifted copies short.
  sheet = ShiftSheet(text, 0, 0, QString::fromStdString(source.Folder));
  palette = SheetPalette(text);
  return true;
}

bool TSkinManager::Apply(const std::string& name) {
  QString sheet;
  QPalette palette;
  if (!Load(name, sheet, palette)) return false;
  Current = name;
  BaseSheet = sheet;
  BasePalette = palette;
  Put();
  return true;
}

void TSkinManager::Restore(const TLook& look) {
  Current = look.Name;
  BaseSheet = look.Sheet;
  BasePalette = look.Palette;
  Put();
}

void TSkinManager::SetHue(int hue) {
  hue = std::clamp(hue, 0, MaxHue);
  if (hue == Hue_) return;
  Hue_ = hue;
  Put();
}

void TSkinManager::SetSaturation(int saturation) {
  saturation = std::clamp(saturation, MinSaturation, MaxSaturation);
  if (saturation == Saturation_) return;
  Saturation_ = saturation;
  Put();
}

void TSkinManager::Reapply() {
  if (!Apply(Current)) {
    Current = DefaultSkin;
    Apply(Current);
  }
}

QPalette TSkinManager::Palette() const { return ShiftPalette(BasePalette, Hue_, Saturation_); }

QString TSkinManager::StyleSheet() const { return ShiftSheet(BaseSheet, Hue_, Saturation_); }

void TSkinManager::Put() {
  // Skins draw over Fusion: the same controls on every desktop.
  static bool fusionChosen = false;
  if (!fusionChosen) {
    if (QApplication::style()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) != 0)
      QApplication::setStyle(QStringLiteral("Fusion"));
    fusionChosen = true;
  }
  QApplication::setPalette(Palette());
  const QString sheet = StyleSheet();
  if (sheet != qApp->styleSheet()) qApp->setStyleSheet(sheet);
  emit Changed();
}

void TSkinManager::ReadSettings(TStorage& store, bool newBuild) {
  if (!newBuild) {
    const std::string name = store.ReadString("Skin", Current);
    Hue_ = std::clamp(store.ReadInteger("SkinHue", Hue_), 0, MaxHue);
    Saturation_ = std::clamp(store.ReadInteger("SkinSat", Saturation_), MinSaturation, MaxSaturation);
    if (Apply(name)) return;
  }
  Reapply();
}

void TSkinManager::WriteSettings(TStorage& store) const {
  store.WriteString("Skin", Current);
  store.WriteInteger("SkinHue", Hue_);
  store.WriteInteger("SkinSat", Saturation_);
}

QColor TSkinManager::ShiftColor(const QColor& color, int hue, int saturation) {
  if ((hue % 360 == 0 && saturation == 0) || !color.isValid()) return color;
  const QColor hsl = color.toHsl();
  if (hsl.hslHue() < 0) return color;  // a grey has no hue to turn
  const int h = ((hsl.hslHue() + hue) % 360 + 360) % 360;
  const int s = std::clamp((hsl.hslSaturation() * (100 + saturation) + 50) / 100, 0, 255);
  QColor shifted = QColor::fromHsl(h, s, hsl.lightness(), hsl.alpha());
  return shifted.toRgb();
}

QString TSkinManager::ShiftSheet(const QString& sheet, int hue, int saturation, const QString& folder) {
  QString out;
  out.reserve(sheet.size() + 64);
  int depth = 0;
  qsizetype i = 0;
  const qsizetype n = sheet.size();
  while (i < n) {
    const QChar c = sheet[i];
    if (c == QLatin1Char('/') && i + 1 < n && sheet[i + 1] == QLatin1Char('*')) {
      const qsizetype end = sheet.indexOf(QLatin1String("*/"), i + 2);
      const qsizetype stop = end < 0 ? n : end + 2;
      out += sheet.mid(i, stop - i);
      i = stop;
      continue;
    }
    if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
      qsizetype end = i + 1;
      while (end < n && sheet[end] != c) end += sheet[end] == QLatin1Char('\\') ? 2 : 1;
      end = std::min(end + 1, n);
      out += sheet.mid(i, end - i);
      i = end;
      continue;
    }
    if (c == QLatin1Char('{')) ++depth;
    if (c == QLatin1Char('}') && depth > 0) --depth;
    const bool wordStart = i == 0 || !IsNameChar(sheet[i - 1]);
    if (depth > 0 && c == QLatin1Char('#')) {
      qsizetype end = i + 1;
      while (end < n && end - i <= 9 && IsHexDigit(sheet[end])) ++end;
      const qsizetype digits = end - i - 1;
      if ((digits == 3 || digits == 6 || digits == 8) && (end == n || !IsNameChar(sheet[end]))) {
        const QColor color(sheet.mid(i, end - i));
        if (color.isValid()) {
          const QColor shifted = ShiftColor(color, hue, saturation);
          out += digits == 8 ? shifted.name(QColor::HexArgb) : shifted.name(QColor::HexRgb);
          i = end;
          continue;
        }
      }
    }
    if (depth > 0 && wordStart && (c == QLatin1Char('r') || c == QLatin1Char('R') || c == QLatin1Char('u') ||
                                   c == QLatin1Char('U'))) {
      QString replacement;
      qsizetype length = 0;
      if (ShiftFunction(sheet, i, hue, saturation, replacement, length) ||
          AnchorUrl(sheet, i, folder, replacement, length)) {
        out += replacement;
        i += length;
        continue;
      }
    }
    out += c;
    ++i;
  }
  return out;
}

QPalette TSkinManager::SheetPalette(const QString& sheet) {
  const qsizetype tag = sheet.indexOf(QLatin1String("@palette"));
  if (tag < 0) return FusionPalette();
  const qsizetype open = sheet.lastIndexOf(QLatin1String("/*"), tag);
  const qsizetype close = sheet.indexOf(QLatin1String("*/"), tag);
  if (open < 0 || close < 0) return FusionPalette();
  if (sheet.indexOf(QLatin1String("*/"), open) < tag) return FusionPalette();  // not inside a comment
  const qsizetype start = tag + 8;
  return PaletteFrom(sheet.mid(start, close - start));
}

TSkinManager& Skins() {
  static QPointer<TSkinManager> manager;
  if (!manager) {
    const std::string folder = ExeFolder();
    manager = new TSkinManager({folder + "skins/", folder + "../share/twinsifter/skins/"}, qApp);
  }
  return *manager;
}

void ReadSkinSettings(TStorage& store, bool newBuild) { Skins().ReadSettings(store, newBuild); }

void WriteSkinSettings(TStorage& store) { Skins().WriteSettings(store); }
