#include "uAbout.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include "uIcons.h"
#include "xPlatform.h"
#include "xStorage.h"
#include "xSysInfo.h"

std::string SupportAddress(TStorage& storage) {
  storage.OpenSection("SUPPORT", false);
  const std::string address = storage.ReadString("Mail", PlaceholderSupportAddress);
  storage.CloseSection();
  return address.empty() ? PlaceholderSupportAddress : address;
}

TLinkLabel::TLinkLabel(const QString& text, const QString& hint, QWidget* parent) : QLabel(text, parent) {
  setToolTip(hint);
  setCursor(Qt::PointingHandCursor);
  QPalette palette = this->palette();
  palette.setColor(QPalette::WindowText, QColor(0, 70, 170));
  setPalette(palette);
}

void TLinkLabel::enterEvent(QEnterEvent* event) {
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  QLabel::enterEvent(event);
}

void TLinkLabel::leaveEvent(QEvent* event) {
  QFont plain = font();
  plain.setUnderline(false);
  setFont(plain);
  QLabel::leaveEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick) OnClick();
  QLabel::mouseReleaseEvent(event);
}

namespace {

// The strip at the left: the program's icon on a band of its colours.
class TAboutStrip : public QWidget {
public:
  explicit TAboutStrip(QWidget* parent) : QWidget(parent) { setFixedWidth(164); }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    QLinearGradient band(0, 0, 0, height());
    band.setColorAt(0, QColor(20, 120, 130));
    band.setColorAt(1, QColor(10, 60, 80));
    painter.fillRect(rect(), band);
    const QPixmap icon = Icon(TIcon::Application).pixmap(128, 128);
    painter.drawPixmap((width() - 128) / 2, 36, icon);
    QFont title = font();
    title.setPixelSize(20);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 176, width(), 30), Qt::AlignCenter, QStringLiteral("Twinsifter"));
  }
};

QLabel* Heading(const char* text, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return label;
}

QFrame* Rule(QWidget* parent) {
  auto* line = new QFrame(parent);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

TAboutForm::TAboutForm(TStorage& storage, QWidget* parent) : QDialog(parent), Store(storage) {
  setWindowTitle(QStringLiteral(" About"));
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
  setFixedSize(508, 314);
  QFont verdana(QStringLiteral("Verdana"));
  verdana.setPixelSize(13);
  setFont(verdana);
  Support = SupportAddress(Store);

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new TAboutStrip(this));
  auto* grid = new QGridLayout;
  grid->setContentsMargins(14, 16, 14, 14);
  grid->setHorizontalSpacing(14);
  grid->setVerticalSpacing(8);
  row->addLayout(grid, 1);

  int line = 0;
  grid->addWidget(Heading("Version", this), line, 0);
  sVersion = new QLabel(QString::fromStdString(Store.VersionText()), this);
  QFont bold = sVersion->font();
  bold.setBold(true);
  sVersion->setFont(bold);
  sVersion->setWordWrap(true);
  grid->addWidget(sVersion, line++, 1);
  grid->addWidget(Rule(this), line++, 0, 1, 2);

  // No person, company or web site stands behind this build but its developers; the product's
  // pages are the help that ships with it.
  grid->addWidget(Heading("Developer", this), line, 0);
  auto* developers = new QVBoxLayout;
  developers->setSpacing(2);
  developers->addWidget(new QLabel(QStringLiteral("The Twinsifter developers"), this));
  sInfoLink = new TLinkLabel(QStringLiteral("Twinsifter information"), QStringLiteral(" Click to visit the Twinsifter home page"), this);
  sInfoLink->OnClick = [this] {
    if (OnInformation) OnInformation();
  };
  developers->addWidget(sInfoLink);
  grid->addLayout(developers, line++, 1);
  grid->addWidget(Heading("Support", this), line, 0);
  sMailLink = new TLinkLabel(QString::fromStdString(Support), QStringLiteral(" Click to send an e-mail to support "), this);
  sMailLink->OnClick = [this] {
    const std::string link = "mailto:" + Support;
    if (OnOpenLink) {
      OnOpenLink(link);
    } else {
      std::string error;
      OpenWithDefaultApplication(link, error);  // a failure is not reported
    }
  };
  grid->addWidget(sMailLink, line++, 1);
  grid->addWidget(Rule(this), line++, 0, 1, 2);

  grid->addWidget(Heading("System", this), line, 0);
  sSystem = new QLabel(QString::fromStdString(Store.SysInfo().GetWindowsDescription()), this);
  sSystem->setWordWrap(true);
  sSystem->setMinimumHeight(2 * sSystem->fontMetrics().lineSpacing());
  sSystem->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  grid->addWidget(sSystem, line++, 1);
  grid->addWidget(Heading("Memory", this), line, 0);
  sMemory = new QLabel(this);
  grid->addWidget(sMemory, line++, 1);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(line, 1);
}

void TAboutForm::showEvent(QShowEvent* event) {
  const TSysInfo& info = Store.SysInfo();
  sMemory->setText(QString::fromStdString(info.GetUsedMemoryText() + " out of " + info.GetAvailMemoryText()));
  QDialog::showEvent(event);
}
