// Pictures in the search: preparing their signatures (from the cache or the analyser) and the
// similarity decision.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <exception>
#include <thread>

#include "xAssert.h"
#include "xEngine.h"
#include "xLog.h"

namespace {

// The file as the scan saw it, before anything was decoded: a file changed since is stored
// with a stamp it no longer matches, and analysed again next time.
TCacheStamp CacheStamp(const TFileData& record) { return {record.Size, record.MTimeNs, record.Identity.Inode}; }

}  // namespace

void TEngine::ApplyCache() {
  if (!Options.Cache) return;  // an open cache stays open, unused, until the engine closes it
  if (!Cache.IsOpen() && !Cache.Open(Options.CacheCount) && Cache.IsBusy()) {
    // Another search has it: this one goes without, and says so once.
    if (!CacheBusyReported_) LogWarning(Cache.LastError());
    CacheBusyReported_ = true;
  } else if (!Cache.IsOpen()) {
    LogError(Cache.LastError());
    // A damaged cache holds nothing that cannot be computed again: start a fresh one rather
    // than search without a cache from now on.
    if (Cache.IsDamaged()) {
      Cache.Clear();
      if (!Cache.Open(Options.CacheCount)) LogError(Cache.LastError());
    }
  }
  if (Cache.IsOpen()) Cache.SetCapacity(Options.CacheCount);
}

void TEngine::PreparePicture(int index, const TAnalysisResult* prepared) {
  TFileData* record = Files(index);
  if (record->Kind() != TRecordKind::Picture) return;
  auto& picture = static_cast<TPicData&>(*record);
  if (Options.Cache && Cache.IsOpen()) {
    TPictureSize size;
    Cache.SetPrepared(picture.FileName, prepared);
    const bool got = Cache.GetSignature(picture.FileName, CacheStamp(picture), picture.Sign, Analyser,
                                        Options.PicVariants, size);
    Cache.SetPrepared("", nullptr);
    if (!got) {
      if (Stopped) return;  // the decode was stopped: the picture did not fail
      picture.Failed = true;
      LogWarning(Cache.LastError());
      return;
    }
    // The picture is analysed, but a cache file failed to take it.
    if (!Cache.LastError().empty()) LogWarning(Cache.LastError());
    picture.Width = size.Width;
    picture.Height = size.Height;
    return;
  }
  if (prepared) {
    if (!prepared->Ok) {
      picture.Failed = true;
      LogWarning(prepared->Error);
      return;
    }
    prepared->CopyTo(picture.Sign, Options.PicVariants);
    picture.Width = prepared->Size.Width;
    picture.Height = prepared->Size.Height;
    return;
  }
  if (!Analyser.Analyse(picture.FileName, picture.Sign, Options.PicVariants)) {
    if (Stopped) return;
    picture.Failed = true;
    LogWarning(Analyser.LastError());
    return;
  }
  picture.Width = Analyser.PictureSize().Width;
  picture.Height = Analyser.PictureSize().Height;
}

