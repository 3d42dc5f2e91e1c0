#include "uMain.h"

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QProgressBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <exception>

#include "uDialogs.h"
#include "uFolds.h"
#include "uFrame.h"
#include "uFrames.h"
#include "uIcons.h"
#include "uOpts.h"
#include "uPreview.h"
#include "uSample.h"
#include "uSkins.h"
#include "xLog.h"
#include "xStorage.h"

namespace {

constexpr int DesignedX = 202, DesignedY = 117, DesignedW = 945, DesignedH = 749;
constexpr int MinimumW = 750, MinimumH = 700;
constexpr int StatusPanelWidth = 222;

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TMainForm::TMainForm(TStorage& storage) : Store(storage) {
  // The geometry comes first, before anything is shown.
  Store.OpenSection("MAINFORM", false);
  const int x = Store.ReadInteger("X", DesignedX), y = Store.ReadInteger("Y", DesignedY);
  const int w = Store.ReadInteger("W", DesignedW), h = Store.ReadInteger("H", DesignedH);
  Store.CloseSection();
  setMinimumSize(MinimumW, MinimumH);
  // Stored or designed, the window must be on a screen that exists now (a smaller one, say).
  QRect wanted(x, y, std::max(w, MinimumW), std::max(h, MinimumH));
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    if (!room.contains(wanted)) {
      wanted.setSize(wanted.size().boundedTo(room.size()).expandedTo(QSize(MinimumW, MinimumH)));
      wanted.moveLeft(std::clamp(wanted.left(), room.left(), std::max(room.left(), room.right() - wanted.width())));
      wanted.moveTop(std::clamp(wanted.top(), room.top(), std::max(room.top(), room.bottom() - wanted.height())));
    }
  }
  move(wanted.topLeft());
  resize(wanted.size());

  AppTitle = QApplication::applicationDisplayName().toStdString();
  setWindowTitle(Q(AppTitle));
  setWindowIcon(Icon(TIcon::Application));
  AppFolder = Store.AppFolder();

  Engine = std::make_unique<TEngine>(Store);
  Engine->OnProgress = [this](int percent) { OnProgress(percent); };
  Engine->OnStatus = [this](const std::string& text) { OnStatus(text); };
  Engine->OnPumpEvents = [this] { PumpEvents(); };
  Engine->OnOverwrite = [this](const std::string& text) {
    // Yes, No, or (Yes on a second question) every later file too.
    if (MessageBox(this, text, TBoxKind::Confirm, TBoxButtons::YesNo) == TBoxAnswer::No) return TOverwriteAnswer::No;
    return TOverwriteAnswer::Yes;
  };

  CreateActions();
  CreateMenus();
  CreateToolBar();

  auto* central = new QWidget(this);
  auto* row = new QHBoxLayout(central);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);
  CreateFrames();
  row->addWidget(Frames);
  row->addWidget(CreateResultsPanel(), 1);
  setCentralWidget(central);

  sStatusText = new QLabel(this);
  sStatusText->setFixedWidth(StatusPanelWidth);
  sGauge = new QProgressBar(this);
  sGauge->setRange(0, 100);
  sGauge->setFormat(QStringLiteral("%p%"));
  sGauge->setTextVisible(true);
  statusBar()->addWidget(sStatusText);
  statusBar()->addWidget(sGauge);
  statusBar()->setFixedHeight(std::max(19, statusBar()->sizeHint().height()));

  Filling = false;
  ShowGauge(false);
  Searching = false;
  FirstActivation = true;
  InfoPanelHeight = 190;
  sTabControl->hide();
  ShowFileInfo(nullptr);
  SortColumn = 1;
  SortDirection = 1;
  Thumber.Shadows = &ShadowList();

  ReadLayout();
  RefreshFolders();

  qApp->installEventFilter(this);
  TipTimer.setSingleShot(true);
  TipTimer.setInterval(500);
  connect(&TipTimer, &QTimer::timeout, this, [this] { Trigger(actTips); });
  // The rules are cheap; evaluating them a few times a second keeps every control current.
  connect(&IdleTimer, &QTimer::timeout, this, [this] { UpdateActions(); });
  IdleTimer.start(150);
  UpdateActions();
  sFileList->setFocus();
}

