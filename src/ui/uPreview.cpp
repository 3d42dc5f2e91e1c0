#include "uPreview.h"

#include <QMouseEvent>
#include <QPainter>

#include "uPicture.h"

TPreview::TPreview(QWidget* parent) : QWidget(parent) {}

void TPreview::LoadFile(const std::string& fileName) {
  // Decoding at twice the area keeps the picture sharp on high-density screens and the memory
  // small for huge pictures.
  const qreal ratio = devicePixelRatioF();
  const QSize bound(std::max(1, static_cast<int>(width() * ratio * 2)), std::max(1, static_cast<int>(height() * ratio * 2)));
  SetImage(LoadToImage(fileName, bound));
}

void TPreview::SetImage(QImage image) {
  Image_ = std::move(image);
  update();
}

void TPreview::Clear() { SetImage(QImage()); }

QRect TPreview::PictureRect() const {
  if (Image_.isNull()) return {};
  QSize fitted = Image_.size().scaled(size(), Qt::KeepAspectRatio);
  fitted = fitted.expandedTo(QSize(1, 1));
  return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void TPreview::paintEvent(QPaintEvent*) {
  if (Image_.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(PictureRect(), Image_);
}

void TPreview::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick) OnClick();
}
