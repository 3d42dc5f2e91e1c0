#pragma once
// File records: what a search keeps of every file it found.

#include <cstdint>
#include <string>

#include "xDigests.h"
#include "xPicSign.h"

class TGroup;
struct stat;

// A date-time value: days since 1899-12-30, the fraction giving the time of day.
using TDateTime = double;

// The packed file-date form (local time): bits 0-4 seconds / 2, 5-10 minutes, 11-15 hours,
// 16-20 day, 21-24 month, 25-31 years since 1980. Times outside 1980 .. 2107 are clamped.
std::uint32_t PackFileTime(std::int64_t unixSeconds);
TDateTime PackedToDateTime(std::uint32_t packed);
// A file status's modification time in nanoseconds since 1970.
std::int64_t StatMTimeNs(const struct stat& info);
// "YYYY-MM-DDTHH:MM:SS" of a packed time.
std::string PackedToIsoText(std::uint32_t packed);

// A path's name without its folder, and its folder with the trailing '/' (empty for a bare name).
inline std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }
inline std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

enum class TRecordKind { Plain, Picture, MP3 };

// How reading a file for its digest went.
enum class TReadOutcome : std::uint8_t { Ok, OpenFailed, ReadFailed };

// The four texts of an ID3 version 1 tag.
struct TID3Data {
  std::string Title, Artist, Album, Year;
  bool operator==(const TID3Data&) const = default;
};

// Which file a record stands for: two records with the same identity are one file (hard links
// included) and never duplicates of each other.
struct TFileIdentity {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  bool Known() const { return Device != 0 || Inode != 0; }
  bool operator==(const TFileIdentity&) const = default;
};

class TFileData {
public:
  TFileData(std::string fileName, std::uint32_t time, std::int64_t size)
      : FileName(std::move(fileName)), Size(size), Time(time) {}
  virtual ~TFileData() = default;
  TFileData(const TFileData&) = delete;
  TFileData& operator=(const TFileData&) = delete;

  virtual std::int64_t Quality() const { return Size; }
  virtual TRecordKind Kind() const { return TRecordKind::Plain; }

  TDateTime DateTime() const { return PackedToDateTime(Time); }
  bool HasDigest() const { return !Digest.Empty() && !Failed; }
  // Pictures and MP3 files are judged by quality, plain files by time.
  bool JudgedByQuality() const { return Kind() != TRecordKind::Plain; }

  // In this order the fields leave no gaps: a plain record takes 112 bytes besides its path.
  std::string FileName;
  std::int64_t Size;
  // The modification time to the nanosecond as the search saw it (0: unknown), with Identity,
  // Size and Time what tells the file the search saw from whatever holds its name later.
  std::int64_t MTimeNs = 0;
  TGroup* Group = nullptr;
  TFileIdentity Identity;
  std::uint32_t Time;
  TDigest Digest;
  bool Failed = false;
  // A failure found by reading ahead, taken into account when the digest is asked for.
  TReadOutcome Pending = TReadOutcome::Ok;
};

static_assert(sizeof(void*) != 8 || sizeof(TFileData) <= 112, "a plain record grew");

// One file reached twice, or two hard links to it.
inline bool SameFile(const TFileData& a, const TFileData& b) { return a.Identity.Known() && a.Identity == b.Identity; }

class TPicData final : public TFileData {
public:
  TPicData(std::string fileName, std::uint32_t time, std::int64_t size, TPicVariants variants)
      : TFileData(std::move(fileName), time, size), Sign(variants) {}

  std::int64_t Quality() const override { return std::int64_t{Width} * Height; }
  TRecordKind Kind() const override { return TRecordKind::Picture; }
  bool HasSignature() const { return Sign.IsValid() && !Failed; }

  TPicSign Sign;
  std::int32_t Width = 0;
  std::int32_t Height = 0;
};

class TMP3Data final : public TFileData {
public:
  TMP3Data(std::string fileName, std::uint32_t time, std::int64_t size, TID3Data tag)
      : TFileData(std::move(fileName), time, size), Tag(std::move(tag)) {}

  TRecordKind Kind() const override { return TRecordKind::MP3; }

  TID3Data Tag;
};