TMainForm::~TMainForm() {
  qApp->removeEventFilter(this);
  IdleTimer.stop();
  WriteLayout();
  sFileList->clear();
  Engine.reset();  // writes the options and the folder list, closes the cache
}

// ---------------------------------------------------------------------------------------------
// Actions

QAction* TMainForm::MakeAction(const char* caption, const char* hint, QKeySequence shortcut,
                               std::function<bool()> enabled, std::function<void()> effect) {
  auto* action = new QAction(QString::fromUtf8(caption), this);
  if (hint) {
    action->setToolTip(QString::fromUtf8(hint));
    action->setStatusTip(QString::fromUtf8(hint));
  }
  if (!shortcut.isEmpty()) action->setShortcut(shortcut);
  Rules.push_back({action, std::move(enabled)});
  connect(action, &QAction::triggered, this, [this, action, effect = std::move(effect)] {
    Guarded([&] {
      for (const TRule& rule : Rules)
        if (rule.Action == action && !rule.Enabled()) return;  // re-evaluated at the moment it runs
      effect();
    });
  });
  return action;
}

void TMainForm::CreateActions() {
  const auto idle = [this] { return !Engine->IsRunning() && !Searching; };
  const auto hasFile = [this] { return CurrentFile != nullptr && !Operating && !Searching; };
  const auto hasChecked = [this] { return CheckedCount() > 0 && !Operating && !Searching; };
  actAddFolder = MakeAction("&Add Folder ...", " Choose folder to analyse ", QKeySequence(Qt::CTRL | Qt::Key_F), idle,
                            [this] { actAddFolderExecute(); });
  actDelFolder = MakeAction(
      "&Remove", " Remove selected folder from the folders list ", {},
      [this] { return !Engine->IsRunning() && !Searching && FoldsFrame && SelectedFolder() >= 0; },
      [this] { actDelFolderExecute(); });
  actClearFolder = MakeAction(
      "&Clear Folders", " Remove all folders from the Folders list ", {},
      [this] { return !Engine->Folders.empty() && !Engine->IsRunning() && !Searching; },
      [this] { actClearFolderExecute(); });
  actExecute = MakeAction(
      "&Start", " Start searching ", QKeySequence(Qt::Key_F9),
      [this] {
        if (Engine->EnabledFolderCount() < 1 || Engine->IsRunning() || Searching || Operating) return false;
        return !Engine->Options.UseSample || ::access(Engine->Options.SampleFile.c_str(), F_OK) == 0;
      },
      [this] { actExecuteExecute(); });
  actStop = MakeAction("&Stop", " Stop searching ", {}, [this] { return Engine->IsRunning(); }, [this] { Engine->Stop(); });
  actShowFile = MakeAction("&Show", " Show selected file in Explorer ", {}, hasFile, [this] { ShowCurrentFile(); });
  actOpenFile = MakeAction("&Open", " Open the selected file ", {}, hasFile, [this] { OpenCurrentFile(); });
  actFilesMove = MakeAction("&Move", " Move selected files to a folder ", QKeySequence(Qt::SHIFT | Qt::Key_Delete),
                            hasChecked, [this] { MoveCheckedFiles(); });
  actFilesRecycle = MakeAction("&Delete", " Delete selected files to recycle bin ",
                               QKeySequence(Qt::CTRL | Qt::Key_Delete), hasChecked, [this] { RecycleCheckedFiles(); });
  actView = MakeAction(
      "&View file", " View selected picture in viewer ", {},
      [this] {
        return OnViewPicture && CurrentFile != nullptr && !Searching && !Operating &&
               TEngine::IsPicture(CurrentFile->FileName);
      },
      [this] { actViewExecute(); });
  actSave = MakeAction(
      "&Save results ...", " Save search resutls ", QKeySequence(Qt::CTRL | Qt::Key_S),
      [this] { return Engine->GroupCount() >= 1 && !Engine->IsRunning() && !Operating; }, [this] { actSaveExecute(); });
  // Loading replaces the records a running search works on: never during one.
  actOpen = MakeAction(
      "&Load results ...", " Load previously saved search results ", QKeySequence(Qt::CTRL | Qt::Key_O),
      [this] { return !Engine->IsRunning() && !Operating; }, [this] { actOpenExecute(); });
  // The windows behind these come with their own hooks; without one the action stays disabled.
  actSettings = MakeAction(
      "Se&ttings ...", " Editing of advanced settings ", {}, [this, idle] { return OnSettings && idle(); },
      [this] { actSettingsExecute(); });
  actHelp = MakeAction("Help &Contents ...", " Show help contents ", QKeySequence(Qt::Key_F1),
                       [this] { return static_cast<bool>(OnHelp); }, [this] { OnHelp(""); });
  actAbout = MakeAction("&About ...", nullptr, {}, [this] { return static_cast<bool>(OnAbout); }, [this] { OnAbout(); });
  actTips = MakeAction("&Tip of the Day ...", " Show the \"Tip of the Day\" dialog", {},
                       [this] { return static_cast<bool>(OnTips); }, [this] { OnTips(); });
  actHowTo = MakeAction("H&owTo ...", " Open \"How to ...\" section of the help ", {},
                        [this] { return static_cast<bool>(OnHelp); }, [this] { OnHelp("a3_00_00.htm"); });
  actBrowser = MakeAction("&Browser", " Open picture browser window ", QKeySequence(Qt::Key_F2), [] { return true; }, [] {});
  actConsole = MakeAction("Console", " Show / Hide Console ", QKeySequence(Qt::Key_F5),
                          [this] { return static_cast<bool>(OnToggleConsole); }, [this] { OnToggleConsole(); });
  actExit = new QAction(QStringLiteral("E&xit"), this);
  connect(actExit, &QAction::triggered, this, &QWidget::close);

  const std::pair<QAction*, TIcon> icons[] = {
      {actAddFolder, TIcon::AddFolder}, {actDelFolder, TIcon::RemoveFolder}, {actClearFolder, TIcon::ClearFolders},
      {actExecute, TIcon::Start},       {actStop, TIcon::Stop},              {actShowFile, TIcon::ShowFile},
      {actOpenFile, TIcon::OpenFile},   {actFilesMove, TIcon::Move},         {actFilesRecycle, TIcon::Delete},
      {actSave, TIcon::SaveResults},    {actOpen, TIcon::LoadResults},       {actSettings, TIcon::Settings},
      {actHelp, TIcon::Help},           {actAbout, TIcon::About},            {actTips, TIcon::Tips},
      {actHowTo, TIcon::HowTo},         {actConsole, TIcon::Console},        {actExit, TIcon::Exit}};
  for (const auto& [action, icon] : icons) action->setIcon(Icon(icon));
  // Shortcuts work wherever the focus is in this window, menus or not.
  for (QAction* action : {actView, actBrowser, actConsole}) addAction(action);
  actStop->setEnabled(false);
}

