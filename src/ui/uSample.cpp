#include "uSample.h"

#include <algorithm>
#include <exception>
#include <filesystem>

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include "uDialogs.h"
#include "xRecords.h"
#include "uPicture.h"
#include "xEngine.h"

namespace {


bool IsFolder(const std::string& path) {
  std::error_code ignored;
  return !path.empty() && std::filesystem::is_directory(path, ignored);
}

}  // namespace

TSampleFrame::TSampleFrame(TEngine& engine, QWidget* parent) : QWidget(parent), Engine(engine) {
  setObjectName(QStringLiteral("SampleFrame"));
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  resize(sizeHint());

  sSampleChk = new QCheckBox(QStringLiteral("Search for sample duplicates "), this);
  sSampleChk->setObjectName(QStringLiteral("sSampleChk"));
  sSampleChk->setToolTip(
      QStringLiteral(" Search for copies of files or pictures that match the sample file or picture "));

  sSampleFile = new QLineEdit(this);
  sSampleFile->setObjectName(QStringLiteral("sSampleFile"));
  sSampleFile->setMaxLength(MaxTyped);
  sBrowseBtn = new QToolButton(this);
  sBrowseBtn->setObjectName(QStringLiteral("sBrowseBtn"));
  sBrowseBtn->setText(QStringLiteral("..."));
  sBrowseBtn->setToolTip(QStringLiteral(" Choose the sample file "));
  sBrowseBtn->setFixedSize(24, sSampleFile->sizeHint().height());

  sPictureBox = new QFrame(this);
  sPictureBox->setObjectName(QStringLiteral("sPictureBox"));
  sPictureBox->setFrameShape(QFrame::StyledPanel);
  sPictureBox->setFrameShadow(QFrame::Sunken);
  sPictureBox->setFixedSize(196, 193);
  sPicture = new QLabel(sPictureBox);
  sPicture->setObjectName(QStringLiteral("sPicture"));
  sPicture->setAlignment(Qt::AlignCenter);
  sPicture->setGeometry((196 - PictureSide) / 2, (193 - PictureSide) / 2, PictureSide, PictureSide);
  sPicture->hide();

  auto* pathRow = new QHBoxLayout();
  pathRow->setSpacing(2);
  pathRow->addWidget(sSampleFile);
  pathRow->addWidget(sBrowseBtn);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(7, 6, 7, 4);
  layout->setSpacing(6);
  layout->addWidget(sSampleChk);
  layout->addLayout(pathRow);
  layout->addWidget(sPictureBox, 0, Qt::AlignHCenter);
  layout->addStretch(1);

  connect(sSampleChk, &QCheckBox::toggled, this, &TSampleFrame::sSampleChkClick);
  connect(sSampleFile, &QLineEdit::textChanged, this, [this] {
    if (!Loading) sSampleFileChange();
  });
  connect(sBrowseBtn, &QToolButton::clicked, this, &TSampleFrame::sBrowseBtnClick);
}

void TSampleFrame::LoadOptions() {
  Loading = true;
  SetPath(Engine.Options.SampleFile);
  sSampleChk->setChecked(Engine.Options.UseSample);
  Loading = false;
  sSampleFile->setEnabled(sSampleChk->isChecked());
  sBrowseBtn->setEnabled(sSampleChk->isChecked());
  sSampleFileChange();
}

void TSampleFrame::sSampleChkClick(bool checked) {
  if (Loading) return;
  Engine.Options.UseSample = checked;
  sSampleFile->setEnabled(checked);
  sBrowseBtn->setEnabled(checked);
  Engine.NeedRescan = true;
  sSampleFileChange();
}

void TSampleFrame::sSampleFileChange() {
  const QString text = sSampleFile->text();
  const std::string path = text == QString::fromStdString(RawPath) ? RawPath : text.toStdString();
  Engine.Options.SampleFile = path;
  sSampleFile->setToolTip(text);
  const bool shown = sSampleChk->isChecked() && TEngine::IsPicture(path) && ShowPreview(path);
  sPicture->setVisible(shown);
  if (!shown) sPicture->clear();
  Engine.NeedRescan = true;
}

bool TSampleFrame::ShowPreview(const std::string& path) {
  // A picture that cannot be decoded leaves the box empty; the search reports it in its turn.
  QImage image;
  try {
    image = LoadToImage(path, QSize(PictureSide, PictureSide));
  } catch (const std::exception&) {
    return false;
  }
  if (image.isNull()) return false;
  // The loader only reduces; a small picture is enlarged to fill the area as well.
  if (image.width() < PictureSide && image.height() < PictureSide)
    image = image.scaled(PictureSide, PictureSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  sPicture->setPixmap(QPixmap::fromImage(image));
  return true;
}

void TSampleFrame::sBrowseBtnClick() {
  const std::string current = sSampleFile->text() == QString::fromStdString(RawPath) ? RawPath
                                                                                      : sSampleFile->text().toStdString();
  TFileDialogRequest request;
  request.Filter = "All files (*.*)|*.*";
  request.Folder = IsFolder(FolderOf(current)) ? FolderOf(current) : BrowseFolder;
  request.FileName = NameOf(current);
  const std::optional<std::string> chosen = ChooseFile(this, request);
  if (!chosen || chosen->empty()) return;
  BrowseFolder = FolderOf(*chosen);
  const QString before = sSampleFile->text();
  SetPath(*chosen);
  if (sSampleFile->text() == before) sSampleFileChange();  // same text: no change signal came
}

void TSampleFrame::SetPath(const std::string& path) {
  RawPath = path;
  // Typing stops at 255 characters, but a longer path that the settings or the dialog give
  // (Linux allows them) is taken whole: a cut one would name another file.
  const QString text = QString::fromStdString(path);
  sSampleFile->setMaxLength(std::max<int>(MaxTyped, static_cast<int>(text.size())));
  sSampleFile->setText(text);
}
