#include "uConsole.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPixmap>
#include <QSaveFile>
#include <QScreen>
#include <QStatusBar>
#include <QThread>
#include <QToolBar>
#include <QTreeWidget>

#include "uDialogs.h"
#include "xRecords.h"
#include "uIcons.h"
#include "xPlatform.h"
#include "xStorage.h"

namespace {

constexpr int LevelRole = Qt::UserRole;     // the row's level
constexpr int TextRole = Qt::UserRole + 1;  // the logged bytes, exported as they came

const char* const MailSubject = "[TWINSIFTER] Bug report!";

QIcon LevelIcon(int image) {
  switch (image) {
    case 0: return Icon(TIcon::Info);
    case 1: return Icon(TIcon::Warning);
    case 2: return Icon(TIcon::Error);
    default: return QIcon();
  }
}

// "Courier New" where it is installed; otherwise whatever fixed-pitch face the system offers.
QFont ConsoleFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  font.setPixelSize(13);
  if (!QFontInfo(font).fixedPitch()) {
    font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(13);
  }
  return font;
}

QAction* MakeAction(QWidget* owner, const char* caption, const char* hint, TIcon icon) {
  auto* action = new QAction(Icon(icon), QString::fromUtf8(caption), owner);
  action->setToolTip(QString::fromUtf8(hint));
  action->setStatusTip(QString::fromUtf8(hint));
  action->setEnabled(false);
  return action;
}


}  // namespace

TConsole::TConsole(QWidget* parent) : QMainWindow(parent, Qt::Tool | Qt::WindowStaysOnTopHint) {
  setWindowTitle(QStringLiteral(" Console"));
  setObjectName(QStringLiteral("Console"));
  // Coming up for a warning must not take the keyboard from the window the user works in.
  setAttribute(Qt::WA_ShowWithoutActivating);
  setContextMenuPolicy(Qt::PreventContextMenu);  // the tool bar cannot be hidden
  // Not deleted on close: the close box only hides the window, which lives as long as the program.

  actCopy = MakeAction(this, "&Copy", " Copy console to clipboard ", TIcon::Copy);
  actSave = MakeAction(this, "&Save", " Save console to file ", TIcon::SaveFile);
  actSend = MakeAction(this, "&E-mail", " Send console information to support ", TIcon::Mail);
  actClear = MakeAction(this, "Clear", " Clear console ", TIcon::Clear);
  connect(actCopy, &QAction::triggered, this, &TConsole::actCopyExecute);
  connect(actSave, &QAction::triggered, this, &TConsole::actSaveExecute);
  connect(actSend, &QAction::triggered, this, &TConsole::actSendExecute);
  connect(actClear, &QAction::triggered, this, &TConsole::ClearLines);

  sToolBar = addToolBar(QStringLiteral("Console"));
  sToolBar->setObjectName(QStringLiteral("sToolBar"));
  sToolBar->setMovable(false);
  sToolBar->setFloatable(false);
  sToolBar->setIconSize(QSize(16, 16));
  sToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  sToolBar->setContentsMargins(4, 0, 0, 0);
  sToolBar->addAction(actCopy);
  sToolBar->addAction(actSave);
  sToolBar->addAction(actSend);
  sToolBar->addSeparator();
  sToolBar->addAction(actClear);
  sToolBar->addSeparator();

  sListView = new QTreeWidget(this);
  sListView->setObjectName(QStringLiteral("sListView"));
  sListView->setColumnCount(1);
  sListView->setHeaderHidden(true);
  sListView->header()->setStretchLastSection(true);
  sListView->setRootIsDecorated(false);
  sListView->setUniformRowHeights(true);
  sListView->setItemsExpandable(false);
  sListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  sListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  sListView->setIconSize(QSize(16, 16));
  sListView->setFont(ConsoleFont());
  // Rows without an image keep the same indent, so that plain lines line up with the others.
  QPixmap blank(16, 16);
  blank.fill(Qt::transparent);
  NoImage = QIcon(blank);
  QPalette palette = sListView->palette();
  palette.setColor(QPalette::Text, Qt::black);
  sListView->setPalette(palette);
  setCentralWidget(sListView);

  sStatusBar = statusBar();
  sStatusBar->setObjectName(QStringLiteral("sStatusBar"));
  sStatusBar->setSizeGripEnabled(true);

  setMinimumSize(320, 240);
  resize(520, 245);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

  OnOpenLink = [](const std::string& link) {
    std::string ignored;
    OpenWithDefaultApplication(link, ignored);
  };
}

TConsole::~TConsole() { Uninstall(); }

void TConsole::Install() {
  if (Installed) return;
  Installed = true;
  PreviousSink = SetLogSink([this](const std::string& text, TLogLevel level, bool quiet) {
    // Lines of the interface thread go in at once, in order; any other thread's are queued to it.
    if (QThread::currentThread() == thread()) {
      Log(text, level, quiet);
      return;
    }
    QMetaObject::invokeMethod(this, [this, text, level, quiet] { Log(text, level, quiet); }, Qt::QueuedConnection);
  });
  PreviousClear = SetLogClear([this] {
    if (QThread::currentThread() == thread()) ClearLines();
    else QMetaObject::invokeMethod(this, &TConsole::ClearLines, Qt::QueuedConnection);
  });
}

