// twinsifter: the desktop program.
#include <QApplication>

#include "uMain.h"
#include "xStorage.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The title; a display name would make Qt append the name to every window's caption.
  QApplication::setApplicationName(QStringLiteral("Twinsifter"));
  QApplication::setDesktopFileName(QStringLiteral("twinsifter"));
  TStorage& storage = Storage();
  TMainForm form(storage);
  form.show();
  return QApplication::exec();
}
