// The console window: which lines bring it up, what its export, mail link and saved file hold,
// its actions on an empty list, and lines that come from other threads.
#include <QAction>
#include <QClipboard>
#include <QFontInfo>
#include <QGuiApplication>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <thread>

#include "uConsole.h"
#include "uDialogs.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"
#include "xUiTestEnv.h"

Q_DECLARE_METATYPE(std::string)

namespace {

struct TLogged {
  std::string Text;
  int Level;
};

// The dialogs answered by the test: the file dialog's requests and the boxes are recorded.
class TAnswers {
public:
  TAnswers() {
    TDialogAnswerer answerer;
    answerer.File = [this](const TFileDialogRequest& request) {
      Requests.push_back(request);
      return NextFile;
    };
    answerer.Box = [this](const std::string& caption, const std::string& text, TBoxButtons) {
      Boxes.push_back(caption + ": " + text);
      return TBoxAnswer::Ok;
    };
    Previous = SetDialogAnswerer(answerer);
  }
  ~TAnswers() { SetDialogAnswerer(Previous); }

  std::optional<std::string> NextFile;
  std::vector<TFileDialogRequest> Requests;
  std::vector<std::string> Boxes;

private:
  TDialogAnswerer Previous;
};

}  // namespace

class TConsoleTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TConsole> Console;

  void Fill(const std::vector<TLogged>& lines) {
    for (const TLogged& line : lines) Console->AddLine(line.Text, static_cast<TLogLevel>(line.Level));
  }
  QString Row(int i) const { return Console->sListView->topLevelItem(i)->text(0); }

