#pragma once
// The program's look: a skin (a built-in palette, or a Qt style sheet from a skins folder) with a
// hue offset and a saturation change, applied to every window at once through the application's
// palette and style sheet. One manager serves the program (Skins()); tests make their own.

#include <map>
#include <string>
#include <vector>

#include <QColor>
#include <QObject>
#include <QPalette>
#include <QString>

class TStorage;

class TSkinManager : public QObject {
  Q_OBJECT

public:
  static constexpr const char* DefaultSkin = "Standard";  // the plain Fusion look
  static constexpr int MaxHue = 360;
  static constexpr int MinSaturation = -100;
  static constexpr int MaxSaturation = 100;
  static constexpr qint64 MaxSheetSize = 1 << 20;  // a larger file is not taken for a skin

  // Skins are looked for in these folders (each with a trailing '/'), earlier ones first.
  explicit TSkinManager(std::vector<std::string> folders, QObject* parent = nullptr);

  // Looks through the folders again; the current skin stays current.
  void Rescan();
  // The built-in skins and the "*.qss" files found, by name, sorted without regard to case.
  // A file named like a built-in skin or like a file of an earlier folder is left out.
  std::vector<std::string> Names() const;
  bool Contains(const std::string& name) const;
  // The file a skin comes from; empty for a built-in one or an unknown name.
  std::string FileOf(const std::string& name) const;

  // Applies the named skin with the current hue and saturation. False (nothing changes, a
  // warning is logged for a file that cannot be read) when the name is unknown or its file bad.
  bool Apply(const std::string& name);
  void SetHue(int hue);                // clamped to 0..360
  void SetSaturation(int saturation);  // clamped to -100..100
  const std::string& CurrentName() const { return Current; }
  int Hue() const { return Hue_; }
  int Saturation() const { return Saturation_; }
  // Applies the current skin, hue and saturation again (at start-up: the designed look).
  void Reapply();

  // A skin as it was applied, to be put back later even when its file has gone meanwhile.
  struct TLook {
    std::string Name;
    QString Sheet;
    QPalette Palette;
  };
  TLook Look() const { return {Current, BaseSheet, BasePalette}; }
  void Restore(const TLook& look);  // the skin only; hue and saturation stay

  // What the current skin puts on the application, shifted.
  QPalette Palette() const;
  QString StyleSheet() const;

  // "MAINFORM" keys "Skin", "SkinHue", "SkinSat", the section open. Reading ignores the stored
  // values on a new build's first run, then applies the resulting look either way.
  void ReadSettings(TStorage& store, bool newBuild);
  void WriteSettings(TStorage& store) const;

  // A colour turned by `hue` degrees and its HSL saturation scaled by (100 + saturation) %;
  // greys stay grey, alpha stays.
  static QColor ShiftColor(const QColor& color, int hue, int saturation);
  // The sheet with every colour of its declarations shifted (#rgb, #rrggbb, #aarrggbb, rgb(),
  // rgba()); selectors, comments and strings stay as they are. Relative url() paths are made
  // absolute under `folder` when it is given.
  static QString ShiftSheet(const QString& sheet, int hue, int saturation, const QString& folder = {});
  // A palette from a sheet's "@palette" comment ("/* @palette Window: #2b2b2b; Text: #eee; */"),
  // roles not named derived from the Fusion palette of that window and button colour.
  static QPalette SheetPalette(const QString& sheet);

signals:
  // The look was put on the application (once per Apply, SetHue, SetSaturation that changed it).
  void Changed();

private:
  struct TSkinSource {
    std::string File;     // empty: built-in
    std::string Folder;   // the file's folder, for its url() paths
  };
  bool Load(const std::string& name, QString& sheet, QPalette& palette) const;
  void Put();

  std::vector<std::string> Folders;
  std::map<std::string, TSkinSource> Sources;
  std::string Current = DefaultSkin;
  int Hue_ = 0;
  int Saturation_ = 0;
  QString BaseSheet;    // the current skin unshifted
  QPalette BasePalette;
};

// The program's manager: the folder "skins" beside the program, then the install's
// share/twinsifter/skins/. Created on first use (a QApplication must exist).
TSkinManager& Skins();

// The program manager's settings, the section "MAINFORM" open.
void ReadSkinSettings(TStorage& store, bool newBuild);
void WriteSkinSettings(TStorage& store);
