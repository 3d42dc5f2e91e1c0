// twinsifter: the desktop program.
#include <QApplication>

#include "uAbout.h"
#include "uConsole.h"
#include "uMain.h"
#include "uTips.h"
#include "xStorage.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // The title; a display name would make Qt append the name to every window's caption.
  QApplication::setApplicationName(QStringLiteral("Twinsifter"));
  QApplication::setDesktopFileName(QStringLiteral("twinsifter"));

  // The settings and the console exist before any window: everything logs from the start.
  TStorage& storage = Storage();
  TConsole console;
  console.SupportAddress = SupportAddress(storage);
  console.Install();

  // The windows in their order; only the main window is shown, and closing it ends the program.
  TMainForm form(storage);
  TAboutForm about(storage, &form);
  TTipsForm tips(storage, ShippedPath("Twinsifter.tip"), &form);

  form.OnToggleConsole = [&console] {
    console.setVisible(!console.isVisible());
    if (console.isVisible()) console.raise();
  };
  form.OnAbout = [&about] { about.exec(); };
  form.OnTips = [&tips] { tips.exec(); };
  form.TipsAtStartup = [&tips] { return tips.ShowAtStartup(); };
  about.OnInformation = [&form] {
    if (form.OnHelp) form.OnHelp("");
  };
  form.show();
  const int result = QApplication::exec();
  console.Uninstall();
  return result;
}
