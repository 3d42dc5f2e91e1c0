#include "uFrames.h"

#include <algorithm>

TXFrames::TXFrames(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("sContainer"));
  setFixedWidth(ColumnWidth);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

TXFrames::~TXFrames() = default;  // the frames are children: Qt destroys them with their contents

int TXFrames::AddFrame(std::unique_ptr<QWidget> content, const std::string& caption, TIcon icon) {
  auto* frame = new TXFrame(this);
  frame->SetIcon(icon);
  Frames.push_back(frame);
  frame->resize(std::max(0, width() - 2 * Border), frame->height());
  frame->EmbedFrame(std::move(content), caption);
  frame->show();
  ArrangeFrames();
  return FrameCount() - 1;
}

TXFrame* TXFrames::FrameAt(int index) const {
  if (index < 0 || index >= FrameCount()) return nullptr;
  return Frames[static_cast<std::size_t>(index)];
}

void TXFrames::ArrangeFrames() {
  int filling = 0;
  int used = Border;
  for (const TXFrame* frame : Frames) {
    filling += frame->Fills() ? 1 : 0;
    used += frame->FixedHeight() + Border;
  }
  const int free = height() - used;
  const int share = filling > 0 ? std::max(0, free / filling) : 0;
  const int frameWidth = std::max(0, width() - 2 * Border);
  int top = 0;
  for (TXFrame* frame : Frames) {
    top += Border;
    frame->setGeometry(Border, top, frameWidth, frame->height());
    if (frame->Fills() && frame->Expanded()) frame->SetContentHeight(share);
    top += frame->height();
  }
  update();
}

void TXFrames::resizeEvent(QResizeEvent*) { ArrangeFrames(); }
