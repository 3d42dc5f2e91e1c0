// The skin manager: skins found in folders, colours of sheets and palettes turned by the hue
// offset and the saturation change, the look really put on the windows, and its settings.
#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <memory>

#include "uSkins.h"
#include "xLog.h"
#include "xStorage.h"
#include "xTestFiles.h"
#include "xUiTestEnv.h"

namespace {

std::string ShippedSkins() {
  const char* data = std::getenv("TWINSIFTER_TEST_DATA");
  return std::string(data ? data : ".") + "/../../data/skins/";
}

bool Near(const QColor& a, const QColor& b, int slack = 2) {
  return std::abs(a.red() - b.red()) <= slack && std::abs(a.green() - b.green()) <= slack &&
         std::abs(a.blue() - b.blue()) <= slack && a.alpha() == b.alpha();
}

// Two sheets alike but for colours a unit or two apart (HSL rounding).
bool SameSheet(const QString& actual, const QString& expected) {
  static const QRegularExpression colour(QStringLiteral("#[0-9a-fA-F]{6,8}\\b|rgba?\\([^)]*\\)"));
  const auto split = [](const QString& text, QStringList& rest, QList<QColor>& colours) {
    qsizetype at = 0;
    for (auto match = colour.globalMatch(text); match.hasNext();) {
      const QRegularExpressionMatch m = match.next();
      rest << text.mid(at, m.capturedStart() - at);
      QString token = m.captured();
      if (token.startsWith(QLatin1Char('#'))) {
        colours << QColor(token);
      } else {
        const QStringList parts = token.mid(token.indexOf(QLatin1Char('(')) + 1).chopped(1).split(QLatin1Char(','));
        colours << QColor(parts[0].toInt(), parts[1].toInt(), parts[2].toInt());
        rest << (parts.size() > 3 ? parts[3].trimmed() : QString());
      }
      at = m.capturedEnd();
    }
    rest << text.mid(at);
  };
  QStringList restA, restB;
  QList<QColor> coloursA, coloursB;
  split(actual, restA, coloursA);
  split(expected, restB, coloursB);
  if (restA != restB || coloursA.size() != coloursB.size()) return false;
  for (qsizetype i = 0; i < coloursA.size(); ++i)
    if (!Near(coloursA[i], coloursB[i])) return false;
  return true;
}

void WriteSheet(const std::string& path, const std::string& text) { WriteBytes(path, text); }

QColor CentrePixel(QWidget& widget) {
  QApplication::processEvents();
  const QImage image = widget.grab().toImage();
  return image.pixelColor(image.width() / 2, image.height() / 2);
}

}  // namespace

class TSkinsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TTempDir> First, Second;

