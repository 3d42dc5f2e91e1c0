// The results view of the main window: the group tabs, the file list with its check marks,
// the properties panel with the preview, and the moves and deletes of checked rows.
#include <sys/stat.h>

#include <cmath>
#include <cstdio>

#include <QApplication>
#include <QDate>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTabBar>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>

#include "uDialogs.h"
#include "uIcons.h"
#include "uMain.h"
#include "uPicture.h"
#include "uPreview.h"
#include "xLog.h"

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }


// value rounded to three decimals, written without trailing zeros: "0.977", "1.5", "1".
std::string ThreeDecimals(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", std::nearbyint(value * 1000) / 1000);
  std::string result = text;
  while (result.back() == '0') result.pop_back();
  if (result.back() == '.') result.pop_back();
  return result;
}

int DecimalDigits(double value) { return static_cast<int>(std::to_string(static_cast<long long>(std::nearbyint(value))).size()); }

struct TColumn {
  const char* Caption;
  int Width;
  int Minimum;
};
constexpr TColumn Columns[] = {{"  File ", 256, 96}, {"  Size ", 96, 64}, {"  Modified  ", 128, 0}, {"  Path", 64, 64}};

}  // namespace

std::string FormatSize(std::int64_t bytes) {
  // Rounding is to the nearest, halves to even (the default floating-point mode).
  if (std::to_string(bytes).size() < 4) return std::to_string(bytes) + " Bytes";
  const double k = static_cast<double>(bytes) / 1024;
  if (DecimalDigits(k) < 4) return ThreeDecimals(k) + " KB";
  const double m = static_cast<double>(bytes) / 1048576;
  if (DecimalDigits(m) < 4) return ThreeDecimals(m) + " MB";
  return ThreeDecimals(static_cast<double>(bytes) / 1073741824) + " GB";
}

std::string FormatFileTime(std::uint32_t packed) {
  const QDate date(1980 + static_cast<int>(packed >> 25), static_cast<int>((packed >> 21) & 15),
                   static_cast<int>((packed >> 16) & 31));
  const QTime time(static_cast<int>((packed >> 11) & 31), static_cast<int>((packed >> 5) & 63),
                   static_cast<int>(packed & 31) * 2);
  const QLocale locale = QLocale::system();
  QString text = locale.toString(date, QLocale::ShortFormat);
  if (time != QTime(0, 0)) {
    // The long time format without its time zone, which a file time does not carry.
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t')).replace(QStringLiteral("  "), QStringLiteral(" "));
    text += QLatin1Char(' ') + locale.toString(time, format.trimmed());
  }
  return text.toStdString();
}

bool TFileRow::operator<(const QTreeWidgetItem& other) const {
  const TFileData& a = *Record;
  const TFileData& b = *static_cast<const TFileRow&>(other).Record;
  int order = 0;
  switch (Column) {
    case 0: order = NameOf(a.FileName).compare(NameOf(b.FileName)); break;
    case 1: order = a.Quality() < b.Quality() ? -1 : a.Quality() > b.Quality() ? 1 : 0; break;
    case 2: order = a.DateTime() < b.DateTime() ? -1 : a.DateTime() > b.DateTime() ? 1 : 0; break;
    default: order = FolderOf(a.FileName).compare(FolderOf(b.FileName)); break;
  }
  return order * Direction < 0;
}

// ---------------------------------------------------------------------------------------------
// Building the panel

