// Removal plans and their verified execution (see xRemoval.h). Every file is reached through
// folders opened without following links, checked right before it is acted on, and acted on
// through that folder (unlinkat, renameat), so nothing the checks did not see is touched.

#include "xRemoval.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

#include "xEngine.h"
#include "xLog.h"
#include "xNoFollow.h"
#include "xPlatform.h"

namespace {

constexpr std::size_t CopyChunk = 1 << 20;

std::string Reason(int err) { return std::generic_category().message(err); }

// Whether the status is that of the file the search saw: same file (device and inode), same size
// and the same modification time, to the nanosecond.
bool Unchanged(const TFileData& record, const struct stat& now) {
  return S_ISREG(now.st_mode) && record.Identity.Known() &&
         static_cast<std::uint64_t>(now.st_dev) == record.Identity.Device &&
         static_cast<std::uint64_t>(now.st_ino) == record.Identity.Inode && now.st_size == record.Size &&
         PackFileTime(now.st_mtime) == record.Time && StatMTimeNs(now) == record.MTimeNs;
}

// Two files found by tags or looks share no bytes; any other pair was found by its content.
bool FoundByContent(const TFileData& a, const TFileData& b) {
  const bool pictures = a.Kind() == TRecordKind::Picture && b.Kind() == TRecordKind::Picture;
  const bool tags = a.Kind() == TRecordKind::MP3 && b.Kind() == TRecordKind::MP3;
  return !pictures && !tags;
}

bool ReadFully(int fd, std::uint8_t* data, std::size_t size, off_t offset, std::size_t& got) {
  got = 0;
  while (got < size) {
    const ssize_t n = ::pread(fd, data + got, size - got, offset + static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// Both open files hold the same bytes, read to their ends.
bool SameBytes(int a, int b, std::vector<std::uint8_t>& bufferA, std::vector<std::uint8_t>& bufferB) {
  for (off_t offset = 0;;) {
    std::size_t gotA = 0, gotB = 0;
    if (!ReadFully(a, bufferA.data(), bufferA.size(), offset, gotA) ||
        !ReadFully(b, bufferB.data(), bufferB.size(), offset, gotB))
      return false;
    if (gotA != gotB || std::memcmp(bufferA.data(), bufferB.data(), gotA) != 0) return false;
    if (gotA < bufferA.size()) return true;
    offset += static_cast<off_t>(gotA);
  }
}

bool CopyData(int in, int out) {
  std::vector<char> buffer(CopyChunk);
  for (off_t offset = 0;;) {
    const ssize_t got = ::pread(in, buffer.data(), buffer.size(), offset);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    offset += got;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

// Puts `from` (in folder `fromFd`) at `to` (in `toFd`), never over an existing entry.
bool RenameNoReplace(int fromFd, const std::string& from, int toFd, const std::string& to) {
  if (::renameat2(fromFd, from.c_str(), toFd, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A filesystem without the flag: a hard link fails on an existing name as well.
  if (::linkat(fromFd, from.c_str(), toFd, to.c_str(), 0) != 0) return false;
  ::unlinkat(fromFd, from.c_str(), 0);
  return true;
}

// A copy into another filesystem: the whole file, its permissions, owner (where allowed) and
// times, synced to disk under a hidden name in the destination, which it gets in `tempName`. A
// failed copy leaves nothing behind. `placed` receives the copy's identity.
bool CopyToTemporary(int source, const struct stat& info, const std::string& folder, std::string& tempName,
                     TFileIdentity& placed) {
  std::string temp = folder + "/.twinsifter-move-XXXXXX";
  const int out = ::mkostemp(temp.data(), O_CLOEXEC);
  if (out < 0) return false;
  bool ok = CopyData(source, out);
  if (ok) {
    [[maybe_unused]] const int owner = ::fchown(out, info.st_uid, info.st_gid);  // only root may; no loss otherwise
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ok = ::fchmod(out, info.st_mode & 07777) == 0 && ::futimens(out, times) == 0 && ::fsync(out) == 0;
  }
  struct stat copy {};
  ok = ok && ::fstat(out, &copy) == 0;
  ok = ::close(out) == 0 && ok;
  if (!ok) {
    ::unlink(temp.c_str());
    return false;
  }
  tempName = temp.substr(temp.rfind('/') + 1);
  placed = {static_cast<std::uint64_t>(copy.st_dev), static_cast<std::uint64_t>(copy.st_ino)};
  return true;
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

int TRemovalPlan::Removable() const {
  int n = 0;
  for (const TRemovalStep& step : Steps) n += step.Keeper ? 1 : 0;
  return n;
}

std::int64_t TRemovalPlan::Bytes() const {
  std::int64_t bytes = 0;
  for (const TRemovalStep& step : Steps)
    if (step.Keeper) bytes += step.Record->Size;
  return bytes;
}

const char* RemovalVerb(TRemovalKind kind) {
  switch (kind) {
    case TRemovalKind::Trash: return "trash";
    case TRemovalKind::Delete: return "delete";
    case TRemovalKind::Move: return "move";
  }
  return "";
}

TRemovalPlan TEngine::PlanRemoval(const std::vector<TFileData*>& records, TRemovalKind kind,
                                  const std::string& folder) const {
  TRemovalPlan plan;
  plan.Kind = kind;
  plan.Folder = WithoutTrailingSlashes(folder);
  const std::set<const TFileData*> taken(records.begin(), records.end());
  std::set<const TFileData*> planned;
  for (TFileData* record : records) {
    if (!record || !planned.insert(record).second) continue;
    TRemovalStep step;
    step.Record = record;
    if (kind == TRemovalKind::Move) step.Target = (plan.Folder == "/" ? "" : plan.Folder) + "/" + NameOf(record->FileName);
    if (const TGroup* group = record->Group)
      for (int i = 0; i < group->Count() && !step.Keeper; ++i) {
        const TFileData* member = group->Items(i);
        if (member != record && !member->Failed && taken.count(member) == 0) step.Keeper = member;
      }
    plan.Steps.push_back(std::move(step));
  }
  return plan;
}

// A member of the record's group that stays and still holds what the record holds; the reason
// the first candidate failed otherwise. `file` is the record's file, open and checked.
const TFileData* TEngine::CopyThatStays(const TRemovalStep& step, const std::set<const TFileData*>& leaving,
                                        int file, TFolderCache& folders, std::string& why) {
  const TFileData& record = *step.Record;
  why = "no copy of it stays";
  if (!record.Group) return nullptr;
  bool first = true;
  auto refuse = [&](const std::string& reason) {
    if (first) why = reason;
    first = false;
  };
  const TGroup& group = *record.Group;
  // The planned keeper first, then the other members that stay, in group order.
  std::vector<const TFileData*> candidates;
  if (step.Keeper) candidates.push_back(step.Keeper);
  for (int i = 0; i < group.Count(); ++i) {
    const TFileData* member = group.Items(i);
    if (member != step.Keeper && member != &record && !member->Failed && leaving.count(member) == 0)
      candidates.push_back(member);
  }
  for (const TFileData* keeper : candidates) {
    if (keeper->Group != &group) continue;  // removed from the results meanwhile
    const std::string copy = "its copy \"" + keeper->FileName + "\" ";
    int folder = -1;
    std::string name, error;
    if (!folders.OpenParent(keeper->FileName, folder, name, error)) {
      refuse(copy + "cannot be reached: " + error);
      continue;
    }
    TFd kept(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat now {};
    if (!kept.IsOpen()) {
      refuse(errno == ENOENT ? copy + "is gone" : copy + "cannot be read: " + Reason(errno));
      continue;
    }
    if (::fstat(kept.Get(), &now) != 0 || !Unchanged(*keeper, now)) {
      refuse(copy + "changed since the search");
      continue;
    }
    if (SameFile(*keeper, record)) continue;  // one file under two names holds no second copy
    if (FoundByContent(record, *keeper) && !SameBytes(file, kept.Get(), BufferA, BufferB)) {
      refuse(copy + "no longer holds the same bytes");
      continue;
    }
    return keeper;
  }
  return nullptr;
}

TRemovalOutcome TEngine::ExecuteRemoval(const TRemovalPlan& plan) {
  TRemovalOutcome outcome;
  LastError.clear();
  if (IsRunning()) {
    LastError = "A search is running";
    outcome.Skipped = static_cast<int>(plan.Steps.size());
    return outcome;
  }
  auto warn = [&](const std::string& text) {
    LastError = text;
    LogWarning(LastError);
    ++outcome.Skipped;
  };
  auto skip = [&](const TFileData& record, const std::string& reason) {
    warn("File \"" + record.FileName + "\" is kept: " + reason);
  };
  // The destination, resolved once: the trash of a file it replaces needs the real path.
  TFd destination;
  std::string destinationPath;
  if (plan.Kind == TRemovalKind::Move) {
    const std::string real = RealPath(plan.Folder);
    std::string error;
    struct stat info {};
    if (real.empty() || !OpenFolderNoFollow(real, destination, error) || ::fstat(destination.Get(), &info) != 0) {
      LastError = "Folder \"" + plan.Folder + "\" is not found!";
      LogWarning(LastError);
      outcome.Skipped = static_cast<int>(plan.Steps.size());
      return outcome;
    }
    destinationPath = real;
  }
  // What a move must never replace: every member of the results, and what earlier moves put down.
  std::set<std::pair<std::uint64_t, std::uint64_t>> results = Placed_;
  for (const auto& group : GroupList)
    for (int i = 0; i < group->Count(); ++i)
      results.insert({group->Items(i)->Identity.Device, group->Items(i)->Identity.Inode});
  std::set<const TFileData*> leaving;
  for (const TRemovalStep& step : plan.Steps) leaving.insert(step.Record);

  TFolderCache folders;
  std::vector<TFileData*> removed;
  Stopped = false;
  const int n = static_cast<int>(plan.Steps.size());
  for (int s = 0; s < n; ++s) {
    PumpEvents();
    if (Stopped) {
      outcome.NotDone = n - s;
      break;
    }
    TFileData* record = plan.Steps[static_cast<std::size_t>(s)].Record;
    const TRemovalStep& step = plan.Steps[static_cast<std::size_t>(s)];
    SetProgress(n > 1 ? static_cast<double>(s) / (n - 1) : 0);

    // The file itself, through folders that are no links, still the one the search saw.
    int folder = -1;
    std::string name, error;
    if (!folders.OpenParent(record->FileName, folder, name, error)) {
      skip(*record, error);
      continue;
    }
    TFd file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.IsOpen()) {
      if (errno == ENOENT)
        warn("File \"" + record->FileName + "\" is not found!");
      else
        skip(*record, "it cannot be read: " + Reason(errno));
      continue;
    }
    if (::fstat(file.Get(), &info) != 0 || !Unchanged(*record, info)) {
      skip(*record, "it changed since the search");
      continue;
    }

    // A move's clash first: the question needs no reading.
    std::string targetName;
    bool replace = false;
    if (plan.Kind == TRemovalKind::Move) {
      targetName = NameOf(record->FileName);
      struct stat there {};
      if (::fstatat(destination.Get(), targetName.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0) {
        if (there.st_dev == info.st_dev && there.st_ino == info.st_ino) {
          warn("Cannot move file \"" + record->FileName + "\" onto itself (\"" + step.Target + "\")");
          continue;
        }
        if (!S_ISREG(there.st_mode)) {
          skip(*record, "\"" + step.Target + "\" is there and is not a file");
          continue;
        }
        if (results.count({there.st_dev, there.st_ino})) {
          skip(*record, "\"" + step.Target + "\" is a file of the results and is not replaced");
          continue;
        }
        if (!OverwriteAll) {
          const TOverwriteAnswer answer = OnOverwrite ? OnOverwrite("File \"" + step.Target + "\" already exists!\n\rOverwrite?")
                                                      : TOverwriteAnswer::No;
          if (answer == TOverwriteAnswer::No) {
            ++outcome.Kept;
            continue;
          }
          if (answer == TOverwriteAnswer::YesToAll) OverwriteAll = true;
        }
        replace = true;
      }
    }

    std::string why;
    if (!CopyThatStays(step, leaving, file.Get(), folders, why)) {
      skip(*record, why);
      continue;
    }
    // The name must still be the file just checked and read.
    struct stat last {};
    if (::fstatat(folder, name.c_str(), &last, AT_SYMLINK_NOFOLLOW) != 0 || !Unchanged(*record, last)) {
      skip(*record, "it changed since the search");
      continue;
    }

    bool done = false;
    switch (plan.Kind) {
      case TRemovalKind::Delete:
        done = ::unlinkat(folder, name.c_str(), 0) == 0;
        if (!done) warn("Failed to delete file \"" + record->FileName + "\": " + Reason(errno));
        break;
      case TRemovalKind::Trash:
        done = MoveToTrashAt(folder, name, record->FileName, error);
        if (!done) warn("Failed to move file \"" + record->FileName + "\" to the trash: " + error);
        break;
      case TRemovalKind::Move:
        done = MoveChecked(*record, folder, name, file.Get(), info, destination.Get(), destinationPath,
                           targetName, replace);
        if (!done) ++outcome.Skipped;  // warned there
        break;
    }
    if (!done) continue;
    ++outcome.Done;
    removed.push_back(record);
  }
  DropRecords(removed);
  Stopped = true;
  if (outcome.AllDone()) LastError.clear();
  return outcome;
}

// The move itself, once every check passed: a rename within a filesystem, else a copy made
// whole first. A file it replaces goes to the trash, and only once the copy is ready.
bool TEngine::MoveChecked(const TFileData& record, int folder, const std::string& name, int file,
                          const struct stat& info, int destination, const std::string& destinationPath,
                          const std::string& targetName, bool replace) {
  const std::string target = (destinationPath == "/" ? "" : destinationPath) + "/" + targetName;
  auto warn = [&](const std::string& text) {
    LastError = text;
    LogWarning(LastError);
    return false;
  };
  const std::string copyFailed = "Failed to copy file \"" + record.FileName + "\"";
  struct stat there {};
  TFileIdentity placed{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  const bool sameFilesystem = ::fstat(destination, &there) == 0 && there.st_dev == info.st_dev;
  std::string temp;
  if (!sameFilesystem && !CopyToTemporary(file, info, destinationPath, temp, placed)) return warn(copyFailed);
  auto dropTemp = [&] {
    if (!temp.empty()) ::unlinkat(destination, temp.c_str(), 0);
  };
  std::string error;
  if (replace && !MoveToTrashAt(destination, targetName, target, error)) {
    dropTemp();
    return warn("File \"" + record.FileName + "\" is kept: \"" + target +
                "\" could not be moved to the trash to make room: " + error);
  }
  if (sameFilesystem && !RenameNoReplace(folder, name, destination, targetName)) {
    if (errno != EXDEV) return warn(copyFailed);
    // Another mount of the same filesystem: a copy after all.
    if (!CopyToTemporary(file, info, destinationPath, temp, placed)) return warn(copyFailed);
  }
  if (!temp.empty()) {
    if (!RenameNoReplace(destination, temp, destination, targetName)) {
      dropTemp();
      return warn(copyFailed);
    }
    Placed_.insert({placed.Device, placed.Inode});
    if (::unlinkat(folder, name.c_str(), 0) != 0)
      return warn("Failed to delete file \"" + record.FileName + "\" after copying it to \"" + target +
                  "\": " + Reason(errno));
  }
  Placed_.insert({placed.Device, placed.Inode});
  return true;
}

bool TEngine::MoveToFolder(TFileData*& record, const std::string& folder) {
  const TRemovalOutcome outcome = ExecuteRemoval(PlanRemoval({record}, TRemovalKind::Move, folder));
  if (outcome.Done == 1) record = nullptr;
  return outcome.Done == 1 || outcome.Kept == 1;
}

bool TEngine::DeleteFile(TFileData*& record, bool toTrash) {
  const TRemovalOutcome outcome =
      ExecuteRemoval(PlanRemoval({record}, toTrash ? TRemovalKind::Trash : TRemovalKind::Delete));
  if (outcome.Done != 1) return false;
  record = nullptr;
  return true;
}
