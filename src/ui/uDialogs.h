#pragma once
// Every message box, file dialog and folder chooser of the program goes through here, so that
// tests can answer them (SetDialogAnswerer) instead of a user.

#include <functional>
#include <optional>
#include <string>

class QWidget;

// Message boxes are captioned by their kind: "Warning", "Error", "Information", "Confirm".
enum class TBoxKind { Warning, Error, Information, Confirm };
enum class TBoxButtons { Ok, YesNo };
enum class TBoxAnswer { Ok, Yes, No };

const char* BoxCaption(TBoxKind kind);

// Texts break their lines with line feed and carriage return ("\n\r"), as stored.
TBoxAnswer MessageBox(QWidget* parent, const std::string& text, TBoxKind kind, TBoxButtons buttons = TBoxButtons::Ok);

// An unexpected failure inside a command: the error box captioned with the application title.
void FailureBox(QWidget* parent, const std::string& text);

// The folder chooser "Select directory", opening at `start`; with allowCreate the user may
// make a new folder in it. Nothing when cancelled.
std::optional<std::string> ChooseFolder(QWidget* parent, const std::string& start, bool allowCreate);

// Open and save dialogs. `filter` is written as pairs "Description|pattern|Description|pattern";
// the save dialog asks before replacing a file and adds `defaultSuffix` when the name has none.
struct TFileDialogRequest {
  bool Save = false;
  std::string Filter;
  std::string DefaultSuffix;
  std::string Folder;    // initial folder
  std::string FileName;  // proposed name
};
std::optional<std::string> ChooseFile(QWidget* parent, const TFileDialogRequest& request);

// What a test sees and answers instead of a user. Unset members fall back to the real dialogs.
struct TDialogAnswerer {
  std::function<TBoxAnswer(const std::string& caption, const std::string& text, TBoxButtons buttons)> Box;
  std::function<std::optional<std::string>(const std::string& start, bool allowCreate)> Folder;
  std::function<std::optional<std::string>(const TFileDialogRequest& request)> File;
};
// Installs the answerer and returns the previous one.
TDialogAnswerer SetDialogAnswerer(TDialogAnswerer answerer);

// Qt's filter form ("Description (*.x);;...") of "Description|pattern|..." pairs.
std::string QtFilter(const std::string& pairs);
