#pragma once
// The main window: owner of the engine, the side frames and the results view. Every user
// command is an action with a caption, a hint, a shortcut, an enabling rule evaluated when the
// interface is idle, and an effect that runs inside one failure guard.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QMainWindow>
#include <QTimer>
#include <QTreeWidget>

#include "xEngine.h"
#include "xThumber.h"

class QAction;
class QLabel;
class QProgressBar;
class QTabBar;
class QToolButton;
class QWidget;
class TPreview;
class TXFrames;
class TFoldsFrame;
class TSampleFrame;
class TOptsFrame;
class TStorage;

// A byte count as the results show it: "999 Bytes", "0.977 KB", "4.768 MB", "1024 GB".
std::string FormatSize(std::int64_t bytes);
// A packed file time as the results show it: the short date, then the time unless it is midnight.
std::string FormatFileTime(std::uint32_t packed);

// A row of the file list: the record it stands for; rows order by the window's sort state.
class TFileRow : public QTreeWidgetItem {
public:
  TFileRow(TFileData* record, const int& column, const int& direction)
      : Record(record), Column(column), Direction(direction) {}
  bool operator<(const QTreeWidgetItem& other) const override;
  TFileData* Record;

private:
  const int& Column;
  const int& Direction;
};

class TMainForm : public QMainWindow {
  Q_OBJECT

public:
  explicit TMainForm(TStorage& storage);
  ~TMainForm() override;

  // Engine callbacks: the gauge and the title, the status panel; both let pending events run.
  void OnProgress(int percent);
  void OnStatus(const std::string& text);
  void ShowAppHint(const std::string& hint);
  void ShowResults(bool hadError, bool report);
  void RefreshFolders();
  // Loads a session file and shows its groups (Load results without the dialog).
  void OpenSession(const std::string& fileName);
  void ShowCurrentFile();
  void OpenCurrentFile();

  // Results view.
  void sTabControlChange();
  void AddFileRow(TFileData* record);
  void ShowFileInfo(QTreeWidgetItem* row);
  int CheckedCount() const;
  void MoveCheckedFiles();
  void RecycleCheckedFiles();
  void sFileListColumnClick(int column);
  void sInfoHeaderClick();
  void SelectTab(int index);
  void SortRows();  // the arrow keys' and ShowResults' way of choosing a group

  // Every action's rule, evaluated at once (the idle timer does so too).
  void UpdateActions();
  // Runs a command inside the failure guard: an exception ends it with an error box.
  void Guarded(const std::function<void()>& command);
  // Runs an action's effect when its rule holds now (indirect triggers: double click, timer).
  void Trigger(QAction* action);

  std::unique_ptr<TEngine> Engine;
  std::string AppFolder;
  std::string AppTitle;
  bool Searching = false;
  bool FirstActivation = true;
  int InfoPanelHeight = 190;
  bool InfoExpanded = true;  // the properties panel
  TFileData* CurrentFile = nullptr;
  int SortColumn = 1;
  int SortDirection = 1;
  bool Filling = false;
  // A move or delete in progress: the list and the file actions are out of reach meanwhile.
  bool Operating = false;

  QAction *actAddFolder, *actDelFolder, *actClearFolder, *actExecute, *actStop, *actShowFile, *actOpenFile,
      *actFilesMove, *actFilesRecycle, *actView, *actSave, *actOpen, *actSettings, *actHelp, *actAbout, *actTips,
      *actHowTo, *actBrowser, *actConsole, *actExit;

  QTabBar* sTabControl = nullptr;
  QTreeWidget* sFileList = nullptr;
  QToolButton* sInfoHeader = nullptr;
  QWidget* sInfoPanel = nullptr;
  QLabel *sNameValue, *sPathValue, *sSizeValue, *sModifiedValue, *sInfoValue;
  TPreview* sPreview = nullptr;
  QLabel* sStatusText = nullptr;
  QProgressBar* sGauge = nullptr;
  QTimer TipTimer;
  TThumber Thumber;
  TImageList Thumbs;  // the thumbnails of the rows on show

  TXFrames* Frames = nullptr;
  TFoldsFrame* FoldsFrame = nullptr;
  TSampleFrame* SampleFrame = nullptr;
  TOptsFrame* OptsFrame = nullptr;

  // What the other windows do; set by the program's entry once they exist.
  std::function<void(const std::string& file)> OnViewPicture;
  std::function<bool()> OnSettings;  // the settings dialog, modal; true on OK
  std::function<void(const std::string& topic)> OnHelp;
  std::function<void()> OnAbout, OnTips, OnToggleConsole;
  std::function<bool()> TipsAtStartup;

protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QAction* MakeAction(const char* caption, const char* hint, QKeySequence shortcut, std::function<bool()> enabled,
                      std::function<void()> effect);
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  QWidget* CreateResultsPanel();
  QWidget* CreateInfoPanel();
  void CreateFrames();
  void ReadLayout();
  void WriteLayout();
  void ShowGauge(bool visible);
  void PumpEvents();
  std::string DialogFolder(const std::string& remembered) const;
  TFileRow* RowAt(int index) const;
  // Runs a move or delete on every checked row's record with progress and the list out of reach,
  // then fills the list again; a failure is logged with the engine's reason.
  // Removes the checked files of the shown group after asking, as one plan of the engine's.
  void RemoveCheckedFiles(TRemovalKind kind, const std::string& destination = "");
  int SelectedFolder() const;  // the folders list's selected index, -1 without one
  void ReloadFrameOptions();

  void actExecuteExecute();
  void actAddFolderExecute();
  void actDelFolderExecute();
  void actClearFolderExecute();
  void actSaveExecute();
  void actOpenExecute();
  void actSettingsExecute();
  void actViewExecute();

  TStorage& Store;
  QTimer IdleTimer;
  std::string LastChosenFolder;  // the folder chooser opens where it closed
  struct TRule {
    QAction* Action;
    std::function<bool()> Enabled;
  };
  std::vector<TRule> Rules;
};
