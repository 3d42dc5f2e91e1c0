#include "uHelp.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QUrl>

#include "uDialogs.h"
#include "uIcons.h"
#include "xStorage.h"

THelpWindow::THelpWindow(QWidget* parent) : QMainWindow(parent, Qt::Window), Help(ExeFolder()) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Help"));
  setWindowIcon(Icon(TIcon::Help));

  sBrowser = new QTextBrowser(this);
  sBrowser->setObjectName(QStringLiteral("sBrowser"));
  sBrowser->setOpenLinks(false);
  sBrowser->setOpenExternalLinks(false);
  setCentralWidget(sBrowser);

  const auto make = [this](const char* caption, const char* hint, const QIcon& icon, const QKeySequence& key) {
    auto* action = new QAction(icon, QString::fromUtf8(caption), this);
    action->setToolTip(QString::fromUtf8(hint));
    action->setShortcut(key);
    addAction(action);
    return action;
  };
  actBack = make("&Back", " Previous topic ", style()->standardIcon(QStyle::SP_ArrowBack), QKeySequence::Back);
  actForward =
      make("&Forward", " Next topic ", style()->standardIcon(QStyle::SP_ArrowForward), QKeySequence::Forward);
  actContents = make("&Contents", " Help contents ", Icon(TIcon::Help), QKeySequence(Qt::ALT | Qt::Key_Home));
  actClose = make("Close", " Close the help ", QIcon(), QKeySequence(Qt::Key_Escape));
  actBack->setEnabled(false);
  actForward->setEnabled(false);

  QToolBar* bar = addToolBar(QStringLiteral("Help"));
  bar->setObjectName(QStringLiteral("sToolBar"));
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setIconSize(QSize(16, 16));
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  bar->toggleViewAction()->setVisible(false);
  bar->addActions({actBack, actForward, actContents});

  connect(actBack, &QAction::triggered, sBrowser, &QTextBrowser::backward);
  connect(actForward, &QAction::triggered, sBrowser, &QTextBrowser::forward);
  connect(actContents, &QAction::triggered, this, [this] {
    if (!ShowTopic("")) MessageBox(this, LastError, TBoxKind::Warning);
  });
  connect(actClose, &QAction::triggered, this, &QWidget::close);
  connect(sBrowser, &QTextBrowser::backwardAvailable, actBack, &QAction::setEnabled);
  connect(sBrowser, &QTextBrowser::forwardAvailable, actForward, &QAction::setEnabled);
  connect(sBrowser, &QTextBrowser::anchorClicked, this, &THelpWindow::LinkClicked);
  connect(sBrowser, &QTextBrowser::sourceChanged, this, &THelpWindow::UpdateCaption);

  resize(760, 600);
}

bool THelpWindow::HasTopic(const std::string& topic) {
  std::string path, anchor;
  const bool found = Help.TopicFile(topic, path, anchor);
  LastError = Help.LastError;
  return found;
}

bool THelpWindow::ShowTopic(const std::string& topic) {
  std::string path, anchor;
  if (!Help.TopicFile(topic, path, anchor)) {
    LastError = Help.LastError;
    return false;
  }
  LastError.clear();
  QUrl url = QUrl::fromLocalFile(QString::fromStdString(path));
  if (!anchor.empty()) url.setFragment(QString::fromStdString(anchor));
  // The same place again only scrolls back to it; loading it would add it to the history once more.
  if (sBrowser->source() != url) sBrowser->setSource(url, QTextDocument::HtmlResource);
  else if (!anchor.empty()) sBrowser->scrollToAnchor(url.fragment());
  UpdateCaption();
  if (!Placed) {
    Placed = true;
    if (QScreen* screen = QGuiApplication::primaryScreen())
      move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
  if (isMinimized()) showNormal();
  else show();
  raise();
  activateWindow();
  return true;
}

void THelpWindow::LinkClicked(const QUrl& link) {
  const QUrl target = sBrowser->source().resolved(link);
  if (!target.isLocalFile()) return;  // the topics link only to each other
  const QFileInfo file(target.toLocalFile());
  // A link out of the help folder leads to no topic, even where a file of that name is there.
  const QString folder = QDir::cleanPath(QString::fromStdString(Help.Folder()));
  if (Help.Folder().empty() || QDir::cleanPath(file.absolutePath()) != folder) {
    LastError = "Help file \"" + file.absoluteFilePath().toStdString() + "\" is not found!";
    MessageBox(this, LastError, TBoxKind::Warning);
    return;
  }
  std::string topic = file.fileName().toStdString();
  if (target.hasFragment()) topic.append(1, '#').append(target.fragment().toStdString());
  if (!ShowTopic(topic)) MessageBox(this, LastError, TBoxKind::Warning);
}

void THelpWindow::UpdateCaption() {
  sBrowser->document()->setDocumentMargin(12);  // the text keeps off the frame
  const QString title = sBrowser->documentTitle().trimmed();
  setWindowTitle(title.isEmpty() ? QStringLiteral("Help") : title);
}

namespace {

QPointer<THelpWindow>& Window() {
  static QPointer<THelpWindow> window;
  return window;
}

}  // namespace

THelpWindow* HelpWindow() { return Window().data(); }

void OpenHelp(QWidget* parent, const std::string& topic) {
  THelpWindow* help = Window().data();
  if (!help) {
    help = new THelpWindow();
    Window() = help;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, help, &QObject::deleteLater);
  }
  // Checked before anything moves, so that a missing topic leaves the window as it was.
  if (!help->HasTopic(topic)) {
    MessageBox(parent, help->LastError, TBoxKind::Warning);
    return;
  }
  // A modal dialog (the settings) blocks every window but its own: the help then belongs to it.
  QWidget* modal = QApplication::activeModalWidget();
  if (help->parentWidget() != modal) help->setParent(modal, Qt::Window);
  if (!help->ShowTopic(topic)) MessageBox(parent, help->LastError, TBoxKind::Warning);
}
