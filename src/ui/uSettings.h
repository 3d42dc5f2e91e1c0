#pragma once
// The settings dialog: the options the side frames do not show (content method, MP3s and empty
// files, picture variants, marking, destination and delete mode, priority, thumbnails, cache)
// and the program's look, previewed live while it is open and put back unless confirmed.

#include <functional>
#include <string>

#include <QDialog>

#include "uSkins.h"
#include "xPicSign.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QSlider;
class QSpinBox;
class QTabWidget;
class QToolButton;
class TCompOpts;
class TEngine;

class TSettingsForm : public QDialog {
  Q_OBJECT

public:
  static constexpr int ClientWidth = 441;
  static constexpr int ClientHeight = 280;
  static constexpr int MinCacheSize = 100;
  static constexpr int MaxCacheSize = 50000;
  static constexpr int CacheSizeStep = 100;
  static constexpr int MaxFolderLength = 255;

  // `appFolder`: where the destination folder's chooser opens the first time.
  TSettingsForm(TSkinManager& skins, const std::string& appFolder, QWidget* parent = nullptr);

  // The controls from the options and the appearance of this moment; `cacheUsed` is the number
  // of pictures in the signature cache, for the gauge.
  void SetOpts(const TCompOpts& options, int cacheUsed);
  void SetOpts(TEngine& engine);  // the engine's options and its cache's count
  // The controls back into the engine's options; always asks for a rescan.
  void GetOpts(TEngine& engine);
  // The skin, hue and saturation of the moment SetOpts ran.
  void RestoreAppearance();
  // SetOpts, the dialog modal, GetOpts on OK: true on OK. Any other close restores the look.
  bool Execute(TEngine& engine);

  // Opens a help topic; the Help button passes the current page's ("a2_08_01.htm" ...).
  std::function<void(const std::string& topic)> OnHelp;
  std::string HelpTopic() const;

  // Handlers, public for the tests that drive the dialog.
  void PicOptClick(QCheckBox* box);
  void sSkinsListClick();
  void trkHueChange();
  void trkSatChange();
  void TrackMouseDown();
  void TrackMouseUp(QSlider* slider);
  void speCacheSizeChange();
  void chkUseCacheClick();
  void sButtonHelpClick();
  void sDestBrowseClick();

  TPicVariants Variants;
  int SkinIndex = -1;
  int InitialSkinIndex = -1;
  TSkinManager::TLook InitialSkin;  // the skin as SetOpts found it
  int InitialHue = 0;
  int InitialSat = 0;
  int CacheUsed = 0;
  bool Dragging = false;

  QTabWidget* sPages;
  QComboBox* sFileCombo;
  QCheckBox *chkZero, *chkMP3;
  QCheckBox *chkR180, *chkRP90, *chkRN90, *chkFV, *chkFH, *chkGrey;
  QCheckBox *chkMPicQ, *chkMOld, *chkDelUndo;
  QLineEdit* sDestFolder;
  QToolButton* sDestBrowse;
  QListWidget* sSkinsList;
  QSlider *trkHue, *trkSat;
  QComboBox *cmbPriority, *cmbThumbs;
  QCheckBox* chkUseCache;
  QSpinBox* speCacheSize;
  QLabel* lblCacheUsage;
  QProgressBar* sCacheGauge;
  QPushButton *sButtonOK, *sButtonCancel, *sButtonHelp;

  void done(int result) override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  QWidget* CreateComparisonPage();
  QWidget* CreateMarkingPage();
  QWidget* CreateAppearancePage();
  QWidget* CreateGeneralPage();
  void SetDestFolder(const std::string& path);

  TSkinManager& Skins;
  std::string AppFolder;
  std::string BrowseFolder;    // where the destination chooser opens
  int CacheCountRead = 0;      // CacheCount as SetOpts found it
};
