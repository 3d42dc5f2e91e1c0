#include "xCache.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <zlib.h>

#include "xAssert.h"

namespace {

void Put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t Get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

std::int32_t GetInt(const std::uint8_t* p) { return static_cast<std::int32_t>(Get32(p)); }
void PutInt(std::uint8_t* p, std::int32_t v) { Put32(p, static_cast<std::uint32_t>(v)); }

void Put64(std::uint8_t* p, std::uint64_t v) {
  Put32(p, static_cast<std::uint32_t>(v));
  Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

bool ReadAt(int fd, std::uint8_t* data, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, data + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAt(int fd, const std::uint8_t* data, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(fd, data + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The stored name: the bytes up to the first zero, at most the whole field.
std::size_t NameLength(const std::uint8_t* name) {
  const void* zero = std::memchr(name, 0, CacheNameLength);
  return zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - name) : CacheNameLength;
}

// Byte order, a shorter name before a longer one it begins.
int CompareNames(const std::uint8_t* a, std::size_t aLength, const std::uint8_t* b, std::size_t bLength) {
  const std::size_t common = aLength < bLength ? aLength : bLength;
  const int byBytes = common == 0 ? 0 : std::memcmp(a, b, common);
  if (byBytes != 0) return byBytes;
  return aLength < bLength ? -1 : aLength > bLength ? 1 : 0;
}

constexpr int CheckOffset = 264;

void DecodeName(const std::uint8_t* data, std::uint8_t* name, std::int32_t& width, std::int32_t& height,
                std::uint32_t& check, std::int32_t* l, std::int32_t& h) {
  std::memcpy(name, data, CacheNameLength);
  width = GetInt(data + 256);
  height = GetInt(data + 260);
  check = Get32(data + CheckOffset);
  for (int v = 0; v < LTraceVariants; ++v) l[v] = GetInt(data + 268 + 4 * v);
  h = GetInt(data + 292);
}

void EncodeName(std::uint8_t* data, const std::uint8_t* name, std::int32_t width, std::int32_t height,
                std::uint32_t check, const std::int32_t* l, std::int32_t h) {
  std::memcpy(data, name, CacheNameLength);
  PutInt(data + 256, width);
  PutInt(data + 260, height);
  Put32(data + CheckOffset, check);
  for (int v = 0; v < LTraceVariants; ++v) PutInt(data + 268 + 4 * v, l[v]);
  PutInt(data + 292, h);
}

void HeaderRecord(std::uint8_t* header, int size, std::int32_t slot) {
  std::memset(header, 0, static_cast<std::size_t>(size));
  Put32(header, CacheMagic);
  if (size == NameRecordSize) PutInt(header + 8, slot);
}

bool MakeFolders(const std::string& folder) {
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = folder.find('/', pos + 1);
    const std::string path = folder.substr(0, pos);
    if (!path.empty() && mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Replaces the file with a header-only one (cache.nid: with nothing).
bool RecreateFile(const std::string& path, int size) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  if (size > 0) {
    std::uint8_t header[LRecordSize];  // the largest record
    HeaderRecord(header, size, 0);
    ok = WriteAt(fd, header, static_cast<std::size_t>(size), 0);
  }
  return close(fd) == 0 && ok;
}

constexpr int RecordsPerRead = 256;  // the name records Open checks per read

}  // namespace

// Every byte of the record but the check value itself, then the stamp: a record stored for
// another file, or with any of its bytes changed since, gives another value.
std::uint32_t CacheCheckValue(const std::uint8_t* record, const TCacheStamp& stamp) {
  std::uint8_t tail[24];
  Put64(tail, static_cast<std::uint64_t>(stamp.Size));
  Put64(tail + 8, static_cast<std::uint64_t>(stamp.MTimeNs));
  Put64(tail + 16, stamp.Inode);
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, record, CheckOffset);
  crc = crc32(crc, record + CheckOffset + 4, NameRecordSize - CheckOffset - 4);
  crc = crc32(crc, tail, sizeof tail);
  return static_cast<std::uint32_t>(crc);
}

// ---------------------------------------------------------------------------------------------
// TCIndex

void TCIndex::SetCount(int n) {
  TS_ASSERT(n >= 0);
  Items_.resize(static_cast<std::size_t>(n), 0);
}

std::int32_t TCIndex::Items(int position) const {
  TS_ASSERT(position >= 0 && position < Count());
  return Items_[static_cast<std::size_t>(position)];
}

void TCIndex::Insert(int position, std::int32_t value) {
  TS_ASSERT(position >= 0 && position <= Count());
  Items_.insert(Items_.begin() + position, value);
}

void TCIndex::Remove(std::int32_t value) {
  for (auto it = Items_.begin(); it != Items_.end(); ++it)
    if (*it == value) {
      Items_.erase(it);
      return;
    }
}

bool TCIndex::LoadFromFile(const std::string& name, int maxCount, bool* unreadable) {
  Items_.clear();
  if (unreadable) *unreadable = false;
  const int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return true;
    if (unreadable) *unreadable = true;
    return false;
  }
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  if (!ok && unreadable) *unreadable = true;
  if (ok && info.st_size >= 4) {
    // The length is checked before anything is allocated for it.
    ok = info.st_size % 4 == 0 && info.st_size / 4 <= maxCount;
    if (ok) {
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
      ok = ReadAt(fd, bytes.data(), bytes.size(), 0);
      if (!ok && unreadable) *unreadable = true;
      if (ok) {
        Items_.resize(bytes.size() / 4);
        for (std::size_t i = 0; i < Items_.size(); ++i) Items_[i] = GetInt(bytes.data() + 4 * i);
      }
    }
  }
  close(fd);
  if (!ok) Items_.clear();
  return ok;
}

bool TCIndex::SaveToFile(const std::string& name) const {
  std::vector<std::uint8_t> bytes(Items_.size() * 4);
  for (std::size_t i = 0; i < Items_.size(); ++i) PutInt(bytes.data() + 4 * i, Items_[i]);
  // A half-written index would lose the whole cache; the old one stays until the new is whole.
  const std::string temporary = name + ".tmp";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  bool ok = WriteAt(fd, bytes.data(), bytes.size(), 0);
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), name.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

// ---------------------------------------------------------------------------------------------
// TCache

TCache::TCache(const std::string& baseFolder) {
  Folder_ = baseFolder;
  if (!Folder_.empty() && Folder_.back() != '/') Folder_ += '/';
  Folder_ += "Cache/";
  MakeFolders(Folder_);  // a folder that cannot be made shows when Open creates the files
  Names = {Folder_ + "cache.ncd", NameRecordSize, -1, 0};
  LTraces = {Folder_ + "cache.lcd", LRecordSize, -1, 0};
  HTraces = {Folder_ + "cache.hcd", HRecordSize, -1, 0};
}

TCache::~TCache() {
  try {
    if (Open_) Close();
  } catch (...) {
    // A destructor reports nothing.
  }
  CloseFiles();
}

void TCache::CloseFiles() {
  for (TRecordFile* file : {&Names, &LTraces, &HTraces}) {
    if (file->Fd >= 0) close(file->Fd);
    file->Fd = -1;
    file->Count = 0;
  }
  LastNumber = -1;
  Unlock();
}

// One process at a time reads and writes the cache: a second one would read records half
// written and take them for damage. A folder where no lock file can be made cannot hold a
// cache either, and the files' own opening reports that.
bool TCache::Lock() {
  Busy_ = false;
  if (LockFd_ >= 0) return true;
  LockFd_ = open((Folder_ + "cache.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (LockFd_ < 0) return true;
  if (flock(LockFd_, LOCK_EX | LOCK_NB) == 0) return true;
  close(LockFd_);
  LockFd_ = -1;
  Busy_ = true;
  LastError_ = CacheBusyMessage;
  return false;
}

void TCache::Unlock() {
  if (LockFd_ >= 0) close(LockFd_);  // closing the descriptor releases the lock
  LockFd_ = -1;
}

TCache::TOpenResult TCache::OpenRecordFile(TRecordFile& file, std::uint8_t* header) {
  file.Fd = open(file.Path.c_str(), O_RDWR | O_CLOEXEC);
  if (file.Fd < 0 && errno == ENOENT) {
    file.Fd = open(file.Path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file.Fd < 0) return TOpenResult::CannotCreate;
    HeaderRecord(header, file.Size, 0);
    if (!WriteAt(file.Fd, header, static_cast<std::size_t>(file.Size), 0)) return TOpenResult::CannotCreate;
    file.Count = 1;
    return TOpenResult::Ok;
  }
  if (file.Fd < 0) return TOpenResult::CannotOpen;
  struct stat info {};
  if (fstat(file.Fd, &info) != 0 || !S_ISREG(info.st_mode)) return TOpenResult::CannotOpen;
  // A file shorter than its header is as damaged as one with the wrong magic.
  if (info.st_size < file.Size) return TOpenResult::BadHeader;
  if (!ReadAt(file.Fd, header, static_cast<std::size_t>(file.Size), 0)) return TOpenResult::CannotOpen;
  if (Get32(header) != CacheMagic) return TOpenResult::BadHeader;
  file.Count = info.st_size / file.Size;  // a torn last record is not one
  return TOpenResult::Ok;
}

bool TCache::Open(std::int32_t capacity) {
  if (Open_) Close();  // keep what the open cache holds before reading it back
  LastError_.clear();
  Open_ = false;
  Damaged_ = false;
  Capacity_ = capacity;
  Index_.SetCount(0);
  Slot_ = 0;
  if (!Lock()) return false;

  const struct {
    TRecordFile* File;
    const char* Corrupted;
  } files[] = {{&Names, "Name cache corrupted!"},
               {&LTraces, "L-Signature cache corrupted!"},
               {&HTraces, "H-Signature cache corrupted!"}};
  std::uint8_t header[LRecordSize];  // the largest record
  for (const auto& entry : files) {
    const TOpenResult result = OpenRecordFile(*entry.File, header);
    if (result != TOpenResult::Ok) {
      if (result == TOpenResult::BadHeader) LastError_ = entry.Corrupted;
      if (result == TOpenResult::CannotOpen) LastError_ = "Failed to open \"" + entry.File->Path + "\"";
      if (result == TOpenResult::CannotCreate) LastError_ = "Failed to create \"" + entry.File->Path + "\"";
      Damaged_ = result == TOpenResult::BadHeader;
      CloseFiles();
      return false;
    }
    if (entry.File == &Names) {
      Slot_ = GetInt(header + 8);
      // The slot names a record that was taken over; record numbers are 32-bit.
      if (Slot_ < 0 || Slot_ >= Names.Count || Names.Count > INT32_MAX) {
        LastError_ = entry.Corrupted;
        Damaged_ = true;
        CloseFiles();
        return false;
      }
    }
  }

  // Index entries are distinct name records, so there can be no more of them than records.
  bool unreadable = false;
  const auto most = static_cast<int>(Names.Count - 1);
  if (!Index_.LoadFromFile(Folder_ + "cache.nid", most, &unreadable) || !CheckRecords()) {
    if (LastError_.empty()) {
      LastError_ = "Failed to load \"" + Folder_ + "cache.nid" + "\"";
      Damaged_ = !unreadable;
    }
    Index_.SetCount(0);
    Slot_ = 0;
    CloseFiles();
    return false;
  }
  Open_ = true;
  return true;
}

// Every name record must point at traces inside their files, none shared with another record;
// the index must list distinct records in name order. One pass over the name file, in blocks.
bool TCache::CheckRecords() {
  const std::size_t records = static_cast<std::size_t>(Names.Count);
  std::vector<std::int32_t> positionOf(records, -1);
  for (int i = 0; i < Index_.Count(); ++i) {
    const std::int32_t n = Index_.Entries()[static_cast<std::size_t>(i)];
    if (n < 1 || static_cast<std::size_t>(n) >= records || positionOf[static_cast<std::size_t>(n)] >= 0)
      return false;
    positionOf[static_cast<std::size_t>(n)] = i;
  }

  // Trace numbers are 32-bit: records beyond cannot be pointed at.
  std::vector<bool> lUsed(static_cast<std::size_t>(std::min<std::int64_t>(LTraces.Count, INT32_MAX)));
  std::vector<bool> hUsed(static_cast<std::size_t>(std::min<std::int64_t>(HTraces.Count, INT32_MAX)));
  std::vector<std::uint8_t> names;                   // the indexed records' names, packed
  std::vector<std::size_t> start(static_cast<std::size_t>(Index_.Count()));  // by index position
  std::vector<std::uint16_t> length(static_cast<std::size_t>(Index_.Count()));
  std::vector<std::uint8_t> block(static_cast<std::size_t>(RecordsPerRead) * NameRecordSize);
  TNameRecord record;
  for (std::size_t first = 1; first < records; first += RecordsPerRead) {
    const std::size_t n = std::min<std::size_t>(RecordsPerRead, records - first);
    if (!ReadAt(Names.Fd, block.data(), n * NameRecordSize, static_cast<off_t>(first * NameRecordSize))) {
      LastError_ = "Failed to read \"" + Names.Path + "\"";
      return false;
    }
    for (std::size_t k = 0; k < n; ++k) {
      const std::uint8_t* data = block.data() + k * NameRecordSize;
      DecodeName(data, record.Name, record.Width, record.Height, record.Check, record.L, record.H);
      for (int v = 0; v < LTraceVariants; ++v) {
        const std::int32_t t = record.L[v];
        if (t == -1) continue;
        if (t < 1 || t >= LTraces.Count || lUsed[static_cast<std::size_t>(t)]) {
          LastError_ = "L-Signature cache corrupted!";
          Damaged_ = true;
          return false;
        }
        lUsed[static_cast<std::size_t>(t)] = true;
      }
      if (record.H < 1 || record.H >= HTraces.Count || hUsed[static_cast<std::size_t>(record.H)]) {
        LastError_ = "H-Signature cache corrupted!";
        Damaged_ = true;
        return false;
      }
      hUsed[static_cast<std::size_t>(record.H)] = true;
      const std::int32_t position = positionOf[first + k];
      if (position >= 0) {
        const std::size_t nameLength = NameLength(record.Name);
        start[static_cast<std::size_t>(position)] = names.size();
        length[static_cast<std::size_t>(position)] = static_cast<std::uint16_t>(nameLength);
        names.insert(names.end(), record.Name, record.Name + nameLength);
      }
    }
  }
  // Equal neighbours are tolerated: names cut to the field's length by older writers collide.
  for (std::size_t i = 1; i < start.size(); ++i)
    if (CompareNames(names.data() + start[i - 1], length[i - 1], names.data() + start[i], length[i]) > 0)
      return false;
  return true;
}

int TCache::Count() const {
  if (Open_) return Index_.Count();
  struct stat info {};
  if (stat((Folder_ + "cache.nid").c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
  const auto entries = info.st_size / 4;
  return entries > INT32_MAX ? INT32_MAX : static_cast<int>(entries);
}

bool TCache::ReadRecord(TRecordFile& file, std::int64_t n, std::uint8_t* data) {
  TS_ASSERT(file.Fd >= 0 && n >= 0 && n < file.Count);
  if (ReadAt(file.Fd, data, static_cast<std::size_t>(file.Size), static_cast<off_t>(n * file.Size))) return true;
  Broken("Failed to read \"" + file.Path + "\"", false);
  return false;
}

bool TCache::WriteRecord(TRecordFile& file, std::int64_t n, const std::uint8_t* data) {
  TS_ASSERT(file.Fd >= 0 && n >= 1 && n < file.Count);
  if (WriteAt(file.Fd, data, static_cast<std::size_t>(file.Size), static_cast<off_t>(n * file.Size))) return true;
  LastError_ = "Failed to write \"" + file.Path + "\"";
  return false;
}

bool TCache::AppendRecord(TRecordFile& file, const std::uint8_t* data, std::int32_t& n) {
  TS_ASSERT(file.Fd >= 0);
  if (file.Count >= INT32_MAX ||
      !WriteAt(file.Fd, data, static_cast<std::size_t>(file.Size), static_cast<off_t>(file.Count * file.Size))) {
    LastError_ = "Failed to write \"" + file.Path + "\"";
    return false;
  }
  n = static_cast<std::int32_t>(file.Count++);
  return true;
}

bool TCache::ValidTraces(const TNameRecord& record) const {
  for (const std::int32_t t : record.L)
    if (t != -1 && (t < 1 || t >= LTraces.Count)) return false;
  return record.H >= 1 && record.H < HTraces.Count;
}

bool TCache::Believed(const TNameRecord& record, const TCacheStamp& stamp) {
  std::uint8_t data[NameRecordSize];
  EncodeName(data, record.Name, record.Width, record.Height, record.Check, record.L, record.H);
  return CacheCheckValue(data, stamp) == record.Check;
}

// A record read while open: files changed behind our back must not reach the traces.
bool TCache::ReadName(std::int32_t n, TNameRecord& record) {
  if (n < 1 || n >= Names.Count) {
    Broken("Name cache corrupted!", true);
    return false;
  }
  std::uint8_t data[NameRecordSize];
  if (!ReadRecord(Names, n, data)) return false;
  DecodeName(data, record.Name, record.Width, record.Height, record.Check, record.L, record.H);
  if (!ValidTraces(record)) {
    Broken("Name cache corrupted!", true);
    return false;
  }
  return true;
}

void TCache::Broken(const std::string& message, bool damaged) {
  LastError_ = message;
  Damaged_ = damaged;
  Open_ = false;
  Index_.SetCount(0);
  CloseFiles();
}

TCacheFind TCache::Find(const std::string& name) {
  TCacheFind result;
  LastNumber = -1;
  if (!Open_) return result;
  const auto* given = reinterpret_cast<const std::uint8_t*>(name.data());
  int lo = 0;
  int hi = Index_.Count() - 1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const std::int32_t number = Index_.Items(mid);
    if (!ReadName(number, Last)) {
      result.Position = 0;
      return result;
    }
    const int order = CompareNames(given, name.size(), Last.Name, NameLength(Last.Name));
    if (order == 0) {
      LastNumber = number;
      result.Position = -1;
      result.Record = number;
      return result;
    }
    if (order > 0)
      lo = mid + 1;
    else
      hi = mid - 1;
  }
  result.Position = lo;
  return result;
}

bool TCache::Holds(const std::string& name, const TCacheStamp& stamp, TPicVariants variants) {
  if (!Open_ || name.size() > CacheNameLength || name.find('\0') != std::string::npos) return false;
  if (Find(name).Record < 1 || !Open_ || !Believed(Last, stamp)) return false;
  variants.Include(pvOriginal);
  for (int v = 0; v < LTraceVariants; ++v)
    if (variants.Contains(v) && Last.L[v] == -1) return false;
  return true;
}

bool TCache::Analyse(const std::string& name, TPicSign& signature, TPixan& analyser, TPicVariants variants,
                     TPictureSize& size) {
  if (Prepared_ && PreparedName_ == name) {
    if (!Prepared_->Ok) {
      LastError_ = Prepared_->Error;
      signature.SetHLength(0);
      signature.SetLLength(pvOriginal, 0);
      return false;
    }
    Prepared_->CopyTo(signature, variants);
    size = Prepared_->Size;
    return true;
  }
  if (!analyser.Analyse(name, signature, variants)) {
    LastError_ = analyser.LastError();
    return false;
  }
  size = analyser.PictureSize();
  return true;
}

bool TCache::GetSignature(const std::string& name, const TCacheStamp& stamp, TPicSign& signature, TPixan& analyser,
                          TPicVariants variants, TPictureSize& size) {
  LastError_.clear();
  size = {};
  variants.Include(pvOriginal);
  const bool storable = name.size() <= CacheNameLength && name.find('\0') == std::string::npos;
  if (!Open_ || !storable) return Analyse(name, signature, analyser, variants, size);

  const TCacheFind found = Find(name);
  if (!Open_) return Analyse(name, signature, analyser, variants, size);
  // A record that fails its check is of another file under this name, or damaged: none of its
  // traces is believed, and all it holds are computed again into it.
  const bool believed = found.Record >= 1 && Believed(Last, stamp);
  if (believed) {
    const TNameRecord record = Last;
    size = {record.Width, record.Height};
    signature.SetHLength(HTraceLength);
    if (!ReadRecord(HTraces, record.H, signature.HTrace().Data()))
      return Analyse(name, signature, analyser, variants, size);
    bool complete = true;
    for (int v = 0; v < LTraceVariants && complete; ++v) {
      if (!variants.Contains(v)) continue;
      if (record.L[v] == -1) {
        complete = false;
        break;
      }
      TPicTrace* trace = signature.LTrace(v);
      TS_ASSERT(trace != nullptr);
      trace->SetLength(LTraceLength);
      if (!ReadRecord(LTraces, record.L[v], trace->Data()))
        return Analyse(name, signature, analyser, variants, size);
    }
    if (complete) return true;
  }

  // A picture taking over the record of one that gives way also gets the variants that record
  // holds computed, so that none of its traces still shows the other picture.
  const bool takeOver = found.Record < 1 && Count() >= Capacity_;
  if (takeOver && Capacity_ < 1) return Analyse(name, signature, analyser, variants, size);
  TPicVariants computed = variants;
  if (found.Record >= 1 && !believed)
    for (int v = 0; v < LTraceVariants; ++v)
      if (Last.L[v] != -1) computed.Include(v);
  if (takeOver) {
    TNameRecord old;
    std::int32_t slot = Slot_ + 1;
    if (slot > Capacity_) slot = 1;
    if (!ReadName(slot, old)) return Analyse(name, signature, analyser, variants, size);
    for (int v = 0; v < LTraceVariants; ++v)
      if (old.L[v] != -1) computed.Include(v);
  }
  if (computed == variants) {
    if (!Analyse(name, signature, analyser, variants, size)) return false;
    return Store(name, stamp, signature, variants, size, found);
  }
  TPicSign full(computed);
  if (!Analyse(name, full, analyser, computed, size)) {
    signature.SetHLength(0);
    signature.SetLLength(pvOriginal, 0);
    return false;
  }
  signature.HTrace() = full.HTrace();
  for (int v = 0; v < LTraceVariants; ++v)
    if (variants.Contains(v)) {
      TPicTrace* trace = signature.LTrace(v);
      TS_ASSERT(trace != nullptr);
      *trace = *full.LTrace(v);
    }
  return Store(name, stamp, full, computed, size, found);
}

// Writes the analysed picture: a found record in place, a new one appended, or, with the cache
// full, over the record whose turn it is. Gives true: the signature is good either way; a write
// that fails leaves that record out of the index and its message in LastError.
bool TCache::Store(const std::string& name, const TCacheStamp& stamp, const TPicSign& signature,
                   TPicVariants variants, TPictureSize size, const TCacheFind& found) {
  TNameRecord record;
  std::int32_t number = -1;
  int position = found.Position;
  if (found.Record >= 1) {
    record = Last;
    number = found.Record;
  } else if (Count() >= Capacity_) {
    std::int32_t slot = Slot_ + 1;
    if (slot > Capacity_) slot = 1;
    if (!ReadName(slot, record)) return true;
    Slot_ = slot;
    Index_.Remove(slot);
    const TCacheFind again = Find(name);
    if (!Open_) return true;
    if (again.Record >= 1) {
      // Only an index out of name order finds the name now.
      Broken("Name cache corrupted!", true);
      return true;
    }
    position = again.Position;
    number = slot;
  }
  const bool fresh = number < 1;

  std::memset(record.Name, 0, sizeof record.Name);
  std::memcpy(record.Name, name.data(), name.size());
  record.Width = size.Width;
  record.Height = size.Height;
  bool ok = true;
  for (int v = 0; v < LTraceVariants && ok; ++v) {
    if (!variants.Contains(v)) {
      if (fresh) record.L[v] = -1;
      continue;
    }
    const TPicTrace* trace = signature.LTrace(v);
    TS_ASSERT(trace != nullptr && trace->Length() == LTraceLength);
    if (!fresh && record.L[v] != -1)
      ok = WriteRecord(LTraces, record.L[v], trace->Data());
    else
      ok = AppendRecord(LTraces, trace->Data(), record.L[v]);
  }
  TS_ASSERT(signature.HLength() == HTraceLength);
  if (ok) ok = fresh ? AppendRecord(HTraces, signature.HTrace().Data(), record.H)
                     : WriteRecord(HTraces, record.H, signature.HTrace().Data());
  std::uint8_t data[NameRecordSize];
  EncodeName(data, record.Name, record.Width, record.Height, 0, record.L, record.H);
  Put32(data + CheckOffset, CacheCheckValue(data, stamp));
  if (ok) ok = fresh ? AppendRecord(Names, data, number) : WriteRecord(Names, number, data);

  if (!ok) {
    if (found.Record >= 1) Index_.Remove(found.Record);  // its traces may be half rewritten
    return true;
  }
  if (found.Record < 1) Index_.Insert(position, number);
  return true;
}

void TCache::SetCapacity(std::int32_t n) {
  if (n == Capacity_) return;
  Capacity_ = n;
  if (n < Count()) Clear();
}

void TCache::Clear() {
  // A closed cache may be another process's open one: it is cleared only under the lock.
  const bool locked = Open_ || LockFd_ >= 0;
  if (!locked && !Lock()) return;
  struct TRelease {
    TCache& Cache;
    bool Release;
    ~TRelease() {
      if (Release) Cache.Unlock();
    }
  } release{*this, !locked};
  bool ok = true;
  std::string failed;
  for (TRecordFile* file : {&Names, &LTraces, &HTraces}) {
    std::uint8_t header[LRecordSize];
    HeaderRecord(header, file->Size, 0);
    const bool done = file->Fd >= 0 ? ftruncate(file->Fd, 0) == 0 &&
                                          WriteAt(file->Fd, header, static_cast<std::size_t>(file->Size), 0)
                                    : RecreateFile(file->Path, file->Size);
    if (done) file->Count = 1;
    if (!done && ok) failed = file->Path;
    ok = ok && done;
  }
  if (!RecreateFile(Folder_ + "cache.nid", 0) && ok) {
    failed = Folder_ + "cache.nid";
    ok = false;
  }
  Index_.SetCount(0);
  Slot_ = 0;
  LastNumber = -1;
  if (ok) {
    Damaged_ = false;
    return;
  }
  if (Open_)
    Broken("Failed to write \"" + failed + "\"", false);
  else
    LastError_ = "Failed to write \"" + failed + "\"";
}

bool TCache::Save() {
  LastError_.clear();
  if (!Open_) return false;
  bool ok = true;
  if (!Index_.SaveToFile(Folder_ + "cache.nid")) {
    LastError_ += " Failed to save \"" + Folder_ + "cache.nid" + "\"";
    ok = false;
  }
  std::uint8_t header[NameRecordSize];
  bool slotSaved = ReadAt(Names.Fd, header, sizeof header, 0);
  if (slotSaved) {
    PutInt(header + 8, Slot_);
    slotSaved = WriteAt(Names.Fd, header, sizeof header, 0);
  }
  if (!slotSaved) {
    LastError_ += " Failed to save \"" + Names.Path + "\"";
    ok = false;
  }
  return ok;
}

bool TCache::Close() {
  LastError_.clear();
  if (!Open_) return false;
  const bool ok = Save();
  Open_ = false;
  CloseFiles();
  return ok;
}
