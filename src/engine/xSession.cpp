// Session files: the groups of a search, saved and loaded. Little-endian fields without padding:
// magic, group count, then per group its member count and, for two members or more, each
// member's time, size, path and picture flag (with width and height for pictures).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ext/stdio_filebuf.h>
#include <istream>
#include <ostream>
#include <random>
#include <set>

#include "xEngine.h"
#include "xNoFollow.h"
#include "xStorage.h"

namespace {

constexpr std::uint32_t SessionMagic = 0x01006066;

template <typename T>
bool WriteLittle(std::ostream& stream, T value) {
  const auto bits = static_cast<std::make_unsigned_t<T>>(value);
  char bytes[sizeof(T)];
  for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<char>(bits >> (8 * i) & 0xFF);
  return static_cast<bool>(stream.write(bytes, sizeof(T)));
}

template <typename T>
bool ReadLittle(std::istream& stream, T& value) {
  unsigned char bytes[sizeof(T)];
  if (!stream.read(reinterpret_cast<char*>(bytes), sizeof(T))) return false;
  std::make_unsigned_t<T> bits = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<std::make_unsigned_t<T>>(bytes[i]) << (8 * i);
  value = static_cast<T>(bits);
  return true;
}

std::string Reason() { return std::strerror(errno); }

// Where a session is written. A new file or a plain file of its own is written beside its place
// and renamed over it once complete, so that a failed save leaves the previous session whole.
// Anything else (a link, a device, a file with more names than one) is written in place.
class TSessionTarget {
public:
  explicit TSessionTarget(std::string fileName) : FileName(std::move(fileName)) {}
  ~TSessionTarget() {
    if (Fd >= 0) ::close(Fd);
    if (!TempName.empty()) ::unlink(TempName.c_str());
  }
  TSessionTarget(const TSessionTarget&) = delete;
  TSessionTarget& operator=(const TSessionTarget&) = delete;

  bool Open(std::string& error) {
    struct stat info {};
    const bool exists = ::lstat(FileName.c_str(), &info) == 0;
    if (!exists || (S_ISREG(info.st_mode) && info.st_nlink == 1)) OpenTemporary(exists ? &info : nullptr);
    if (Fd < 0) {
      // O_NONBLOCK: a pipe without a reader is a failure, not a wait for ever.
      Fd = ::open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
      if (Fd >= 0) ::fcntl(Fd, F_SETFL, ::fcntl(Fd, F_GETFL) & ~O_NONBLOCK);
    }
    if (Fd < 0) {
      error = "Failed to create \"" + FileName + "\": " + Reason();
      return false;
    }
    return true;
  }

  int Handle() const { return Fd; }

  // Makes the complete file the session; false with the reason when that fails.
  bool Commit(std::string& error) {
    if (!TempName.empty() && ::fsync(Fd) != 0) {
      error = "Failed to create \"" + FileName + "\": " + Reason();
      return false;
    }
    const int fd = Fd;
    Fd = -1;
    if (::close(fd) != 0) {
      error = "Failed to create \"" + FileName + "\": " + Reason();
      return false;
    }
    if (TempName.empty()) return true;
    if (::rename(TempName.c_str(), FileName.c_str()) != 0) {
      error = "Failed to create \"" + FileName + "\": " + Reason();
      return false;
    }
    TempName.clear();
    return true;
  }

private:
  void OpenTemporary(const struct stat* existing) {
    const auto slash = FileName.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : FileName.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? FileName : FileName.substr(slash + 1);
    std::random_device random;
    for (int attempt = 0; attempt < 16 && Fd < 0; ++attempt) {
      // Hidden, so that a leftover of a crash is never scanned as a file of the user's.
      const std::string name = folder + "." + base + "." + std::to_string(random() % 1000000) + ".tmp";
      Fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (Fd >= 0) TempName = name;
      else if (errno != EEXIST) return;  // a folder we may not write to: write in place
    }
    if (Fd >= 0 && existing) {
      // The replacement keeps the owner and access of the file it replaces (the owner only
      // for root; anyone else saves a file of their own, as writing in place would keep it).
      const int owned = ::fchown(Fd, existing->st_uid, existing->st_gid);
      const int moded = ::fchmod(Fd, existing->st_mode & 07777);
      (void)owned;
      (void)moded;
    }
  }

  std::string FileName;
  std::string TempName;
  int Fd = -1;
};

}  // namespace

bool TEngine::SaveSession(const std::string& fileName) {
  if (IsRunning()) {
    LastError = "A search is running";
    return false;
  }
  TSessionTarget target(fileName);
  if (!target.Open(LastError)) return false;
  // The stream writes through a second handle, which it closes; the target keeps its own to
  // make the file durable before it takes the session's name.
  const int handle = ::fcntl(target.Handle(), F_DUPFD_CLOEXEC, 0);
  if (handle < 0) {
    LastError = "Failed to create \"" + fileName + "\": " + Reason();
    return false;
  }
  bool saved = false;
  {
    __gnu_cxx::stdio_filebuf<char> buffer(handle, std::ios::out | std::ios::binary, 65536);
    std::ostream stream(&buffer);
    // Flushed at once, so that a file that takes nothing is told apart from one cut short later.
    if (!WriteLittle(stream, SessionMagic) || !stream.flush())
      LastError = "File writing error";
    else
      saved = SaveGroups(stream);
    if (!buffer.close() && saved) {
      LastError = "Stream writing error";
      saved = false;
    }
  }
  return saved && target.Commit(LastError);
}

