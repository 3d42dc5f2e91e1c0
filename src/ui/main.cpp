// twinsifter: the desktop program.
#include <QApplication>

#include "uConsole.h"
#include "uMain.h"
#include "xStorage.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The title; a display name would make Qt append the name to every window's caption.
  QApplication::setApplicationName(QStringLiteral("Twinsifter"));
  QApplication::setDesktopFileName(QStringLiteral("twinsifter"));

  // The settings and the console exist before any window: everything logs from the start.
  TStorage& storage = Storage();
  TConsole console;
  console.Install();

  TMainForm form(storage);
  form.OnToggleConsole = [&console] {
    console.setVisible(!console.isVisible());
    if (console.isVisible()) console.raise();
  };
  form.show();
  const int result = QApplication::exec();
  console.Uninstall();
  return result;
}
