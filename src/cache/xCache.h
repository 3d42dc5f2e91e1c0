#pragma once
// The signature cache: picture signatures kept on disk between searches, keyed by the picture's
// full file name, at most `capacity` pictures, the oldest stored one giving way first.
//
// Four little-endian files in <base>/Cache/: "cache.ncd" (296-byte name records), "cache.lcd"
// (1,024-byte L-traces), "cache.hcd" (32-byte H-traces), each with a header as record 0, and
// "cache.nid", the record numbers of the name records sorted by name. Only that index lives in
// memory; records are read and written one by one, on files held open while the cache is.
//
// A name record: the name (256 bytes, zero-padded), width, height, a check value, the record
// numbers of the six L-traces (-1: not stored) and of the H-trace. The check value is the
// CRC-32 of the record's other 292 bytes followed by the stamp of the file the traces were
// computed from (size, modification time in nanoseconds, inode; 8 bytes each). A record whose
// check value does not match the stamp of the file now is not believed: it stands for another
// file under the same name, or it is damaged, and the picture is analysed again into it.
//
// Every file is outside input. Open checks the headers, the index and every name record, so a
// damaged cache fails to open (IsDamaged tells damage from a file that cannot be read) and can
// be started afresh with Clear; nothing that a file holds can trip a consistency check.

#include <cstdint>
#include <string>
#include <vector>

#include "xPicSign.h"
#include "xPixan.h"

inline constexpr std::uint32_t CacheMagic = 0x06050403;
inline constexpr const char* CacheBusyMessage = "Signature cache in use by another search; running without it";
inline constexpr int NameRecordSize = 296;
inline constexpr int LRecordSize = 1024;
inline constexpr int HRecordSize = 32;
inline constexpr int CacheNameLength = 256;  // longer names are never stored

// What a cache entry was computed from: the file's size, modification time in nanoseconds
// since 1970 and inode, as seen before the picture was decoded.
struct TCacheStamp {
  std::int64_t Size = 0;
  std::int64_t MTimeNs = 0;
  std::uint64_t Inode = 0;
};

// The check value of a name record (NameRecordSize bytes; its own four are skipped) for a stamp.
std::uint32_t CacheCheckValue(const std::uint8_t* record, const TCacheStamp& stamp);

// Record numbers of cache.ncd in name order.
class TCIndex {
public:
  int Count() const { return static_cast<int>(Items_.size()); }
  void SetCount(int n);  // keeps the leading entries; new ones are 0
  std::int32_t Items(int position) const;
  void Insert(int position, std::int32_t value);
  void Remove(std::int32_t value);  // the first entry equal to value, if any

  // A missing file or one shorter than 4 bytes is an empty index. False when the length is not
  // a multiple of 4, the file holds more than maxCount entries or cannot be read whole; the
  // index is empty then. unreadable (when given) tells the last case from the others.
  bool LoadFromFile(const std::string& name, int maxCount = 1 << 24, bool* unreadable = nullptr);
  // Written beside the old file and renamed over it; an empty index gives an empty file.
  bool SaveToFile(const std::string& name) const;

  const std::vector<std::int32_t>& Entries() const { return Items_; }

private:
  std::vector<std::int32_t> Items_;
};

// Result of a lookup: Position -1 and the record when found; otherwise where the name would go.
struct TCacheFind {
  int Position = 0;
  std::int32_t Record = -1;
};

class TCache {
public:
  // The folder is base + "Cache/", created with its parents when missing.
  explicit TCache(const std::string& baseFolder);
  ~TCache();  // closes an open cache (saving it)
  TCache(const TCache&) = delete;
  TCache& operator=(const TCache&) = delete;

  // Checks or creates the record files and loads the index. Messages: "Name cache corrupted!",
  // "L-Signature cache corrupted!", "H-Signature cache corrupted!", "Failed to load \"...cache.nid\"",
  // "Failed to open \"<file>\"" (exists but cannot be opened), "Failed to create \"<file>\"".
  bool Open(std::int32_t capacity);
  bool IsOpen() const { return Open_; }
  // The last Open failed, or the open cache closed itself, because a file's contents are bad.
  bool IsDamaged() const { return Damaged_; }
  // The last Open failed because another process has the cache open (it holds "cache.lock"
  // while it does); LastError is then CacheBusyMessage. Clear leaves such a cache alone.
  bool IsBusy() const { return Busy_; }
  int Count() const;

