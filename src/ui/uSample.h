#pragma once
// The "Sample" frame: whether to search for copies of one sample file, the file, and a preview
// when it is a picture.

#include <string>

#include <QSize>
#include <QWidget>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QToolButton;
class TEngine;

class TSampleFrame : public QWidget {
  Q_OBJECT

public:
  static constexpr int PictureSide = 177;
  static constexpr int MaxTyped = 255;  // longest path the user can type

  explicit TSampleFrame(TEngine& engine, QWidget* parent = nullptr);
  QSize sizeHint() const override { return QSize(210, 261); }

  QCheckBox* sSampleChk = nullptr;
  QLineEdit* sSampleFile = nullptr;   // at most MaxTyped characters typed
  QToolButton* sBrowseBtn = nullptr;
  QFrame* sPictureBox = nullptr;      // 196 x 193, always there
  QLabel* sPicture = nullptr;         // the 177 x 177 area inside it, shown only with a preview

  // The engine's options into the controls, then the path handling.
  void LoadOptions();

  void sSampleChkClick(bool checked);
  // On every change of the path: the option, the hint, the preview; the next search rescans.
  void sSampleFileChange();
  void sBrowseBtnClick();

  // The folder the browse dialog opens in when the current path names none.
  std::string BrowseFolder;

private:
  void SetPath(const std::string& path);
  bool ShowPreview(const std::string& path);

  TEngine& Engine;
  bool Loading = false;
  // The path exactly as the settings or the dialog gave it: a name that is not valid UTF-8
  // survives the trip through the text field.
  std::string RawPath;
};
