#include "uBrowser.h"

TBrowserForm::TBrowserForm(QWidget* parent) : QMainWindow(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("File Browser"));
  resize(870, 640);
  move(252, 173);
  // Closing only hides it (no delete on close): it lives as long as the program.
}
