// Scanning folders into file records. On Linux a name starting with "." is hidden, anything
// that is neither a regular file nor a folder counts as a system entry, and symbolic links are
// not followed. A folder reached twice (listed twice, or inside another listed folder) is
// scanned once, so one file never yields two records.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "xEngine.h"
#include "xMP3.h"
#include "xLog.h"
#include "xPicDecode.h"

namespace {

bool IsRegularFile(const std::string& fileName, struct stat* info = nullptr) {
  struct stat local {};
  struct stat& s = info ? *info : local;
  return ::stat(fileName.c_str(), &s) == 0 && S_ISREG(s.st_mode);
}

bool HasPictureExtension(const std::string& fileName) {
  const std::string extension = LowerExtension(fileName);
  return extension.size() > 1 && IsPictureExtension(extension);
}

bool HasMP3Extension(const std::string& fileName) { return LowerExtension(fileName) == ".mp3"; }

void Stamp(TFileData& record, const struct stat& info) {
  record.Identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
  record.MTimeNs = StatMTimeNs(info);
}

// The status of the entry ScanFolder is adding, read with its listing a moment before: AddFile
// takes it rather than asking the file system again for every file.
thread_local const struct stat* ListedEntry = nullptr;

struct TListedEntry {
  explicit TListedEntry(const struct stat& info) { ListedEntry = &info; }
  ~TListedEntry() { ListedEntry = nullptr; }
  TListedEntry(const TListedEntry&) = delete;
  TListedEntry& operator=(const TListedEntry&) = delete;
};

}  // namespace

bool TEngine::IsPicture(const std::string& fileName) {
  return HasPictureExtension(fileName) && IsRegularFile(fileName);
}

bool TEngine::IsMP3(const std::string& fileName) { return HasMP3Extension(fileName) && IsRegularFile(fileName); }

void TEngine::ScanFolder(const std::string& path) {
  const std::string d = path.empty() || path.back() != '/' ? path + "/" : path;
  if (PathMaskOn && !PathMask_.Matches(d)) return;
  struct stat folderInfo {};
  if (::stat(d.c_str(), &folderInfo) != 0 || !S_ISDIR(folderInfo.st_mode)) {
    LogWarning("Failed to open folder \"" + d + "\"");
    return;
  }
  if (!ScannedFolders.insert({folderInfo.st_dev, folderInfo.st_ino}).second) return;
  SetStatus(d);

  DIR* folder = ::opendir(d.c_str());
  if (!folder) {
    LogWarning("Failed to open folder \"" + d + "\"");
    return;
  }
  struct TEntry {
    std::string Name;
    struct stat Info;
  };
  std::vector<TEntry> files, folders;
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (name.empty() || name[0] == '.') continue;  // hidden, and "." and ".."
    struct stat info {};
    if (::fstatat(::dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISREG(info.st_mode))
      files.push_back({name, info});
    else if (S_ISDIR(info.st_mode))
      folders.push_back({name, info});
  }
  ::closedir(folder);
  // Name order: the same listing on every run and every file system.
  auto byName = [](const TEntry& a, const TEntry& b) { return a.Name < b.Name; };
  std::sort(files.begin(), files.end(), byName);
  std::sort(folders.begin(), folders.end(), byName);

  for (const TEntry& file : files) {
    const std::string full = d + file.Name;
    if (!(Options.UseSample && full == Options.SampleFile)) {
      const TListedEntry listed(file.Info);
      AddFile(full, PackFileTime(file.Info.st_mtime), file.Info.st_size, false);
    }
    PumpEvents();
    if (Stopped) return;
  }
  if (Stopped || !Options.SubFolders) return;
  for (const TEntry& sub : folders) {
    ScanFolder(d + sub.Name);
    if (Stopped) return;
  }
}

TFileData* TEngine::AddFile(const std::string& fileName, std::uint32_t time, std::int64_t size, bool forcePicture) {
  struct stat info {};
  if (ListedEntry)
    info = *ListedEntry;
  else if (!IsRegularFile(fileName, &info))
    return nullptr;  // vanished, or not a file to read
  if (Options.ZeroIgnore && size == 0) return nullptr;
  if (FileMaskOn && FileMask_.Matches(NameOf(fileName)) == Options.FileEx) return nullptr;
  const bool picture = HasPictureExtension(fileName);
  if (Options.PicsOnly && !picture) return nullptr;
  std::unique_ptr<TFileData> record;
  if (Options.MP3Comp && HasMP3Extension(fileName)) {
    // A tag with every field empty can match no other tag: such a file is compared by its
    // content, so that byte-identical copies are still found.
    std::unique_ptr<TMP3Data> mp3 = ReadMP3Tag(fileName, time, size);
    if (mp3 && !TagKeys(mp3->Tag).empty()) record = std::move(mp3);
  }
  if ((Options.PicsComp || forcePicture) && picture)
    record = std::make_unique<TPicData>(fileName, time, size, Options.PicVariants);
  if (forcePicture && !record) return nullptr;
  if (!record) record = std::make_unique<TFileData>(fileName, time, size);
  Stamp(*record, info);
  Records.push_back(std::move(record));
  return Records.back().get();
}

TFileData* TEngine::AddSampleFile() {
  struct stat info {};
  if (!Options.UseSample || !IsRegularFile(Options.SampleFile, &info)) return nullptr;
  std::unique_ptr<TFileData> record;
  const std::uint32_t time = PackFileTime(info.st_mtime);
  if (Options.PicsComp && HasPictureExtension(Options.SampleFile))
    record = std::make_unique<TPicData>(Options.SampleFile, time, info.st_size, Options.PicVariants);
  else
    record = std::make_unique<TFileData>(Options.SampleFile, time, info.st_size);
  Stamp(*record, info);
  Records.push_back(std::move(record));
  return Records.back().get();
}
