// Both sides of the bounded helper process.
//
// The channel is a stream socket, the helper's stdin and stdout when it starts (it moves it out
// of the way before any library can print). Messages, in the machine's own byte order:
//   helper -> parent  'B' width height          the decoder's Begin
//                     'R' y format pixels       a wanted row: width x 3 (RGB8) or 4 (RGBA8) bytes
//                     'E' result                the decoder's result; nothing follows
//   parent -> helper  count, count x (first, last)   after each 'B' the sink took: the rows it
//                                                     wants, as ranges (a refusal ends the helper)
// The parent answers the sink's questions once, right after Begin, which is all any sink needs:
// which rows it wants depends on the size alone.

#include "xDecodeHelper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

extern char** environ;

namespace {

std::mutex LimitsLock;
TDecodeLimits Limits;

constexpr std::uint8_t BeginMessage = 'B';
constexpr std::uint8_t RowMessage = 'R';
constexpr std::uint8_t EndMessage = 'E';

// The readers run in the helper never give a side beyond GraphicsMagick's limit; a larger
// claim is a broken helper, and the row buffer must stay bounded.
constexpr int MaxSide = 1 << 20;

// How often the parent looks at the sink's Cancelled and the clock while the helper works.
constexpr int PollMilliseconds = 50;

int BytesPerPixel(TPixelFormat format) { return format == TPixelFormat::RGBA8 ? 4 : 3; }

std::string HelperPath() {
  static const std::string path = [] {
    std::string exe(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= exe.size()) return std::string();
    exe.resize(static_cast<std::size_t>(n));
    return exe.substr(0, exe.find_last_of('/') + 1) + "twinsifter-decode";
  }();
  return path;
}

// A folder of the decode's own for the temporary files of the helper and of the programs it
// starts; it goes with everything in it, whatever happened.
class TPrivateFolder {
public:
  TPrivateFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/twinsifter-decode-XXXXXX";
    if (::mkdtemp(pattern.data())) Path = pattern;
  }
  ~TPrivateFolder() {
    std::error_code ignored;
    if (!Path.empty()) std::filesystem::remove_all(Path, ignored);
  }
  TPrivateFolder(const TPrivateFolder&) = delete;
  TPrivateFolder& operator=(const TPrivateFolder&) = delete;

  std::string Path;
};

// Everything the forked child needs, made before the fork: between fork and exec it may only
// make system calls, since another thread may hold the allocator's lock.
struct TLaunch {
  std::vector<std::string> Strings;
  std::vector<char*> Argv, Envp;
  rlimit Cpu{}, Memory{}, File{}, Core{};
  bool LimitMemory = true;
  pid_t Parent = 0;

  TLaunch(const std::string& helper, const std::string& path, const std::string& extension,
          const std::string& folder, const TDecodeLimits& limits) {
    Strings = {helper, path, extension};
    for (char** entry = environ; entry && *entry; ++entry) {
      const std::string variable = *entry;
      if (!variable.starts_with("TMPDIR=") && !variable.starts_with("MAGICK_TMPDIR=")) Strings.push_back(variable);
    }
    Strings.push_back("TMPDIR=" + folder);
    Strings.push_back("MAGICK_TMPDIR=" + folder);
    for (std::size_t i = 0; i < Strings.size(); ++i) (i < 3 ? Argv : Envp).push_back(Strings[i].data());
    Argv.push_back(nullptr);
    Envp.push_back(nullptr);
    Cpu.rlim_cur = static_cast<rlim_t>(limits.CpuSeconds);
    Cpu.rlim_max = Cpu.rlim_cur + 1;  // SIGXCPU first, then SIGKILL a second later
    Memory.rlim_cur = Memory.rlim_max = static_cast<rlim_t>(limits.MemoryBytes);
    File.rlim_cur = File.rlim_max = static_cast<rlim_t>(limits.FileBytes);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer reserves terabytes of address space for its shadow.
    LimitMemory = false;
#endif
    Parent = ::getpid();
  }
};

