#include "uTips.h"

#include <QCheckBox>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRandomGenerator>
#include <fstream>
#include <iterator>

#include "uDialogs.h"
#include "xStorage.h"

namespace {

// A light bulb, 100 x 100: dark grey while no tip is shown, glowing yellow with one.
QPixmap BulbPicture(bool lit) {
  QPixmap picture(100, 100);
  picture.fill(Qt::transparent);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  if (lit) {
    QRadialGradient glow(50, 40, 48);
    glow.setColorAt(0, QColor(255, 240, 120, 160));
    glow.setColorAt(1, QColor(255, 240, 120, 0));
    painter.setBrush(glow);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(50, 40), 48, 40);
  }
  QPainterPath glass;
  glass.moveTo(38, 70);
  glass.cubicTo(38, 58, 22, 52, 22, 36);
  glass.arcTo(22, 8, 56, 56, 180, -180);
  glass.cubicTo(78, 52, 62, 58, 62, 70);
  glass.closeSubpath();
  QRadialGradient fill(44, 30, 36);
  fill.setColorAt(0, lit ? QColor(255, 255, 220) : QColor(200, 200, 200));
  fill.setColorAt(1, lit ? QColor(255, 210, 40) : QColor(120, 120, 120));
  painter.setBrush(fill);
  painter.setPen(QPen(lit ? QColor(200, 150, 0) : QColor(90, 90, 90), 2));
  painter.drawPath(glass);
  // The filament, then the screw base.
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(lit ? QColor(230, 120, 0) : QColor(80, 80, 80), 2));
  painter.drawPolyline(QPolygonF({QPointF(42, 68), QPointF(44, 48), QPointF(50, 56), QPointF(56, 48), QPointF(58, 68)}));
  painter.setPen(QPen(QColor(70, 70, 80), 1));
  painter.setBrush(QColor(160, 160, 170));
  for (int i = 0; i < 3; ++i) painter.drawRoundedRect(QRectF(37, 71 + i * 6, 26, 6), 2, 2);
  painter.setBrush(QColor(70, 70, 80));
  painter.drawRoundedRect(QRectF(44, 89, 12, 5), 2, 2);
  return picture;
}

}  // namespace

std::vector<std::string> ReadTipLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

TTipsForm::TTipsForm(TStorage& storage, const std::string& tipsFile, QWidget* parent)
    : QDialog(parent), Store(storage) {
  setWindowTitle(QStringLiteral(" Tip of the Day"));
  setWindowFlags(Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
  setFixedSize(393, 221);
  QFont verdana(QStringLiteral("Verdana"));
  verdana.setPixelSize(13);
  setFont(verdana);

  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("pnlMain"));
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  panel->setGeometry(8, 8, 377, 169);
  panel->setAutoFillBackground(true);
  Bulb = new QLabel(panel);
  Bulb->setGeometry(4, 4, 100, 100);
  txtHeader = new QLabel(QStringLiteral("Did you know ..."), panel);
  txtHeader->setGeometry(109, 8, 241, 33);
  QFont header = verdana;
  header.setPixelSize(21);
  header.setBold(true);
  txtHeader->setFont(header);
  // A band of the program's colour, on which the cream header stands out.
  txtHeader->setAutoFillBackground(true);
  txtHeader->setContentsMargins(6, 0, 0, 0);
  auto* shadow = new QGraphicsDropShadowEffect(txtHeader);
  shadow->setBlurRadius(2);
  shadow->setOffset(2, 2);
  shadow->setColor(QColor(0, 0, 0, 110));
  txtHeader->setGraphicsEffect(shadow);
  txtInfo = new QLabel(panel);
  txtInfo->setGeometry(112, 48, 249, 113);
  txtInfo->setWordWrap(true);
  txtInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette black = txtInfo->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  txtInfo->setPalette(black);

  chkShowTips = new QCheckBox(QStringLiteral(" Show tips at startup "), this);
  chkShowTips->setGeometry(8, 192, 180, 20);
  sButton1 = new QPushButton(QStringLiteral(" Next "), this);
  sButton1->setGeometry(200, 188, 89, 25);
  sButton1->setDefault(true);
  sButton1->installEventFilter(this);
  sButton2 = new QPushButton(QStringLiteral(" Close "), this);
  sButton2->setGeometry(296, 188, 89, 25);
  sButton2->setAutoDefault(false);
  connect(sButton2, &QPushButton::clicked, this, &QDialog::accept);

  Store.OpenSection("TIPS", false);
  chkShowTips->setChecked(Store.ReadBool("ShowStart", true));
  Store.CloseSection();

  std::ifstream file(tipsFile, std::ios::binary);
  if (file) {
    TipList = ReadTipLines(std::string(std::istreambuf_iterator<char>(file), {}));
  } else {
    MessageBox(parent, "Failed to open tips file : Twinsifter.tip", TBoxKind::Error);
  }

  Timer.setSingleShot(true);
  Timer.setInterval(500);
  connect(&Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
  UpdatePanel();
}

TTipsForm::~TTipsForm() {
  Store.OpenSection("TIPS", true);
  Store.WriteBool("ShowStart", chkShowTips->isChecked());
  Store.CloseSection();
}

bool TTipsForm::ShowAtStartup() const { return chkShowTips->isChecked(); }

void TTipsForm::ShowTip(bool shown) {
  TipShown = shown;
  // With no tips there is nothing to index: the area stays empty.
  const bool valid = TipIndex >= 0 && TipIndex < static_cast<int>(TipList.size());
  txtInfo->setText(shown && valid ? QString::fromStdString(TipList[static_cast<std::size_t>(TipIndex)]) : QString());
  UpdatePanel();
}

void TTipsForm::UpdatePanel() {
  Bulb->setPixmap(BulbPicture(TipShown));
  QPalette palette = txtHeader->palette();
  palette.setColor(QPalette::Window, QColor(20, 110, 120));
  palette.setColor(QPalette::WindowText, TipShown ? QColor(255, 251, 240) : QColor(128, 128, 128));
  txtHeader->setPalette(palette);
}

void TTipsForm::NextTip() {
  const int count = static_cast<int>(TipList.size());
  TipIndex = count == 0 ? -1 : (TipIndex + 1) % count;
  ShowTip(true);
}

void TTipsForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  ShowTip(false);
  sButton1->setFocus();
  Timer.start();
}

void TTipsForm::TimerTimer() {
  Timer.stop();
  const int count = static_cast<int>(TipList.size());
  TipIndex = count == 0 ? -1 : static_cast<int>(QRandomGenerator::global()->bounded(count));
  ShowTip(true);
}

bool TTipsForm::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sButton1) {
    // The tip disappears while Next is held down and the next one comes on release.
    // Held keys repeat; Tab only moves the focus away.
    bool ignored = false;
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
      const auto* key = static_cast<QKeyEvent*>(event);
      ignored = key->isAutoRepeat() || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
    }
    if (!ignored) {
      switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::KeyPress:
          ShowTip(false);
          break;
        case QEvent::MouseButtonRelease:
        case QEvent::KeyRelease:
          NextTip();
          break;
        default:
          break;
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}
