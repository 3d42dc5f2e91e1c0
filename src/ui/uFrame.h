#pragma once
// One collapsible frame of the side column: a header button with a caption and an icon above a
// content frame; a click on the header collapses or expands the content.

#include <memory>
#include <string>

#include <QWidget>

#include "uIcons.h"

class QToolButton;
class TXFrames;

class TXFrame : public QWidget {
  Q_OBJECT

public:
  static constexpr int HeaderHeight = 22;

  explicit TXFrame(TXFrames* owner = nullptr);
  ~TXFrame() override;

  // Takes the content, owned from now on. A content whose vertical size policy expands fills the
  // space it is given (Fills); any other keeps its designed height, the height of its size hint.
  void EmbedFrame(std::unique_ptr<QWidget> content, const std::string& caption);
  void SetIcon(TIcon icon);

  bool Expanded() const { return Expanded_; }
  void SetExpanded(bool value);
  bool Fills() const { return Fills_; }
  // The header height for a filling frame, the frame's own height otherwise.
  int FixedHeight() const;
  // The frame becomes h + the header high; a filling content becomes h high.
  void SetContentHeight(int h);

  QWidget* Content() const { return Content_; }
  QToolButton* sHeader = nullptr;

  void sHeaderClick();

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  void PlaceChildren();

  TXFrames* Owner;
  QWidget* Content_ = nullptr;  // a child of this frame, destroyed with it
  bool Fills_ = false;
  bool Expanded_ = true;
};
