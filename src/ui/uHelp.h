#pragma once
// The help window: a small HTML browser over the topics shipped with the program, with Back,
// Forward and Contents. One window serves the whole program; it is not modal.

#include <string>

#include <QMainWindow>

#include "xHelp.h"

class QAction;
class QTextBrowser;
class QUrl;

class THelpWindow : public QMainWindow {
  Q_OBJECT

public:
  // On the help beside the running program (THelp of its folder).
  explicit THelpWindow(QWidget* parent = nullptr);

  // Shows the topic ("" the contents; "file#anchor" scrolls to the anchor) and brings the window
  // to the front. False when its file is missing: the window stays as it was and LastError holds
  // the message for the user.
  bool ShowTopic(const std::string& topic);

  // Whether the topic's file is there; LastError as for ShowTopic.
  bool HasTopic(const std::string& topic);

  // Another help folder (tests, a help in another place).
  void SetHelp(const THelp& help) { Help = help; }
  const THelp& CurrentHelp() const { return Help; }

  std::string LastError;

  QTextBrowser* sBrowser = nullptr;
  QAction *actBack = nullptr, *actForward = nullptr, *actContents = nullptr, *actClose = nullptr;

private:
  // Links are followed here rather than by the browser, so that a missing topic is reported too.
  void LinkClicked(const QUrl& link);
  void UpdateCaption();

  THelp Help;
  bool Placed = false;  // centred on the screen at its first showing
};

// Shows the topic in the program's help window (made on first use and reused), or, when the
// topic's file is missing, tells the user in a warning box over `parent`.
void OpenHelp(QWidget* parent, const std::string& topic);

// The window OpenHelp uses; none before its first call.
THelpWindow* HelpWindow();
