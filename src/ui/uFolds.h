#pragma once
// The "Folders" frame: the engine's folder list with a check box per folder, its enabled mark.

#include <QWidget>

class QListWidget;
class QListWidgetItem;
class TEngine;

class TFoldsFrame : public QWidget {
  Q_OBJECT

public:
  explicit TFoldsFrame(TEngine& engine, QWidget* parent = nullptr);

  // Item i is the engine's folder i. The main window fills it and gives it its context menu.
  QListWidget* sFoldList = nullptr;

  // Empties the list and fills it with the engine's folders, checked when enabled.
  void ShowFolders();
  // A check box toggled: the engine's folder of that row takes the new mark.
  void sFoldListClickCheck(QListWidgetItem* item);

private:
  TEngine& Engine;
};