QWidget* TMainForm::CreateResultsPanel() {
  auto* panel = new QWidget(this);
  auto* column = new QVBoxLayout(panel);
  column->setContentsMargins(0, 4, 4, 0);
  column->setSpacing(0);

  auto* title = new QWidget(panel);
  title->setObjectName(QStringLiteral("sResultsTitle"));
  title->setAutoFillBackground(true);
  title->setBackgroundRole(QPalette::Mid);
  auto* titleRow = new QHBoxLayout(title);
  titleRow->setContentsMargins(6, 2, 6, 2);
  auto* titleIcon = new QLabel(title);
  titleIcon->setPixmap(Icon(TIcon::Duplicates).pixmap(16, 16));
  auto* titleText = new QLabel(QStringLiteral("Duplicates"), title);
  QFont bold = titleText->font();
  bold.setBold(true);
  titleText->setFont(bold);
  titleRow->addWidget(titleIcon);
  titleRow->addWidget(titleText, 1);
  column->addWidget(title);

  sTabControl = new QTabBar(panel);
  sTabControl->setObjectName(QStringLiteral("sTabControl"));
  sTabControl->setExpanding(false);
  sTabControl->setUsesScrollButtons(true);
  sTabControl->setDrawBase(false);
  connect(sTabControl, &QTabBar::currentChanged, this, [this] { Guarded([this] { sTabControlChange(); }); });
  column->addWidget(sTabControl);

  sFileList = new QTreeWidget(panel);
  sFileList->setObjectName(QStringLiteral("sFileList"));
  sFileList->setColumnCount(4);
  QStringList captions;
  for (const TColumn& c : Columns) captions << QString::fromUtf8(c.Caption);
  sFileList->setHeaderLabels(captions);
  sFileList->setRootIsDecorated(false);
  sFileList->setUniformRowHeights(true);
  sFileList->setAllColumnsShowFocus(true);
  sFileList->setSelectionBehavior(QAbstractItemView::SelectRows);
  sFileList->setSelectionMode(QAbstractItemView::SingleSelection);
  sFileList->setSortingEnabled(false);  // sorted by the window's own rule, on header clicks
  sFileList->setToolTip(QStringLiteral(" Check files you want to delete or move "));
  QPalette white = sFileList->palette();
  white.setColor(QPalette::Base, Qt::white);
  white.setColor(QPalette::Text, Qt::black);
  sFileList->setPalette(white);
  QHeaderView* header = sFileList->header();
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  header->setSortIndicator(SortColumn, Qt::AscendingOrder);
  header->setStretchLastSection(true);
  header->setMinimumSectionSize(24);
  for (int i = 0; i < 3; ++i) header->resizeSection(i, Columns[i].Width);
  connect(header, &QHeaderView::sectionClicked, this, [this](int c) { Guarded([&] { sFileListColumnClick(c); }); });
  connect(header, &QHeaderView::sectionResized, this, [header](int index, int, int size) {
    if (size < Columns[index].Minimum) header->resizeSection(index, Columns[index].Minimum);
  });
  sFileList->setContextMenuPolicy(Qt::ActionsContextMenu);
  const auto separator = [this] {
    auto* line = new QAction(sFileList);
    line->setSeparator(true);
    return line;
  };
  sFileList->addActions({actShowFile, actOpenFile, separator(), actFilesMove, separator(), actFilesRecycle});
  // Any change of a row (its selection or its check mark) shows the selected row's file.
  const auto changed = [this] {
    Guarded([this] {
      const QList<QTreeWidgetItem*> selected = sFileList->selectedItems();
      ShowFileInfo(selected.isEmpty() ? nullptr : selected.first());
      UpdateActions();
    });
  };
  connect(sFileList, &QTreeWidget::itemSelectionChanged, this, changed);
  connect(sFileList, &QTreeWidget::itemChanged, this, changed);
  connect(sFileList, &QTreeWidget::itemDoubleClicked, this, [this] { Trigger(actOpenFile); });
  sFileList->installEventFilter(this);
  column->addWidget(sFileList, 1);
  column->addSpacing(4);

  sInfoHeader = new QToolButton(panel);
  sInfoHeader->setObjectName(QStringLiteral("sInfoHeader"));
  sInfoHeader->setText(QStringLiteral("File Properties"));
  sInfoHeader->setIcon(Icon(TIcon::Properties));
  sInfoHeader->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  sInfoHeader->setCheckable(true);
  sInfoHeader->setChecked(true);
  sInfoHeader->setCursor(Qt::PointingHandCursor);
  sInfoHeader->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  sInfoHeader->setFixedHeight(22);
  sInfoHeader->setFont(bold);
  // The click toggles by the panel's height, not by Qt's own check state.
  connect(sInfoHeader, &QToolButton::clicked, this, [this] { Guarded([this] { sInfoHeaderClick(); }); });
  column->addWidget(sInfoHeader);
  column->addWidget(CreateInfoPanel());
  return panel;
}