void TConsole::Uninstall() {
  if (!Installed) return;
  Installed = false;
  SetLogClear(std::move(PreviousClear));
  SetLogSink(std::move(PreviousSink));
  PreviousClear = nullptr;
  PreviousSink = nullptr;
}

void TConsole::Log(const std::string& text, TLogLevel level, bool quiet) {
  AddLine(text, level);
  if (!quiet && (level == llWarning || level == llError)) {
    show();
    raise();
  }
}

int TConsole::LevelImage(TLogLevel level) {
  switch (level) {
    case llWarning: return 1;
    case llError: return 2;
    case llInfo: return 0;
    default: return -1;
  }
}

void TConsole::AddLine(const std::string& text, TLogLevel level) {
  auto* item = new QTreeWidgetItem();
  const QString shown = QStringLiteral(" ") + QString::fromStdString(text);
  item->setText(0, shown);
  item->setToolTip(0, shown);
  const int image = LevelImage(level);
  item->setIcon(0, image < 0 ? NoImage : LevelIcon(image));
  item->setData(0, LevelRole, static_cast<int>(level));
  item->setData(0, TextRole, QByteArray(text.data(), static_cast<qsizetype>(text.size())));
  sListView->addTopLevelItem(item);
  sListView->scrollToItem(item, QAbstractItemView::EnsureVisible);
  LinesUpdate();
  // A search keeps the interface thread busy between its event pumps: paint now, not later.
  if (sListView->isVisible()) sListView->viewport()->repaint();
}

void TConsole::ClearLines() {
  sListView->clear();
  LinesUpdate();
}

int TConsole::LineCount() const { return sListView->topLevelItemCount(); }

void TConsole::LinesUpdate() {
  const bool any = LineCount() > 0;
  for (QAction* action : {actCopy, actSave, actSend, actClear}) action->setEnabled(any);
}

void TConsole::BuildText() {
  ExportLines.clear();
  const int count = LineCount();
  ExportLines.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const QTreeWidgetItem* item = sListView->topLevelItem(i);
    const auto level = static_cast<TLogLevel>(item->data(0, LevelRole).toInt());
    const QByteArray text = item->data(0, TextRole).toByteArray();
    ExportLines.push_back(ExportedLine(std::string(text.constData(), static_cast<std::size_t>(text.size())), level));
  }
}

std::string TConsole::ExportText() const {
  std::string text;
  for (const std::string& line : ExportLines) text += line + "\r\n";
  return text;
}

std::string TConsole::EscapeMailLink(const std::string& link) {
  std::string escaped;
  escaped.reserve(link.size());
  for (const char c : link) {
    if (c == '\n') escaped += "%0A";
    else if (c == '\r') escaped += "%0D";
    else if (c == ' ') escaped += "%20";
    else escaped += c;
  }
  return escaped;
}

std::string TConsole::MailLink() {
  BuildText();
  return EscapeMailLink("mailto:" + SupportAddress + "?subject=" + MailSubject + "&body=" + ExportText());
}

void TConsole::actCopyExecute() {
  if (LineCount() == 0) return;
  BuildText();
  const QString text = QString::fromStdString(ExportText());
  QClipboard* clipboard = QGuiApplication::clipboard();
  if (clipboard) clipboard->setText(text);
  if (!clipboard || clipboard->text() != text) LogError("Failed to copy console to the clipboard");
}

void TConsole::actSaveExecute() {
  if (LineCount() == 0) return;
  if (SaveFolder.empty()) {
    SaveFolder = ExeFolder();
    SaveFileName = "console.txt";
  }
  TFileDialogRequest request;
  request.Save = true;
  request.Filter = "Text Files (*.txt)|*.txt|All Files (*.*)|*.*";
  request.DefaultSuffix = "txt";
  request.Folder = SaveFolder;
  request.FileName = SaveFileName;
  const std::optional<std::string> chosen = ChooseFile(this, request);
  if (!chosen || chosen->empty()) return;
  SaveFolder = FolderOf(*chosen);
  SaveFileName = NameOf(*chosen);
  if (SaveFolder.empty()) SaveFolder = ExeFolder();

  BuildText();
  const std::string text = ExportText();
  const QString path = QString::fromStdString(*chosen);
  // Written aside and renamed over the old file, so a failed save leaves the old one whole.
  QSaveFile file(path);
  file.setDirectWriteFallback(true);
  if (!file.open(QIODevice::WriteOnly)) {
    MessageBox(this, "Cannot create file \"" + *chosen + "\". " + file.errorString().toStdString(), TBoxKind::Error);
    return;
  }
  std::string reason;
  if (file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size())) {
    reason = file.errorString().toStdString();
    file.cancelWriting();
    file.commit();  // discards what was written aside
  } else if (!file.commit()) {
    reason = file.errorString().toStdString();
  } else {
    return;
  }
  MessageBox(this, "Error writing to file \"" + *chosen + "\". " + reason, TBoxKind::Error);
}

void TConsole::actSendExecute() {
  if (LineCount() == 0) return;
  const std::string link = MailLink();
  if (OnOpenLink) OnOpenLink(link);
}
