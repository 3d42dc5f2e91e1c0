#pragma once
// The console: the one tool window that collects the program's log lines. It stays hidden until
// a warning or an error arrives (or the user asks for it) and lets the user copy, save, mail or
// clear what it holds.

#include <functional>
#include <string>
#include <vector>

#include <QIcon>
#include <QMainWindow>

#include "xLog.h"

class QAction;
class QStatusBar;
class QToolBar;
class QTreeWidget;

class TConsole : public QMainWindow {
  Q_OBJECT

public:
  // Stands in until a setting supplies the real address.
  static constexpr const char* DefaultSupportAddress = "support@example.org";

  explicit TConsole(QWidget* parent = nullptr);
  ~TConsole() override;

  // Makes this console the log sink (lines and clears) of the program; undone by Uninstall
  // and by destruction, which put back what was registered before.
  void Install();
  void Uninstall();
  // What the sink does with a line: adds it and, for a warning or an error that is not quiet,
  // shows the console and brings it to the front.
  void Log(const std::string& text, TLogLevel level, bool quiet);

  // Appends a row " " + text with the level's icon, scrolled into view and painted at once.
  void AddLine(const std::string& text, TLogLevel level);
  void ClearLines();
  int LineCount() const;
  // Icon index of a level: 0 gives 1, 1 gives 2, 2 gives 0, anything else -1 (no icon).
  static int LevelImage(TLogLevel level);

  // Rebuilds ExportLines from the rows: prefix + display text.
  void BuildText();
  // ExportLines with CR LF after every line, the last included.
  std::string ExportText() const;
  // BuildText, then the escaped mailto: link to support with the lines as its body.
  std::string MailLink();
  // LF, CR and space percent-escaped; every other byte as it is.
  static std::string EscapeMailLink(const std::string& link);

  // Each action is enabled exactly when the list holds a row.
  void LinesUpdate();

  void actCopyExecute();
  void actSaveExecute();
  void actSendExecute();

  QToolBar* sToolBar = nullptr;
  QTreeWidget* sListView = nullptr;
  QStatusBar* sStatusBar = nullptr;
  QAction* actCopy = nullptr;
  QAction* actSave = nullptr;
  QAction* actSend = nullptr;
  QAction* actClear = nullptr;

  std::vector<std::string> ExportLines;
  std::string SupportAddress = DefaultSupportAddress;
  // Hands the mail link to the desktop; tests put a recorder here. The outcome is not checked.
  std::function<void(const std::string& link)> OnOpenLink;

  // The save dialog's memory: empty until the first save of the run.
  std::string SaveFolder;
  std::string SaveFileName;

private:
  QIcon NoImage;
  bool Installed = false;
  TLogSink PreviousSink;
  TLogClear PreviousClear;
};
