#pragma once
// The picture viewer: one picture at its own pixel size in a scrollable window, so that a
// duplicate's quality can be judged before it is deleted. One window, reused and non-modal.

#include <string>

#include <QImage>
#include <QMainWindow>

class QScrollArea;

// The picture control: exactly as large as its picture, painted without scaling.
class TPictureBox : public QWidget {
public:
  explicit TPictureBox(QWidget* parent = nullptr);
  void SetPicture(QImage picture);
  const QImage& Picture() const { return Picture_; }

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  QImage Picture_;
};

class TViewerForm : public QMainWindow {
public:
  explicit TViewerForm(QWidget* parent = nullptr);

  // What the main window's view command does: loads the file at its natural size, captions
  // the window with it and shows it (raised when already open). A file that does not decode
  // raises EPictureLoad before anything changes, so the window keeps its previous picture.
  void ViewFile(const std::string& path);
  // The caption for the file, with the picture control's size.
  void SetViewedFile(const std::string& path);

  QScrollArea* sScrollBox = nullptr;
  TPictureBox* sImage = nullptr;

protected:
  void keyPressEvent(QKeyEvent* event) override;

private:
  QWidget* sCanvas = nullptr;  // the scrolled area: the picture with its margin
};
