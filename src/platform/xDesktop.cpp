// The file manager and the default application. Programs are started detached (a grandchild
// that init reaps), with the priority and signal state of a fresh process, so that a search at
// real-time or idle priority does not hand it on to the file manager.

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include <QtCore/QStringList>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>

#include "xPlatform.h"

extern char** environ;

namespace {

// Long enough for a file manager to be started by the bus, short enough not to hang the program.
constexpr int ShowItemsTimeoutMs = 10000;

std::string Reason(int err) { return std::generic_category().message(err); }

// The program's full path by PATH, looked up before forking: after fork only async-signal-safe
// calls are allowed.
std::string FindProgram(const std::string& name) {
  const char* env = std::getenv("PATH");
  const std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string folder = path.substr(start, end - start);
    start = end + 1;
    if (folder.empty() || folder[0] != '/') continue;  // never the current folder
    const std::string candidate = folder + "/" + name;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

// In the grandchild, before exec: default signal handling, nothing blocked, normal priority
// where the system allows it, no descriptors of ours inherited.
void ResetForExec() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &action, nullptr);
  const sched_param normal {};
  if ((sched_getscheduler(0) & ~SCHED_RESET_ON_FORK) != SCHED_OTHER) sched_setscheduler(0, SCHED_OTHER, &normal);
  errno = 0;
  if (getpriority(PRIO_PROCESS, 0) < 0 && errno == 0) setpriority(PRIO_PROCESS, 0, 0);
  close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
}

bool StartDetached(const std::string& name, const std::vector<std::string>& arguments, std::string& error) {
  const std::string program = FindProgram(name);
  if (program.empty()) {
    error = "\"" + name + "\" is not found on the PATH";
    return false;
  }
  std::vector<std::string> texts{program};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  // The grandchild reports a failed exec through the pipe; a successful one closes it.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    error = Reason(errno);
    return false;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    error = Reason(errno);
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (child == 0) {
    ::close(report[0]);
    const pid_t grandchild = ::fork();
    if (grandchild != 0) {
      if (grandchild < 0) {
        const int err = errno;
        [[maybe_unused]] const ssize_t ignored = ::write(report[1], &err, sizeof err);
      }
      ::_exit(0);
    }
    ::setsid();
    ResetForExec();
    ::execve(program.c_str(), argv.data(), environ);
    const int err = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(report[1], &err, sizeof err);
    ::_exit(127);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int childError = 0;
  ssize_t got = 0;
  do {
    got = ::read(report[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof childError)) {
    error = "cannot start \"" + program + "\": " + Reason(childError);
    return false;
  }
  return true;
}

// A connection of our own rather than the shared default one: a bus that was missing at the
// first attempt is tried again next time, and the environment of the moment decides.
bool ShowItemsOverBus(const std::string& path) {
  const QString name = QStringLiteral("twinsifter-platform");
  QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
  if (!bus.isConnected()) {
    QDBusConnection::disconnectFromBus(name);
    return false;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{QString::fromLatin1(FileUri(path))} << QString();
  const QDBusMessage reply = bus.call(call, QDBus::Block, ShowItemsTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace

bool OpenWithDefaultApplication(const std::string& path, std::string& error) {
  error.clear();
  return StartDetached("xdg-open", {path}, error);
}

bool ShowInFileManager(const std::string& path, std::string& error) {
  error.clear();
  if (ShowItemsOverBus(path)) return true;
  const auto slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  return OpenWithDefaultApplication(folder, error);
}
