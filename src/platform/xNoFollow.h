#pragma once
// Paths reached from the root one folder at a time, never through a symbolic link. A file that
// is to be removed is acted on through the folder opened this way (unlinkat, renameat), so a
// folder that was swapped for a link after the search is refused instead of followed into
// whatever the link points at.

#include <string>
#include <utility>
#include <vector>

// An open descriptor, closed with the object.
class TFd {
public:
  TFd() = default;
  explicit TFd(int fd) : Fd_(fd) {}
  ~TFd();
  TFd(TFd&& other) noexcept : Fd_(other.Release()) {}
  TFd& operator=(TFd&& other) noexcept;
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;

  int Get() const { return Fd_; }
  bool IsOpen() const { return Fd_ >= 0; }
  int Release() {
    const int fd = Fd_;
    Fd_ = -1;
    return fd;
  }

private:
  int Fd_ = -1;
};

// The path with every link resolved (realpath); empty when it cannot be resolved.
std::string RealPath(const std::string& path);

// A full path the search can have produced: absolute, no NUL byte, no "." or ".." step, and a
// name after the last '/'. Empty steps ("//") are tolerated and skipped.
bool IsFullFilePath(const std::string& path);

// Opens the folder at `path` (absolute), every step of it opened with O_NOFOLLOW from "/".
// False with the reason in a few words when a step is a link, missing or not a folder.
bool OpenFolderNoFollow(const std::string& path, TFd& folder, std::string& error);

// Opens the folder that holds the file at `path` (IsFullFilePath), as OpenFolderNoFollow does,
// and gives the file's name in it.
bool OpenParentNoFollow(const std::string& path, TFd& folder, std::string& name, std::string& error);

// Folders opened as OpenFolderNoFollow opens them, the last few kept open, so that a batch of
// removals walks each folder once rather than once a file. A descriptor refers to the folder that
// was at its path when it was walked, whatever is put at that path later, so keeping it open
// never lets a later link in. The descriptors it gives stay the cache's, valid until the cache
// opens a few more folders.
class TFolderCache {
public:
  bool OpenFolder(const std::string& path, int& folder, std::string& error);
  // The folder holding the file at `path` (IsFullFilePath) and the file's name in it.
  bool OpenParent(const std::string& path, int& folder, std::string& name, std::string& error);

private:
  static constexpr std::size_t Kept = 8;
  std::vector<std::pair<std::string, TFd>> Open_;  // the most recently used last
};
