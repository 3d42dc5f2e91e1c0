// The picture viewer: natural size at (8, 8), caption with the size, scroll bars only when the
// picture needs them, minimum size, one reused window that keeps its state when a file fails;
// the file browser exists hidden.
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>

#include "uBrowser.h"
#include "uPicture.h"
#include "uViewer.h"
#include "xUiTestEnv.h"

namespace {

QString Caption(const std::string& path, int width, int height) {
  return QStringLiteral("Viewing \"") + QString::fromStdString(path) + QStringLiteral("\"   [ ") +
         QString::number(width) + QStringLiteral(" x ") + QString::number(height) + QStringLiteral(" ]");
}

}  // namespace

class TViewerTest : public QObject {
  Q_OBJECT

private slots:
  void StartsCaptionedAndRefusesToShrinkBelowItsMinimum() {
    TViewerForm viewer;
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Picture Viewer"));
    QCOMPARE(viewer.size(), QSize(870, 640));
    QVERIFY(!viewer.isVisible());
    QCOMPARE(viewer.statusBar()->height(), 19);
    viewer.show();
    viewer.resize(100, 50);
    QCOMPARE(viewer.size(), QSize(320, 240));
    viewer.resize(319, 600);
    QCOMPARE(viewer.size(), QSize(320, 600));
  }

  void ShowsThePictureAtNaturalSize_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("scrolls");
    QTest::newRow("smaller than the window") << 120 << 70 << false;
    QTest::newRow("4000 x 3000") << 4000 << 3000 << true;
  }
  void ShowsThePictureAtNaturalSize() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, scrolls);
    TTempDir dir;
    const std::string path = dir.File("a picture.png");
    const TTestImage image = NoiseImage(width, height, 7);
    WritePng(path, image);
    TViewerForm viewer;
    viewer.show();
    const QSize before = viewer.size();
    viewer.ViewFile(path);
    QApplication::processEvents();
    QVERIFY(viewer.isVisible());
    QCOMPARE(viewer.windowTitle(), Caption(path, width, height));
    QCOMPARE(viewer.size(), before);  // the window never follows the picture
    QCOMPARE(viewer.sImage->geometry(), QRect(8, 8, width, height));
    QCOMPARE(viewer.sScrollBox->horizontalScrollBar()->isVisible(), scrolls);
    QCOMPARE(viewer.sScrollBox->verticalScrollBar()->isVisible(), scrolls);
    // On screen pixel for pixel, offset by the margin: neither scaled nor moved.
    const QImage shown = viewer.sScrollBox->viewport()->grab().toImage();
    for (const QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(17, 33), QPoint(width - 1, height - 1)}) {
      if (p.x() + 8 >= shown.width() || p.y() + 8 >= shown.height()) continue;
      const std::uint8_t* rgb = image.At(p.x(), p.y());
      QCOMPARE(shown.pixel(p + QPoint(8, 8)), qRgb(rgb[0], rgb[1], rgb[2]));
    }
    if (scrolls) {
      // Scrolling moves the picture, right to its far edge.
      QScrollBar* bar = viewer.sScrollBox->horizontalScrollBar();
      QVERIFY(bar->hasTracking());
      bar->setValue(bar->maximum());
      QApplication::processEvents();
      const int right = viewer.sScrollBox->viewport()->width() - 1;
      const QImage scrolled = viewer.sScrollBox->viewport()->grab().toImage();
      const std::uint8_t* rgb = image.At(width - 1, 0);
      QCOMPARE(scrolled.pixel(right - 8, 8), qRgb(rgb[0], rgb[1], rgb[2]));
    }
  }

  void IsReusedAndKeepsItsStateWhenAFileFails() {
    TTempDir dir;
    WritePng(dir.File("one.png"), NoiseImage(50, 40, 1));
    WritePng(dir.File("two.png"), NoiseImage(30, 20, 2));
    WriteBytes(dir.File("broken.png"), "not a picture");
    TViewerForm viewer;

    // A failure before the first picture: nothing is shown.
    QVERIFY_THROWS_EXCEPTION(EPictureLoad, viewer.ViewFile(dir.File("broken.png")));
    QVERIFY(!viewer.isVisible());
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Picture Viewer"));

    viewer.ViewFile(dir.File("one.png"));
    viewer.resize(500, 400);
    viewer.close();
    QVERIFY(!viewer.isVisible());
    viewer.ViewFile(dir.File("two.png"));
    QVERIFY(viewer.isVisible());
    QCOMPARE(viewer.size(), QSize(500, 400));
    QCOMPARE(viewer.windowTitle(), Caption(dir.File("two.png"), 30, 20));

    try {
      viewer.ViewFile(dir.File("broken.png"));
      QFAIL("no failure raised");
    } catch (const EPictureLoad& failure) {
      QCOMPARE(std::string(failure.what()), "Failed to load \"" + dir.File("broken.png") + "\"");
    }
    QCOMPARE(viewer.windowTitle(), Caption(dir.File("two.png"), 30, 20));
    QCOMPARE(viewer.sImage->size(), QSize(30, 20));
    QVERIFY(viewer.isVisible());
  }

  void EscapeHidesTheViewer() {
    TTempDir dir;
    WritePng(dir.File("one.png"), NoiseImage(50, 40, 1));
    TViewerForm viewer;
    viewer.ViewFile(dir.File("one.png"));
    QTest::keyClick(&viewer, Qt::Key_Escape);
    QVERIFY(!viewer.isVisible());
    QCOMPARE(viewer.sImage->size(), QSize(50, 40));
  }

  void BrowserIsCreatedHiddenAndClosingHidesIt() {
    QPointer<TBrowserForm> browser = new TBrowserForm;
    QCOMPARE(browser->windowTitle(), QStringLiteral("File Browser"));
    QCOMPARE(browser->size(), QSize(870, 640));
    QVERIFY(!browser->isVisible());
    browser->show();
    browser->close();
    QApplication::processEvents();
    QVERIFY(browser);
    QVERIFY(!browser->isVisible());
    delete browser;
  }
};

TS_QTEST_MAIN(TViewerTest)
#include "uViewerTest.moc"