void TMainForm::CreateMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->addActions({actOpen, actSave});
  file->addSeparator();
  file->addAction(actSettings);
  file->addSeparator();
  file->addAction(actExit);
  QMenu* folders = menuBar()->addMenu(QStringLiteral("Fol&ders"));
  folders->addActions({actAddFolder, actDelFolder});
  folders->addSeparator();
  folders->addAction(actClearFolder);
  QMenu* search = menuBar()->addMenu(QStringLiteral("&Search"));
  search->addActions({actExecute, actStop});
  QMenu* duplicates = menuBar()->addMenu(QStringLiteral("Du&plicates"));
  duplicates->addActions({actFilesMove, actFilesRecycle});
  duplicates->addSeparator();
  duplicates->addActions({actOpenFile, actShowFile});
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->addActions({actHelp, actTips, actHowTo});
  help->addSeparator();
  help->addAction(actAbout);
  for (QMenu* menu : {file, folders, search, duplicates, help}) menu->setToolTipsVisible(false);
}

void TMainForm::CreateToolBar() {
  QToolBar* bar = addToolBar(QStringLiteral("Tools"));
  bar->setObjectName(QStringLiteral("sToolBar"));
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setIconSize(QSize(24, 24));
  bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  bar->toggleViewAction()->setVisible(false);
  const auto add = [bar](QAction* action, const QString& caption = QString()) {
    // A tool button shows its action's icon text, which the menus never do.
    if (!caption.isEmpty()) action->setIconText(caption);
    auto* button = new QToolButton(bar);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFixedSize(76, 44);
    button->setAutoRaise(true);
    bar->addWidget(button);
  };
  add(actAddFolder, QStringLiteral("Add Folder"));
  add(actDelFolder);
  bar->addSeparator();
  add(actExecute);
  add(actStop);
  bar->addSeparator();
  add(actFilesMove);
  add(actFilesRecycle);
  bar->addSeparator();
  add(actSettings, QStringLiteral("Settings"));
  add(actHelp, QStringLiteral("Help"));
}