TPixanStats TEngine::PreparePictures() {
  const int n = FileCount();
  // The pictures that will need decoding: those the cache cannot answer whole.
  std::vector<int> ahead;
  if (ParallelPreparation && std::thread::hardware_concurrency() > 1) {
    const bool cached = Options.Cache && Cache.IsOpen();
    for (int i = 0; i < n; ++i) {
      const TFileData* record = Files(i);
      if (record->Kind() == TRecordKind::Picture && !(cached && Cache.Holds(record->FileName, CacheStamp(*record), Options.PicVariants)))
        ahead.push_back(i);
    }
  }
  // Workers analyse ahead, at most a window of pictures beyond the one being taken, each with an
  // analyser of its own; this thread takes the results in record order, so that messages,
  // cache contents and records come out as one picture at a time would leave them.
  constexpr std::size_t Window = 64;
  std::vector<std::unique_ptr<TAnalysisResult>> results(ahead.size());
  std::vector<std::atomic<bool>> ready(ahead.size());
  std::atomic<std::size_t> next{0}, taken{0};
  std::atomic<bool> cancel{false};
  std::vector<TPixanStats> spent(std::max(1U, std::thread::hardware_concurrency()));
  std::vector<std::exception_ptr> thrown(ahead.size());
  std::vector<std::thread> workers;
  // This thread's analyser lets the front end's events run while it decodes, so that a stop
  // is heard within a picture; an exception from them waits until the decoder has returned.
  using TClock = std::chrono::steady_clock;
  TClock::time_point pumped = TClock::now();
  std::exception_ptr pumpFailure;
  Analyser.SetCancel([&] {
    if (!Stopped && TClock::now() - pumped >= std::chrono::milliseconds(50)) {
      try {
        PumpEvents();
      } catch (...) {
        pumpFailure = std::current_exception();
        return true;
      }
      pumped = TClock::now();
    }
    return Stopped;
  });
  // Whatever leaves this function, an exception included, the workers stop and are joined first.
  struct TJoin {
    std::atomic<bool>& Cancel;
    std::vector<std::thread>& Threads;
    TPixan& Analyser;
    ~TJoin() {
      Cancel = true;
      for (std::thread& thread : Threads)
        if (thread.joinable()) thread.join();
      Analyser.SetCancel(nullptr);
    }
  } join{cancel, workers, Analyser};
  for (std::size_t w = 0; w < (ahead.empty() ? 0 : spent.size()); ++w)
    workers.emplace_back([&, w] {
      TPixan analyser;
      analyser.SetCancel([&cancel] { return cancel.load(); });
      for (std::size_t k; !cancel && (k = next++) < ahead.size();) {
        while (!cancel && k >= taken + Window) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (cancel) break;
        auto result = std::make_unique<TAnalysisResult>();
        const TPixanStats before = analyser.Stats();
        try {
          result->Ok = analyser.Analyse(Files(ahead[k])->FileName, result->Sign, TPicVariants::FromBits(0x3F));
        } catch (...) {
          thrown[k] = std::current_exception();  // raised again when the picture's turn comes
        }
        result->Size = analyser.PictureSize();
        if (!result->Ok) result->Error = analyser.LastError();
        spent[w].Decoded += analyser.Stats().Decoded - before.Decoded;
        spent[w].DecodeSeconds += analyser.Stats().DecodeSeconds - before.DecodeSeconds;
        spent[w].AnalysisSeconds += analyser.Stats().AnalysisSeconds - before.AnalysisSeconds;
        results[k] = std::move(result);
        ready[k] = true;
      }
    });

  std::size_t k = 0;
  for (int i = 0; i < n; ++i) {
    const TAnalysisResult* prepared = nullptr;
    if (k < ahead.size() && ahead[k] == i) {
      while (!ready[k] && !Stopped) {
        PumpEvents();
        if (!ready[k]) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      if (Stopped) {  // arrived while waiting: as if at the last picture's check
        LastError = "Processing aborted!";
        break;
      }
      if (thrown[k]) std::rethrow_exception(thrown[k]);
      prepared = results[k].get();
    }
    PreparePicture(i, prepared);
    if (pumpFailure) std::rethrow_exception(pumpFailure);
    if (prepared) {
      results[k].reset();
      taken = ++k;
    }
    SetStatus("Preprocessing : " + std::to_string(i + 1) + " out of " + std::to_string(n));
    if (n > 1) SetProgress(static_cast<double>(i) / (n - 1));
    if (Stopped) {
      LastError = "Processing aborted!";
      break;
    }
  }
  cancel = true;
  for (std::thread& worker : workers) worker.join();
  workers.clear();
  TPixanStats total;
  for (const TPixanStats& s : spent) {
    total.Decoded += s.Decoded;
    total.DecodeSeconds += s.DecodeSeconds;
    total.AnalysisSeconds += s.AnalysisSeconds;
  }
  return total;
}

float PictureScore(float structure, float colour, bool grayscale) {
  float v = static_cast<float>((2.0 * structure + colour) / 3.0);
  if (grayscale && structure > v) v = structure;
  return static_cast<float>((v + 1.0) * 50.0);
}

float TEngine::PictureScore(float structure, float colour) const {
  return ::PictureScore(structure, colour, Options.PicVariants.Contains(pvGrayscale));
}

int TEngine::PictureThreshold(int tolerance, bool memberCheck) {
  // A tolerance from a damaged settings file must not let every picture pass.
  tolerance = std::clamp(tolerance, 0, 10);
  int threshold = static_cast<int>(std::lrint(98 - 2.8 * tolerance));
  if (memberCheck && threshold > 75) threshold -= 5;
  return threshold;
}

TPictureVerdict JudgePictures(const TPicSign& a, const TPicSign& b, TPicVariants variants, int tolerance,
                              bool memberCheck) {
  TS_ASSERT(a.IsValid() && b.IsValid());
  const bool grayscale = variants.Contains(pvGrayscale);
  const TPicTrace& first = *a.LTrace(pvOriginal);
  TPictureVerdict verdict;
  verdict.Colour = TPixan::CompareTraces(a.HTrace(), b.HTrace(), true);
  verdict.Structure = TPixan::CompareTraces(first, *b.LTrace(pvOriginal), false);
  verdict.Score = PictureScore(verdict.Structure, verdict.Colour, grayscale);
  // The variants turn or mirror the second picture; the colours stay what they are.
  for (int variant = pvRotate180; variant <= pvFlipHorizontal; ++variant) {
    if (!variants.Contains(variant)) continue;
    const TPicTrace* turned = b.LTrace(variant);
    TS_ASSERT(turned != nullptr);
    const float structure = TPixan::CompareTraces(first, *turned, false);
    const float score = PictureScore(structure, verdict.Colour, grayscale);
    if (score > verdict.Score) {
      verdict.Score = score;
      verdict.Structure = structure;
      verdict.Variant = variant;
    }
  }
  verdict.Threshold = TEngine::PictureThreshold(tolerance, memberCheck);
  verdict.Duplicate = verdict.Score >= static_cast<float>(verdict.Threshold);
  return verdict;
}

bool TEngine::ComparePictures(TFileData* a, TFileData* b, bool memberCheck) {
  if (a->Failed || b->Failed) return false;
  TS_ASSERT(a->Kind() == TRecordKind::Picture && b->Kind() == TRecordKind::Picture);
  const auto& x = static_cast<const TPicData&>(*a);
  const auto& y = static_cast<const TPicData&>(*b);
  TS_ASSERT(x.HasSignature() && y.HasSignature());
  return JudgePictures(x.Sign, y.Sign, Options.PicVariants, Options.Tolerance, memberCheck).Duplicate;
}
