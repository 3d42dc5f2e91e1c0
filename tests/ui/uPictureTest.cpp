// Pictures for display: every decoder's output reaches the image unchanged at natural size,
// reduction averages, failures are raised with the user's message.
#include <QDir>
#include <QTest>

#include <cstdlib>

#include "uPicture.h"
#include "xTestFiles.h"

class TPictureTest : public QObject {
  Q_OBJECT

private slots:
  void NaturalSizeKeepsEveryPixel_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("coder");
    QTest::newRow("png") << "p.png" << "";
    QTest::newRow("bmp (registry)") << "p.bmp" << "BMP3";
    QTest::newRow("tiff (registry)") << "p.tif" << "TIFF";
  }
  void NaturalSizeKeepsEveryPixel() {
    QFETCH(QString, name);
    QFETCH(QString, coder);
    TTempDir dir;
    const TTestImage image = NoiseImage(37, 23, 5);
    const std::string path = dir.File(name.toStdString());
    if (coder.isEmpty()) WritePng(path, image); else WriteMagick(path, image, coder.toStdString());
    const QImage shown = LoadToImage(path);
    QCOMPARE(shown.size(), QSize(37, 23));
    for (int y = 0; y < 23; ++y)
      for (int x = 0; x < 37; ++x) {
        const std::uint8_t* p = image.At(x, y);
        QCOMPARE(shown.pixel(x, y), qRgb(p[0], p[1], p[2]));
      }
  }

  void JpegDecodesNearTheOriginal() {
    TTempDir dir;
    const TTestImage image = PhotoLikeImage(64, 48);
    WriteJpeg(dir.File("p.jpg"), image, 98);
    const QImage shown = LoadToImage(dir.File("p.jpg"));
    QCOMPARE(shown.size(), QSize(64, 48));
    const std::uint8_t* p = image.At(30, 20);
    const QRgb q = shown.pixel(30, 20);
    QVERIFY(std::abs(qRed(q) - p[0]) < 12 && std::abs(qGreen(q) - p[1]) < 12 && std::abs(qBlue(q) - p[2]) < 12);
  }

  void ReductionAveragesTheCoveredPixels() {
    // 4 x 4 cells of alternating black and white pixel columns, reduced by 4: mid grey;
    // the right half is red, which must stay pure red.
    TTempDir dir;
    TTestImage image(400, 200);
    for (int y = 0; y < 200; ++y)
      for (int x = 0; x < 400; ++x) {
        if (x >= 200) image.Set(x, y, 255, 0, 0);
        else if (x % 2) image.Set(x, y, 255, 255, 255);
      }
    WritePng(dir.File("big.png"), image);
    const QImage shown = LoadToImage(dir.File("big.png"), QSize(100, 100));
    QCOMPARE(shown.size(), QSize(100, 50));
    QCOMPARE(shown.pixel(10, 10), qRgb(128, 128, 128));
    QCOMPARE(shown.pixel(90, 40), qRgb(255, 0, 0));
    // A picture that fits already is not enlarged.
    QCOMPARE(LoadToImage(dir.File("big.png"), QSize(1000, 1000)).size(), QSize(400, 200));
  }

  void TransparencyIsKept() {
    TTempDir dir;
    TPngLayout layout;
    layout.ColorType = 6;  // RGBA
    WritePngRaw(dir.File("a.png"), 2, 1, layout, {{255, 0, 0, 255, 0, 0, 255, 0}});
    const QImage shown = LoadToImage(dir.File("a.png"));
    QCOMPARE(qAlpha(shown.pixel(0, 0)), 255);
    QCOMPARE(qRed(shown.pixel(0, 0)), 255);
    QCOMPARE(qAlpha(shown.pixel(1, 0)), 0);
  }

  void FailuresAreRaisedWithTheMessage_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << "gone.png" << QByteArray() << "Failed to load \"%1\"";
    QTest::newRow("text as jpeg") << "t.jpg" << QByteArray("hello") << "Failed to load \"%1\"";
    QTest::newRow("truncated png") << "t.png" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                                   << "Failed to load \"%1\"";
    QTest::newRow("folder") << "dir.png" << QByteArray() << "Failed to load \"%1\"";
  }
  void FailuresAreRaisedWithTheMessage() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    TTempDir dir;
    const std::string path = dir.File(name.toStdString());
    if (name == "dir.png") QVERIFY(QDir().mkdir(QString::fromStdString(path)));
    else if (!content.isEmpty()) WriteBytes(path, content.toStdString());
    try {
      LoadToImage(path);
      QFAIL("no failure raised");
    } catch (const EPictureLoad& failure) {
      QCOMPARE(QString::fromUtf8(failure.what()), message.arg(QString::fromStdString(path)));
    }
  }

  void FittedSizes() {
    QCOMPARE(FittedSize({4000, 3000}, {172, 172}), QSize(172, 129));
    QCOMPARE(FittedSize({3000, 4000}, {172, 172}), QSize(129, 172));
    QCOMPARE(FittedSize({100000, 2}, {172, 172}), QSize(172, 1));
    QCOMPARE(FittedSize({50, 60}, {172, 172}), QSize(50, 60));
  }
};

QTEST_GUILESS_MAIN(TPictureTest)
#include "uPictureTest.moc"