[[noreturn]] void RunChild(const TLaunch& launch, int channel, int null) {
  ::setpgid(0, 0);
  // A program that is killed takes its helper along; it may have died before this line.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != launch.Parent) ::_exit(127);
  ::setrlimit(RLIMIT_CPU, &launch.Cpu);
  if (launch.LimitMemory) ::setrlimit(RLIMIT_AS, &launch.Memory);
  ::setrlimit(RLIMIT_FSIZE, &launch.File);
  ::setrlimit(RLIMIT_CORE, &launch.Core);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  for (int signal = 1; signal < NSIG; ++signal) ::sigaction(signal, &standard, nullptr);
  if (::dup2(channel, 0) < 0 || ::dup2(channel, 1) < 0 || ::dup2(null, 2) < 0) ::_exit(127);
  if (::syscall(SYS_close_range, 3U, ~0U, 0U) != 0)
    for (long fd = 3, last = ::sysconf(_SC_OPEN_MAX); fd < last; ++fd) ::close(static_cast<int>(fd));
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execve(launch.Argv[0], launch.Argv.data(), launch.Envp.data());
  ::_exit(127);
}

// The sink's wanted rows below `height` as (first, last) pairs.
std::vector<std::int32_t> WantedRanges(const TPictureSink& sink, int height) {
  std::vector<std::int32_t> ranges;
  const int last = std::min(sink.LastWantedRow(), height - 1);
  for (int y = sink.NextWantedRow(0); y >= 0 && y <= last;) {
    int end = y;
    while (end < last && sink.WantsRow(end + 1)) ++end;
    ranges.push_back(y);
    ranges.push_back(end);
    if (end >= last) break;
    y = sink.NextWantedRow(end + 1);
  }
  return ranges;
}