private slots:
  void init() {
    Console = std::make_unique<TConsole>();
    Console->Install();
  }
  void cleanup() { Console.reset(); }

  void Window() {
    QCOMPARE(Console->windowTitle(), QStringLiteral(" Console"));
    QVERIFY(Console->windowFlags() & Qt::Tool);
    QVERIFY(Console->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(Console->size(), QSize(520, 245));
    QVERIFY(!Console->isVisible());
    const QFontInfo font(Console->sListView->font());
    QVERIFY(font.fixedPitch());
    QCOMPARE(font.pixelSize(), 13);
    QVERIFY(Console->sListView->isHeaderHidden());
    QCOMPARE(Console->sListView->editTriggers(), QAbstractItemView::NoEditTriggers);
  }

  void MinimumSizeClamps_data() {
    QTest::addColumn<QSize>("asked");
    QTest::addColumn<QSize>("got");
    QTest::newRow("both too small") << QSize(100, 50) << QSize(320, 240);
    QTest::newRow("too narrow") << QSize(319, 600) << QSize(320, 600);
    QTest::newRow("too low") << QSize(700, 239) << QSize(700, 240);
    QTest::newRow("at the bound") << QSize(320, 240) << QSize(320, 240);
  }
  void MinimumSizeClamps() {
    QFETCH(QSize, asked);
    QFETCH(QSize, got);
    Console->show();
    Console->resize(asked);
    QCOMPARE(Console->size(), got);
  }

  void LevelsThatShowTheConsole_data() {
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("quiet");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("image");
    QTest::newRow("warning") << 0 << false << true << 1;
    QTest::newRow("error") << 1 << false << true << 2;
    QTest::newRow("info") << 2 << false << false << 0;
    QTest::newRow("unused 3") << 3 << false << false << -1;
    QTest::newRow("plain") << 4 << false << false << -1;
    QTest::newRow("beyond") << 200 << false << false << -1;
    QTest::newRow("quiet warning") << 0 << true << false << 1;
    QTest::newRow("quiet error") << 1 << true << false << 2;
  }
  void LevelsThatShowTheConsole() {
    QFETCH(int, level);
    QFETCH(bool, quiet);
    QFETCH(bool, shown);
    QFETCH(int, image);
    ConsoleLog("line", static_cast<TLogLevel>(level), quiet);
    QCOMPARE(Console->LineCount(), 1);
    QCOMPARE(Row(0), QStringLiteral(" line"));
    QCOMPARE(Console->isVisible(), shown);
    QCOMPARE(TConsole::LevelImage(static_cast<TLogLevel>(level)), image);
  }

  void AnErrorAfterACloseBringsTheRowsBack() {
    LogInfo("one");
    LogWarning("two");
    QVERIFY(Console->isVisible());
    QVERIFY(Console->close());
    QVERIFY(!Console->isVisible());
    QCOMPARE(Console->LineCount(), 2);
    LogInfo("three");
    QVERIFY(!Console->isVisible());
    LogError("four");
    QVERIFY(Console->isVisible());
    QCOMPARE(Console->LineCount(), 4);
    QCOMPARE(Row(0), QStringLiteral(" one"));
    QCOMPARE(Row(3), QStringLiteral(" four"));
  }

  void ActionsOnlyWithRows() {
    const std::vector<QAction*> actions{Console->actCopy, Console->actSave, Console->actSend, Console->actClear};
    for (QAction* action : actions) QVERIFY(!action->isEnabled());
    LogInfo("x");
    for (QAction* action : actions) QVERIFY(action->isEnabled());
    Console->actClear->trigger();
    QCOMPARE(Console->LineCount(), 0);
    for (QAction* action : actions) QVERIFY(!action->isEnabled());
    // The engine's clear before every search empties it the same way.
    LogInfo("y");
    ClearConsole();
    QCOMPARE(Console->LineCount(), 0);
    QVERIFY(!Console->actCopy->isEnabled());

    // Disabled actions do nothing: no dialog, no link.
    TAnswers answers;
    int links = 0;
    Console->OnOpenLink = [&](const std::string&) { ++links; };
    for (QAction* action : actions) action->trigger();
    QVERIFY(answers.Requests.empty());
    QCOMPARE(links, 0);
  }

  void ActionCaptionsAndHints() {
    QCOMPARE(Console->actCopy->text(), QStringLiteral("&Copy"));
    QCOMPARE(Console->actSave->text(), QStringLiteral("&Save"));
    QCOMPARE(Console->actSend->text(), QStringLiteral("&E-mail"));
    QCOMPARE(Console->actClear->text(), QStringLiteral("Clear"));
    QCOMPARE(Console->actCopy->toolTip(), QStringLiteral(" Copy console to clipboard "));
    QCOMPARE(Console->actSave->toolTip(), QStringLiteral(" Save console to file "));
    QCOMPARE(Console->actSend->toolTip(), QStringLiteral(" Send console information to support "));
    QCOMPARE(Console->actClear->toolTip(), QStringLiteral(" Clear console "));
  }

  void ExportText() {
    Fill({{"plain", 4}, {"careful", 0}, {"broken", 1}, {"noted", 2}, {"odd", 3}, {"", 4}, {"last", 2}});
    Console->BuildText();
    QCOMPARE(Console->ExportLines, (std::vector<std::string>{" plain", "WARNING :  careful", "ERROR :  broken",
                                                             "INFO :  noted", " odd", " ", "INFO :  last"}));
    QCOMPARE(Console->ExportText(), std::string(" plain\r\nWARNING :  careful\r\nERROR :  broken\r\nINFO :  noted\r\n"
                                                " odd\r\n \r\nINFO :  last\r\n"));
    // Rebuilt from the rows each time, never appended to.
    Console->BuildText();
    QCOMPARE(Console->ExportLines.size(), std::size_t(7));
  }

  void CopyPutsTheExportOnTheClipboard() {
    Fill({{"a", 0}, {"b", 4}});
    Console->actCopy->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("WARNING :  a\r\n b\r\n"));
    QCOMPARE(Console->LineCount(), 2);  // no failure line
  }

  void MailLink_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("body");
    QTest::newRow("the single warning") << "Failed" << 0 << "WARNING%20:%20%20Failed%0D%0A";
    QTest::newRow("percent and ampersand as they are")
        << "100% & more?#x=1" << 2 << "INFO%20:%20%20100%%20&%20more?#x=1%0D%0A";
    QTest::newRow("line feed and carriage return") << "a\nb\rc" << 4 << "%20a%0Ab%0Dc%0D%0A";
    QTest::newRow("bytes above 127") << QString::fromUtf8("d\xc3\xa9j\xc3\xa0") << 1
                                     << QString::fromUtf8("ERROR%20:%20%20d\xc3\xa9j\xc3\xa0%0D%0A");
  }
  void MailLink() {
    QFETCH(QString, text);
    QFETCH(int, level);
    QFETCH(QString, body);
    Console->SupportAddress = "help desk@example.org";
    Console->AddLine(text.toStdString(), static_cast<TLogLevel>(level));
    const std::string expected =
        "mailto:help%20desk@example.org?subject=[TWINSIFTER]%20Bug%20report!&body=" + body.toStdString();
    QCOMPARE(Console->MailLink(), expected);
    std::vector<std::string> opened;
    Console->OnOpenLink = [&](const std::string& link) { opened.push_back(link); };
    Console->actSend->trigger();
    QCOMPARE(opened, std::vector<std::string>{expected});
  }

  void DefaultSupportAddressIsAPlaceholder() {
    QVERIFY(Console->SupportAddress.ends_with("@example.org"));
  }

  void SaveWritesTheExportThroughTheDialog() {
    TTempDir dir;
    TAnswers answers;
    Fill({{"first", 0}, {"second \xff byte", 4}});
    answers.NextFile = dir.File("log.txt");
    Console->actSave->trigger();
    QCOMPARE(answers.Requests.size(), std::size_t(1));
    const TFileDialogRequest& first = answers.Requests[0];
    QVERIFY(first.Save);
    QCOMPARE(first.Filter, std::string("Text Files (*.txt)|*.txt|All Files (*.*)|*.*"));
    QCOMPARE(first.DefaultSuffix, std::string("txt"));
    QCOMPARE(first.Folder, ExeFolder());
    QCOMPARE(first.FileName, std::string("console.txt"));
    QCOMPARE(ReadBytes(dir.File("log.txt")), std::string("WARNING :  first\r\n second \xff byte\r\n"));

    // The next save opens where the last one went, and replaces an existing file whole.
    WriteBytes(dir.File("old.txt"), std::string(1000, 'x'));
    answers.NextFile = dir.File("old.txt");
    Console->actSave->trigger();
    QCOMPARE(answers.Requests[1].Folder, dir.Path() + "/");
    QCOMPARE(answers.Requests[1].FileName, std::string("log.txt"));
    QCOMPARE(ReadBytes(dir.File("old.txt")), std::string("WARNING :  first\r\n second \xff byte\r\n"));

    // Cancel writes nothing.
    answers.NextFile = std::nullopt;
    Console->actSave->trigger();
    QCOMPARE(answers.Requests.size(), std::size_t(3));
    QCOMPARE(answers.Requests[2].FileName, std::string("old.txt"));
    QVERIFY(answers.Boxes.empty());
    QCOMPARE(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
  }

  void SaveFailureIsShownAndKeepsTheRows() {
    TTempDir dir;
    TAnswers answers;
    Fill({{"kept", 1}});
    answers.NextFile = dir.File("missing/log.txt");
    Console->actSave->trigger();
    QCOMPARE(answers.Boxes.size(), std::size_t(1));
    QVERIFY(answers.Boxes[0].starts_with("Error: Cannot create file \"" + dir.File("missing/log.txt") + "\". "));
    QVERIFY(answers.Boxes[0].size() > ("Error: Cannot create file \"" + dir.File("missing/log.txt") + "\". ").size());
    QCOMPARE(Console->LineCount(), 1);
    QVERIFY(!std::filesystem::exists(dir.File("missing")));
  }

  void LinesFromOtherThreadsArriveInOrder() {
    LogInfo("gui 1");
    std::thread worker([] {
      for (int i = 0; i < 50; ++i) LogInfo("worker " + std::to_string(i));
      ClearConsole();
      LogWarning("after clear");
    });
    worker.join();
    LogInfo("gui 2");  // the interface thread's own line goes in at once
    QCOMPARE(Console->LineCount(), 2);
    QCOMPARE(Row(1), QStringLiteral(" gui 2"));
    QCoreApplication::processEvents();
    QCOMPARE(Console->LineCount(), 1);
    QCOMPARE(Row(0), QStringLiteral(" after clear"));
    QVERIFY(Console->isVisible());
  }

  void DestructionPutsThePreviousSinkBack() {
    Console.reset();
    TLogCapture capture;
    {
      TConsole console;
      console.Install();
      LogInfo("to the console");
      QCOMPARE(console.LineCount(), 1);
    }
    LogInfo("to the capture");
    QCOMPARE(capture.Lines(), (std::vector<TLogCapture::TLine>{{"to the capture", llInfo, false}}));
    ClearConsole();
    QCOMPARE(capture.Clears(), 1);
  }
};

TS_QTEST_MAIN(TConsoleTest)
#include "uConsoleTest.moc"
