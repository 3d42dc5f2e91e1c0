// The tip of the day and the about box.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include "uAbout.h"
#include "uDialogs.h"
#include "uTips.h"
#include "xStorage.h"
#include "xTestFiles.h"
#include "xUiTestEnv.h"

class TTipsTest : public QObject {
  Q_OBJECT

  std::vector<std::pair<std::string, std::string>> Boxes;
  TDialogAnswerer Previous;

private slots:
  void init() {
    Boxes.clear();
    TDialogAnswerer answerer;
    answerer.Box = [this](const std::string& caption, const std::string& text, TBoxButtons) {
      Boxes.emplace_back(caption, text);
      return TBoxAnswer::Ok;
    };
    Previous = SetDialogAnswerer(answerer);
  }
  void cleanup() { SetDialogAnswerer(Previous); }

  void LinesAreTakenAsTheyAre() {
    QCOMPARE(ReadTipLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    QCOMPARE(ReadTipLines("a\n\n  b \n"), (std::vector<std::string>{"a", "", "  b "}));
    QCOMPARE(ReadTipLines(""), std::vector<std::string>{});
  }

  void NextGoesInFileOrderAndWrapsRound() {
    TTempDir home;
    WriteBytes(home.File("Twinsifter.tip"), "first\nsecond\r\nthird\n");
    TStorage store(home.Path() + "/", TInfo());
    TTipsForm tips(store, home.File("Twinsifter.tip"));
    QVERIFY(Boxes.empty());
    tips.show();
    QVERIFY(!tips.TipShown);  // every opening begins with an empty tip area
    QVERIFY(tips.txtInfo->text().isEmpty());
    // Next before the timer: the index moves from -1 to the first tip; held down, nothing shows.
    QTest::mousePress(tips.sButton1, Qt::LeftButton);
    QVERIFY(!tips.TipShown && tips.txtInfo->text().isEmpty());
    QTest::mouseRelease(tips.sButton1, Qt::LeftButton);
    QCOMPARE(tips.txtInfo->text(), QStringLiteral("first"));
    QTest::keyClick(tips.sButton1, Qt::Key_Space);
    QCOMPARE(tips.txtInfo->text(), QStringLiteral("second"));
    tips.NextTip();
    QCOMPARE(tips.txtInfo->text(), QStringLiteral("third"));
    tips.NextTip();
    QCOMPARE(tips.txtInfo->text(), QStringLiteral("first"));
    // The timer still fires once and shows a tip of its choice.
    QTRY_VERIFY_WITH_TIMEOUT(!tips.Timer.isActive(), 2000);
    QVERIFY(tips.TipShown);
    QVERIFY(tips.TipIndex >= 0 && tips.TipIndex < 3);
    tips.hide();
    tips.show();
    QVERIFY(!tips.TipShown && tips.txtInfo->text().isEmpty());
  }

  void MissingTipsFileIsReportedAndLeavesTheAreaEmpty() {
    TTempDir home;
    TStorage store(home.Path() + "/", TInfo());
    TTipsForm tips(store, home.File("Twinsifter.tip"));
    QCOMPARE(Boxes.size(), std::size_t{1});
    QCOMPARE(Boxes[0], (std::pair<std::string, std::string>{"Error", "Failed to open tips file : Twinsifter.tip"}));
    tips.show();
    QTRY_VERIFY_WITH_TIMEOUT(tips.TipShown, 2000);
    QVERIFY(tips.txtInfo->text().isEmpty());
    tips.NextTip();
    QVERIFY(tips.txtInfo->text().isEmpty());
    QCOMPARE(tips.TipIndex, -1);
  }

  void StartupChoiceIsKept() {
    TTempDir home;
    WriteBytes(home.File("Twinsifter.tip"), "tip\n");
    {
      TStorage store(home.Path() + "/", TInfo());
      TTipsForm tips(store, home.File("Twinsifter.tip"));
      QVERIFY(tips.ShowAtStartup());  // absent from the settings: ticked
      tips.chkShowTips->setChecked(false);
    }
    TStorage store(home.Path() + "/", TInfo());
    store.OpenSection("TIPS", false);
    QCOMPARE(store.ReadBool("ShowStart", true), false);
    store.CloseSection();
    TTipsForm tips(store, home.File("Twinsifter.tip"));
    QVERIFY(!tips.ShowAtStartup());
  }

  void AboutBoxShowsVersionSystemMemoryAndSupport() {
    TTempDir home;
    TStorage store(home.Path() + "/", TInfo());
    {
      TAboutForm about(store);
      QCOMPARE(about.sVersion->text().toStdString(), store.VersionText());
      QCOMPARE(about.sSystem->text().toStdString(), store.SysInfo().GetWindowsDescription());
      QVERIFY(about.sMemory->text().isEmpty());
      about.show();
      QVERIFY(about.sMemory->text().contains(QRegularExpression(QStringLiteral("^[0-9.]+ MB out of [0-9.]+ MB$"))));
      std::vector<std::string> links;
      about.OnOpenLink = [&](const std::string& link) { links.push_back(link); };
      QTest::mouseClick(about.sMailLink, Qt::LeftButton);
      QCOMPARE(links, std::vector<std::string>{std::string("mailto:") + PlaceholderSupportAddress});
    }
    // A distributor's address replaces the placeholder; the program never writes it.
    store.OpenSection("SUPPORT", true);
    store.WriteString("Mail", "help@distribution.test");
    store.CloseSection();
    TAboutForm about(store);
    QCOMPARE(about.sMailLink->text(), QStringLiteral("help@distribution.test"));
  }
};

TS_QTEST_MAIN(TTipsTest)
#include "uTipsTest.moc"