QWidget* TMainForm::CreateInfoPanel() {
  sInfoPanel = new QWidget(this);
  sInfoPanel->setObjectName(QStringLiteral("sInfoPanel"));
  sInfoPanel->setFixedHeight(InfoPanelHeight);
  auto* row = new QHBoxLayout(sInfoPanel);
  row->setContentsMargins(8, 6, 4, 4);
  auto* texts = new QVBoxLayout;
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(6);
  QLabel** values[] = {&sNameValue, &sPathValue, &sSizeValue, &sModifiedValue, &sInfoValue};
  const char* labels[] = {"Name ", "Path", "Size", "Modified", "Info"};
  for (int i = 0; i < 5; ++i) {
    grid->addWidget(new QLabel(QString::fromUtf8(labels[i]), sInfoPanel), i, 0, Qt::AlignLeft | Qt::AlignTop);
    auto* value = new QLabel(sInfoPanel);
    QFont bold = value->font();
    bold.setBold(true);
    value->setFont(bold);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // long paths must not widen the window
    grid->addWidget(value, i, 1);
    *values[i] = value;
  }
  grid->setColumnStretch(1, 1);
  texts->addLayout(grid);
  texts->addStretch(1);
  auto* buttons = new QHBoxLayout;
  for (QAction* action : {actShowFile, actOpenFile}) {
    auto* button = new QToolButton(sInfoPanel);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIconSize(QSize(24, 24));
    button->setFixedSize(97, 32);
    buttons->addWidget(button);
  }
  buttons->addStretch(1);
  texts->addLayout(buttons);
  row->addLayout(texts, 1);

  auto* box = new QFrame(sInfoPanel);
  box->setFrameShape(QFrame::StyledPanel);
  box->setFixedSize(180, 180);
  box->setToolTip(QStringLiteral(" Selected picture preview "));
  sPreview = new TPreview(box);
  sPreview->setObjectName(QStringLiteral("sPreview"));
  sPreview->setGeometry(4, 4, 172, 172);
  sPreview->setToolTip(QStringLiteral(" Click to view picture in actual pixels "));
  sPreview->setCursor(Qt::PointingHandCursor);
  sPreview->OnClick = [this] { Trigger(actView); };
  row->addWidget(box, 0, Qt::AlignTop);
  return sInfoPanel;
}

// ---------------------------------------------------------------------------------------------
// Filling

TFileRow* TMainForm::RowAt(int index) const { return static_cast<TFileRow*>(sFileList->topLevelItem(index)); }

