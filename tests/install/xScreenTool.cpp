// Helper of the installed-program check: `pictures DIR` writes a few pictures and their copies,
// `grab FILE` saves the whole X screen and prints how many colours it holds.
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <cstdio>
#include <cstring>

static int WritePictures(const QString& folder) {
  const QColor colours[][2] = {{Qt::darkBlue, Qt::yellow}, {Qt::darkGreen, Qt::white}, {Qt::red, Qt::black}};
  for (int i = 0; i < 3; ++i) {
    QImage picture(320, 240, QImage::Format_RGB32);
    QPainter painter(&picture);
    QLinearGradient band(0, 0, 320, 240);
    band.setColorAt(0, colours[i][0]);
    band.setColorAt(1, colours[i][1]);
    painter.fillRect(picture.rect(), band);
    painter.setBrush(colours[i][1]);
    painter.drawEllipse(40 + i * 60, 60, 120, 120);
    painter.end();
    const QString name = QStringLiteral("/picture%1.png").arg(i);
    if (!picture.save(folder + QStringLiteral("/a") + name) || !picture.save(folder + QStringLiteral("/b") + name))
      return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  QGuiApplication application(argc, argv);
  if (std::strcmp(argv[1], "pictures") == 0) return WritePictures(QString::fromLocal8Bit(argv[2]));
  QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return 1;
  const QImage shot = screen->grabWindow(0).toImage();
  QSet<QRgb> seen;
  for (int y = 0; y < shot.height(); y += 2)
    for (int x = 0; x < shot.width(); x += 2) seen.insert(shot.pixel(x, y));
  std::printf("%lld colours\n", static_cast<long long>(seen.size()));
  return shot.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
