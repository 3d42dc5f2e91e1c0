// Thumbnail cells: sizes, the frame, the shadow's alpha, the thumbnail cache used only while it
// describes the file, reduced JPEG decoding, the type icon on a card, a blank card and an
// information line for a file that is gone.
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <set>

#include <QTest>

#include "uPicture.h"
#include "xLog.h"
#include "xShellObjHelper.h"
#include "xThumber.h"
#include "xUiTestEnv.h"

namespace {

const QRgb Silver = qRgb(192, 192, 192);
const QRgb Grey = qRgb(128, 128, 128);
const QRgb White = qRgb(255, 255, 255);

// Alpha of the bottom band's rows and of the right band's columns.
constexpr int BottomRows[8] = {122, 109, 91, 72, 52, 33, 16, 3};
constexpr int RightColumns[8] = {121, 107, 89, 69, 50, 30, 14, 2};

int CellSide(int thumbs) { return (thumbs - 1) * 16 + 40; }

TTestImage Flat(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return TTestImage(width, height, r, g, b);
}

// A cache entry for the file, as a file manager writes it.
void WriteCacheEntry(const std::string& file, const QColor& colour, const QString& uri, const QString& mtime,
                     const QString& size = QString()) {
  const std::string entry = CachedThumbnailFile(ThumbnailUri(file), "normal");
  std::filesystem::create_directories(std::filesystem::path(entry).parent_path());
  QImage image(128, 128, QImage::Format_RGB32);
  image.fill(colour);
  image.setText(QStringLiteral("Thumb::URI"), uri);
  image.setText(QStringLiteral("Thumb::MTime"), mtime);
  if (!size.isEmpty()) image.setText(QStringLiteral("Thumb::Size"), size);
  QVERIFY(image.save(QString::fromStdString(entry), "PNG"));
}

QString MTimeOf(const std::string& file) {
  struct stat info {};
  ::stat(file.c_str(), &info);
  return QString::number(static_cast<qlonglong>(info.st_mtime));
}

bool Near(QRgb a, QRgb b, int tolerance) {
  return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
         std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

struct TCells {
  TThumber Thumber;
  TImageList List;
  explicit TCells(int thumbs, bool shadows = true) : List(CellSide(thumbs), CellSide(thumbs)) {
    if (shadows) Thumber.Shadows = &ShadowList();
    Thumber.SetBackColor(Qt::white);
    Thumber.PrepareBackground(List);
  }
  QImage Add(const std::string& file) {
    const int index = Thumber.AddThumbnail(file, List);
    if (index < 0) return QImage();
    return List.Image(index);
  }
};

}  // namespace

class TThumberTest : public QObject {
  Q_OBJECT

private slots:
  void ShadowPiecesFollowTheirProfiles() {
    const TImageList& shadows = ShadowList();
    QCOMPARE(shadows.Count(), 5);
    QCOMPARE(QSize(shadows.Width(), shadows.Height()), QSize(8, 8));
    for (int i = 0; i < 5; ++i) QCOMPARE(shadows.Image(i).size(), QSize(8, 8));
    const auto alpha = [&](int piece, int x, int y) { return qAlpha(shadows.Image(piece).pixel(x, y)); };
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) {
        QCOMPARE(alpha(1, x, y), BottomRows[y]);
        QCOMPARE(alpha(3, x, y), RightColumns[x]);
        QCOMPARE(QColor(shadows.Image(1).pixel(x, y)).rgb() & 0xFFFFFF, 0u);  // black
      }
    // The ends and the corner: strongest where they meet the bands, fading away from it.
    struct TPeak { int Piece, X, Y, Alpha, StepX, StepY; };
    for (const TPeak peak : {TPeak{0, 7, 0, 116, -1, 1}, TPeak{2, 0, 0, 115, 1, 1}, TPeak{4, 0, 7, 115, 1, -1}}) {
      QCOMPARE(alpha(peak.Piece, peak.X, peak.Y), peak.Alpha);
      int strongest = 0;
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) strongest = std::max(strongest, alpha(peak.Piece, x, y));
      QCOMPARE(strongest, peak.Alpha);
      for (int i = 0; i + 1 < 8; ++i) {
        const int x = peak.X + i * peak.StepX, y = peak.Y + i * peak.StepY;
        QVERIFY(alpha(peak.Piece, x + peak.StepX, peak.Y) < alpha(peak.Piece, x, peak.Y));
        QVERIFY(alpha(peak.Piece, peak.X, y + peak.StepY) < alpha(peak.Piece, peak.X, y));
      }
    }
  }

  void CellsCarryTheFramedPictureAndTheShadow_data() {
    QTest::addColumn<int>("thumbs");
    for (int k = 1; k <= 5; ++k) QTest::newRow(qPrintable(QStringLiteral("Thumbs %1").arg(k))) << k;
  }
  void CellsCarryTheFramedPictureAndTheShadow() {
    QFETCH(int, thumbs);
    TTempDir dir;
    WritePng(dir.File("red.png"), Flat(300, 300, 255, 0, 0));
    TCells cells(thumbs);
    const int n = CellSide(thumbs), t = n - 8;
    QCOMPARE(cells.Thumber.Cell().size(), QSize(n, n));
    const QImage cell = cells.Add(dir.File("red.png"));
    QCOMPARE(cell.size(), QSize(n, n));
    QCOMPARE(cells.List.Count(), 1);
    QCOMPARE(cell.pixel(t / 2, t / 2), qRgb(255, 0, 0));
    QCOMPARE(cell.pixel(1, 1), qRgb(255, 0, 0));
    QCOMPARE(cell.pixel(t - 2, t - 2), qRgb(255, 0, 0));
    // Silver left and top, grey right and bottom; the top-right corner grey, the bottom-left silver.
    QCOMPARE(cell.pixel(0, 0), Silver);
    QCOMPARE(cell.pixel(t / 2, 0), Silver);
    QCOMPARE(cell.pixel(0, t / 2), Silver);
    QCOMPARE(cell.pixel(0, t - 1), Silver);
    QCOMPARE(cell.pixel(t - 1, 0), Grey);
    QCOMPARE(cell.pixel(t - 1, t / 2), Grey);
    QCOMPARE(cell.pixel(t / 2, t - 1), Grey);
    QCOMPARE(cell.pixel(t - 1, t - 1), Grey);
    // The shadow: black over the white background with the bands' alpha.
    for (int i = 0; i < 8; ++i) {
      const int bottom = 255 - BottomRows[i], right = 255 - RightColumns[i];
      QVERIFY(Near(cell.pixel(t / 2, t + i), qRgb(bottom, bottom, bottom), 1));
      QVERIFY(Near(cell.pixel(t + i, t / 2), qRgb(right, right, right), 1));
    }
    QVERIFY(Near(cell.pixel(7, t), qRgb(255 - 116, 255 - 116, 255 - 116), 1));  // left end, strongest pixel
    QVERIFY(Near(cell.pixel(t, t), qRgb(255 - 115, 255 - 115, 255 - 115), 1));  // corner
    QVERIFY(Near(cell.pixel(t, 7), qRgb(255 - 115, 255 - 115, 255 - 115), 1));  // top end
    QCOMPARE(cell.pixel(0, n - 1), White);  // the ends fade out to the background
    QCOMPARE(cell.pixel(n - 1, 0), White);
  }

  void WithoutShadowsTheThumbnailTakesTheWholeCell() {
    TTempDir dir;
    WritePng(dir.File("red.png"), Flat(300, 300, 255, 0, 0));
    TCells cells(1, false);
    const QImage cell = cells.Add(dir.File("red.png"));
    QCOMPARE(cell.size(), QSize(40, 40));
    QCOMPARE(cell.pixel(38, 38), qRgb(255, 0, 0));
    QCOMPARE(cell.pixel(39, 39), Grey);
    QCOMPARE(cell.pixel(0, 39), Silver);
  }

  void ASmallerPictureShowsTheBackgroundNotThePreviousOne() {
    // A wide picture sits in the middle of the area; above and below it is the list's colour,
    // also after a square picture filled the reused cell.
    TTempDir dir;
    WritePng(dir.File("red.png"), Flat(300, 300, 255, 0, 0));
    WritePng(dir.File("wide.png"), Flat(400, 100, 0, 0, 255));
    const QColor back(240, 244, 250);
    TCells cells(3);
    cells.Thumber.SetBackColor(back);
    cells.Thumber.PrepareBackground(cells.List);
    cells.Add(dir.File("red.png"));
    const QImage cell = cells.Add(dir.File("wide.png"));  // 64 x 16 in a 64 x 64 area
    QCOMPARE(cell.pixel(30, 24), qRgb(0, 0, 255));
    QCOMPARE(cell.pixel(30, 39), qRgb(0, 0, 255));
    QCOMPARE(cell.pixel(30, 23), back.rgb());
    QCOMPARE(cell.pixel(30, 40), back.rgb());
    QCOMPARE(cell.pixel(0, 40), Silver);
    QCOMPARE(cell.pixel(63, 40), Grey);
    const int band = qRed(cell.pixel(30, 64));
    QVERIFY(std::abs(band - (240 * (255 - 122) + 127) / 255) <= 1);  // shadow over the list's colour
  }

  void TheCacheIsUsedOnlyWhileItDescribesTheFile_data() {
    QTest::addColumn<QString>("entry");  // how the cache entry differs from the file
    QTest::addColumn<bool>("used");
    QTest::newRow("current") << "current" << true;
    QTest::newRow("current with its size") << "size" << true;
    QTest::newRow("fractional time of the same second") << "fraction" << true;
    QTest::newRow("stale: other modification time") << "mtime" << false;
    QTest::newRow("stale: other size") << "wrong size" << false;
    QTest::newRow("another file's") << "uri" << false;
    QTest::newRow("no time at all") << "no mtime" << false;
    QTest::newRow("damaged") << "garbage" << false;
  }
  void TheCacheIsUsedOnlyWhileItDescribesTheFile() {
    QFETCH(QString, entry);
    QFETCH(bool, used);
    TTempDir dir;
    const std::string file = dir.File("photo; #1.png");
    WritePng(file, Flat(200, 150, 255, 0, 0));
    const QString uri = QString::fromStdString(ThumbnailUri(file));
    const QString mtime = MTimeOf(file);
    const QString size = QString::number(std::filesystem::file_size(file));
    if (entry == "current") WriteCacheEntry(file, Qt::blue, uri, mtime);
    if (entry == "size") WriteCacheEntry(file, Qt::blue, uri, mtime, size);
    if (entry == "fraction") WriteCacheEntry(file, Qt::blue, uri, mtime + ".25");
    if (entry == "mtime") WriteCacheEntry(file, Qt::blue, uri, QString::number(mtime.toLongLong() - 1));
    if (entry == "wrong size") WriteCacheEntry(file, Qt::blue, uri, mtime, size + "0");
    if (entry == "uri") WriteCacheEntry(file, Qt::blue, uri + "x", mtime);
    if (entry == "no mtime") WriteCacheEntry(file, Qt::blue, uri, QString());
    if (entry == "garbage") {
      const std::string path = CachedThumbnailFile(ThumbnailUri(file), "normal");
      std::filesystem::create_directories(std::filesystem::path(path).parent_path());
      WriteBytes(path, std::string("\x89PNG\r\n\x1a\n", 8) + std::string(200, '\xff'));
    }
    TLogCapture log;
    TCells cells(2);
    const QImage cell = cells.Add(file);
    QCOMPARE(cell.pixel(20, 10), used ? qRgb(0, 0, 255) : qRgb(255, 0, 0));
    QVERIFY(log.Lines().empty());
    // A picture decoded for want of a current entry leaves one, private to the user.
    const std::optional<TExtractImage> now = GetExtractImage(file);
    QVERIFY(now && !now->Cached.isNull());
    QCOMPARE(now->Cached.pixel(10, 10), used ? qRgb(0, 0, 255) : qRgb(255, 0, 0));
    if (!used) {
      QCOMPARE(now->Cached.size(), QSize(128, 96));
      QCOMPARE(now->Cached.text(QStringLiteral("Thumb::Size")), size);
      struct stat info {};
      ::stat(CachedThumbnailFile(ThumbnailUri(file), "normal").c_str(), &info);
      QCOMPARE(info.st_mode & 0777, 0600u);
    }
  }

  void AnUnwritableCacheStillGivesThumbnails() {
    TTempDir dir;
    WritePng(dir.File("red.png"), Flat(60, 60, 255, 0, 0));
    const std::string saved = std::getenv("XDG_CACHE_HOME");
    setenv("XDG_CACHE_HOME", (dir.File("red.png") + "/cache").c_str(), 1);  // below a file: never a folder
    TLogCapture log;
    TCells cells(1);
    const QImage cell = cells.Add(dir.File("red.png"));
    setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    QCOMPARE(cell.pixel(16, 16), qRgb(255, 0, 0));
    QVERIFY(log.Lines().empty());
  }

  void ACacheEntryGivesAThumbnailToAnyType() {
    // A file manager's thumbnail of a document beats its type's icon.
    TTempDir dir;
    const std::string file = dir.File("report.pdf");
    WriteBytes(file, "%PDF-1.4 not much of one");
    WriteCacheEntry(file, Qt::green, QString::fromStdString(ThumbnailUri(file)), MTimeOf(file));
    TCells cells(1);
    const QImage cell = cells.Add(file);
    QCOMPARE(cell.pixel(16, 16), QColor(Qt::green).rgb());
    QCOMPARE(cell.pixel(31, 16), Grey);
  }

  void CacheNamesFollowTheThumbnailStandard() {
    // The standard's own example.
    const std::string name = CachedThumbnailFile("file:///home/jens/photos/me.png", "normal");
    QCOMPARE(name, std::string(std::getenv("XDG_CACHE_HOME")) + "/thumbnails/normal/c6ee772d9e49320e97ec29a7eb5b1697.png");
    QCOMPARE(ThumbnailUri("/tmp/a b/\xc3\xbc;#%?.jpg"), std::string("file:///tmp/a%20b/%C3%BC%3B%23%25%3F.jpg"));
    QCOMPARE(ThumbnailUri("/x/!$&'()*+,-.=@_~:A9.png"), std::string("file:///x/!$&'()*+,-.=@_~:A9.png"));
  }

  void JpegThumbnailsMatchAFullDecode_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bound");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("12 MP, scaled by 8") << 4000 << 3000 << 32 << QSize(32, 24);
    QTest::newRow("odd sizes") << 1601 << 1203 << 96 << QSize(96, 72);
    QTest::newRow("portrait") << 600 << 1000 << 64 << QSize(38, 64);
    QTest::newRow("smaller than the area, kept") << 20 << 9 << 32 << QSize(20, 9);
  }
  void JpegThumbnailsMatchAFullDecode() {
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bound);
    QFETCH(QSize, expected);
    TTempDir dir;
    const std::string file = dir.File("photo.jpg");
    WriteJpeg(file, PhotoLikeImage(width, height), 90);
    const std::optional<TExtractImage> extractor = GetExtractImage(file);
    QVERIFY(extractor && extractor->Cached.isNull());
    const std::optional<QImage> reduced = ExtractThumbnail(*extractor, bound, bound);
    QVERIFY(reduced);
    // Made at the cache's size first, the short side may round the other way: one pixel.
    QVERIFY2(std::abs(reduced->width() - expected.width()) + std::abs(reduced->height() - expected.height()) <= 1,
             qPrintable(QStringLiteral("%1 x %2").arg(reduced->width()).arg(reduced->height())));
    QCOMPARE(std::max(reduced->width(), reduced->height()), std::max(expected.width(), expected.height()));
    // The reference: decoded whole, then reduced by averaging.
    const QImage reference = LoadToImage(file).scaled(expected, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double difference = 0;
    const QSize common = reduced->size().boundedTo(expected);
    for (int y = 0; y < common.height(); ++y)
      for (int x = 0; x < common.width(); ++x) {
        const QRgb a = reduced->pixel(x, y), b = reference.pixel(x, y);
        difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
      }
    difference /= 3.0 * common.width() * common.height();
    QVERIFY2(difference < 3, qPrintable(QString::number(difference)));
  }

  void OtherTypesShowTheirIconOnAWhiteCard_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("thumbs");
    QTest::newRow("text, 32") << "notes.txt" << QByteArray("plain words\n") << 1;
    QTest::newRow("text, 96") << "notes.txt" << QByteArray("plain words\n") << 5;
    QTest::newRow("no extension") << "README" << QByteArray("plain words\n") << 3;
    QTest::newRow("picture that does not decode") << "broken.jpg" << QByteArray("\xff\xd8 junk") << 2;
  }
  void OtherTypesShowTheirIconOnAWhiteCard() {
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, thumbs);
    TTempDir dir;
    const std::string file = dir.File(name.toStdString());
    WriteBytes(file, content.toStdString());
    TLogCapture log;
    TCells cells(thumbs);
    const int t = CellSide(thumbs) - 8;
    const QImage cell = cells.Add(file);
    QVERIFY(!cell.isNull());
    QVERIFY(log.Lines().empty());
    if (t > 32) {  // the card's silver border shows around a smaller icon
      for (const QPoint p : {QPoint(0, 0), QPoint(t - 1, 0), QPoint(0, t - 1), QPoint(t - 1, t - 1), QPoint(t / 2, 0)})
        QCOMPARE(cell.pixel(p), Silver);
      QCOMPARE(cell.pixel(2, 2), White);
      QCOMPARE(cell.pixel(t - 3, t - 3), White);
    }
    // The icon, centred: something drawn in the middle, in more than one colour.
    std::set<QRgb> colours;
    for (int y = t / 4; y < t * 3 / 4; ++y)
      for (int x = t / 4; x < t * 3 / 4; ++x) colours.insert(cell.pixel(x, y));
    QVERIFY(colours.size() > 2);
    QVERIFY(Near(cell.pixel(t / 2, t + 1), qRgb(255 - 109, 255 - 109, 255 - 109), 1));  // the shadow stays
  }

  void AFileThatIsGoneGetsABlankCardAndAnInformationLine() {
    TTempDir dir;
    const std::string file = dir.File("gone.jpg");
    TLogCapture log;
    TCells cells(2);
    const int index = cells.Thumber.AddThumbnail(file, cells.List);
    QCOMPARE(index, 0);
    const QImage cell = cells.List.Image(index);
    const int t = CellSide(2) - 8;
    for (int y = 0; y < t; ++y)
      for (int x = 0; x < t; ++x) {
        const bool border = x == 0 || y == 0 || x == t - 1 || y == t - 1;
        if (cell.pixel(x, y) != (border ? Silver : White)) QFAIL(qPrintable(QStringLiteral("pixel %1, %2").arg(x).arg(y)));
      }
    const std::vector<TLogCapture::TLine> expected = {{"Thumb extraction failure \"" + file + "\"", llInfo, false}};
    QCOMPARE(log.Lines(), expected);
    // The next file still gets its own cell.
    WritePng(dir.File("red.png"), Flat(10, 10, 255, 0, 0));
    QCOMPARE(cells.Thumber.AddThumbnail(dir.File("red.png"), cells.List), 1);
    QCOMPARE(cells.List.Image(1).pixel(t / 2, t / 2), qRgb(255, 0, 0));
  }

  void PrefetchedCellsAndLinesAreThoseOfOneAtATime() {
    TTempDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
      const std::string name = dir.File("p" + std::to_string(i) + (i % 2 ? ".jpg" : ".png"));
      const TTestImage image = Flat(90 + i * 7, 60 + i * 5, static_cast<std::uint8_t>(i * 20), 100, 200);
      if (i % 2) WriteJpeg(name, image); else WritePng(name, image);
      files.push_back(name);
    }
    files.insert(files.begin() + 3, dir.File("gone.png"));
    files.insert(files.begin() + 7, dir.File("notes.txt"));
    WriteBytes(dir.File("notes.txt"), "words\n");
    files.insert(files.begin() + 9, dir.File("gone too.jpg"));
    const auto run = [&](bool prefetch, std::vector<QImage>& cells, std::vector<TLogCapture::TLine>& lines) {
      // Each run from an empty cache, so that both decode.
      std::filesystem::remove_all(ThumbnailCacheFolder());
      TLogCapture log;
      TCells thumbs(3);
      if (prefetch) thumbs.Thumber.Prefetch(files, thumbs.List);
      for (const std::string& file : files) cells.push_back(thumbs.Add(file));
      cells.push_back(thumbs.Add(files[0]));  // a second time: made again, not taken
      lines = log.Lines();
    };
    std::vector<QImage> alone, ahead;
    std::vector<TLogCapture::TLine> aloneLines, aheadLines;
    run(false, alone, aloneLines);
    run(true, ahead, aheadLines);
    QCOMPARE(ahead.size(), alone.size());
    for (std::size_t i = 0; i < alone.size(); ++i) QVERIFY2(ahead[i] == alone[i], qPrintable(QString::number(i)));
    QCOMPARE(aheadLines, aloneLines);
    QCOMPARE(aloneLines.size(), std::size_t{2});
  }

  void APrefetchLeftOrReplacedEndsCleanly() {
    TTempDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 30; ++i) {
      files.push_back(dir.File("p" + std::to_string(i) + ".jpg"));
      WriteJpeg(files.back(), PhotoLikeImage(800, 600));
    }
    TCells cells(2);
    cells.Thumber.Prefetch(files, cells.List);
    cells.Add(files[5]);  // out of order: waits for it alone
    cells.Thumber.Prefetch({files[29]}, cells.List);  // the rest dropped
    QCOMPARE(cells.Add(files[29]).size(), QSize(56, 56));
    cells.List.SetSize(40, 40);
    cells.Thumber.PrepareBackground(cells.List);  // another size: nothing left to take
    QCOMPARE(cells.Add(files[29]).size(), QSize(40, 40));
    cells.Thumber.Prefetch(files, cells.List);  // still running when the thumber goes
  }

  void ANewCellSizeStartsOver() {
    // The list shrinks from 104 to 40: the cell follows, even before PrepareBackground.
    TTempDir dir;
    WritePng(dir.File("red.png"), Flat(50, 50, 255, 0, 0));
    TCells cells(5);
    cells.Add(dir.File("red.png"));
    cells.List.SetSize(40, 40);
    QCOMPARE(cells.List.Count(), 0);
    const QImage cell = cells.Add(dir.File("red.png"));
    QCOMPARE(cell.size(), QSize(40, 40));
    QCOMPARE(cell.pixel(31, 10), Grey);
    QVERIFY(Near(cell.pixel(16, 32), qRgb(255 - 122, 255 - 122, 255 - 122), 1));
  }
};

TS_QTEST_MAIN(TThumberTest)
#include "uThumberTest.moc"
