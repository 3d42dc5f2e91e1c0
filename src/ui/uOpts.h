#pragma once
// The "Options" frame: the everyday search options, each written into the engine when changed.

#include <QSize>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSlider;
class TEngine;

class TOptsFrame : public QWidget {
  Q_OBJECT

public:
  explicit TOptsFrame(TEngine& engine, QWidget* parent = nullptr);
  QSize sizeHint() const override { return QSize(210, 190); }

  QCheckBox* sPicsOnlyChk = nullptr;
  QCheckBox* sSubFoldChk = nullptr;
  QCheckBox* sPicCompChk = nullptr;
  QSlider* sTolerance = nullptr;  // 0 identical .. 10 similar
  QLabel* sIdenticalLabel = nullptr;
  QLabel* sSimilarLabel = nullptr;
  QCheckBox* sFileMaskChk = nullptr;
  QCheckBox* sExcludeChk = nullptr;
  QLineEdit* sFileMask = nullptr;

  // The engine's options into the controls, with the enabling that follows from them.
  void LoadOptions();

  void sPicsOnlyChkClick(bool checked);
  void sSubFoldChkClick(bool checked);
  void sPicCompChkClick(bool checked);
  void sToleranceChange(int position);
  void sFileMaskChkClick(bool checked);
  void sExcludeChkClick(bool checked);
  void sFileMaskChange();

private:
  void ApplyEnabling();

  TEngine& Engine;
  bool Loading = false;
};
