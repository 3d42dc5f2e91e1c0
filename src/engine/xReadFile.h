#pragma once
// Reading files for the content comparison.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "xDigests.h"
#include "xRecords.h"

// A file open for reading. Opening refuses anything that is not a regular file, so a name
// that became a pipe or a device since the scan can never block the search.
class TReadFile {
public:
  explicit TReadFile(const std::string& path) {
    Fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    if (Fd >= 0 && (::fstat(Fd, &info) != 0 || !S_ISREG(info.st_mode))) {
      ::close(Fd);
      Fd = -1;
    }
    Size_ = Fd >= 0 ? info.st_size : 0;
    if (Fd >= 0) ::posix_fadvise(Fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }
  ~TReadFile() {
    if (Fd >= 0) ::close(Fd);
  }
  TReadFile(const TReadFile&) = delete;
  TReadFile& operator=(const TReadFile&) = delete;

  bool IsOpen() const { return Fd >= 0; }
  std::int64_t Size() const { return Size_; }
  // Reads up to `size` bytes from the current position, as many as there are; -1 on an error.
  std::int64_t Read(std::uint8_t* buffer, std::size_t size) { return ReadAt(buffer, size, -1); }
  // The same from `offset` (the position is left alone); offset -1 reads from the position.
  std::int64_t ReadAt(std::uint8_t* buffer, std::size_t size, std::int64_t offset) {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = offset < 0 ? ::read(Fd, buffer + done, size - done)
                                     : ::pread(Fd, buffer + done, size - done, static_cast<off_t>(offset) +
                                                                                   static_cast<off_t>(done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return -1;
      if (got == 0) break;
      done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
  }

private:
  int Fd = -1;
  std::int64_t Size_ = 0;
};

// The digest of a whole file, from position 0 to its size when opened; the buffer is the
// caller's, so that threads can digest side by side.
inline TReadOutcome DigestWholeFile(const std::string& path, TDigestAlgorithm& algorithm,
                                    std::vector<std::uint8_t>& buffer, TDigest& digest) {
  TReadFile file(path);
  if (!file.IsOpen()) return TReadOutcome::OpenFailed;
  algorithm.Reset();
  for (std::int64_t left = file.Size(); left > 0;) {
    const auto length = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()), left));
    // A read error, or the file shrank while it was read.
    if (file.Read(buffer.data(), length) != static_cast<std::int64_t>(length)) {
      algorithm.Reset();
      return TReadOutcome::ReadFailed;
    }
    algorithm.Update(buffer.data(), length);
    left -= static_cast<std::int64_t>(length);
  }
  digest = algorithm.Finish();
  return TReadOutcome::Ok;
}
