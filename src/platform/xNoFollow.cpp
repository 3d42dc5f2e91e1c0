#include "xNoFollow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <system_error>

TFd::~TFd() {
  if (Fd_ >= 0) ::close(Fd_);
}

TFd& TFd::operator=(TFd&& other) noexcept {
  if (this != &other) {
    if (Fd_ >= 0) ::close(Fd_);
    Fd_ = other.Release();
  }
  return *this;
}

namespace {

// Calls `step` with each non-empty step of the path in order; false as soon as it says so.
template <typename TStep>
bool ForEachStep(const std::string& path, TStep step) {
  std::size_t at = 0;
  while (at < path.size()) {
    const std::size_t slash = path.find('/', at);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > at && !step(path.substr(at, end - at))) return false;
    at = end + 1;
  }
  return true;
}

}  // namespace

bool IsFullFilePath(const std::string& path) {
  if (path.size() < 2 || path.front() != '/' || path.back() == '/') return false;
  if (path.find('\0') != std::string::npos) return false;
  return ForEachStep(path, [](const std::string& step) { return step != "." && step != ".."; });
}

bool OpenFolderNoFollow(const std::string& path, TFd& folder, std::string& error) {
  if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos) {
    error = "not a full path";
    return false;
  }
  TFd current(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!current.IsOpen()) {
    error = std::generic_category().message(errno);
    return false;
  }
  const bool walked = ForEachStep(path, [&](const std::string& step) {
    if (step == "." || step == "..") {
      error = "not a full path";
      return false;
    }
    TFd next(::openat(current.Get(), step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next.IsOpen()) {
      const int err = errno;
      struct stat info {};
      const bool link = ::fstatat(current.Get(), step.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
      error = link ? "the folder \"" + step + "\" of its path is a symbolic link"
                   : "the folder \"" + step + "\" of its path: " + std::generic_category().message(err);
      return false;
    }
    current = std::move(next);
    return true;
  });
  if (!walked) return false;
  folder = std::move(current);
  return true;
}

namespace {

// The folder and the name of a full file path.
bool SplitFullPath(const std::string& path, std::string& folder, std::string& name, std::string& error) {
  if (!IsFullFilePath(path)) {
    error = "not a full path";
    return false;
  }
  const std::size_t slash = path.rfind('/');
  name = path.substr(slash + 1);
  folder = slash == 0 ? "/" : path.substr(0, slash);
  return true;
}

}  // namespace

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return {};
  std::string resolved = real;
  std::free(real);
  return resolved;
}

bool OpenParentNoFollow(const std::string& path, TFd& folder, std::string& name, std::string& error) {
  std::string parent;
  return SplitFullPath(path, parent, name, error) && OpenFolderNoFollow(parent, folder, error);
}

bool TFolderCache::OpenFolder(const std::string& path, int& folder, std::string& error) {
  for (auto it = Open_.begin(); it != Open_.end(); ++it)
    if (it->first == path) {
      std::rotate(it, it + 1, Open_.end());
      folder = Open_.back().second.Get();
      return true;
    }
  TFd opened;
  if (!OpenFolderNoFollow(path, opened, error)) return false;
  if (Open_.size() >= Kept) Open_.erase(Open_.begin());
  Open_.emplace_back(path, std::move(opened));
  folder = Open_.back().second.Get();
  return true;
}

bool TFolderCache::OpenParent(const std::string& path, int& folder, std::string& name, std::string& error) {
  std::string parent;
  return SplitFullPath(path, parent, name, error) && OpenFolder(parent, folder, error);
}
