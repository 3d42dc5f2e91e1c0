// The help window: topics with their titles, Back and Forward, missing topics told to the user,
// the one window the program reuses (also from a modal dialog), and the shipped topics' links.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>

#include <cstdlib>
#include <string>
#include <vector>

#include "uDialogs.h"
#include "uHelp.h"
#include "xTestFiles.h"
#include "xUiTestEnv.h"

namespace {

// data/help of the sources, as the folder "help" beside a program in data/.
std::string SourceData() {
  const char* data = std::getenv("TWINSIFTER_TEST_DATA");
  return data ? std::string(data) + "/../../data/" : std::string();
}

QString ShippedFolder() { return QDir::cleanPath(QString::fromStdString(SourceData() + "help")); }

class TBoxes {
public:
  TBoxes() {
    TDialogAnswerer answerer;
    answerer.Box = [this](const std::string& caption, const std::string& text, TBoxButtons) {
      Shown.push_back(caption + ": " + text);
      return TBoxAnswer::Ok;
    };
    Previous = SetDialogAnswerer(answerer);
  }
  ~TBoxes() { SetDialogAnswerer(Previous); }
  std::vector<std::string> Shown;

private:
  TDialogAnswerer Previous;
};

struct TLinks {
  QStringList Hrefs;
  QSet<QString> Names;
};

// The links and anchor names of a page as the browser reads them.
TLinks PageLinks(const QString& file) {
  QFile page(file);
  TLinks links;
  if (!page.open(QIODevice::ReadOnly)) return links;
  QTextDocument document;
  document.setHtml(QString::fromUtf8(page.readAll()));
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    for (auto part = block.begin(); !part.atEnd(); ++part) {
      const QTextCharFormat format = part.fragment().charFormat();
      if (!format.isAnchor()) continue;
      if (!format.anchorHref().isEmpty() && !links.Hrefs.contains(format.anchorHref()))
        links.Hrefs << format.anchorHref();
      for (const QString& name : format.anchorNames()) links.Names.insert(name);
    }
  }
  return links;
}

}  // namespace

class THelpTest : public QObject {
  Q_OBJECT

private slots:
  void ShowsATopicWithItsTitle() {
    THelpWindow window;
    window.SetHelp(THelp(SourceData()));
    QVERIFY(window.ShowTopic("a3_00_00.htm"));
    QCOMPARE(window.windowTitle(), QStringLiteral("How to ..."));
    QCOMPARE(QFileInfo(window.sBrowser->source().toLocalFile()).fileName(), QStringLiteral("a3_00_00.htm"));
    QVERIFY(window.isVisible());
    QVERIFY(window.ShowTopic(""));
    QCOMPARE(window.windowTitle(), QStringLiteral("Twinsifter Help"));
    // An anchor scrolls to its section, far down the guide.
    window.resize(700, 500);
    QVERIFY(window.ShowTopic("a3_00_00.htm#console"));
    QTRY_VERIFY(window.sBrowser->verticalScrollBar()->value() > 0);
  }

  void BackForwardAndContents() {
    THelpWindow window;
    window.SetHelp(THelp(SourceData()));
    QVERIFY(window.ShowTopic(""));
    QVERIFY(!window.actBack->isEnabled());
    emit window.sBrowser->anchorClicked(QUrl(QStringLiteral("a2_08_01.htm")));
    QCOMPARE(window.windowTitle(), QStringLiteral("Settings: Comparison"));
    emit window.sBrowser->anchorClicked(QUrl(QStringLiteral("a2_08_04.htm")));
    QCOMPARE(window.windowTitle(), QStringLiteral("Settings: General"));
    QVERIFY(window.actBack->isEnabled());
    QVERIFY(!window.actForward->isEnabled());
    window.actBack->trigger();
    window.actBack->trigger();
    QCOMPARE(window.windowTitle(), QStringLiteral("Twinsifter Help"));
    QVERIFY(!window.actBack->isEnabled());
    QVERIFY(window.actForward->isEnabled());
    window.actForward->trigger();
    QCOMPARE(window.windowTitle(), QStringLiteral("Settings: Comparison"));
    window.actContents->trigger();
    QCOMPARE(window.windowTitle(), QStringLiteral("Twinsifter Help"));
    // Contents after going back drops the pages ahead, as any browser does.
    QVERIFY(!window.actForward->isEnabled());
  }

