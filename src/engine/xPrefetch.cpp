// Reading ahead for the digest methods. Before the candidate loop decides its pairs, every
// record that may meet a partner of its size gets its digest on worker threads, in an order
// that suits the disk, and a record whose first and last blocks match no partner's gets a digest
// of its own that equals no other: it cannot be a duplicate, and its whole file is not read.
// Nothing is logged and no record is marked failed here: a file that cannot be read keeps its
// failure pending until the comparison asks for its digest, so the warnings come in the order,
// and only for the files, of a search without reading ahead.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "xEngine.h"
#include "xReadFile.h"

namespace {

constexpr std::size_t EdgeBlock = 4096;

// A fast hash of the edge blocks. It only tells files apart: equal bytes give equal hashes, and
// two files whose hashes happen to agree are digested whole, as if their edges were equal.
class TEdgeHash {
public:
  static std::uint64_t Of(const std::uint8_t* data, std::size_t size) {
    std::uint64_t lanes[4] = {Seed + Prime1 + Prime2, Seed + Prime2, Seed, Seed - Prime1};
    std::size_t at = 0;
    for (; at + 32 <= size; at += 32)
      for (int k = 0; k < 4; ++k) lanes[k] = Round(lanes[k], Load(data + at + 8 * static_cast<std::size_t>(k)));
    std::uint64_t hash = Rotate(lanes[0], 1) + Rotate(lanes[1], 7) + Rotate(lanes[2], 12) + Rotate(lanes[3], 18);
    hash += size;
    for (; at + 8 <= size; at += 8) hash = Rotate(hash ^ Round(0, Load(data + at)), 27) * Prime1 + Prime4;
    for (; at < size; ++at) hash = Rotate(hash ^ (data[at] * Prime5), 11) * Prime1;
    hash ^= hash >> 33;
    hash *= Prime2;
    hash ^= hash >> 29;
    hash *= Prime3;
    return hash ^ (hash >> 32);
  }

private:
  static constexpr std::uint64_t Prime1 = 0x9E3779B185EBCA87ULL, Prime2 = 0xC2B2AE3D27D4EB4FULL,
                                 Prime3 = 0x165667B19E3779F9ULL, Prime4 = 0x85EBCA77C2B2AE63ULL,
                                 Prime5 = 0x27D4EB2F165667C5ULL, Seed = 0x5D1F7A3C2B6E4F90ULL;
  static std::uint64_t Rotate(std::uint64_t x, int bits) { return x << bits | x >> (64 - bits); }
  static std::uint64_t Load(const std::uint8_t* at) {
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
  }
  static std::uint64_t Round(std::uint64_t lane, std::uint64_t word) { return Rotate(lane + word * Prime2, 31) * Prime1; }
};

struct TEdges {
  std::uint64_t Hash = 0;
  bool Read = false;
};

// The first and the last block of a file; not read when the file cannot be opened, is no
// longer a regular file of the size the scan saw, or cannot be read to its end. One read when
// the two blocks make the whole file.
TEdges ReadEdges(const std::string& path, std::int64_t size, std::vector<std::uint8_t>& buffer) {
  TEdges edges;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return edges;
  auto readAt = [&](std::uint8_t* into, std::size_t length, std::int64_t offset) {
    for (std::size_t done = 0; done < length;) {
      const ssize_t got = ::pread(fd, into + done, length - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  };
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size == size) {
    const auto head = static_cast<std::size_t>(std::min<std::int64_t>(size, EdgeBlock));
    const std::int64_t tailStart = std::max<std::int64_t>(static_cast<std::int64_t>(head), size - static_cast<std::int64_t>(EdgeBlock));
    const auto tail = static_cast<std::size_t>(size - tailStart);
    const bool read = tailStart == static_cast<std::int64_t>(head)
                          ? readAt(buffer.data(), head + tail, 0)
                          : readAt(buffer.data(), head, 0) && readAt(buffer.data() + head, tail, tailStart);
    if (read) {
      edges.Hash = TEdgeHash::Of(buffer.data(), head + tail);
      edges.Read = true;
    }
  }
  ::close(fd);
  return edges;
}

// Runs job(i, buffer, algorithm) for i in 0 .. count-1 on the machine's cores while the calling
// thread keeps the front end's events going; a stop leaves the rest undone.
template <typename TJob>
void RunOnWorkers(std::size_t count, int method, const std::function<void()>& pump, const std::atomic<bool>& cancel,
                  TJob job) {
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> finished{0};
  const unsigned workers = std::max(1U, std::min(std::thread::hardware_concurrency(), 8U));
  std::vector<std::thread> threads;
  for (unsigned w = 0; w < workers; ++w)
    threads.emplace_back([&] {
      std::vector<std::uint8_t> buffer(TEngine::CompareBufferSize);
      auto algorithm = MakeDigestAlgorithm(method);
      // A job that throws (memory running out) leaves its record to the comparison, which reads
      // the file itself when it comes to it.
      for (std::size_t i; !cancel && (i = next++) < count;) {
        try {
          job(i, buffer, *algorithm);
        } catch (...) {
        }
      }
      ++finished;
    });
  while (finished < workers) {
    pump();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (std::thread& thread : threads) thread.join();
}

// One record of a size shared with others, with where it lies on the disk.
struct TItem {
  TFileData* Record;
  TFileIdentity Place;
  std::uint64_t Hash;  // of the edges, when read
  bool Read;
  bool Work;  // its digest is wanted
};

}  // namespace

void TEngine::PrefetchDigests() {
  if (Options.FileComp < fcCrc32 || Options.FileComp > fcSha) return;
  // Records that may be compared by content with a partner of their size, in runs of one size.
  std::vector<std::pair<std::int64_t, TFileData*>> sized;
  sized.reserve(Records.size());
  for (const auto& record : Records)
    if (!record->Failed && record->Size <= DigestSizeLimit) sized.emplace_back(record->Size, record.get());
  std::stable_sort(sized.begin(), sized.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

  // Two pictures (visual comparison on) or two MP3 files (tags on) are not compared by content.
  auto isPicture = [&](const TFileData* record) { return Options.PicsComp && record->Kind() == TRecordKind::Picture; };
  auto isMP3 = [&](const TFileData* record) { return Options.MP3Comp && record->Kind() == TRecordKind::MP3; };
  std::vector<TItem> items;
  std::vector<std::pair<std::size_t, std::size_t>> runs;  // [first, last) in items, one size each
  for (std::size_t first = 0, last; first < sized.size(); first = last) {
    last = first + 1;
    while (last < sized.size() && sized[last].first == sized[first].first) ++last;
    if (last - first < 2) continue;
    std::size_t pictures = 0, mp3s = 0;
    for (std::size_t i = first; i < last; ++i) {
      pictures += isPicture(sized[i].second) ? 1 : 0;
      mp3s += isMP3(sized[i].second) ? 1 : 0;
    }
    const std::size_t start = items.size();
    bool wanted = false;
    for (std::size_t i = first; i < last; ++i) {
      TFileData* member = sized[i].second;
      const std::size_t partners = last - first - (isPicture(member) ? pictures : isMP3(member) ? mp3s : 1);
      const bool work = partners > 0 && !member->HasDigest() && member->Pending == TReadOutcome::Ok;
      wanted = wanted || work;
      items.push_back({member, member->Identity, 0, false, work});
    }
    if (wanted)
      runs.emplace_back(start, items.size());
    else
      items.resize(start);
  }
  sized = {};
  if (runs.empty()) return;

  // Inode order follows the disk's layout closely on the common file systems.
  auto inPlaceOrder = [&](std::vector<std::size_t>& order) {
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      const TFileIdentity& x = items[a].Place;
      const TFileIdentity& y = items[b].Place;
      return x.Device != y.Device ? x.Device < y.Device : x.Inode < y.Inode;
    });
  };
  std::atomic<bool> cancel{false};
  auto pump = [&] {
    PumpEvents();
    if (Stopped) cancel = true;
  };
  const int method = Options.FileComp;

  // First and last blocks of every member of a run that holds a record still needing a digest.
  std::vector<std::size_t> order(items.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  inPlaceOrder(order);
  RunOnWorkers(order.size(), method, pump, cancel, [&](std::size_t i, std::vector<std::uint8_t>& buffer, TDigestAlgorithm&) {
    TItem& item = items[order[i]];
    const TEdges edges = ReadEdges(item.Record->FileName, item.Record->Size, buffer);
    item.Hash = edges.Hash;
    item.Read = edges.Read;
  });
  if (cancel) return;

  // A record alone with its edges in its run cannot equal any partner: its digest is one of its
  // own, made of the record's address, which no other live record shares.
  std::vector<std::size_t> whole, byHash;
  for (const auto& [first, last] : runs) {
    byHash.clear();
    for (std::size_t i = first; i < last; ++i)
      if (items[i].Read) byHash.push_back(i);
    std::sort(byHash.begin(), byHash.end(), [&](std::size_t a, std::size_t b) { return items[a].Hash < items[b].Hash; });
    for (std::size_t k = 0; k < byHash.size(); ++k) {
      TItem& item = items[byHash[k]];
      const bool alone = (k == 0 || items[byHash[k - 1]].Hash != item.Hash) &&
                         (k + 1 == byHash.size() || items[byHash[k + 1]].Hash != item.Hash);
      if (!item.Work || !alone) continue;
      item.Work = false;
      TDigest& digest = item.Record->Digest;
      digest = {};
      digest.Length = 0xFF;  // never the length of a real digest
      const auto address = reinterpret_cast<std::uintptr_t>(item.Record);
      for (std::size_t b = 0; b < sizeof address; ++b) digest.Bytes[b] = static_cast<std::uint8_t>(address >> (8 * b));
    }
    // Unread edges (a file that failed) leave the record to the whole read, which finds the failure.
    for (std::size_t i = first; i < last; ++i)
      if (items[i].Work) whole.push_back(i);
  }
  if (whole.empty()) return;

  inPlaceOrder(whole);
  std::vector<TDigest> digests(whole.size());
  std::vector<TReadOutcome> outcomes(whole.size(), TReadOutcome::Ok);
  RunOnWorkers(whole.size(), method, pump, cancel, [&](std::size_t i, std::vector<std::uint8_t>& buffer, TDigestAlgorithm& algorithm) {
    outcomes[i] = DigestWholeFile(items[whole[i]].Record->FileName, algorithm, buffer, digests[i]);
  });
  if (cancel) return;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    TFileData* record = items[whole[i]].Record;
    if (outcomes[i] == TReadOutcome::Ok)
      record->Digest = digests[i];
    else
      record->Pending = outcomes[i];
  }
}
