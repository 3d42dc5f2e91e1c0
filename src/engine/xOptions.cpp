#include "xOptions.h"

#include <sys/stat.h>

#include "xStorage.h"

namespace {

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::uint8_t ReadByte(TStorage& storage, const std::string& key, std::uint8_t value) {
  return static_cast<std::uint8_t>(storage.ReadInteger(key, value));  // held in 8 bits
}

}  // namespace

void TCompOpts::Load(TStorage& storage) {
  storage.OpenSection("OPTIONS", false);
  Tolerance = storage.ReadInteger("Tolerance", Tolerance);
  FileMask = storage.ReadString("FileMask", FileMask);
  PathMask = storage.ReadString("PathMask", PathMask);
  FileEx = storage.ReadBool("FileEx", FileEx);
  PathEx = storage.ReadBool("PathEx", PathEx);
  UseFile = storage.ReadBool("UseFile", UseFile);
  UsePath = storage.ReadBool("UsePath", UsePath);
  SubFolders = storage.ReadBool("SubFolders", SubFolders);
  PicsComp = storage.ReadBool("PicsComp", PicsComp);
  MP3Comp = storage.ReadBool("MP3Comp", MP3Comp);
  PicsOnly = storage.ReadBool("PicsOnly", PicsOnly);
  ZeroIgnore = storage.ReadBool("ZeroIgnore", ZeroIgnore);
  DelUndo = storage.ReadBool("DelUndo", DelUndo);
  DestFolder = storage.ReadString("DestFolder", DestFolder);
  FileComp = ReadByte(storage, "FileComp", FileComp);
  Priority = ReadByte(storage, "Priority", Priority);
  // Six thumbnail sizes; anything else in a damaged file would size rows by the gigabyte.
  if (const std::int32_t thumbs = storage.ReadInteger("Thumbs", Thumbs); thumbs >= 0 && thumbs <= 5) Thumbs = thumbs;
  for (int i = 1; i <= 6; ++i) {
    if (storage.ReadBool("PO_" + std::to_string(i), PicVariants.Contains(i)))
      PicVariants.Include(i);
    else
      PicVariants.Exclude(i);
  }
  PicVariants.Include(pvOriginal);
  moPicQuality = storage.ReadBool("moPicQuality", moPicQuality);
  moFileOlder = storage.ReadBool("moFileOlder", moFileOlder);
  UseSample = storage.ReadBool("UseSample", UseSample);
  SampleFile = storage.ReadString("SampleFile", SampleFile);
  if (!FileExists(SampleFile)) SampleFile.clear();
  PicContent = storage.ReadBool("PicContent", PicContent);
  Cache = storage.ReadBool("Cache", Cache);
  CacheCount = storage.ReadInteger("CacheCount", CacheCount);
  storage.CloseSection();
}

bool TCompOpts::Save(TStorage& storage) const {
  storage.OpenSection("OPTIONS", true);
  storage.WriteInteger("Tolerance", Tolerance);
  storage.WriteString("FileMask", FileMask);
  storage.WriteString("PathMask", PathMask);
  storage.WriteBool("FileEx", FileEx);
  storage.WriteBool("PathEx", PathEx);
  storage.WriteBool("UseFile", UseFile);
  storage.WriteBool("UsePath", UsePath);
  storage.WriteBool("SubFolders", SubFolders);
  storage.WriteBool("PicsComp", PicsComp);
  storage.WriteBool("MP3Comp", MP3Comp);
  storage.WriteBool("PicsOnly", PicsOnly);
  storage.WriteBool("ZeroIgnore", ZeroIgnore);
  storage.WriteBool("DelUndo", DelUndo);
  storage.WriteString("DestFolder", DestFolder);
  storage.WriteInteger("FileComp", FileComp);
  storage.WriteInteger("Priority", Priority);
  storage.WriteInteger("Thumbs", Thumbs);
  storage.WriteBool("UseSample", UseSample);
  storage.WriteString("SampleFile", SampleFile);
  storage.WriteBool("PicContent", PicContent);
  for (int i = 1; i <= 6; ++i) storage.WriteBool("PO_" + std::to_string(i), PicVariants.Contains(i));
  storage.WriteBool("moPicQuality", moPicQuality);
  storage.WriteBool("moFileOlder", moFileOlder);
  storage.WriteBool("Cache", Cache);
  storage.WriteInteger("CacheCount", CacheCount);
  return storage.CloseSection();
}
