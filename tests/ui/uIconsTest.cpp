// The program's icons: every one is built in, drawn at the sizes menus and tool bars ask for,
// and no two of them are the same picture.
#include <QImage>
#include <QPixmap>
#include <QTest>

#include "uIcons.h"

Q_DECLARE_METATYPE(TIcon)

namespace {

constexpr int IconCount = static_cast<int>(TIcon::Application) + 1;

// Pixels with any coverage at all.
int VisiblePixels(const QImage& image) {
  int visible = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) > 0) ++visible;
  return visible;
}

}  // namespace

class TIconsTest : public QObject {
  Q_OBJECT

private slots:
  void EveryIconIsDrawn_data() {
    QTest::addColumn<TIcon>("id");
    for (int i = 0; i < IconCount; ++i)
      QTest::newRow(qPrintable(QString::number(i))) << static_cast<TIcon>(i);
  }
  void EveryIconIsDrawn() {
    QFETCH(TIcon, id);
    const QIcon icon = Icon(id);
    QVERIFY(!icon.isNull());
    for (const int side : {16, 24}) {
      const QImage image = icon.pixmap(side, side).toImage();
      QCOMPARE(image.size(), QSize(side, side));
      // A drawn symbol covers a good part of its square; a blank or stray-dot rendering does not.
      QVERIFY2(VisiblePixels(image) >= side * side / 8, qPrintable(QStringLiteral("%1 px").arg(side)));
    }
  }

  void IconsAreCachedAndDistinct() {
    // Two identical renderings mean two names lead to one drawing.
    QList<QImage> seen;
    for (int i = 0; i < IconCount; ++i) {
      const QIcon icon = Icon(static_cast<TIcon>(i));
      QCOMPARE(icon.cacheKey(), Icon(static_cast<TIcon>(i)).cacheKey());
      const QImage image = icon.pixmap(24, 24).toImage();
      for (int j = 0; j < seen.size(); ++j) QVERIFY2(image != seen[j], qPrintable(QStringLiteral("%1 = %2").arg(i).arg(j)));
      seen.append(image);
    }
  }

  void ApplicationIconIsSharpAtLargeSizes() {
    // The desktop entry asks for large sizes: they must be drawn at that size, not scaled up.
    const QIcon icon = Icon(TIcon::Application);
    QVERIFY(icon.availableSizes().contains(QSize(256, 256)));
    QVERIFY(icon.availableSizes().contains(QSize(16, 16)));
  }
};

QTEST_MAIN(TIconsTest)
#include "uIconsTest.moc"