void TMainForm::UpdateActions() {
  for (const TRule& rule : Rules) {
    if (rule.Action == actStop) continue;  // follows the search exactly (see actExecuteExecute)
    rule.Action->setEnabled(rule.Enabled());
  }
  actStop->setEnabled(Engine->IsRunning());
  if (sFileList) sFileList->setEnabled(!Searching && !Operating);
  if (sTabControl) sTabControl->setEnabled(!Searching && !Operating);
}

void TMainForm::Guarded(const std::function<void()>& command) {
  try {
    command();
  } catch (const std::exception& failure) {
    QApplication::restoreOverrideCursor();
    FailureBox(this, failure.what());
  } catch (...) {
    FailureBox(this, "Unexpected failure");
  }
}

void TMainForm::Trigger(QAction* action) {
  UpdateActions();
  if (action->isEnabled()) action->trigger();
}

// ---------------------------------------------------------------------------------------------
// Progress and status

void TMainForm::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TMainForm::OnProgress(int percent) {
  if (sGauge->value() != percent) {
    sGauge->setValue(percent);
    if (sGauge->isVisible()) setWindowTitle(Q(AppTitle) + " - " + QString::number(percent) + " %");
  }
  PumpEvents();
}

void TMainForm::OnStatus(const std::string& text) {
  sStatusText->setText(QLatin1Char(' ') + Q(text));
  PumpEvents();
}

void TMainForm::ShowAppHint(const std::string& hint) {
  if (!Searching) OnStatus(hint);
}

void TMainForm::ShowGauge(bool visible) {
  sGauge->setVisible(visible);
  // The title shows the percentage only while the gauge does.
  if (!visible) setWindowTitle(Q(AppTitle));
}

// ---------------------------------------------------------------------------------------------
// Window events

void TMainForm::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  const int width = statusBar()->contentsRect().width() - StatusPanelWidth - statusBar()->height() - 16;
  sGauge->setFixedWidth(std::max(0, width));
}

void TMainForm::closeEvent(QCloseEvent* event) {
  // Closing never waits: a running search is asked to stop and the program ends after it.
  if (Engine->IsRunning()) Engine->Stop();
  event->accept();
}

void TMainForm::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && FirstActivation) {
    FirstActivation = false;
    if (TipsAtStartup && TipsAtStartup()) TipTimer.start();
  }
}

bool TMainForm::event(QEvent* event) {
  // Hints go to the status panel, not to Qt's temporary message over the whole bar.
  if (event->type() == QEvent::StatusTip) {
    ShowAppHint(static_cast<QStatusTipEvent*>(event)->tip().toStdString());
    return true;
  }
  return QMainWindow::event(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sFileList && event->type() == QEvent::KeyPress) {
    // Left and Right go through the groups.
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Left || key == Qt::Key_Right) {
      Guarded([&] { SelectTab(sTabControl->currentIndex() + (key == Qt::Key_Left ? -1 : 1)); });
      return true;
    }
  }
  // The hint of the control under the mouse pointer, for controls without a status tip.
  if (event->type() == QEvent::Enter && watched->isWidgetType()) {
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() == this && !widget->toolTip().isEmpty() && widget->statusTip().isEmpty())
      ShowAppHint(widget->toolTip().toStdString());
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Layout persistence

