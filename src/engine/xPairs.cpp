// The comparison phase. The plain loop decides every pair (r, c), c < r. The candidate loop
// decides, in the same order, only the pairs that can be duplicates, and reports the same
// status and progress: a pair of different sizes can only be a duplicate when it is decided
// by pictures or tags rather than by content, and two tags can only match when they share the
// folded text of one field.

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

#include "xEngine.h"
#include "xMP3.h"
#include "xPictureFilter.h"

namespace {

// What a record's digest tells at a glance: 0 while it has none; equal digests give equal keys.
std::uint64_t DigestKey(const TFileData& record) {
  if (!record.HasDigest()) return 0;
  std::uint64_t key;
  std::memcpy(&key, record.Digest.Bytes.data(), sizeof key);
  return (key ^ std::uint64_t{record.Digest.Length} << 56) | 1;
}

}  // namespace

bool TEngine::DecidePair(TFileData* a, TFileData* b, bool scored) {
  if (b->Failed) return true;
  // What IsDuplicate asks besides the score: neither failed (a never is here), not both grouped,
  // not one file twice.
  const bool duplicate = scored ? !(a->Group && b->Group) && !SameFile(*a, *b) : IsDuplicate(a, b, false);
  if (duplicate) AddPair(a, b);
  if (!Stopped) return true;
  LastError = "Comparison aborted";
  return false;
}

bool TEngine::FinishRow(const std::string& status, int r, int n) {
  SetStatus(status + std::to_string(r) + " out of " + std::to_string(n));
  SetProgress(static_cast<double>(r) / (n - 1));
  if (!Stopped) return true;
  // A stop that arrives while the progress is shown ends the search as one inside a row does.
  if (LastError.empty() && r < n - 1) LastError = "Comparison aborted";
  return false;
}

void TEngine::CompareAllPairsPlain(int n) {
  for (int r = 1; r < n; ++r) {
    TFileData* a = Files(r);
    if (a->Failed) continue;
    for (int c = 0; c < r; ++c)
      if (!DecidePair(a, Files(c))) break;
    if (!FinishRow("Comparing : ", r, n)) break;
  }
}