// One helper process, from its start to its end; the destructor kills its process group (the
// helper and whatever it started) and reaps it.
class THelper {
public:
  THelper(const TDecodeLimits& limits, TPictureSink& sink)
      : Sink(sink), Deadline(TClock::now() + std::chrono::milliseconds(limits.WallMilliseconds)), Limits_(limits) {}
  ~THelper() {
    if (Pid > 0) {
      // Before the reaping: until then the group's number cannot be reused.
      ::kill(-Pid, SIGKILL);
      ::kill(Pid, SIGKILL);
      while (::waitpid(Pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    if (Channel >= 0) ::close(Channel);
  }
  THelper(const THelper&) = delete;
  THelper& operator=(const THelper&) = delete;

  bool Start(const std::string& helper, const std::string& path, const std::string& extension,
             const std::string& folder) {
    const TLaunch launch(helper, path, extension, folder, Limits_);
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    Channel = ends[0];
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0) {
      ::close(ends[1]);
      return false;
    }
    // No handler of ours may run in the child before exec.
    sigset_t all, previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    Pid = ::fork();
    if (Pid == 0) RunChild(launch, ends[1], null);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(ends[1]);
    ::close(null);
    if (Pid < 0) return false;
    ::setpgid(Pid, Pid);  // also here, so that the group exists whoever runs first
    return ::fcntl(Channel, F_SETFL, O_NONBLOCK) == 0;
  }

  TDecodeResult Run() {
    int width = 0, height = 0;
    std::vector<std::uint8_t> row;
    for (;;) {
      std::uint8_t kind = 0;
      if (Over() || !Read(&kind, 1)) return TDecodeResult::Failed;
      if (kind == BeginMessage) {
        std::int32_t size[2];
        if (!Read(size, sizeof size) || size[0] < 1 || size[1] < 1 || size[0] > MaxSide || size[1] > MaxSide)
          return TDecodeResult::Failed;
        width = size[0];
        height = size[1];
        if (!Sink.Begin(width, height)) return TDecodeResult::Failed;
        const std::vector<std::int32_t> ranges = WantedRanges(Sink, height);
        const auto count = static_cast<std::uint32_t>(ranges.size() / 2);
        if (!Write(&count, sizeof count) || !Write(ranges.data(), ranges.size() * sizeof ranges[0]))
          return TDecodeResult::Failed;
        row.resize(static_cast<std::size_t>(width) * 4);
      } else if (kind == RowMessage) {
        std::int32_t y = 0;
        std::uint8_t format = 0;
        if (!Read(&y, sizeof y) || !Read(&format, 1) || width == 0 || y < 0 || y >= height || format > 1 ||
            !Sink.WantsRow(y))
          return TDecodeResult::Failed;
        const auto pixelFormat = static_cast<TPixelFormat>(format);
        if (!Read(row.data(), static_cast<std::size_t>(width) * BytesPerPixel(pixelFormat)))
          return TDecodeResult::Failed;
        Sink.PutRow(y, row.data(), pixelFormat);
      } else if (kind == EndMessage) {
        std::uint8_t result = 0;
        if (!Read(&result, 1) || result > static_cast<std::uint8_t>(TDecodeResult::Empty)) return TDecodeResult::Failed;
        // The helper is done: let it end on its own rather than in the middle of its exit.
        Deadline = std::min(Deadline, TClock::now() + std::chrono::seconds(1));
        std::uint8_t more;
        while (Read(&more, 1)) {
        }
        return static_cast<TDecodeResult>(result);
      } else {
        return TDecodeResult::Failed;
      }
    }
  }

private:
  using TClock = std::chrono::steady_clock;

  bool Over() const { return Sink.Cancelled() || TClock::now() >= Deadline; }

  // Waits until the channel is ready for `events`; false once the search is stopped or the
  // time is up.
  bool Wait(short events) const {
    for (;;) {
      if (Over()) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
      pollfd ready{Channel, events, 0};
      const int n = ::poll(&ready, 1, static_cast<int>(std::clamp<long long>(left, 1, PollMilliseconds)));
      if (n > 0) return true;  // readable, writable or hung up: the next call tells which
      if (n < 0 && errno != EINTR) return false;
    }
  }

  bool Read(void* data, std::size_t size) const {
    return Transfer(static_cast<std::uint8_t*>(data), size, POLLIN,
                    [this](std::uint8_t* at, std::size_t left) { return ::read(Channel, at, left); });
  }

  bool Write(const void* data, std::size_t size) const {
    // The bytes are only read: send takes them as const.
    return Transfer(static_cast<std::uint8_t*>(const_cast<void*>(data)), size, POLLOUT,
                    [this](std::uint8_t* at, std::size_t left) { return ::send(Channel, at, left, MSG_NOSIGNAL); });
  }

  // Moves `size` bytes with `move` (a read or a send on the non-blocking channel), waiting for
  // the channel whenever it is not ready.
  template <typename TMove>
  bool Transfer(std::uint8_t* at, std::size_t size, short events, TMove move) const {
    while (size > 0) {
      const ssize_t moved = move(at, size);
      if (moved > 0) {
        at += moved;
        size -= static_cast<std::size_t>(moved);
      } else if (moved == 0 || (errno != EINTR && errno != EAGAIN) || (errno == EAGAIN && !Wait(events))) {
        return false;
      }
    }
    return true;
  }

  TPictureSink& Sink;
  TClock::time_point Deadline;
  const TDecodeLimits Limits_;
  pid_t Pid = -1;
  int Channel = -1;
};

// The helper's sink: it hands every call that matters over to the parent. The helper ends at
// once when the parent is gone or answers nonsense.
class TRemoteSink final : public TPictureSink {
public:
  explicit TRemoteSink(int channel) : Channel(channel) {}

  bool Begin(int width, int height) override {
    Width = width;
    Height = height;
    Ranges.clear();
    std::vector<std::uint8_t> message{BeginMessage};
    Append(message, static_cast<std::int32_t>(width));
    Append(message, static_cast<std::int32_t>(height));
    Send(message);
    std::uint32_t count = 0;
    Receive(&count, sizeof count);
    if (count > static_cast<std::uint32_t>(height)) ::_exit(1);
    Ranges.resize(count);
    Receive(Ranges.data(), Ranges.size() * sizeof Ranges[0]);
    int previous = -1;
    for (const auto& [first, last] : Ranges) {
      if (first <= previous || last < first || last >= height) ::_exit(1);
      previous = last;
    }
    return true;
  }

  bool WantsRow(int y) const override {
    const auto range = Covering(y);
    return range != Ranges.end() && range->first <= y;
  }
  int LastWantedRow() const override { return Ranges.empty() ? -1 : Ranges.back().second; }
  int NextWantedRow(int y) const override {
    const auto range = Covering(y);
    return range == Ranges.end() ? -1 : std::max(y, range->first);
  }

  void PutRow(int y, const std::uint8_t* pixels, TPixelFormat format) override {
    if (!WantsRow(y)) return;
    std::vector<std::uint8_t>& message = Buffer;
    message.assign(1, RowMessage);
    Append(message, static_cast<std::int32_t>(y));
    message.push_back(format == TPixelFormat::RGBA8 ? 1 : 0);
    message.insert(message.end(), pixels, pixels + static_cast<std::size_t>(Width) * BytesPerPixel(format));
    Send(message);
  }

  void End(TDecodeResult result) {
    Send({EndMessage, static_cast<std::uint8_t>(result)});
  }

private:
  using TRange = std::pair<std::int32_t, std::int32_t>;

  // The first range that ends at or after y.
  std::vector<TRange>::const_iterator Covering(int y) const {
    return std::lower_bound(Ranges.begin(), Ranges.end(), y,
                            [](const TRange& range, int row) { return range.second < row; });
  }

  static void Append(std::vector<std::uint8_t>& message, std::int32_t value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    message.insert(message.end(), bytes, bytes + sizeof value);
  }

  void Send(const std::vector<std::uint8_t>& message) const {
    for (std::size_t at = 0; at < message.size();) {
      const ssize_t sent = ::send(Channel, message.data() + at, message.size() - at, MSG_NOSIGNAL);
      if (sent > 0) at += static_cast<std::size_t>(sent);
      else if (sent < 0 && errno == EINTR) continue;
      else ::_exit(1);
    }
  }

  void Receive(void* data, std::size_t size) const {
    auto* at = static_cast<std::uint8_t*>(data);
    while (size > 0) {
      const ssize_t got = ::read(Channel, at, size);
      if (got > 0) {
        at += got;
        size -= static_cast<std::size_t>(got);
      } else if (got == 0 || errno != EINTR) {
        ::_exit(1);
      }
    }
  }

  int Channel;
  int Width = 0, Height = 0;
  std::vector<TRange> Ranges;
  std::vector<std::uint8_t> Buffer;
};

}  // namespace

TDecodeLimits HelperLimits() {
  std::lock_guard<std::mutex> lock(LimitsLock);
  return Limits;
}

void SetHelperLimits(const TDecodeLimits& limits) {
  std::lock_guard<std::mutex> lock(LimitsLock);
  Limits = limits;
}

TDecodeResult DecodeInHelper(const std::string& path, const std::string& extension, TPictureSink& sink) {
  const std::string helper = HelperPath();
  if (helper.empty() || ::access(helper.c_str(), X_OK) != 0) return TDecodeResult::Failed;
  const TPrivateFolder folder;
  if (folder.Path.empty()) return TDecodeResult::Failed;
  // Declared after the folder: the helper is dead and reaped before the folder goes.
  THelper child(HelperLimits(), sink);
  if (!child.Start(helper, path, extension, folder.Path)) return TDecodeResult::Failed;
  return child.Run();
}

int ServeDecode(int channel, const std::string& path, const std::string& extension) {
  TRemoteSink sink(channel);
  sink.End(DecodeInProcess(path, extension, sink));
  return 0;
}
