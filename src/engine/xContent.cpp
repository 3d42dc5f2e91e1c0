// Content comparison: byte by byte, or by a digest computed once per record.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "xAssert.h"
#include "xEngine.h"
#include "xLog.h"

namespace {

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
  // Reads up to `size` bytes, as many as there are; -1 on a read error.
  std::int64_t Read(std::uint8_t* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t got = ::read(Fd, buffer + done, size - done);
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

}  // namespace

bool TEngine::ContentEqual(TFileData& a, TFileData& b) {
  if (a.Size != b.Size) return false;
  if (a.Size > DigestSizeLimit && Options.FileComp != fcBytes) return false;
  if (Options.FileComp == fcBytes) return CompareBytes(a, b);
  if (Options.FileComp > fcSha) return false;
  if (!a.HasDigest()) ComputeDigest(a);
  if (!b.HasDigest()) ComputeDigest(b);
  if (a.Failed || b.Failed) return false;
  return a.Digest == b.Digest;
}

bool TEngine::CompareBytes(TFileData& a, TFileData& b) {
  TReadFile fileA(a.FileName);
  TReadFile fileB(b.FileName);
  // A file that cannot be read takes no further part, as with the digest methods.
  for (auto [file, record] : {std::pair{&fileA, &a}, std::pair{&fileB, &b}}) {
    if (!file->IsOpen()) {
      record->Failed = true;
      LogWarning("Failed to open \"" + record->FileName + "\"");
    }
  }
  if (!fileA.IsOpen() || !fileB.IsOpen()) return false;
  if (fileA.Size() != fileB.Size()) return false;
  const std::int64_t size = fileA.Size();
  for (std::int64_t pos = 0; pos < size;) {
    const auto length = static_cast<std::size_t>(std::min<std::int64_t>(CompareBufferSize, size - pos));
    const std::int64_t gotA = fileA.Read(BufferA.data(), length);
    const std::int64_t gotB = fileB.Read(BufferB.data(), length);
    if (gotA != static_cast<std::int64_t>(length) || gotB != static_cast<std::int64_t>(length)) {
      LastError = "File reading error";
      Stop();
      return false;
    }
    if (std::memcmp(BufferA.data(), BufferB.data(), length) != 0) return false;
    PumpEvents();
    pos += static_cast<std::int64_t>(length);
    if (Stopped) return false;
  }
  return true;
}

void TEngine::ComputeDigest(TFileData& record) {
  TReadFile file(record.FileName);
  if (!file.IsOpen()) {
    record.Failed = true;
    LogWarning("Failed to open \"" + record.FileName + "\"");
    return;
  }
  // Larger blocks than the algorithm's own: the digest is the same, the reads fewer.
  Digest->Reset();
  std::int64_t left = file.Size();
  while (left > 0) {
    const auto length = static_cast<std::size_t>(std::min<std::int64_t>(CompareBufferSize, left));
    const std::int64_t got = file.Read(BufferA.data(), length);
    if (got != static_cast<std::int64_t>(length)) {
      // A read error, or the file shrank while it was read.
      record.Failed = true;
      LogWarning("Failed to read \"" + record.FileName + "\"");
      Digest->Reset();
      return;
    }
    Digest->Update(BufferA.data(), length);
    left -= got;
  }
  record.Digest = Digest->Finish();
}

void TEngine::SetFileComp(int method) {
  if (method == Options.FileComp) return;
  TS_ASSERT(method >= fcBytes && method <= fcSha);
  NeedRescan = true;
  Options.FileComp = static_cast<std::uint8_t>(method);
  if (method != fcBytes) Digest = MakeDigestAlgorithm(method);
}
