#pragma once
// The tip of the day: one short hint at a time from the tips file shipped with the program. The
// tip appears half a second after the dialog opens; Next steps through the tips in file order.

#include <string>
#include <vector>

#include <QDialog>
#include <QTimer>

class QCheckBox;
class QLabel;
class QPushButton;
class TStorage;

class TTipsForm : public QDialog {
  Q_OBJECT

public:
  // Reads "TIPS" and the tips file `tipsFile` (a missing file is reported once, in a box).
  TTipsForm(TStorage& storage, const std::string& tipsFile, QWidget* parent = nullptr);
  // Writes "TIPS" with the check box's state.
  ~TTipsForm() override;

  void ShowTip(bool shown);
  bool ShowAtStartup() const;
  // Releasing Next: the following tip, back to the first after the last.
  void NextTip();

  std::vector<std::string> TipList;
  int TipIndex = -1;
  bool TipShown = false;
  QTimer Timer;

  QCheckBox* chkShowTips = nullptr;
  QPushButton* sButton1 = nullptr;  // Next
  QPushButton* sButton2 = nullptr;  // Close
  QLabel* txtHeader = nullptr;
  QLabel* txtInfo = nullptr;

protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void TimerTimer();
  void UpdatePanel();

  TStorage& Store;
  QLabel* Bulb = nullptr;
};

// The tips file: every line one tip, taken as it is (CR LF, LF or CR end a line).
std::vector<std::string> ReadTipLines(const std::string& text);
