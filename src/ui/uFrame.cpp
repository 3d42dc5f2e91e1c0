#include "uFrame.h"

#include <QPainter>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QToolButton>

#include "uFrames.h"

namespace {

// The header: a toggle across the frame, icon and bold caption at the left, and an arrow at the
// right that points down while the frame is open.
class THeaderButton : public QToolButton {
public:
  explicit THeaderButton(QWidget* parent) : QToolButton(parent) {
    setCheckable(true);
    setChecked(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    setIconSize(QSize(16, 16));
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    // The bevel alone; icon, caption and arrow are placed here.
    option.text.clear();
    option.icon = QIcon();
    option.state &= ~QStyle::State_On;
    if (isChecked()) option.state |= QStyle::State_Raised;
    painter.drawComplexControl(QStyle::CC_ToolButton, option);

    QRect area = rect().adjusted(5, 0, -5, 0);
    if (!icon().isNull()) {
      const QRect place(area.left(), (height() - 16) / 2, 16, 16);
      icon().paint(&painter, place, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
      area.setLeft(place.right() + 6);
    }
    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = QRect(area.right() - 9, (height() - 9) / 2, 9, 9);
    style()->drawPrimitive(isChecked() ? QStyle::PE_IndicatorArrowDown : QStyle::PE_IndicatorArrowRight, &arrow,
                           &painter, this);
    area.setRight(arrow.rect.left() - 4);
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
  }
};

}  // namespace

TXFrame::TXFrame(TXFrames* owner) : QWidget(owner), Owner(owner) {
  sHeader = new THeaderButton(this);
  sHeader->setObjectName(QStringLiteral("sHeader"));
  connect(sHeader, &QToolButton::clicked, this, &TXFrame::sHeaderClick);
  resize(width(), HeaderHeight);
  PlaceChildren();
}

TXFrame::~TXFrame() = default;

void TXFrame::EmbedFrame(std::unique_ptr<QWidget> content, const std::string& caption) {
  delete Content_;
  Content_ = content.release();
  Content_->setParent(this);
  Fills_ = (Content_->sizePolicy().verticalPolicy() & QSizePolicy::ExpandFlag) != 0;
  sHeader->setText(QString::fromStdString(caption));
  if (!Fills_) {
    Content_->resize(width(), Content_->sizeHint().height());
    resize(width(), HeaderHeight + Content_->height());
  }
  Content_->setVisible(Expanded_);
  PlaceChildren();
}

void TXFrame::SetIcon(TIcon icon) { sHeader->setIcon(Icon(icon)); }

void TXFrame::SetExpanded(bool value) {
  Expanded_ = value;
  const int contentHeight = Content_ ? Content_->height() : 0;
  if (Content_) Content_->setVisible(value);
  resize(width(), value ? HeaderHeight + contentHeight : HeaderHeight);
  sHeader->setChecked(value);
  if (Owner) Owner->ArrangeFrames();
}

void TXFrame::sHeaderClick() { SetExpanded(!Expanded_); }

int TXFrame::FixedHeight() const { return Fills_ ? HeaderHeight : height(); }

void TXFrame::SetContentHeight(int h) {
  resize(width(), h + HeaderHeight);
  if (Fills_ && Content_) Content_->resize(width(), h);
}

void TXFrame::resizeEvent(QResizeEvent*) { PlaceChildren(); }

void TXFrame::PlaceChildren() {
  sHeader->setGeometry(0, 0, width(), HeaderHeight);
  if (Content_) Content_->setGeometry(0, HeaderHeight, width(), Content_->height());
}