void TEngine::CompareAllPairsCandidates(int n) {
  // Earlier records by size, by tag field, and the earlier pictures.
  std::unordered_map<std::int64_t, std::vector<int>> bySize;
  std::unordered_map<std::string, std::vector<int>> byTagField;
  std::vector<int> others;
  std::vector<int> candidates;
  // Earlier pictures whose pair with this one cannot reach the threshold are left out.
  std::unique_ptr<TPictureFilter> filter;
  if (Options.PicsComp) {
    std::vector<const TFileData*> records(static_cast<std::size_t>(n), nullptr);
    for (int i = 0; i < n; ++i)
      if (Files(i)->Kind() == TRecordKind::Picture) records[static_cast<std::size_t>(i)] = Files(i);
    filter = std::make_unique<TPictureFilter>(records, Options.PicVariants, PictureThreshold(Options.Tolerance, false), true);
    PictureFilter_ = filter.get();
  }
  auto isPicture = [&](const TFileData* record) { return Options.PicsComp && record->Kind() == TRecordKind::Picture; };
  auto isMP3 = [&](const TFileData* record) { return Options.MP3Comp && record->Kind() == TRecordKind::MP3; };
  // The earlier records at a glance, so that most pairs of one size are turned down without
  // touching the records: two known digests that differ decide the pair as IsDuplicate would,
  // and leave nothing behind.
  enum : std::uint8_t { kContent, kPicture, kMP3 };
  std::vector<std::uint64_t> digestKeys(static_cast<std::size_t>(std::max(n, 0)));
  std::vector<std::uint8_t> classes(digestKeys.size());
  auto enter = [&](int index) {
    const TFileData* record = Files(index);
    bySize[record->Size].push_back(index);
    digestKeys[static_cast<std::size_t>(index)] = DigestKey(*record);
    classes[static_cast<std::size_t>(index)] = isPicture(record) ? kPicture : isMP3(record) ? kMP3 : kContent;
    if (isMP3(record))
      for (const std::string& key : TagKeys(static_cast<const TMP3Data*>(record)->Tag)) byTagField[key].push_back(index);
  };
  PrefetchDigests();
  {
    std::map<std::pair<std::uint64_t, std::uint64_t>, const TFileData*> first;
    SharedIdentities_.clear();
    for (int i = 0; i < n; ++i) {
      const TFileData* record = Files(i);
      if (!record->Identity.Known()) continue;
      const auto [at, fresh] = first.try_emplace({record->Identity.Device, record->Identity.Inode}, record);
      if (!fresh) {
        SharedIdentities_.insert(at->second);
        SharedIdentities_.insert(record);
      }
    }
  }
  FailedJoins_ = std::make_unique<TFailedJoins>();
  if (n > 0) enter(0);
  for (int r = 1; r < n; ++r) {
    TFileData* a = Files(r);
    if (!a->Failed) {
      candidates.clear();
      const std::uint64_t digestKey = DigestKey(*a);
      const std::uint8_t type = isPicture(a) ? kPicture : isMP3(a) ? kMP3 : kContent;
      if (const auto same = bySize.find(a->Size); same != bySize.end())
        for (const int c : same->second) {
          const auto at = static_cast<std::size_t>(c);
          if (type != kContent && classes[at] == type) continue;  // decided by pictures or tags
          if (digestKey != 0 && digestKeys[at] != 0 && digestKeys[at] != digestKey) continue;
          candidates.push_back(c);
        }
      // The pairs decided otherwise than by content, merged in index order. Pictures come one
      // at a time, so that once this one is grouped the grouped ones are passed over.
      if (isMP3(a)) {
        others.clear();
        for (const std::string& key : TagKeys(static_cast<const TMP3Data*>(a)->Tag))
          if (const auto same = byTagField.find(key); same != byTagField.end())
            others.insert(others.end(), same->second.begin(), same->second.end());
        std::sort(others.begin(), others.end());
        const auto middle = static_cast<std::ptrdiff_t>(candidates.size());
        candidates.insert(candidates.end(), others.begin(), others.end());
        std::inplace_merge(candidates.begin(), candidates.begin() + middle, candidates.end());
        candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
      }
      const bool pictures = isPicture(a);
      if (pictures) filter->BeginRow(r);
      int picture = pictures ? filter->Next(a->Group != nullptr) : -1;
      for (std::size_t next = 0;;) {
        int c;
        bool scored = false;  // by the filter: then its score reaches the threshold
        if (next < candidates.size() && (picture < 0 || candidates[next] <= picture)) {
          c = candidates[next++];
          if (c == picture) {
            scored = filter->Scored();
            picture = -2;
          }
        } else if (picture >= 0) {
          c = picture;
          scored = filter->Scored();
          picture = -2;
        } else {
          break;
        }
        if (!DecidePair(a, Files(c), scored)) break;
        if (filter && a->Group) filter->NoteGrouped(r);
        if (filter && Files(c)->Group) filter->NoteGrouped(c);
        if (picture == -2) picture = filter->Next(a->Group != nullptr);
      }
      if (!FinishRow("Comparing : ", r, n)) break;
    }
    enter(r);
  }
  FailedJoins_.reset();
  SharedIdentities_.clear();
  PictureFilter_ = nullptr;
  if (filter) {
    filter->Finish();
    Stats_.PicturePairs = filter->Stats().Pairs;
    Stats_.PicturePairsSkipped = filter->Stats().Grouped + filter->Stats().Scored;
    Stats_.PicturePairsBelow = filter->Stats().Scored;
  }
}

void TEngine::CompareWithSample(int n) {
  TFileData* sample = Files(0);
  TGroup* group = nullptr;
  for (int r = 1; r < n; ++r) {
    TFileData* candidate = Files(r);
    if (candidate->Failed) continue;
    if (IsDuplicate(sample, candidate, false)) {
      if (!group) {
        GroupList.push_back(std::make_unique<TGroup>());
        group = GroupList.back().get();
      }
      group->Add(candidate);
    }
    if (!FinishRow("Searching : ", r, n)) break;
  }
}
