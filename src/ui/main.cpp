// twinsifter: the desktop program.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>

#include "uAbout.h"
#include "uBrowser.h"
#include "uConsole.h"
#include "uHelp.h"
#include "uMain.h"
#include "uSettings.h"
#include "uSkins.h"
#include "uTips.h"
#include "uViewer.h"
#include "xStorage.h"

namespace {

int SignalPipe[2] = {-1, -1};

void OnTerminate(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(SignalPipe[1], &byte, 1);
}

// A logout or `kill` closes the window the way its close box does, so that the settings, the
// folder list and the cache are saved instead of lost.
void CloseOnTermination(QWidget& window) {
  if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte;
    while (::read(SignalPipe[0], &byte, 1) > 0) {
    }
    window.close();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminate;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGHUP, SIGINT}) ::sigaction(signal, &action, nullptr);
}

}  // namespace

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
  TViewerForm viewer(&form);
  TSettingsForm settings(Skins(), storage.AppFolder(), &form);
  TAboutForm about(storage, &form);
  TTipsForm tips(storage, ShippedPath("Twinsifter.tip"), &form);
  TBrowserForm browser(&form);  // never shown: F2 does nothing

  form.OnToggleConsole = [&console] {
    console.setVisible(!console.isVisible());
    if (console.isVisible()) console.raise();
  };
  form.OnViewPicture = [&viewer](const std::string& file) { viewer.ViewFile(file); };
  form.OnHelp = [&form](const std::string& topic) { OpenHelp(&form, topic); };
  form.OnSettings = [&form, &settings] { return settings.Execute(*form.Engine); };
  settings.OnHelp = [&form](const std::string& topic) {
    if (form.OnHelp) form.OnHelp(topic);
  };
  form.OnAbout = [&about] { about.exec(); };
  form.OnTips = [&tips] { tips.exec(); };
  form.TipsAtStartup = [&tips] { return tips.ShowAtStartup(); };
  about.OnInformation = [&form] {
    if (form.OnHelp) form.OnHelp("");
  };
  CloseOnTermination(form);
  form.show();
  // A session file given to the program (opened from the file manager): its groups at once.
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 1) {
    const std::string session = QFile::encodeName(arguments.at(1)).toStdString();  // the name's own bytes
    QTimer::singleShot(0, &form, [&form, session] { form.Guarded([&] { form.OpenSession(session); }); });
  }
  const int result = QApplication::exec();
  console.Uninstall();
  return result;
}