void TMainForm::ReadLayout() {
  Store.OpenSection("MAINFORM", false);
  // Skin, hue and saturation, except on the first run of a new build.
  ReadSkinSettings(Store, Store.NewBuild());
  for (int i = 0; i < Frames->FrameCount(); ++i) {
    TXFrame* frame = Frames->FrameAt(i);
    frame->SetExpanded(Store.ReadBool("F" + std::to_string(i), frame->Expanded()));
  }
  const bool infoExpanded = Store.ReadBool("FInf", true);
  Store.CloseSection();
  if (!infoExpanded) sInfoHeaderClick();
}

void TMainForm::WriteLayout() {
  Store.OpenSection("MAINFORM", true);
  Store.WriteInteger("X", x());
  Store.WriteInteger("Y", y());
  Store.WriteInteger("W", width());
  Store.WriteInteger("H", height());
  WriteSkinSettings(Store);
  for (int i = 0; i < Frames->FrameCount(); ++i) Store.WriteBool("F" + std::to_string(i), Frames->FrameAt(i)->Expanded());
  Store.WriteBool("FInf", InfoExpanded);
  Store.CloseSection();
}

// ---------------------------------------------------------------------------------------------
// Commands

std::string TMainForm::DialogFolder(const std::string& remembered) const {
  if (!remembered.empty()) return remembered;
  // The program's folder when one may write there (portable use), else the home folder.
  if (::access(AppFolder.c_str(), W_OK) == 0) return AppFolder;
  const char* home = std::getenv("HOME");
  return home ? home : AppFolder;
}

void TMainForm::actExecuteExecute() {
  if (Engine->EnabledFolderCount() < 1) return;
  // The rows refer to records the search is about to release.
  ShowFileInfo(nullptr);
  sFileList->clear();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  ShowGauge(true);
  Searching = true;
  actStop->setEnabled(true);
  for (QAction* action : {actExecute, actAddFolder, actDelFolder, actSettings, actClearFolder}) action->setEnabled(false);
  UpdateActions();
  actStop->setEnabled(true);
  PumpEvents();
  struct TSearchEnd {
    TMainForm& Form;
    ~TSearchEnd() {
      Form.Searching = false;
      Form.ShowGauge(false);
      QApplication::restoreOverrideCursor();
    }
  };
  {
    TSearchEnd end{*this};
    // A failure, or a stop (which still gives the groups found so far), leaves its message.
    Engine->Execute();
    if (!Engine->LastError.empty()) LogWarning(Engine->LastError);
  }
  // A stopped search reports and shows what it found, without the completion box.
  ShowResults(!Engine->LastError.empty(), true);
  actStop->setEnabled(false);
  UpdateActions();
}

void TMainForm::ShowResults(bool hadError, bool report) {
  const int n = Engine->GroupCount();
  if (report) {
    const std::string text = std::to_string(n) + " duplicates groups found";
    OnStatus(text);
    LogInfo(text);
  }
  ShowFileInfo(nullptr);
  sFileList->clear();
  while (sTabControl->count() > 0) sTabControl->removeTab(0);
  sTabControl->setVisible(n > 1);
  PumpEvents();
  const QSignalBlocker blocker(sTabControl);
  for (int i = 0; i < n; ++i) sTabControl->addTab(QStringLiteral(" %1 ").arg(i + 1));
  if (n > 0) {
    sTabControl->setCurrentIndex(0);
    sTabControlChange();
    if (report && !hadError)
      MessageBox(this, std::to_string(n) + " duplicate groups found!", TBoxKind::Information);
  } else if (report && !hadError) {
    MessageBox(this, "No duplicates found!", TBoxKind::Information);
  }
}

