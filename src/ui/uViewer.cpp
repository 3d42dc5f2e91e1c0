#include "uViewer.h"

#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>

#include "uPicture.h"

namespace {
constexpr int Margin = 8;  // the picture's distance from the scrolled area's top-left corner
}

TPictureBox::TPictureBox(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent, false); }

void TPictureBox::SetPicture(QImage picture) {
  Picture_ = std::move(picture);
  setFixedSize(Picture_.size());
  update();
}

void TPictureBox::paintEvent(QPaintEvent* event) {
  if (Picture_.isNull()) return;
  // Only the part on screen: a large picture is never drawn whole.
  const QRect exposed = event->rect() & Picture_.rect();
  QPainter(this).drawImage(exposed.topLeft(), Picture_, exposed);
}

TViewerForm::TViewerForm(QWidget* parent) : QMainWindow(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Picture Viewer"));
  setMinimumSize(320, 240);
  resize(870, 640);
  move(206, 124);

  sScrollBox = new QScrollArea(this);
  sScrollBox->setWidgetResizable(false);
  sScrollBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  sScrollBox->setBackgroundRole(QPalette::Window);
  sScrollBox->setFrameShape(QFrame::NoFrame);
  // The picture follows the scroll bars' thumbs while they are dragged.
  sScrollBox->horizontalScrollBar()->setTracking(true);
  sScrollBox->verticalScrollBar()->setTracking(true);
  sCanvas = new QWidget;
  sImage = new TPictureBox(sCanvas);
  sImage->move(Margin, Margin);
  sImage->SetPicture(QImage());
  sCanvas->resize(2 * Margin, 2 * Margin);
  sScrollBox->setWidget(sCanvas);
  setCentralWidget(sScrollBox);

  auto* bar = new QStatusBar(this);
  bar->setFixedHeight(19);
  setStatusBar(bar);
}

void TViewerForm::ViewFile(const std::string& path) {
  QImage picture = LoadToImage(path);
  sImage->SetPicture(std::move(picture));
  sCanvas->resize(sImage->width() + 2 * Margin, sImage->height() + 2 * Margin);
  SetViewedFile(path);
  show();
  if (isMinimized()) showNormal();
  raise();
  activateWindow();
}

void TViewerForm::SetViewedFile(const std::string& path) {
  setWindowTitle(QStringLiteral("Viewing \"%1\"   [ %2 x %3 ]")
                     .arg(QString::fromStdString(path))
                     .arg(sImage->width())
                     .arg(sImage->height()));
}

void TViewerForm::keyPressEvent(QKeyEvent* event) {
  // Escape puts the viewer away, as it does in most picture viewers; it keeps its picture.
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QMainWindow::keyPressEvent(event);
}
