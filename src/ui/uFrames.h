#pragma once
// The column of collapsible frames at the left of the main window: fixed frames keep their
// designed heights, filling frames share what is left equally.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <QWidget>

#include "uFrame.h"
#include "uIcons.h"

class TXFrames : public QWidget {
  Q_OBJECT

public:
  static constexpr int Border = 4;
  static constexpr int ColumnWidth = 220;

  explicit TXFrames(QWidget* parent = nullptr);
  ~TXFrames() override;

  // A new frame at the bottom holding `content` under a header with the caption and icon;
  // returns its index. All frames are arranged again.
  int AddFrame(std::unique_ptr<QWidget> content, const std::string& caption, TIcon icon);
  // The same with a content of class T made here from `args`; returns the content.
  template <class T, class... TArgs>
  T* AddFrame(const std::string& caption, TIcon icon, TArgs&&... args) {
    auto content = std::make_unique<T>(std::forward<TArgs>(args)...);
    T* made = content.get();
    AddFrame(std::move(content), caption, icon);
    return made;
  }

  TXFrame* FrameAt(int index) const;
  int FrameCount() const { return static_cast<int>(Frames.size()); }
  // Fixed frames at their heights from the top, filling frames sharing the rest.
  void ArrangeFrames();

protected:
  void resizeEvent(QResizeEvent* event) override;

private:
  std::vector<TXFrame*> Frames;  // children of this container, in the order added
};
