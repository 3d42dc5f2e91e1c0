#pragma once
// The about box: the version, who makes the program and where to get help, the system and the
// memory in use (refreshed at every showing).

#include <functional>
#include <string>

#include <QDialog>
#include <QLabel>

class TStorage;

// The address support mail goes to: section "SUPPORT", key "Mail" of the settings file, which a
// distributor sets; the program never writes it. Until then a placeholder that reaches nobody.
inline constexpr const char* PlaceholderSupportAddress = "support@example.org";
std::string SupportAddress(TStorage& storage);

// A text that acts as a link: hand cursor, underlined while the mouse is over it.
class TLinkLabel : public QLabel {
  Q_OBJECT

public:
  TLinkLabel(const QString& text, const QString& hint, QWidget* parent);
  std::function<void()> OnClick;

protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
};

class TAboutForm : public QDialog {
  Q_OBJECT

public:
  explicit TAboutForm(TStorage& storage, QWidget* parent = nullptr);

  // Where the links lead; tests put recorders here. The mail link goes to OnOpenLink.
  std::function<void()> OnInformation;
  std::function<void(const std::string& link)> OnOpenLink;

  QLabel* sVersion = nullptr;
  QLabel* sSystem = nullptr;
  QLabel* sMemory = nullptr;
  TLinkLabel* sInfoLink = nullptr;
  TLinkLabel* sMailLink = nullptr;
  std::string Support;

protected:
  void showEvent(QShowEvent* event) override;

private:
  TStorage& Store;
};
