#include "uSettings.h"

#include <algorithm>
#include <filesystem>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "uDialogs.h"
#include "uSkins.h"
#include "xEngine.h"

namespace {

constexpr int Margin = 6;

// A slider that reports the mouse button going down before it moves and coming up after it
// has settled, so that a drag can be applied once, at its end.
class TTrackBar : public QSlider {
public:
  explicit TTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}
  std::function<void()> OnMouseDown, OnMouseUp;

protected:
  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && OnMouseDown) OnMouseDown();
    QSlider::mousePressEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && OnMouseUp) OnMouseUp();
  }
};

// The pages' tabs share the dialog's width: their spaced captions, at the style's padding, would
// need more than the designed width and hide the last page behind scroll buttons.
class TPageBar : public QTabBar {
public:
  TPageBar(int room, QWidget* parent) : QTabBar(parent), Room(room) {
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    setExpanding(false);
  }

protected:
  QSize tabSizeHint(int index) const override {
    QSize hint = QTabBar::tabSizeHint(index);
    int total = 0;
    for (int i = 0; i < count(); ++i) total += QTabBar::tabSizeHint(i).width();
    if (total > Room && count() > 0) {
      const int cut = (total - Room + count() - 1) / count();
      const int least = fontMetrics().horizontalAdvance(tabText(index).trimmed()) + 12;
      hint.setWidth(std::max(least, hint.width() - cut));
    }
    return hint;
  }

private:
  int Room;
};

class TPages : public QTabWidget {
public:
  TPages(int room, QWidget* parent) : QTabWidget(parent) { setTabBar(new TPageBar(room, this)); }
};

// A section heading: a plain label with a line under it.
QWidget* Heading(const char* text, QWidget* parent) {
  auto* box = new QWidget(parent);
  auto* layout = new QVBoxLayout(box);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(1);
  layout->addWidget(new QLabel(QString::fromUtf8(text), box));
  auto* line = new QFrame(box);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);
  return box;
}

QCheckBox* Check(const char* name, const char* caption, QWidget* parent) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(QString::fromUtf8(name));
  return box;
}

QComboBox* Combo(const char* name, std::initializer_list<const char*> items, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setObjectName(QString::fromUtf8(name));
  for (const char* item : items) combo->addItem(QString::fromUtf8(item));
  return combo;
}

// A label over its control, as one column block.
QVBoxLayout* Labelled(const char* caption, QWidget* control, QLabel** label = nullptr) {
  auto* layout = new QVBoxLayout();
  layout->setSpacing(3);
  auto* text = new QLabel(QString::fromUtf8(caption));
  text->setBuddy(control);
  layout->addWidget(text);
  layout->addWidget(control);
  if (label) *label = text;
  return layout;
}

QVBoxLayout* PageLayout(QWidget* page) {
  auto* layout = new QVBoxLayout(page);
  layout->setContentsMargins(10, 8, 10, 8);
  layout->setSpacing(6);
  return layout;
}

void SetIndex(QComboBox* combo, int index) {
  combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

}  // namespace