void TMainForm::sTabControlChange() {
  if (Filling) return;
  Filling = true;
  struct TDone {
    TMainForm& Form;
    ~TDone() {
      Form.sFileList->setUpdatesEnabled(true);
      Form.Filling = false;
    }
  } done{*this};
  // A tab chosen while a large group was being filled gets its own fill right after.
  for (int filled = -2; filled != sTabControl->currentIndex();) {
    filled = sTabControl->currentIndex();
    sFileList->clear();
    if (filled < 0 || filled >= Engine->GroupCount()) break;
    sFileList->setUpdatesEnabled(false);
    const TGroup& group = *Engine->Groups(filled);
    const int cell = Engine->Options.Thumbs >= 1 ? (Engine->Options.Thumbs - 1) * 16 + 40 : 16;
    sFileList->setIconSize(QSize(cell, cell));
    const int count = group.Count();
    Thumbs.SetSize(cell, cell);  // empties the list
    if (Engine->Options.Thumbs >= 1) {
      Thumber.SetBackColor(sFileList->palette().color(QPalette::Base));
      Thumber.PrepareBackground(Thumbs);
      // Made ahead on every core while the rows are added, taken in row order.
      std::vector<std::string> files;
      for (int i = 0; i < count; ++i) files.push_back(group.Items(i)->FileName);
      Thumber.Prefetch(files, Thumbs);
    }
    const bool gauge = count > 10;
    if (gauge) ShowGauge(true);
    for (int i = 0; i < count; ++i) {
      AddFileRow(group.Items(i));
      if (gauge) OnProgress(static_cast<int>(std::nearbyint(i * 100.0 / (count - 1))));
    }
    if (gauge) ShowGauge(false);
    SortRows();
    // The designed widths fit the size and the time in a small font; never cut them off.
    const QFontMetrics metrics(sFileList->font());
    for (int c = 1; c <= 2; ++c) {
      int widest = sFileList->columnWidth(c);
      for (int i = 0; i < sFileList->topLevelItemCount(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(sFileList->topLevelItem(i)->text(c)) + 16);
      sFileList->setColumnWidth(c, widest);
    }
    sFileList->setUpdatesEnabled(true);
  }
}

void TMainForm::AddFileRow(TFileData* record) {
  auto* row = new TFileRow(record, SortColumn, SortDirection);
  row->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  row->setText(0, QLatin1Char(' ') + Q(NameOf(record->FileName)));
  if (record->Kind() == TRecordKind::Picture) {
    const auto& picture = static_cast<const TPicData&>(*record);
    row->setText(1, QStringLiteral(" %1 x %2").arg(picture.Width).arg(picture.Height));
  } else {
    row->setText(1, QLatin1Char(' ') + Q(FormatSize(record->Size)));
  }
  row->setText(2, Q(FormatFileTime(record->Time)));
  row->setText(3, QLatin1Char(' ') + Q(FolderOf(record->FileName)));
  row->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  row->setCheckState(0, Qt::Unchecked);
  if (Engine->Options.Thumbs >= 1) {
    const int index = Thumber.AddThumbnail(record->FileName, Thumbs);
    if (index >= 0) row->setIcon(0, Thumbs.Icon(index));
  }
  sFileList->addTopLevelItem(row);
  // The automatic marking: pictures and MP3 files by their quality, other files by their age.
  if (record->Group && AutoMarked(*record->Group, *record, Engine->MarkRules())) row->setCheckState(0, Qt::Checked);
}

int TMainForm::CheckedCount() const {
  int checked = 0;
  for (int i = 0; i < sFileList->topLevelItemCount(); ++i)
    if (sFileList->topLevelItem(i)->checkState(0) == Qt::Checked) ++checked;
  return checked;
}

void TMainForm::sFileListColumnClick(int column) {
  SortColumn = column;
  SortDirection = -SortDirection;
  SortRows();
}

void TMainForm::SortRows() {
  sFileList->sortItems(0, Qt::AscendingOrder);  // the rows' own comparison decides
  sFileList->header()->setSortIndicator(SortColumn, SortDirection > 0 ? Qt::AscendingOrder : Qt::DescendingOrder);
}

void TMainForm::SelectTab(int index) {
  if (index < 0 || index >= sTabControl->count() || index == sTabControl->currentIndex()) return;
  sTabControl->setCurrentIndex(index);  // fills through currentChanged
}

// ---------------------------------------------------------------------------------------------
// The properties panel

void TMainForm::ShowFileInfo(QTreeWidgetItem* item) {
  if (!item) {
    for (QLabel* value : {sNameValue, sPathValue, sSizeValue, sInfoValue, sModifiedValue}) value->clear();
    sPreview->Clear();
    sPreview->parentWidget()->hide();
    CurrentFile = nullptr;
    return;
  }
  TFileData* record = static_cast<TFileRow*>(item)->Record;
  if (record == CurrentFile) return;
  CurrentFile = record;
  sNameValue->setText(Q(NameOf(record->FileName)));
  sPathValue->setText(Q(FolderOf(record->FileName)));
  sPathValue->setToolTip(Q(FolderOf(record->FileName)));
  sModifiedValue->setText(Q(FormatFileTime(record->Time)));
  sInfoValue->clear();
  if (record->Kind() == TRecordKind::MP3) {
    const TID3Data& tag = static_cast<const TMP3Data&>(*record).Tag;
    std::string text = tag.Artist;
    if (!tag.Title.empty()) text.append(" \"").append(tag.Title).append("\"");
    if (!tag.Album.empty()) text.append(" [").append(tag.Album).append("]");
    if (!tag.Year.empty()) text.append(", ").append(tag.Year);
    if (!text.empty()) sInfoValue->setText(Q(text));
  }
  std::string size = FormatSize(record->Size);
  if (record->Kind() == TRecordKind::Picture) {
    const auto& picture = static_cast<const TPicData&>(*record);
    size = std::to_string(picture.Width).append(" x ").append(std::to_string(picture.Height)).append("  [ ").append(size).append(" ]");
  }
  sSizeValue->setText(Q(size));
  if (record->Kind() == TRecordKind::Picture || TEngine::IsPicture(record->FileName)) {
    sPreview->Clear();  // a picture that fails must not leave the previous one on show
    sPreview->parentWidget()->show();
    sPreview->LoadFile(record->FileName);
  } else {
    sPreview->Clear();
    sPreview->parentWidget()->hide();
  }
}

void TMainForm::sInfoHeaderClick() {
  InfoExpanded = !InfoExpanded;
  sInfoPanel->setFixedHeight(InfoExpanded ? InfoPanelHeight : 0);
  sInfoPanel->setVisible(InfoExpanded);
  sInfoHeader->setChecked(InfoExpanded);
}

// ---------------------------------------------------------------------------------------------
// Moving and deleting checked rows

void TMainForm::RemoveCheckedFiles(TRemovalKind kind, const std::string& destination) {
  // The records as the list shows them now: removing them releases some.
  std::vector<TFileData*> checked;
  for (int i = 0; i < sFileList->topLevelItemCount(); ++i)
    if (RowAt(i)->checkState(0) == Qt::Checked) checked.push_back(RowAt(i)->Record);
  if (checked.empty()) return;
  const TRemovalPlan plan = Engine->PlanRemoval(checked, kind, destination);
  if (plan.Removable() == 0) {
    MessageBox(this, "Every file of this group is checked, and one copy must stay.\n\rUncheck the file to keep.",
               TBoxKind::Warning);
    return;
  }
  const std::string files = std::to_string(plan.Removable()) + (plan.Removable() == 1 ? " file (" : " files (") +
                            FormatSize(plan.Bytes()) + ")";
  const std::string question =
      kind == TRemovalKind::Trash    ? "Move " + files + " to the trash?"
      : kind == TRemovalKind::Delete ? "Delete " + files + " for good?\n\rThey cannot be restored."
                                     : "Move " + files + " to \"" + destination + "\"?";
  if (MessageBox(this, question, TBoxKind::Confirm, TBoxButtons::YesNo) != TBoxAnswer::Yes) return;

  Operating = true;
  UpdateActions();
  struct TDone {
    TMainForm& Form;
    ~TDone() {
      Form.ShowGauge(false);
      Form.Operating = false;
      Form.actStop->setEnabled(false);
      // Rows may refer to released records: they go before anything can touch them.
      Form.ShowFileInfo(nullptr);
      Form.sFileList->clear();
      Form.sTabControlChange();
      Form.UpdateActions();
    }
  } done{*this};
  ShowGauge(true);
  OnProgress(0);
  ShowFileInfo(nullptr);
  actStop->setEnabled(true);  // Stop ends the removal between two files
  const TRemovalOutcome outcome = Engine->ExecuteRemoval(plan);
  std::string summary = std::to_string(outcome.Done) + " of " + std::to_string(plan.Steps.size()) + " files " +
                        (kind == TRemovalKind::Trash ? "moved to the trash" : kind == TRemovalKind::Delete ? "deleted"
                                                                                                           : "moved");
  if (outcome.Stopped()) summary += "; stopped, " + std::to_string(outcome.NotDone) + " not done";
  LogInfo(summary);
  OnStatus(summary);
}

void TMainForm::MoveCheckedFiles() {
  if (CheckedCount() < 1) return;
  std::string& destination = Engine->Options.DestFolder;
  struct stat info {};
  if (destination.empty() || ::stat(destination.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    const std::optional<std::string> chosen = ChooseFolder(this, DialogFolder(LastChosenFolder), true);
    if (!chosen) return;
    LastChosenFolder = *chosen;
    destination = *chosen;
  }
  Engine->OverwriteAll = false;
  RemoveCheckedFiles(TRemovalKind::Move, destination);
}

void TMainForm::RecycleCheckedFiles() {
  RemoveCheckedFiles(Engine->Options.DelUndo ? TRemovalKind::Trash : TRemovalKind::Delete);
}
