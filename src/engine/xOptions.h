#pragma once
// The options that steer a search, the marking, the file operations and the picture cache,
// with their defaults and their keys in the settings section "OPTIONS".

#include <cstdint>
#include <string>

#include "xPicSign.h"

class TStorage;

class TCompOpts {
public:
  std::int32_t Tolerance = 0;  // 0 (identical) .. 10 (similar)
  std::string FileMask = "*.*";
  std::string PathMask = "*";
  bool UseSample = false;
  std::string SampleFile;
  bool UseFile = false;
  bool UsePath = false;
  bool FileEx = false;  // FileMask names the files to leave out
  bool PathEx = false;  // kept in the settings; nothing reads it
  bool SubFolders = true;
  bool PicsComp = false;
  bool MP3Comp = true;
  bool PicsOnly = false;
  std::uint8_t FileComp = 3;  // 0 bytes, 1 CRC-32, 2 MD4, 3 MD5, 4 SHA-0
  bool ZeroIgnore = true;
  TPicVariants PicVariants;
  std::string DestFolder;
  bool DelUndo = true;
  std::uint8_t Priority = 1;  // 0 low, 1 normal, 2 high, 3 highest
  bool moPicQuality = true;
  bool moFileOlder = true;
  bool Cache = true;
  std::int32_t CacheCount = 5000;
  std::int32_t Thumbs = 3;
  bool PicContent = false;  // kept in the settings; nothing reads it

  // Reads "OPTIONS": a missing or unparsable key keeps the field's value; a sample file that no
  // longer exists is forgotten. Element 0 of the variants stays whatever the file says.
  void Load(TStorage& storage);
  // Writes "OPTIONS" whole; false when the settings file could not be written.
  bool Save(TStorage& storage) const;
};
