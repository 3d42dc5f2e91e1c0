#pragma once
// A picture area: the picture scaled to fit with its aspect ratio kept, enlarged as well as
// reduced, centred; a click reports itself.

#include <functional>
#include <string>

#include <QImage>
#include <QWidget>

class TPreview : public QWidget {
  Q_OBJECT

public:
  explicit TPreview(QWidget* parent = nullptr);

  // Loads the file reduced to at most what the area can show; raises EPictureLoad on failure
  // and then keeps the picture it had.
  void LoadFile(const std::string& fileName);
  void SetImage(QImage image);
  void Clear();
  const QImage& Image() const { return Image_; }
  // Where the picture lands inside the area.
  QRect PictureRect() const;

  std::function<void()> OnClick;

protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

private:
  QImage Image_;
};
