#include "uDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

namespace {

TDialogAnswerer& Answerer() {
  static TDialogAnswerer answerer;
  return answerer;
}

QString Displayed(const std::string& text) {
  // The stored texts break lines with "\n\r"; a box shows the line feed alone.
  QString shown = QString::fromStdString(text);
  shown.remove(QLatin1Char('\r'));
  return shown;
}

}  // namespace

const char* BoxCaption(TBoxKind kind) {
  switch (kind) {
    case TBoxKind::Warning: return "Warning";
    case TBoxKind::Error: return "Error";
    case TBoxKind::Information: return "Information";
    case TBoxKind::Confirm: return "Confirm";
  }
  return "";
}

TDialogAnswerer SetDialogAnswerer(TDialogAnswerer answerer) {
  std::swap(Answerer(), answerer);
  return answerer;
}

static TBoxAnswer ShowBox(QWidget* parent, const std::string& caption, const std::string& text, TBoxKind kind,
                          TBoxButtons buttons) {
  if (Answerer().Box) return Answerer().Box(caption, text, buttons);
  QMessageBox::Icon icon = QMessageBox::Information;
  if (kind == TBoxKind::Warning) icon = QMessageBox::Warning;
  if (kind == TBoxKind::Error) icon = QMessageBox::Critical;
  if (kind == TBoxKind::Confirm) icon = QMessageBox::Question;
  QMessageBox box(icon, QString::fromStdString(caption), Displayed(text),
                  buttons == TBoxButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
  const int pressed = box.exec();
  if (buttons == TBoxButtons::Ok) return TBoxAnswer::Ok;
  return pressed == QMessageBox::Yes ? TBoxAnswer::Yes : TBoxAnswer::No;
}

TBoxAnswer MessageBox(QWidget* parent, const std::string& text, TBoxKind kind, TBoxButtons buttons) {
  return ShowBox(parent, BoxCaption(kind), text, kind, buttons);
}

void FailureBox(QWidget* parent, const std::string& text) {
  ShowBox(parent, QApplication::applicationDisplayName().toStdString(), text, TBoxKind::Error, TBoxButtons::Ok);
}

std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& start, bool allowCreate) {
  if (Answerer().Folder) return Answerer().Folder(start, allowCreate);
  QFileDialog::Options options = QFileDialog::ShowDirsOnly;
  if (!allowCreate) options |= QFileDialog::ReadOnly;  // no "Create New Folder" button
  const QString chosen =
      QFileDialog::getExistingDirectory(parent, QStringLiteral("Select directory"), QString::fromStdString(start), options);
  if (chosen.isEmpty()) return std::nullopt;
  return chosen.toStdString();
}

std::string QtFilter(const std::string& pairs) {
  const QStringList parts = QString::fromStdString(pairs).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    // "*.*" means every file, also those without a dot in their name.
    QString description = QString(parts[i]).replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
    QString pattern = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
    if (pattern == QStringLiteral("*.*")) pattern = QStringLiteral("*");
    if (!description.contains(QLatin1Char('('))) description += QStringLiteral(" (") + pattern + QLatin1Char(')');
    filters << description;
  }
  return filters.join(QStringLiteral(";;")).toStdString();
}

std::optional<std::string> ChooseFile(QWidget* parent, const TFileDialogRequest& request) {
  if (Answerer().File) return Answerer().File(request);
  QFileDialog dialog(parent);
  dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setNameFilters(QString::fromStdString(QtFilter(request.Filter)).split(QStringLiteral(";;")));
  if (!request.DefaultSuffix.empty()) dialog.setDefaultSuffix(QString::fromStdString(request.DefaultSuffix));
  if (!request.Folder.empty()) dialog.setDirectory(QString::fromStdString(request.Folder));
  if (!request.FileName.empty()) dialog.selectFile(QString::fromStdString(request.FileName));
  dialog.setSizeGripEnabled(true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst().toStdString();
}