bool TEngine::SaveGroups(std::ostream& stream) {
  LastError = "Stream writing error";
  SetProgress(0);
  SetStatus("Saving groups ...");
  const int groups = GroupCount();
  if (!WriteLittle<std::int32_t>(stream, groups)) return false;
  for (int g = 0; g < groups; ++g) {
    if (groups > 1) SetProgress(static_cast<double>(g) / (groups - 1));
    const TGroup& group = *Groups(g);
    const int members = group.Count();
    if (!WriteLittle<std::int32_t>(stream, members)) return false;
    if (members < 2) continue;
    for (int i = 0; i < members; ++i) {
      const TFileData& record = *group.Items(i);
      const auto* picture = record.Kind() == TRecordKind::Picture ? static_cast<const TPicData*>(&record) : nullptr;
      if (!WriteLittle<std::uint32_t>(stream, record.Time) || !WriteLittle<std::int64_t>(stream, record.Size) ||
          !WriteStreamString(stream, record.FileName) ||
          !WriteLittle<std::uint8_t>(stream, picture ? 1 : 0))
        return false;
      if (picture && (!WriteLittle<std::int32_t>(stream, picture->Width) ||
                      !WriteLittle<std::int32_t>(stream, picture->Height)))
        return false;
    }
  }
  // What the stream still buffers must reach the file before the save counts as done.
  if (!stream.flush()) return false;
  SetStatus("Session saved");
  LastError.clear();
  return true;
}

bool TEngine::LoadSession(const std::string& fileName) {
  LastError.clear();
  if (IsRunning()) {
    LastError = "A search is running";
    return false;
  }
  // O_NONBLOCK: a pipe without a writer reads as empty instead of waiting for ever.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    LastError = "Failed to open \"" + fileName + "\": " + (fd < 0 ? Reason() : std::strerror(EISDIR));
    if (fd >= 0) ::close(fd);
    return false;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  __gnu_cxx::stdio_filebuf<char> buffer(fd, std::ios::in | std::ios::binary, 65536);  // closes fd
  std::istream stream(&buffer);
  std::uint32_t magic = 0;
  if (!ReadLittle(stream, magic)) {
    LastError = "Failed to read from file";
    return false;
  }
  if (magic != SessionMagic) {
    LastError = "Wrong file format";
    return false;
  }
  return LoadGroups(stream);
}

bool TEngine::LoadGroups(std::istream& stream) {
  // The filters of the options as they are now, not as the last search compiled them.
  if (!CompileMasks()) return false;
  LastError = "Stream reading error";
  ClearRecords();
  NeedRescan = true;
  SetProgress(0);
  SetStatus("Loading groups ...");
  std::int32_t groups = 0;
  // No count is trusted for memory: groups and members are made only as their bytes arrive,
  // and ReadStreamString grows a path with the bytes that actually come. Saved counts are
  // never negative, so a negative one means a damaged file.
  if (!ReadLittle(stream, groups) || groups < 0) return false;
  // One file named twice (a hand-edited or damaged session) gets one record, as a scan gives.
  std::set<std::pair<std::uint64_t, std::uint64_t>> loaded;
  for (std::int32_t g = 0; g < groups; ++g) {
    if (groups > 1) SetProgress(static_cast<double>(g) / (groups - 1));
    std::int32_t members = 0;
    if (!ReadLittle(stream, members) || members < 0) return false;
    if (members < 2) continue;
    GroupList.push_back(std::make_unique<TGroup>());
    TGroup& group = *GroupList.back();
    for (std::int32_t i = 0; i < members; ++i) {
      std::uint32_t time = 0;
      std::int64_t size = 0;
      std::string path;
      std::uint8_t flag = 0;
      std::int32_t width = 0, height = 0;
      if (!ReadLittle(stream, time) || !ReadLittle(stream, size) || !ReadStreamString(stream, path) ||
          !ReadLittle(stream, flag))
        return false;
      if (flag != 0 && (!ReadLittle(stream, width) || !ReadLittle(stream, height))) return false;
      // A search only ever saves full paths. Anything else (a relative path, which would be taken
      // from wherever the program runs, a NUL byte, which would cut the name short, an empty
      // name) means a damaged or forged file: nothing of it is kept.
      if (!IsFullFilePath(path)) {
        ClearRecords();
        LastError = "Damaged session file: it names a file without its full path";
        return false;
      }
      TFileData* record = AddFile(path, time, size, flag != 0);
      if (!record) continue;  // vanished, or no longer passing the filters
      const TFileIdentity identity = record->Identity;
      if (identity.Known() && !loaded.insert({identity.Device, identity.Inode}).second) {
        Records.pop_back();  // AddFile appended it last
        continue;
      }
      if (flag != 0 && record->Kind() == TRecordKind::Picture) {
        auto& picture = static_cast<TPicData&>(*record);
        picture.Width = width;
        picture.Height = height;
      }
      group.Add(record);
    }
  }
  SetStatus("Session loaded");
  LastError.clear();
  return true;
}
