#pragma once
// The file browser: an empty window that exists from the start; nothing shows it yet.

#include <QMainWindow>

class TBrowserForm : public QMainWindow {
public:
  explicit TBrowserForm(QWidget* parent = nullptr);
};
