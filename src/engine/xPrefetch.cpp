// Reading ahead for the digest methods. Before the candidate loop decides its pairs, every
// record that may meet a partner of its size gets its digest on worker threads, in an order
// that suits the disk, and a record whose first and last blocks match no partner's gets a digest
// of its own that equals no other: it cannot be a duplicate, and its whole file is not read.
// Nothing is logged and no record is marked failed here: a file that cannot be read keeps its
// failure pending until the comparison asks for its digest, so the warnings come in the order,
// and only for the files, of a search without reading ahead.

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <nettle/md5.h>

#include "xEngine.h"
#include "xReadFile.h"

namespace {

constexpr std::size_t EdgeBlock = 4096;

struct TEdges {
  std::array<std::uint8_t, 16> Hash{};
  bool Read = false;
  bool operator==(const TEdges& other) const { return Read && other.Read && Hash == other.Hash; }
};

// The MD5 of the first and the last block of a file.
TEdges ReadEdges(const std::string& path, std::int64_t size, std::vector<std::uint8_t>& buffer) {
  TEdges edges;
  TReadFile file(path);
  if (!file.IsOpen() || file.Size() != size) return edges;
  const auto head = static_cast<std::size_t>(std::min<std::int64_t>(size, EdgeBlock));
  const std::int64_t tailStart = std::max<std::int64_t>(static_cast<std::int64_t>(head), size - static_cast<std::int64_t>(EdgeBlock));
  const auto tail = static_cast<std::size_t>(size - tailStart);
  if (file.ReadAt(buffer.data(), head, 0) != static_cast<std::int64_t>(head)) return edges;
  if (tail > 0 && file.ReadAt(buffer.data() + head, tail, tailStart) != static_cast<std::int64_t>(tail)) return edges;
  md5_ctx context;
  md5_init(&context);
  md5_update(&context, head + tail, buffer.data());
  md5_digest(&context, MD5_DIGEST_SIZE, edges.Hash.data());
  edges.Read = true;
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

}  // namespace

void TEngine::PrefetchDigests() {
  if (Options.FileComp < fcCrc32 || Options.FileComp > fcSha) return;
  // Records that may be compared by content with a partner of their size.
  std::unordered_map<std::int64_t, std::vector<TFileData*>> bySize;
  for (const auto& record : Records)
    if (!record->Failed && record->Size <= DigestSizeLimit) bySize[record->Size].push_back(record.get());
  // Two pictures (visual comparison on) or two MP3 files (tags on) are not compared by content.
  std::vector<TFileData*> work;
  for (auto& [size, members] : bySize) {
    if (members.size() < 2) continue;
    std::size_t pictures = 0, mp3s = 0;
    for (const TFileData* member : members) {
      pictures += Options.PicsComp && member->Kind() == TRecordKind::Picture ? 1 : 0;
      mp3s += Options.MP3Comp && member->Kind() == TRecordKind::MP3 ? 1 : 0;
    }
    for (TFileData* member : members) {
      const bool picture = Options.PicsComp && member->Kind() == TRecordKind::Picture;
      const bool mp3 = Options.MP3Comp && member->Kind() == TRecordKind::MP3;
      const std::size_t partners = members.size() - (picture ? pictures : mp3 ? mp3s : 1);
      if (partners > 0 && !member->HasDigest() && member->Pending == TReadOutcome::Ok) work.push_back(member);
    }
  }
  if (work.empty()) return;
  // Inode order follows the disk's layout closely on the common file systems.
  auto byPlace = [](const TFileData* a, const TFileData* b) {
    return std::pair{a->Identity.Device, a->Identity.Inode} < std::pair{b->Identity.Device, b->Identity.Inode};
  };
  std::sort(work.begin(), work.end(), byPlace);

  std::atomic<bool> cancel{false};
  auto pump = [&] {
    PumpEvents();
    if (Stopped) cancel = true;
  };
  const int method = Options.FileComp;

  // First and last blocks of every member of a bucket that still needs a digest.
  std::unordered_map<const TFileData*, TEdges> edges;
  std::vector<TFileData*> sampled;
  std::unordered_map<std::int64_t, bool> needed;
  for (const TFileData* record : work) needed[record->Size] = true;
  for (const auto& [size, yes] : needed) sampled.insert(sampled.end(), bySize[size].begin(), bySize[size].end());
  std::sort(sampled.begin(), sampled.end(), byPlace);
  std::vector<TEdges> sampledEdges(sampled.size());
  RunOnWorkers(sampled.size(), method, pump, cancel, [&](std::size_t i, std::vector<std::uint8_t>& buffer, TDigestAlgorithm&) {
    sampledEdges[i] = ReadEdges(sampled[i]->FileName, sampled[i]->Size, buffer);
  });
  if (cancel) return;
  for (std::size_t i = 0; i < sampled.size(); ++i) edges[sampled[i]] = sampledEdges[i];

  // A record alone with its edges cannot equal any partner: its digest is one of its own.
  std::vector<TFileData*> whole;
  std::uint64_t unique = 0;
  for (TFileData* record : work) {
    const TEdges& mine = edges[record];
    bool alone = mine.Read;
    for (const TFileData* partner : bySize[record->Size])
      if (partner != record && mine == edges[partner]) alone = false;
    if (!alone) {
      whole.push_back(record);
      continue;
    }
    record->Digest.Length = 0xFF;  // never the length of a real digest
    ++unique;
    for (int b = 0; b < 8; ++b) record->Digest.Bytes[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(unique >> (8 * b));
  }

  std::vector<TDigest> digests(whole.size());
  std::vector<TReadOutcome> outcomes(whole.size(), TReadOutcome::Ok);
  RunOnWorkers(whole.size(), method, pump, cancel, [&](std::size_t i, std::vector<std::uint8_t>& buffer, TDigestAlgorithm& algorithm) {
    outcomes[i] = DigestWholeFile(whole[i]->FileName, algorithm, buffer, digests[i]);
  });
  if (cancel) return;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (outcomes[i] == TReadOutcome::Ok)
      whole[i]->Digest = digests[i];
    else
      whole[i]->Pending = outcomes[i];
  }
}