  // Fills the signature from the cache when the name's record holds the variants and matches
  // the stamp, or analyses the picture and stores the result with the stamp. False only when
  // the analysis fails (LastError is then the analyser's). A picture analysed but not stored
  // because a cache file failed still gives true, with LastError naming the file; when a file
  // turns out damaged meanwhile the cache also closes itself. Names longer than CacheNameLength
  // bytes are analysed and never stored: they could never be found again.
  bool GetSignature(const std::string& name, const TCacheStamp& stamp, TPicSign& signature, TPixan& analyser,
                    TPicVariants variants, TPictureSize& size);

  // Whether a lookup with the stamp would find every trace of the variants without analysing.
  bool Holds(const std::string& name, const TCacheStamp& stamp, TPicVariants variants);
  // The analysis GetSignature uses for this name instead of running the analyser, if it needs
  // one; null forgets it. The result must outlive the call of GetSignature.
  void SetPrepared(const std::string& name, const TAnalysisResult* result) {
    PreparedName_ = name;
    Prepared_ = result;
  }

  void SetCapacity(std::int32_t n);  // a capacity below the count empties the cache
  // Writes the index and the slot. An open cache only: a closed one has nothing to save and
  // must not overwrite what is stored.
  bool Save();
  bool Close();
  void Clear();  // header-only record files, an empty index; open or closed
  TCacheFind Find(const std::string& name);

  const std::string& LastError() const { return LastError_; }
  const std::string& Folder() const { return Folder_; }
  std::int32_t Capacity() const { return Capacity_; }
  std::int32_t Slot() const { return Slot_; }
  const TCIndex& Index() const { return Index_; }

private:
  struct TRecordFile {
    std::string Path;
    int Size = 0;
    int Fd = -1;
    std::int64_t Count = 0;  // whole records in the file
  };
  struct TNameRecord {
    std::uint8_t Name[CacheNameLength] = {};
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint32_t Check = 0;  // see atop
    std::int32_t L[LTraceVariants] = {-1, -1, -1, -1, -1, -1};
    std::int32_t H = -1;
  };
  enum class TOpenResult { Ok, BadHeader, CannotOpen, CannotCreate };

  TOpenResult OpenRecordFile(TRecordFile& file, std::uint8_t* header);
  bool CheckRecords();
  void CloseFiles();
  bool ReadRecord(TRecordFile& file, std::int64_t n, std::uint8_t* data);
  bool WriteRecord(TRecordFile& file, std::int64_t n, const std::uint8_t* data);
  bool AppendRecord(TRecordFile& file, const std::uint8_t* data, std::int32_t& n);
  bool ReadName(std::int32_t n, TNameRecord& record);
  bool ValidTraces(const TNameRecord& record) const;
  static bool Believed(const TNameRecord& record, const TCacheStamp& stamp);
  bool Analyse(const std::string& name, TPicSign& signature, TPixan& analyser, TPicVariants variants,
               TPictureSize& size);
  bool Store(const std::string& name, const TCacheStamp& stamp, const TPicSign& signature, TPicVariants variants,
             TPictureSize size, const TCacheFind& found);
  void Broken(const std::string& message, bool damaged);
  bool Lock();
  void Unlock();

  std::string Folder_;
  std::int32_t Capacity_ = 0;
  bool Open_ = false;
  bool Damaged_ = false;
  bool Busy_ = false;
  int LockFd_ = -1;
  std::string LastError_;
  TCIndex Index_;
  std::int32_t Slot_ = 0;
  TRecordFile Names;
  TRecordFile LTraces;
  TRecordFile HTraces;
  TNameRecord Last;  // the record Find read last
  std::string PreparedName_;
  const TAnalysisResult* Prepared_ = nullptr;
  std::int32_t LastNumber = -1;
};
