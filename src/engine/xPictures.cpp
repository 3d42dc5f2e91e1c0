// Pictures in the search: preparing their signatures (from the cache or the analyser) and the
// similarity decision.

#include <algorithm>
#include <cmath>

#include "xAssert.h"
#include "xEngine.h"
#include "xLog.h"

void TEngine::ApplyCache() {
  if (!Options.Cache) return;  // an open cache stays open, unused, until the engine closes it
  if (!Cache.IsOpen() && !Cache.Open(Options.CacheCount)) {
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

void TEngine::PreparePicture(int index) {
  TFileData* record = Files(index);
  if (record->Kind() != TRecordKind::Picture) return;
  auto& picture = static_cast<TPicData&>(*record);
  if (Options.Cache && Cache.IsOpen()) {
    TPictureSize size;
    if (!Cache.GetSignature(picture.FileName, picture.Sign, Analyser, Options.PicVariants, size)) {
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
  if (!Analyser.Analyse(picture.FileName, picture.Sign, Options.PicVariants)) {
    picture.Failed = true;
    LogWarning(Analyser.LastError());
    return;
  }
  picture.Width = Analyser.PictureSize().Width;
  picture.Height = Analyser.PictureSize().Height;
}

float TEngine::PictureScore(float structure, float colour) const {
  float v = static_cast<float>((2.0 * structure + colour) / 3.0);
  if (Options.PicVariants.Contains(pvGrayscale) && structure > v) v = structure;
  return static_cast<float>((v + 1.0) * 50.0);
}

int TEngine::PictureThreshold(int tolerance, bool memberCheck) {
  // A tolerance from a damaged settings file must not let every picture pass.
  tolerance = std::clamp(tolerance, 0, 10);
  int threshold = static_cast<int>(std::lrint(98 - 2.8 * tolerance));
  if (memberCheck && threshold > 75) threshold -= 5;
  return threshold;
}

bool TEngine::ComparePictures(TFileData* a, TFileData* b, bool memberCheck) {
  if (a->Failed || b->Failed) return false;
  TS_ASSERT(a->Kind() == TRecordKind::Picture && b->Kind() == TRecordKind::Picture);
  const auto& x = static_cast<const TPicData&>(*a);
  const auto& y = static_cast<const TPicData&>(*b);
  TS_ASSERT(x.HasSignature() && y.HasSignature());
  const TPicTrace& first = *x.Sign.LTrace(pvOriginal);
  const float colour = TPixan::CompareTraces(x.Sign.HTrace(), y.Sign.HTrace(), true);
  float best = PictureScore(TPixan::CompareTraces(first, *y.Sign.LTrace(pvOriginal), false), colour);
  for (int variant = pvRotate180; variant <= pvFlipHorizontal; ++variant) {
    if (!Options.PicVariants.Contains(variant)) continue;
    const TPicTrace* turned = y.Sign.LTrace(variant);
    TS_ASSERT(turned != nullptr);
    best = std::max(best, PictureScore(TPixan::CompareTraces(first, *turned, false), colour));
  }
  return best >= static_cast<float>(PictureThreshold(Options.Tolerance, memberCheck));
}