TSettingsForm::TSettingsForm(TSkinManager& skins, const std::string& appFolder, QWidget* parent)
    : QDialog(parent), Skins(skins), AppFolder(appFolder) {
  setObjectName(QStringLiteral("SettingsForm"));
  setWindowTitle(QStringLiteral(" Settings"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

  sPages = new TPages(ClientWidth - 2 * Margin - 2, this);
  sPages->setObjectName(QStringLiteral("sPages"));
  sPages->addTab(CreateComparisonPage(), QStringLiteral(" Comparison "));
  sPages->addTab(CreateMarkingPage(), QStringLiteral(" Marking and Deletion "));
  sPages->addTab(CreateAppearancePage(), QStringLiteral(" Appearance "));
  sPages->addTab(CreateGeneralPage(), QStringLiteral(" General "));

  sButtonOK = new QPushButton(QStringLiteral("&OK"), this);
  sButtonOK->setObjectName(QStringLiteral("sButtonOK"));
  sButtonOK->setDefault(true);
  sButtonCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  sButtonCancel->setObjectName(QStringLiteral("sButtonCancel"));
  sButtonHelp = new QPushButton(QStringLiteral("&Help"), this);
  sButtonHelp->setObjectName(QStringLiteral("sButtonHelp"));
  for (QPushButton* button : {sButtonOK, sButtonCancel, sButtonHelp}) button->setFixedWidth(80);

  auto* buttons = new QHBoxLayout();
  buttons->setSpacing(6);
  buttons->addStretch(1);
  buttons->addWidget(sButtonOK);
  buttons->addWidget(sButtonCancel);
  buttons->addWidget(sButtonHelp);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(Margin, Margin, Margin, Margin);
  layout->setSpacing(6);
  layout->addWidget(sPages, 1);
  layout->addLayout(buttons);
  setFixedSize(ClientWidth, ClientHeight);

  connect(sButtonOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(sButtonCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(sButtonHelp, &QPushButton::clicked, this, [this] { sButtonHelpClick(); });
}

QWidget* TSettingsForm::CreateComparisonPage() {
  auto* page = new QWidget();
  page->setObjectName(QStringLiteral("ComparisonPage"));
  sFileCombo = Combo("sFileCombo",
                     {" Byte-by-byte", " CRC32 checksum", " File MD4 hash", " File MD5 hash", " File SHA hash"}, page);
  chkZero = Check("chkZero", "Skip empty files", page);
  chkMP3 = Check("chkMP3", "Compare MP3 by tags", page);
  chkR180 = Check("chkR180", "Rotation 180°", page);
  chkRP90 = Check("chkRP90", "Rotation 90° left", page);
  chkRN90 = Check("chkRN90", "Rotation 90° right", page);
  chkFV = Check("chkFV", "Vertical flip", page);
  chkFH = Check("chkFH", "Horizontal flip", page);
  chkGrey = Check("chkGrey", "Grayscale", page);
  const std::pair<QCheckBox*, int> tags[] = {{chkR180, 1}, {chkRP90, 2}, {chkRN90, 3},
                                             {chkFV, 4},   {chkFH, 5},   {chkGrey, 6}};
  for (const auto& [box, tag] : tags) {
    box->setProperty("Tag", tag);
    connect(box, &QCheckBox::clicked, this, [this, box = box] { PicOptClick(box); });
  }

  auto* files = new QGridLayout();
  files->setHorizontalSpacing(24);
  files->setVerticalSpacing(3);
  auto* method = new QLabel(QStringLiteral("Method"), page);
  method->setBuddy(sFileCombo);
  sFileCombo->setMinimumWidth(170);
  files->addWidget(method, 0, 0);
  files->addWidget(sFileCombo, 1, 0);
  files->addWidget(chkZero, 0, 1);
  files->addWidget(chkMP3, 1, 1);
  files->setColumnStretch(1, 1);

  auto* pictures = new QGridLayout();
  pictures->setHorizontalSpacing(24);
  pictures->setVerticalSpacing(4);
  pictures->addWidget(chkRN90, 0, 0);
  pictures->addWidget(chkRP90, 1, 0);
  pictures->addWidget(chkR180, 2, 0);
  pictures->addWidget(chkFV, 0, 1);
  pictures->addWidget(chkFH, 1, 1);
  pictures->addWidget(chkGrey, 2, 1);
  pictures->setColumnMinimumWidth(0, 170);
  pictures->setColumnStretch(1, 1);

  QVBoxLayout* layout = PageLayout(page);
  layout->addWidget(Heading("Files options", page));
  layout->addLayout(files);
  layout->addSpacing(4);
  layout->addWidget(Heading("Pictures options", page));
  layout->addLayout(pictures);
  layout->addStretch(1);
  return page;
}

QWidget* TSettingsForm::CreateMarkingPage() {
  auto* page = new QWidget();
  page->setObjectName(QStringLiteral("MarkingPage"));
  chkMPicQ = Check("chkMPicQ", "Mark files inferior in quality", page);
  chkMOld = Check("chkMOld", "Mark older files", page);
  chkDelUndo = Check("chkDelUndo", "Delete to Recycle Bin", page);
  sDestFolder = new QLineEdit(page);
  sDestFolder->setObjectName(QStringLiteral("sDestFolder"));
  sDestFolder->setMaxLength(MaxFolderLength);
  sDestBrowse = new QToolButton(page);
  sDestBrowse->setObjectName(QStringLiteral("sDestBrowse"));
  sDestBrowse->setText(QStringLiteral("..."));
  sDestBrowse->setToolTip(QStringLiteral(" Choose the destination folder "));
  sDestBrowse->setFixedSize(26, sDestFolder->sizeHint().height());
  connect(sDestBrowse, &QToolButton::clicked, this, [this] { sDestBrowseClick(); });

  auto* field = new QHBoxLayout();
  field->setSpacing(2);
  field->addWidget(sDestFolder, 1);
  field->addWidget(sDestBrowse);
  auto* folder = new QVBoxLayout();
  folder->setSpacing(3);
  auto* label = new QLabel(QStringLiteral("Destination folder"), page);
  label->setBuddy(sDestFolder);
  folder->addWidget(label);
  folder->addLayout(field);

  QVBoxLayout* layout = PageLayout(page);
  layout->addWidget(Heading("Automarking options", page));
  layout->addWidget(chkMPicQ);
  layout->addWidget(chkMOld);
  layout->addSpacing(6);
  layout->addWidget(Heading("Files moving and deletion", page));
  layout->addLayout(folder);
  layout->addWidget(chkDelUndo);
  layout->addStretch(1);
  return page;
}

QWidget* TSettingsForm::CreateAppearancePage() {
  auto* page = new QWidget();
  page->setObjectName(QStringLiteral("AppearancePage"));
  sSkinsList = new QListWidget(page);
  sSkinsList->setObjectName(QStringLiteral("sSkinsList"));
  sSkinsList->setFixedWidth(160);
  connect(sSkinsList, &QListWidget::currentRowChanged, this, [this] { sSkinsListClick(); });

  auto* hue = new TTrackBar(page);
  hue->setObjectName(QStringLiteral("trkHue"));
  hue->setRange(0, TSkinManager::MaxHue);
  hue->setPageStep(5);
  hue->setTickInterval(36);
  auto* sat = new TTrackBar(page);
  sat->setObjectName(QStringLiteral("trkSat"));
  sat->setRange(TSkinManager::MinSaturation, TSkinManager::MaxSaturation);
  sat->setPageStep(5);
  sat->setTickInterval(20);
  for (TTrackBar* track : {hue, sat}) {
    track->setTickPosition(QSlider::TicksBelow);
    track->OnMouseDown = [this] { TrackMouseDown(); };
    track->OnMouseUp = [this, track] { TrackMouseUp(track); };
  }
  trkHue = hue;
  trkSat = sat;
  connect(trkHue, &QSlider::valueChanged, this, [this] { trkHueChange(); });
  connect(trkSat, &QSlider::valueChanged, this, [this] { trkSatChange(); });

  auto* colours = new QVBoxLayout();
  colours->setSpacing(6);
  colours->addLayout(Labelled("Hue", trkHue));
  colours->addSpacing(8);
  colours->addLayout(Labelled("Saturation", trkSat));
  colours->addStretch(1);

  auto* columns = new QHBoxLayout();
  columns->setSpacing(16);
  columns->addLayout(Labelled("Available skins", sSkinsList));
  columns->addLayout(colours, 1);
  QVBoxLayout* layout = PageLayout(page);
  layout->addLayout(columns, 1);
  return page;
}

QWidget* TSettingsForm::CreateGeneralPage() {
  auto* page = new QWidget();
  page->setObjectName(QStringLiteral("GeneralPage"));
  cmbPriority = Combo("cmbPriority", {" Low ", " Normal", " High", " Highest"}, page);
  cmbThumbs = Combo("cmbThumbs",
                    {"  No thumbnails", "  32 x 32", "  48 x 48", "  64 x 64", "  80 x 80", "  96 x 96"}, page);
  chkUseCache = Check("chkUseCache", "Enable pictures cache", page);
  connect(chkUseCache, &QCheckBox::clicked, this, [this] { chkUseCacheClick(); });
  speCacheSize = new QSpinBox(page);
  speCacheSize->setObjectName(QStringLiteral("speCacheSize"));
  speCacheSize->setRange(MinCacheSize, MaxCacheSize);
  speCacheSize->setSingleStep(CacheSizeStep);
  speCacheSize->setToolTip(
      QStringLiteral(" IMPORTANT! Reducing cache size below the actual value will empty the cache! "));
  // Only the spin buttons (and the arrow keys, which do the same) change the size.
  if (auto* edit = speCacheSize->findChild<QLineEdit*>()) edit->setReadOnly(true);
  connect(speCacheSize, &QSpinBox::valueChanged, this, [this] { speCacheSizeChange(); });
  sCacheGauge = new QProgressBar(page);
  sCacheGauge->setObjectName(QStringLiteral("sCacheGauge"));
  sCacheGauge->setFormat(QStringLiteral("%p%"));
  sCacheGauge->setTextVisible(true);
  sCacheGauge->setAlignment(Qt::AlignCenter);

  auto* left = new QVBoxLayout();
  left->setSpacing(10);
  left->addLayout(Labelled("Process priority", cmbPriority));
  left->addLayout(Labelled("Thumbnail size", cmbThumbs));
  left->addStretch(1);
  auto* right = new QVBoxLayout();
  right->setSpacing(10);
  right->addWidget(chkUseCache);
  right->addLayout(Labelled("Cache size (pictures)", speCacheSize));
  right->addLayout(Labelled("Cache usage", sCacheGauge, &lblCacheUsage));
  right->addStretch(1);

  auto* columns = new QHBoxLayout();
  columns->setSpacing(24);
  columns->addLayout(left, 1);
  columns->addLayout(right, 1);
  QVBoxLayout* layout = PageLayout(page);
  layout->addLayout(columns, 1);
  return page;
}

// ---------------------------------------------------------------------------------------------

void TSettingsForm::SetOpts(const TCompOpts& options, int cacheUsed) {
  Dragging = false;
  SetIndex(sFileCombo, options.FileComp);
  Variants = options.PicVariants;
  chkMP3->setChecked(options.MP3Comp);
  const std::pair<QCheckBox*, int> boxes[] = {{chkGrey, 6}, {chkFH, 5}, {chkFV, 4},
                                              {chkR180, 1}, {chkRP90, 2}, {chkRN90, 3}};
  for (const auto& [box, element] : boxes) box->setChecked(Variants.Contains(element));
  chkMPicQ->setChecked(options.moPicQuality);
  chkMOld->setChecked(options.moFileOlder);
  chkZero->setChecked(options.ZeroIgnore);
  SetDestFolder(options.DestFolder);
  if (BrowseFolder.empty()) BrowseFolder = AppFolder;
  chkDelUndo->setChecked(options.DelUndo);
  SetIndex(cmbPriority, options.Priority);
  SetIndex(cmbThumbs, options.Thumbs);

  // Appearance: the list as the skins are now, and the look to come back to.
  {
    const QSignalBlocker blockList(sSkinsList), blockHue(trkHue), blockSat(trkSat);
    Skins.Rescan();
    sSkinsList->clear();
    InitialSkin = Skins.Look();
    InitialSkinIndex = -1;
    const std::vector<std::string> names = Skins.Names();
    for (std::size_t i = 0; i < names.size(); ++i) {
      sSkinsList->addItem(QString::fromStdString(names[i]));
      if (names[i] == InitialSkin.Name) InitialSkinIndex = static_cast<int>(i);
    }
    SkinIndex = InitialSkinIndex;
    sSkinsList->setCurrentRow(SkinIndex);
    InitialHue = Skins.Hue();
    trkHue->setValue(InitialHue);
    InitialSat = Skins.Saturation();
    trkSat->setValue(InitialSat);
  }

  CacheUsed = cacheUsed;
  chkUseCache->setChecked(options.Cache);
  CacheCountRead = options.CacheCount;
  {
    const QSignalBlocker block(speCacheSize);
    speCacheSize->setValue(options.CacheCount);
  }
  speCacheSizeChange();
  chkUseCacheClick();
}

void TSettingsForm::SetOpts(TEngine& engine) { SetOpts(engine.Options, engine.SignatureCache().Count()); }

void TSettingsForm::GetOpts(TEngine& engine) {
  TCompOpts& options = engine.Options;
  // An index the lists cannot show (a hand-edited settings file) keeps the option as it was.
  if (sFileCombo->currentIndex() >= 0) engine.SetFileComp(sFileCombo->currentIndex());
  options.PicVariants = Variants;
  options.moPicQuality = chkMPicQ->isChecked();
  options.moFileOlder = chkMOld->isChecked();
  options.DestFolder = sDestFolder->text().toStdString();
  options.DelUndo = chkDelUndo->isChecked();
  engine.NeedRescan = true;
  if (cmbPriority->currentIndex() >= 0) options.Priority = static_cast<std::uint8_t>(cmbPriority->currentIndex());
  options.ZeroIgnore = chkZero->isChecked();
  options.MP3Comp = chkMP3->isChecked();
  // A stored size the spin field cannot show stays unless the user moved it: taking the
  // clamped value would shrink (and so empty) a cache nobody asked to change.
  const int shown = std::clamp(CacheCountRead, MinCacheSize, MaxCacheSize);
  options.CacheCount = speCacheSize->value() == shown ? CacheCountRead : speCacheSize->value();
  options.Cache = chkUseCache->isChecked();
  if (cmbThumbs->currentIndex() >= 0) options.Thumbs = cmbThumbs->currentIndex();
}

void TSettingsForm::RestoreAppearance() {
  // From memory: the skin's file may have gone since.
  if (SkinIndex != InitialSkinIndex) Skins.Restore(InitialSkin);
  if (Skins.Hue() != InitialHue) Skins.SetHue(InitialHue);
  if (Skins.Saturation() != InitialSat) Skins.SetSaturation(InitialSat);
  SkinIndex = InitialSkinIndex;
}

bool TSettingsForm::Execute(TEngine& engine) {
  SetOpts(engine);
  sPages->setCurrentIndex(std::max(sPages->currentIndex(), 0));
  if (exec() != QDialog::Accepted) return false;
  GetOpts(engine);
  return true;
}

void TSettingsForm::done(int result) {
  // Cancel, Escape and the close button all end here: the previewed look goes.
  if (result != QDialog::Accepted) RestoreAppearance();
  QDialog::done(result);
}

std::string TSettingsForm::HelpTopic() const { return "a2_08_0" + std::to_string(sPages->currentIndex() + 1) + ".htm"; }

// ---------------------------------------------------------------------------------------------
// Handlers

void TSettingsForm::PicOptClick(QCheckBox* box) {
  const int tag = box->property("Tag").toInt();
  if (tag < 0 || tag > 7) return;
  if (box->isChecked())
    Variants.Include(tag);
  else
    Variants.Exclude(tag);
}

void TSettingsForm::sSkinsListClick() {
  const int index = sSkinsList->currentRow();
  if (index < 0 || index == SkinIndex) return;
  SkinIndex = index;
  Skins.Apply(sSkinsList->item(index)->text().toStdString());
}

void TSettingsForm::trkHueChange() {
  if (Dragging) return;
  if (trkHue->value() != Skins.Hue()) Skins.SetHue(trkHue->value());
}

void TSettingsForm::trkSatChange() {
  if (Dragging) return;
  if (trkSat->value() != Skins.Saturation()) Skins.SetSaturation(trkSat->value());
}

void TSettingsForm::TrackMouseDown() { Dragging = true; }

void TSettingsForm::TrackMouseUp(QSlider* slider) {
  Dragging = false;
  if (slider == trkHue)
    trkHueChange();
  else
    trkSatChange();
}

void TSettingsForm::speCacheSizeChange() {
  sCacheGauge->setMaximum(speCacheSize->value());
  // The bar ignores a value beyond its maximum: a cache fuller than the new size shows full.
  sCacheGauge->setValue(std::min(CacheUsed, sCacheGauge->maximum()));
}

void TSettingsForm::chkUseCacheClick() {
  const bool on = chkUseCache->isChecked();
  sCacheGauge->setEnabled(on);
  speCacheSize->setEnabled(on);
  sCacheGauge->setVisible(on);
  lblCacheUsage->setVisible(on);
}

void TSettingsForm::sButtonHelpClick() {
  if (OnHelp) OnHelp(HelpTopic());
}

void TSettingsForm::sDestBrowseClick() {
  std::string start = sDestFolder->text().toStdString();
  std::error_code ignored;
  if (start.empty() || !std::filesystem::is_directory(start, ignored)) start = BrowseFolder;
  const std::optional<std::string> chosen = ChooseFolder(this, start, true);
  if (!chosen) return;
  BrowseFolder = *chosen;
  SetDestFolder(*chosen);
}

void TSettingsForm::SetDestFolder(const std::string& path) {
  // Typing stops at the limit, but a longer path from the settings or the chooser is taken
  // whole: a cut one would name another folder.
  const QString text = QString::fromStdString(path);
  sDestFolder->setMaxLength(std::max<int>(MaxFolderLength, static_cast<int>(text.size())));
  sDestFolder->setText(text);
}

// ---------------------------------------------------------------------------------------------

void TSettingsForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // Centred on the screen, not on the window that opened it.
  if (const QScreen* display = screen()) move(display->availableGeometry().center() - rect().center());
}