  void AMissingTopicIsToldAndChangesNothing() {
    TTempDir root;
    QDir().mkpath(QString::fromStdString(root.File("help")));
    WriteBytes(root.File("help/index.htm"),
               "<html><head><title>Start</title></head><body><a href=\"gone.htm\">gone</a></body></html>");
    // A page of the same name outside the help is not a topic of it.
    QDir().mkpath(QString::fromStdString(root.File("other")));
    WriteBytes(root.File("other/index.htm"), "<html><head><title>Other</title></head></html>");
    THelpWindow window;
    window.SetHelp(THelp(root.Path()));
    QVERIFY(window.ShowTopic(""));
    const QUrl shown = window.sBrowser->source();
    const std::string message = "Help file \"" + root.File("help/gone.htm") + "\" is not found!";

    QVERIFY(!window.ShowTopic("gone.htm"));
    QCOMPARE(window.LastError, message);
    TBoxes boxes;
    emit window.sBrowser->anchorClicked(QUrl(QStringLiteral("gone.htm")));
    emit window.sBrowser->anchorClicked(QUrl(QStringLiteral("../other/index.htm")));
    const std::vector<std::string> expected = {"Warning: " + message,
                                               "Warning: Help file \"" + root.File("other/index.htm") + "\" is not found!"};
    QCOMPARE(boxes.Shown, expected);
    QCOMPARE(window.sBrowser->source(), shown);
    QCOMPARE(window.windowTitle(), QStringLiteral("Start"));
    QVERIFY(!window.actBack->isEnabled());
  }

  // Runs before the program-wide window exists: it is made on the help beside the test program.
  void OpenHelpWarnsOfAMissingFileThenReusesOneWindow() {
    TBoxes boxes;
    OpenHelp(nullptr, "no_such_topic.htm");
    QCOMPARE(boxes.Shown.size(), std::size_t{1});
    const std::string& box = boxes.Shown[0];
    QVERIFY2(box.rfind("Warning: Help file \"", 0) == 0, box.c_str());
    QVERIFY2(box.ends_with("/help/no_such_topic.htm\" is not found!"), box.c_str());
    THelpWindow* window = HelpWindow();
    QVERIFY(window != nullptr);
    QVERIFY(!window->isVisible());

    window->SetHelp(THelp(SourceData()));
    OpenHelp(nullptr, "a2_08_03.htm");
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Settings: Appearance"));
    OpenHelp(nullptr, "");
    QCOMPARE(HelpWindow(), window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Twinsifter Help"));
    QCOMPARE(boxes.Shown.size(), std::size_t{1});
    // A missing topic leaves the window on the page it showed.
    OpenHelp(nullptr, "a2_08_09.htm");
    QCOMPARE(boxes.Shown.size(), std::size_t{2});
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Twinsifter Help"));
  }

  // Under a modal dialog every other window is blocked: the help then belongs to the dialog.
  void FromAModalDialogTheHelpIsTheDialogs() {
    THelpWindow* window = HelpWindow();
    QVERIFY(window != nullptr);
    QDialog dialog;
    dialog.setModal(true);
    dialog.show();
    QTRY_COMPARE(QApplication::activeModalWidget(), &dialog);
    OpenHelp(&dialog, "a2_08_02.htm");
    QCOMPARE(HelpWindow(), window);
    QCOMPARE(window->parentWidget(), &dialog);
    QVERIFY(window->isWindow());
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Settings: Marking and Deletion"));
    // History survives the move.
    QVERIFY(window->actBack->isEnabled());
    dialog.hide();
    OpenHelp(nullptr, "");
    QCOMPARE(window->parentWidget(), nullptr);
    QVERIFY(window->isVisible());
  }

  // Every link of every shipped topic leads to a shipped topic (and to an anchor it has), nothing
  // leads out of the help, every topic has a title and can be reached from the contents.
  void ShippedTopicsLinkOnlyToShippedTopics() {
    const QDir folder(ShippedFolder());
    const QStringList files = folder.entryList({QStringLiteral("*.htm")}, QDir::Files);
    QVERIFY(files.contains(QStringLiteral("index.htm")));
    QVERIFY(files.size() >= 6);
    QSet<QString> reached{QStringLiteral("index.htm")};
    QStringList queue{QStringLiteral("index.htm")};
    while (!queue.isEmpty()) {
      const QString file = queue.takeFirst();
      const TLinks links = PageLinks(folder.filePath(file));
      QVERIFY2(!links.Hrefs.isEmpty(), qPrintable(file + " links nowhere"));
      for (const QString& href : links.Hrefs) {
        const QUrl url(href);
        const QString where = file + ": " + href;
        QVERIFY2(url.scheme().isEmpty() && !href.startsWith(QLatin1Char('/')), qPrintable(where + " leads out"));
        const QString target = url.path().isEmpty() ? file : url.path();
        QVERIFY2(!target.contains(QLatin1Char('/')) && files.contains(target), qPrintable(where + " is not shipped"));
        if (url.hasFragment())
          QVERIFY2(PageLinks(folder.filePath(target)).Names.contains(url.fragment()),
                   qPrintable(where + ": no such anchor"));
        if (!reached.contains(target)) {
          reached.insert(target);
          queue << target;
        }
      }
    }
    for (const QString& file : files) {
      QVERIFY2(reached.contains(file), qPrintable(file + " cannot be reached from the contents"));
      QFile page(folder.filePath(file));
      QVERIFY(page.open(QIODevice::ReadOnly));
      QTextDocument document;
      document.setHtml(QString::fromUtf8(page.readAll()));
      QVERIFY2(!document.metaInformation(QTextDocument::DocumentTitle).trimmed().isEmpty(),
               qPrintable(file + " has no title"));
    }
  }
};

TS_QTEST_MAIN(THelpTest)
#include "uHelpTest.moc"
