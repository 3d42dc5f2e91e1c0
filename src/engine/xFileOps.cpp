// File operations on results: moving, deleting, showing, opening; the process priority.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <vector>

#include "xEngine.h"
#include "xLog.h"
#include "xPlatform.h"

namespace {

constexpr std::size_t CopyChunk = 1 << 20;

std::string Reason(int err) { return std::generic_category().message(err); }

bool IsFolder(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string NamePart(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char here[4096] = {};
  return ::getcwd(here, sizeof here) ? std::string(here) + "/" + path : path;
}

// Puts `from` at `to`; without `replace` an existing `to` is never touched.
bool RenameTo(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A filesystem without the flag: a hard link fails on an existing name as well.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

bool CopyData(int in, int out) {
  std::vector<char> buffer(CopyChunk);
  for (;;) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

// A move across filesystems: the whole file, its permissions, owner (where allowed) and times,
// synced to disk under a hidden name in the destination folder before it takes the target's
// name. A failed copy leaves nothing behind, and a file it was to replace stays intact.
bool CopyAcross(const std::string& source, const std::string& folder, const std::string& target, bool replace) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) return false;
  struct stat info {};
  if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(in);
    return false;
  }
  std::string temp = folder + "/.twinsifter-move-XXXXXX";
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) {
    ::close(in);
    return false;
  }
  bool ok = CopyData(in, out);
  ::close(in);
  if (ok) {
    [[maybe_unused]] const int owner = ::fchown(out, info.st_uid, info.st_gid);  // only root may; no loss otherwise
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ok = ::fchmod(out, info.st_mode & 07777) == 0 && ::futimens(out, times) == 0 && ::fsync(out) == 0;
  }
  ok = ::close(out) == 0 && ok;
  if (ok) ok = RenameTo(temp, target, replace);
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

bool TEngine::MoveToFolder(TFileData*& record, const std::string& folder) {
  LastError.clear();
  if (!IsFolder(folder)) {
    LastError = "Folder \"" + folder + "\" is not found!";
    return false;
  }
  const std::string source = record->FileName;
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  const std::string target = (base == "/" ? std::string() : base) + "/" + NamePart(source);
  const std::string copyFailed = "Failed to copy file \"" + source + "\"";

  struct stat from {}, there {};
  if (::lstat(source.c_str(), &from) != 0) {
    LastError = copyFailed;
    return false;
  }
  const bool targetExists = ::lstat(target.c_str(), &there) == 0;
  // The folder it already lies in, through whatever path, or a hard link of it: a copy onto
  // itself followed by deleting the source would lose the file.
  if (targetExists && there.st_dev == from.st_dev && there.st_ino == from.st_ino) {
    LastError = "Cannot move file \"" + source + "\" onto itself (\"" + target + "\")";
    return false;
  }
  if (targetExists && !OverwriteAll) {
    const TOverwriteAnswer answer = OnOverwrite ? OnOverwrite("File \"" + target + "\" already exists!\n\rOverwrite?")
                                                : TOverwriteAnswer::No;
    if (answer == TOverwriteAnswer::No) return true;
    if (answer == TOverwriteAnswer::YesToAll) OverwriteAll = true;
  }

  // Within one filesystem a rename: atomic, nothing copied, times and permissions kept.
  struct stat destination {};
  const bool sameFilesystem = ::stat(base.c_str(), &destination) == 0 &&
                              destination.st_dev == from.st_dev;
  bool moved = sameFilesystem && RenameTo(source, target, targetExists);
  if (!moved && (!sameFilesystem || errno == EXDEV)) {  // EXDEV: another mount of the same filesystem
    if (!CopyAcross(source, base, target, targetExists)) {
      LastError = copyFailed;
      return false;
    }
    if (::unlink(source.c_str()) != 0) {
      LastError = "Failed to delete file \"" + source + "\" after copying it to \"" + target + "\": " + Reason(errno);
      return false;
    }
    moved = true;
  }
  if (!moved) {
    LastError = copyFailed;
    return false;
  }
  RemoveFile(record);
  return true;
}

bool TEngine::DeleteFile(const std::string& path, bool toRecycleBin) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    const int err = errno;
    LastError = err == ENOENT || err == ENOTDIR ? "File \"" + path + "\" is not found!"
                                                 : "Failed to delete file \"" + path + "\": " + Reason(err);
    return false;
  }
  // To the trash or nowhere: a trash that fails never turns into a permanent deletion.
  if (toRecycleBin) {
    std::string reason;
    if (MoveToTrash(Absolute(path), reason)) return true;
    LastError = "Failed to move file \"" + path + "\" to the trash: " + reason;
    return false;
  }
  if (::unlink(path.c_str()) == 0) return true;
  LastError = "Failed to delete file \"" + path + "\": " + Reason(errno);
  return false;
}

void TEngine::RemoveFile(TFileData*& record) {
  for (auto it = Records.begin(); it != Records.end(); ++it) {
    if (it->get() != record) continue;
    if (record->Group) record->Group->Remove(record);
    Records.erase(it);
    record = nullptr;
    return;
  }
}

bool TEngine::ShowInFolder(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  std::string reason;
  if (ShowInFileManager(Absolute(path), reason)) return true;
  LastError = "Failed to show file \"" + path + "\": " + reason;
  return false;
}

bool TEngine::OpenFile(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  std::string reason;
  if (OpenWithDefaultApplication(Absolute(path), reason)) return true;
  LastError = "Failed to open file \"" + path + "\": " + reason;
  return false;
}

void TEngine::ApplyPriority() {
  if (Options.Priority > 3) return;
  if (!SetProcessPriority(Options.Priority)) LogWarning("Failed to set process priority!");
}
