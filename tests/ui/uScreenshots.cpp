// Renders the main window as a user sees it after a search, for the README and for looking at
// changes: ui_screenshots FOLDER OUTPUT_FOLDER (offscreen; the settings live in a temporary home).
#include <QApplication>
#include <QTabBar>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>

#include "uAbout.h"
#include "uConsole.h"
#include "uDialogs.h"
#include "uFrame.h"
#include "uHelp.h"
#include "uFrames.h"
#include "uMain.h"
#include "uTips.h"
#include "xStorage.h"
#include "xTestFiles.h"
#include "xUiTestEnv.h"

static void Save(QWidget& window, const QString& file) {
  QApplication::processEvents();
  if (!window.grab().save(file)) std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: ui_screenshots FOLDER OUTPUT_FOLDER\n");
    return 2;
  }
  TUiTestEnv environment;
  // A screen as large as a desktop's, so that the window keeps its designed size.
  const std::string screens = environment.Path() + "/screens.json";
  WriteBytes(screens, R"({"screens": [{"name": "desk", "x": 0, "y": 0, "width": 1280, "height": 960,)"
                      R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
  setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + screens).c_str(), 1);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Twinsifter"));
  const QString out = QString::fromLocal8Bit(argv[2]) + QLatin1Char('/');
  TDialogAnswerer answerer;
  answerer.Box = [](const std::string&, const std::string&, TBoxButtons) { return TBoxAnswer::Ok; };
  SetDialogAnswerer(answerer);

  TConsole console;
  console.Install();
  TMainForm form(Storage());
  // The other windows stand behind these; here they only make their actions look as they do.
  form.OnSettings = [] { return false; };
  form.OnHelp = [](const std::string&) {};
  form.OnViewPicture = [](const std::string&) {};
  form.Engine->AddFolder(argv[1]);
  form.RefreshFolders();
  form.show();
  form.Trigger(form.actExecute);
  // The first picture of the results, selected, so that the preview shows.
  for (int tab = 0; tab < form.sTabControl->count(); ++tab) {
    form.SelectTab(tab);
    QTreeWidgetItem* row = form.sFileList->topLevelItem(0);
    if (row && TEngine::IsPicture(static_cast<TFileRow*>(row)->Record->FileName)) {
      form.sFileList->setCurrentItem(row);
      break;
    }
  }
  Save(form, out + "main.png");
  form.Frames->FrameAt(1)->sHeader->click();
  Save(form, out + "sample-collapsed.png");
  form.Frames->FrameAt(1)->sHeader->click();
  console.show();
  Save(console, out + "console.png");
  TAboutForm about(Storage(), &form);
  about.show();
  Save(about, out + "about.png");
  TTipsForm tips(Storage(), ShippedPath("Twinsifter.tip"), &form);
  tips.show();
  tips.NextTip();
  Save(tips, out + "tips.png");
  OpenHelp(&form, "a3_00_00.htm");
  if (THelpWindow* help = HelpWindow()) Save(*help, out + "help.png");
  console.Uninstall();
  return 0;
}