private slots:
  void init() {
    First = std::make_unique<TTempDir>();
    Second = std::make_unique<TTempDir>();
  }
  void cleanup() {
    qApp->setStyleSheet(QString());
    First.reset();
    Second.reset();
  }

  void FindsSkinsInItsFoldersSortedFirstNameWins() {
    WriteSheet(First->File("Blue.qss"), "QWidget { color: #102030; }");
    WriteSheet(First->File("notes.txt"), "not a skin");
    WriteSheet(First->File("Night.Owl.qss"), "QWidget { color: #303030; }");
    WriteSheet(First->File("Huge.qss"), std::string(TSkinManager::MaxSheetSize + 1, ' '));
    WriteSheet(Second->File("Blue.qss"), "QWidget { color: #ffffff; }");
    WriteSheet(Second->File("Standard.qss"), "QWidget { color: #ffffff; }");
    WriteSheet(Second->File("amber.qss"), "QWidget { color: #ffbf00; }");
    std::filesystem::create_directories(Second->File("folder.qss"));

    TSkinManager skins({First->Path() + "/", Second->Path() + "/", First->Path() + "/missing/"});
    const std::vector<std::string> expected = {"amber", "Blue", "Classic", "Night.Owl", "Standard"};
    QCOMPARE(skins.Names(), expected);
    QCOMPARE(skins.FileOf("Blue"), First->File("Blue.qss"));
    QCOMPARE(skins.FileOf("Standard"), std::string());  // the built-in one, not the file
    QCOMPARE(skins.CurrentName(), std::string(TSkinManager::DefaultSkin));

    // A skin dropped into the folder later appears at the next look.
    WriteSheet(Second->File("Coral.qss"), "QWidget { color: #ff7f50; }");
    QVERIFY(!skins.Contains("Coral"));
    skins.Rescan();
    QVERIFY(skins.Contains("Coral"));
  }

  void ShiftsEveryColourOfTheDeclarationsOnly_data() {
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("hue");
    QTest::addColumn<int>("saturation");
    QTest::addColumn<QString>("expected");
    QTest::newRow("nothing to do") << "QWidget { color: #3366cc; }" << 0 << 0 << "QWidget { color: #3366cc; }";
    QTest::newRow("full turn") << "QWidget { color: #3366cc; }" << 360 << 0 << "QWidget { color: #3366cc; }";
    QTest::newRow("half turn") << "QWidget { color: #3366cc; }" << 180 << 0 << "QWidget { color: #cc9933; }";
    QTest::newRow("short form") << "QWidget { color: #f00; }" << 120 << 0 << "QWidget { color: #00ff00; }";
    QTest::newRow("alpha kept") << "QWidget { color: #80ff0000; }" << 240 << 0 << "QWidget { color: #800000ff; }";
    QTest::newRow("rgb and rgba") << "QWidget { color: rgb(255, 0, 0); background: rgba(0,0,255, 40%); }" << 120
                                  << 0 << "QWidget { color: rgb(0, 255, 0); background: rgba(255, 0, 0, 40%); }";
    QTest::newRow("rgb percentages") << "QWidget { color: rgb(100%, 0%, 0%); }" << 120 << 0
                                     << "QWidget { color: rgb(0, 255, 0); }";
    QTest::newRow("greys stay") << "QWidget { color: #808080; border: 1px solid #000; }" << 90 << 100
                                << "QWidget { color: #808080; border: 1px solid #000000; }";
    QTest::newRow("gradient stops") << "QWidget { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
                                       "stop:0 #ff0000, stop:1 #00ff00); }"
                                    << 120 << 0
                                    << "QWidget { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
                                       "stop:0 #00ff00, stop:1 #0000ff); }";
    QTest::newRow("selectors and comments kept")
        << "QFrame#add, QLabel#bad /* #ff0000 */ { color: #ff0000; } /* { #00ff00 } */" << 120 << 0
        << "QFrame#add, QLabel#bad /* #ff0000 */ { color: #00ff00; } /* { #00ff00 } */";
    QTest::newRow("strings kept") << "QLabel { qproperty-text: \"#ff0000\"; color: #ff0000; }" << 120 << 0
                                  << "QLabel { qproperty-text: \"#ff0000\"; color: #00ff00; }";
    QTest::newRow("not colours") << "QWidget { color: #ff00; image: url(#ffffff9); } " << 120 << 0
                                 << "QWidget { color: #ff00; image: url(#ffffff9); } ";
    QTest::newRow("saturation off") << "QWidget { color: #3366cc; }" << 0 << -100
                                    << "QWidget { color: #808080; }";
    QTest::newRow("saturation doubled") << "QWidget { color: #3366cc; }" << 0 << 100
                                        << "QWidget { color: #0055ff; }";
    QTest::newRow("saturation halved") << "QWidget { color: #3366cc; }" << 0 << -50
                                       << "QWidget { color: #5973a6; }";
  }
  void ShiftsEveryColourOfTheDeclarationsOnly() {
    QFETCH(QString, sheet);
    QFETCH(int, hue);
    QFETCH(int, saturation);
    QFETCH(QString, expected);
    const QString actual = TSkinManager::ShiftSheet(sheet, hue, saturation);
    QVERIFY2(SameSheet(actual, expected), qPrintable(actual));
  }

  void AnchorsRelativeImagesAtTheSkinsFolder() {
    const QString sheet = QStringLiteral(
        "QCheckBox::indicator { image: url(check.png); } QLabel { image: url(\"/abs/a.png\"); } "
        "QFrame { image: url(:/icons/b.png); }");
    QCOMPARE(TSkinManager::ShiftSheet(sheet, 0, 0, QStringLiteral("/skins/blue")),
             QStringLiteral("QCheckBox::indicator { image: url(\"/skins/blue/check.png\"); } "
                            "QLabel { image: url(\"/abs/a.png\"); } QFrame { image: url(:/icons/b.png); }"));
  }

  void ShiftColourKeepsGreysAndAlpha() {
    QCOMPARE(TSkinManager::ShiftColor(QColor(128, 128, 128), 200, 100), QColor(128, 128, 128));
    QVERIFY(Near(TSkinManager::ShiftColor(QColor(255, 0, 0, 77), 120, 0), QColor(0, 255, 0, 77)));
    QCOMPARE(TSkinManager::ShiftColor(QColor(10, 200, 30), 0, 0), QColor(10, 200, 30));
  }

  void PaletteCommentGivesTheSkinsPalette() {
    const QPalette palette = TSkinManager::SheetPalette(QStringLiteral(
        "/* Night\n   @palette Window: #202830; Text: #e0e0e0; Base: #101418; Disabled.Text: #606060;\n"
        "   Bogus: #ffffff; Highlight: not-a-colour */\nQWidget { color: #e0e0e0; }"));
    QCOMPARE(palette.color(QPalette::Active, QPalette::Window), QColor(0x20, 0x28, 0x30));
    QCOMPARE(palette.color(QPalette::Inactive, QPalette::Base), QColor(0x10, 0x14, 0x18));
    QCOMPARE(palette.color(QPalette::Active, QPalette::Text), QColor(0xe0, 0xe0, 0xe0));
    QCOMPARE(palette.color(QPalette::Disabled, QPalette::Text), QColor(0x60, 0x60, 0x60));
    // Without the comment: the Fusion palette, as for the built-in default.
    const QPalette plain = TSkinManager::SheetPalette(QStringLiteral("QWidget { color: red; } /* @palette x */"));
    QCOMPARE(TSkinManager::SheetPalette(QStringLiteral("QWidget { }")).color(QPalette::Window),
             plain.color(QPalette::Window));
  }

  // What the windows show moves with the hue and the saturation: a frame coloured by the
  // sheet, and the application palette of a built-in skin.
  void HueAndSaturationChangeTheColoursOnScreen() {
    WriteSheet(First->File("Probe.qss"), "QFrame#probe { background: #3366cc; border: none; }");
    TSkinManager skins({First->Path() + "/"});
    QSignalSpy changed(&skins, &TSkinManager::Changed);
    QVERIFY(skins.Apply("Probe"));
    QFrame probe;
    probe.setObjectName(QStringLiteral("probe"));
    probe.resize(40, 40);
    probe.show();
    QVERIFY2(Near(CentrePixel(probe), QColor(0x33, 0x66, 0xcc)), qPrintable(CentrePixel(probe).name()));
    skins.SetHue(180);
    QVERIFY2(Near(CentrePixel(probe), QColor(0xcc, 0x99, 0x33)), qPrintable(CentrePixel(probe).name()));
    skins.SetSaturation(-100);
    QVERIFY2(Near(CentrePixel(probe), QColor(0x80, 0x80, 0x80)), qPrintable(CentrePixel(probe).name()));
    QCOMPARE(changed.count(), 3);
    skins.SetSaturation(-100);  // no change, nothing applied
    skins.SetSaturation(-500);  // clamped to the same
    QCOMPARE(changed.count(), 3);
    QCOMPARE(skins.Saturation(), -100);

    skins.SetSaturation(0);
    skins.SetHue(0);
    QVERIFY(skins.Apply("Standard"));
    QVERIFY(qApp->styleSheet().isEmpty());
    const QColor highlight = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    skins.SetHue(120);
    const QColor turned = QApplication::palette().color(QPalette::Active, QPalette::Highlight);
    QCOMPARE((highlight.hslHue() + 120) % 360, turned.hslHue());
    QVERIFY(Near(turned, TSkinManager::ShiftColor(highlight, 120, 0), 0));
    QCOMPARE(QApplication::palette().color(QPalette::Window), skins.Palette().color(QPalette::Window));
  }

  void ShippedSkinsLoadAndShift() {
    TSkinManager skins({ShippedSkins()});
    int found = 0;
    for (const std::string& name : skins.Names()) {
      if (skins.FileOf(name).empty()) continue;
      ++found;
      QVERIFY2(skins.Apply(name), name.c_str());
      const QString sheet = qApp->styleSheet();
      QVERIFY(!sheet.isEmpty());
      // Every image a skin names is found beside it.
      static const QRegularExpression url(QStringLiteral("url\\(\"([^\"]*)\"\\)"));
      for (auto match = url.globalMatch(sheet); match.hasNext();) {
        const QString image = match.next().captured(1);
        QVERIFY2(std::filesystem::is_regular_file(image.toStdString()), qPrintable(image));
      }
      // Each brings its palette, and a hue offset reaches both.
      const QColor highlight = QApplication::palette().color(QPalette::Highlight);
      skins.SetHue(90);
      QVERIFY2(qApp->styleSheet() != sheet, name.c_str());
      QVERIFY2(QApplication::palette().color(QPalette::Highlight) != highlight, name.c_str());
      skins.SetHue(0);
      QCOMPARE(qApp->styleSheet(), sheet);
    }
    QVERIFY2(found >= 2, ShippedSkins().c_str());
  }

  void UnknownOrVanishedSkinChangesNothing() {
    WriteSheet(First->File("Gone.qss"), "QWidget { color: #123456; }");
    TSkinManager skins({First->Path() + "/"});
    QVERIFY(skins.Apply("Classic"));
    std::filesystem::remove(First->File("Gone.qss"));
    TLogCapture log;
    QVERIFY(!skins.Apply("Gone"));
    QVERIFY(!skins.Apply("Nowhere"));
    QCOMPARE(skins.CurrentName(), std::string("Classic"));
    QCOMPARE(log.Lines().size(), std::size_t(1));
    QCOMPARE(log.Lines()[0].Text, "Unable to read the skin " + First->File("Gone.qss"));
  }

  // "Skin", "SkinHue", "SkinSat" in "MAINFORM": read and applied, except on a new build's first run.
  void SettingsReadAndWritten() {
    WriteSheet(First->File("Blue.qss"), "QWidget { color: #3366cc; }");
    const auto stored = [this](const std::string& skin, int hue, int sat) {
      TStorage store(First->Path() + "/", TInfo());
      store.OpenSection("MAINFORM", true);
      store.WriteString("Skin", skin);
      store.WriteInteger("SkinHue", hue);
      store.WriteInteger("SkinSat", sat);
      store.CloseSection();
    };
    const auto read = [this](TSkinManager& skins, bool newBuild) {
      TStorage store(First->Path() + "/", TInfo());
      store.OpenSection("MAINFORM", false);
      skins.ReadSettings(store, newBuild);
      store.CloseSection();
    };

    stored("Blue", 200, -40);
    {
      TSkinManager skins({First->Path() + "/"});
      QSignalSpy changed(&skins, &TSkinManager::Changed);
      read(skins, false);
      QCOMPARE(skins.CurrentName(), std::string("Blue"));
      QCOMPARE(skins.Hue(), 200);
      QCOMPARE(skins.Saturation(), -40);
      QCOMPARE(changed.count(), 1);  // one repaint at start-up, not three
      QVERIFY(SameSheet(qApp->styleSheet(), TSkinManager::ShiftSheet(QStringLiteral("QWidget { color: #3366cc; }"), 200, -40)));
    }
    {
      TSkinManager skins({First->Path() + "/"});
      read(skins, true);  // a new build: the designed look, applied
      QCOMPARE(skins.CurrentName(), std::string("Standard"));
      QCOMPARE(skins.Hue(), 0);
      QCOMPARE(skins.Saturation(), 0);
      QVERIFY(qApp->styleSheet().isEmpty());
    }
    stored("Deleted skin", 999, -999);  // out of range, unknown name
    {
      TSkinManager skins({First->Path() + "/"});
      read(skins, false);
      QCOMPARE(skins.CurrentName(), std::string("Standard"));
      QCOMPARE(skins.Hue(), 360);
      QCOMPARE(skins.Saturation(), -100);
    }
    {
      TSkinManager skins({First->Path() + "/"});
      QVERIFY(skins.Apply("Blue"));
      skins.SetHue(15);
      skins.SetSaturation(30);
      TStorage store(First->Path() + "/", TInfo());
      store.OpenSection("MAINFORM", true);
      skins.WriteSettings(store);
      store.CloseSection();
      store.OpenSection("MAINFORM", false);
      QCOMPARE(store.ReadString("Skin", ""), std::string("Blue"));
      QCOMPARE(store.ReadInteger("SkinHue", -1), 15);
      QCOMPARE(store.ReadInteger("SkinSat", -1), 30);
      store.CloseSection();
    }
  }
};

TS_QTEST_MAIN(TSkinsTest)
#include "uSkinsTest.moc"
