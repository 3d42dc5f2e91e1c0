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