void TMainForm::actAddFolderExecute() {
  const std::optional<std::string> chosen = ChooseFolder(this, DialogFolder(LastChosenFolder), false);
  if (!chosen) return;
  LastChosenFolder = *chosen;
  Engine->AddFolder(*chosen);
  RefreshFolders();
}

void TMainForm::actClearFolderExecute() {
  if (MessageBox(this, "You are about to remove all folders from the list.\n\rProceed?", TBoxKind::Warning,
                 TBoxButtons::YesNo) != TBoxAnswer::Yes)
    return;
  Engine->Folders.clear();
  Engine->NeedRescan = true;
  RefreshFolders();
}

static const char* const SessionFilter = "Session Files (*.tsn)|*.tsn|All Files (*.*)|*.*";

void TMainForm::actSaveExecute() {
  TFileDialogRequest request;
  request.Save = true;
  request.Filter = SessionFilter;
  request.DefaultSuffix = "tsn";
  request.Folder = DialogFolder("");
  const std::optional<std::string> chosen = ChooseFile(this, request);
  if (!chosen) return;
  ShowGauge(true);
  if (!Engine->SaveSession(*chosen)) LogError(Engine->LastError);
  ShowGauge(false);
}

void TMainForm::actOpenExecute() {
  TFileDialogRequest request;
  request.Filter = SessionFilter;
  request.Folder = DialogFolder("");
  const std::optional<std::string> chosen = ChooseFile(this, request);
  if (chosen) OpenSession(*chosen);
}

void TMainForm::OpenSession(const std::string& fileName) {
  if (Engine->IsRunning() || Operating) return;
  // The rows refer to records the load replaces.
  ShowFileInfo(nullptr);
  sFileList->clear();
  ShowGauge(true);
  if (!Engine->LoadSession(fileName)) LogError(Engine->LastError);
  ShowGauge(false);
  ReloadFrameOptions();
  RefreshFolders();
  ShowResults(true, false);
}

void TMainForm::actSettingsExecute() {
  if (!OnSettings()) return;
  Engine->ApplySettings();
  ShowResults(false, false);
}

void TMainForm::actViewExecute() {
  OnViewPicture(CurrentFile->FileName);
}

void TMainForm::ShowCurrentFile() {
  if (CurrentFile) Engine->ShowInFolder(CurrentFile->FileName);
}

void TMainForm::OpenCurrentFile() {
  if (CurrentFile) Engine->OpenFile(CurrentFile->FileName);
}

// ---------------------------------------------------------------------------------------------
// Side frames

void TMainForm::CreateFrames() {
  Frames = new TXFrames(this);
  Frames->setFixedWidth(TXFrames::ColumnWidth);
  FoldsFrame = Frames->AddFrame<TFoldsFrame>("Folders", TIcon::Folders, *Engine);
  QListWidget* list = FoldsFrame->sFoldList;
  list->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* line = new QAction(list);
  line->setSeparator(true);
  list->addActions({actAddFolder, line, actDelFolder});
  SampleFrame = Frames->AddFrame<TSampleFrame>("Sample", TIcon::Sample, *Engine);
  SampleFrame->LoadOptions();
  OptsFrame = Frames->AddFrame<TOptsFrame>("Options", TIcon::Options, *Engine);
  OptsFrame->LoadOptions();
}

int TMainForm::SelectedFolder() const {
  if (!FoldsFrame) return -1;
  const QList<QListWidgetItem*> selected = FoldsFrame->sFoldList->selectedItems();
  return selected.isEmpty() ? -1 : FoldsFrame->sFoldList->row(selected.first());
}

void TMainForm::ReloadFrameOptions() {
  if (OptsFrame) OptsFrame->LoadOptions();
}

void TMainForm::RefreshFolders() {
  if (FoldsFrame) FoldsFrame->ShowFolders();
}

void TMainForm::actDelFolderExecute() {
  const int index = SelectedFolder();
  if (index >= 0 && Engine->DeleteFolder(index)) RefreshFolders();
}
