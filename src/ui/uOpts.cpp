#include "uOpts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QVBoxLayout>

#include "xEngine.h"

namespace {

QCheckBox* MakeCheck(QWidget* parent, const char* name, const char* caption, const char* hint) {
  auto* check = new QCheckBox(QString::fromUtf8(caption), parent);
  check->setObjectName(QString::fromUtf8(name));
  check->setToolTip(QString::fromUtf8(hint));
  return check;
}

}  // namespace

TOptsFrame::TOptsFrame(TEngine& engine, QWidget* parent) : QWidget(parent), Engine(engine) {
  setObjectName(QStringLiteral("OptsFrame"));
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  resize(sizeHint());

  sPicsOnlyChk = MakeCheck(this, "sPicsOnlyChk", " Compare pictures only ", " Process only picture files ");
  sSubFoldChk = MakeCheck(this, "sSubFoldChk", " Include subfolders ", " Compare files in subfolders as well ");
  sPicCompChk = MakeCheck(this, "sPicCompChk", " Visual similarity comparison ",
                          " Comparing pictures based on their visual resemblance (SLOW)");

  sTolerance = new QSlider(Qt::Horizontal, this);
  sTolerance->setObjectName(QStringLiteral("sTolerance"));
  sTolerance->setRange(0, 10);
  sTolerance->setSingleStep(1);
  sTolerance->setPageStep(1);
  sTolerance->setTickInterval(1);
  sTolerance->setTickPosition(QSlider::TicksBelow);
  sTolerance->setToolTip(QStringLiteral(" Picture similarity tolerance "));
  sIdenticalLabel = new QLabel(QStringLiteral("Identical"), this);
  sIdenticalLabel->setObjectName(QStringLiteral("sIdenticalLabel"));
  sSimilarLabel = new QLabel(QStringLiteral("Similar"), this);
  sSimilarLabel->setObjectName(QStringLiteral("sSimilarLabel"));
  QFont small = sIdenticalLabel->font();
  small.setPointSizeF(small.pointSizeF() * 0.9);
  sIdenticalLabel->setFont(small);
  sSimilarLabel->setFont(small);

  sFileMaskChk = MakeCheck(this, "sFileMaskChk", " Use file mask ", " Compare only files that match the mask ");
  sExcludeChk = MakeCheck(this, "sExcludeChk", " Exclude", " Do NOT analyse files that match the mask ");
  sFileMask = new QLineEdit(QStringLiteral("*.*"), this);
  sFileMask->setObjectName(QStringLiteral("sFileMask"));
  sFileMask->setToolTip(QStringLiteral(" File selection mask "));

  auto* scale = new QHBoxLayout();
  scale->setContentsMargins(4, 0, 4, 0);
  scale->addWidget(sIdenticalLabel);
  scale->addStretch(1);
  scale->addWidget(sSimilarLabel);
  auto* maskRow = new QHBoxLayout();
  maskRow->setSpacing(4);
  maskRow->addWidget(sFileMaskChk);
  maskRow->addStretch(1);
  maskRow->addWidget(sExcludeChk);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(7, 5, 7, 4);
  layout->setSpacing(2);
  layout->addWidget(sPicsOnlyChk);
  layout->addWidget(sSubFoldChk);
  layout->addWidget(sPicCompChk);
  layout->addSpacing(2);
  layout->addWidget(sTolerance);
  layout->addLayout(scale);
  layout->addSpacing(4);
  layout->addLayout(maskRow);
  layout->addWidget(sFileMask);
  layout->addStretch(1);

  connect(sPicsOnlyChk, &QCheckBox::toggled, this, &TOptsFrame::sPicsOnlyChkClick);
  connect(sSubFoldChk, &QCheckBox::toggled, this, &TOptsFrame::sSubFoldChkClick);
  connect(sPicCompChk, &QCheckBox::toggled, this, &TOptsFrame::sPicCompChkClick);
  connect(sTolerance, &QSlider::valueChanged, this, &TOptsFrame::sToleranceChange);
  connect(sFileMaskChk, &QCheckBox::toggled, this, &TOptsFrame::sFileMaskChkClick);
  connect(sExcludeChk, &QCheckBox::toggled, this, &TOptsFrame::sExcludeChkClick);
  connect(sFileMask, &QLineEdit::textChanged, this, &TOptsFrame::sFileMaskChange);
  ApplyEnabling();
}

void TOptsFrame::LoadOptions() {
  // Copying the options in is no change of them: the handlers stay out of it.
  Loading = true;
  const TCompOpts& o = Engine.Options;
  sSubFoldChk->setChecked(o.SubFolders);
  sPicCompChk->setChecked(o.PicsComp);
  sPicsOnlyChk->setChecked(o.PicsOnly);
  sFileMaskChk->setChecked(o.UseFile);
  sFileMask->setText(QString::fromStdString(o.FileMask));
  sExcludeChk->setChecked(o.FileEx);
  sTolerance->setValue(o.Tolerance);
  Loading = false;
  // A stored tolerance outside the slider's range: the search uses what the slider shows.
  Engine.Options.Tolerance = sTolerance->value();
  ApplyEnabling();
}

void TOptsFrame::ApplyEnabling() {
  const bool mask = sFileMaskChk->isChecked();
  sFileMask->setEnabled(mask);
  sExcludeChk->setEnabled(mask);
  const bool visual = sPicCompChk->isChecked();
  sTolerance->setEnabled(visual);
  sIdenticalLabel->setEnabled(visual);
  sSimilarLabel->setEnabled(visual);
}

void TOptsFrame::sPicsOnlyChkClick(bool checked) {
  if (Loading) return;
  Engine.Options.PicsOnly = checked;
  Engine.NeedRescan = true;
}

void TOptsFrame::sSubFoldChkClick(bool checked) {
  if (Loading) return;
  Engine.Options.SubFolders = checked;
  Engine.NeedRescan = true;
}

void TOptsFrame::sPicCompChkClick(bool checked) {
  if (Loading) return;
  Engine.Options.PicsComp = checked;
  ApplyEnabling();
  Engine.NeedRescan = true;
}

void TOptsFrame::sToleranceChange(int position) {
  // The tolerance only decides among the pictures already prepared: no new scan.
  if (Loading) return;
  Engine.Options.Tolerance = position;
}

void TOptsFrame::sFileMaskChkClick(bool checked) {
  if (Loading) return;
  Engine.Options.UseFile = checked;
  ApplyEnabling();
  Engine.NeedRescan = true;
}

void TOptsFrame::sExcludeChkClick(bool checked) {
  if (Loading) return;
  Engine.Options.FileEx = checked;
  Engine.NeedRescan = true;
}

void TOptsFrame::sFileMaskChange() {
  if (Loading) return;
  Engine.Options.FileMask = sFileMask->text().toStdString();
  Engine.NeedRescan = true;
}
