#pragma once
// The picture analyser: decodes a picture file into a 128 x 128 working picture, builds its
// brightness grid and hue histogram, and computes the picture's signature. One analyser
// serves one caller at a time; several analysers may work side by side.

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "xBitmap.h"
#include "xHaar.h"
#include "xMatrix.h"
#include "xPicSign.h"
#include "xVector.h"

inline constexpr int WorkingSize = 128;  // the working picture is WorkingSize x WorkingSize
inline constexpr int HueBins = 32;
inline constexpr int TraceSide = 32;     // an L-trace keeps the top-left TraceSide x TraceSide coefficients

// Where the analyser's time went, summed over its life.
struct TPixanStats {
  int Decoded = 0;             // pictures decoded, successfully or not
  double DecodeSeconds = 0;    // decoding and sampling
  double AnalysisSeconds = 0;  // everything after decoding
};

struct TPictureSize {
  std::int32_t Width = 0;
  std::int32_t Height = 0;
  bool operator==(const TPictureSize&) const = default;
};

// A picture analysed ahead of its turn, with every variant's trace, so that whoever takes it can
// pick the variants it needs: each trace is the same whichever others are computed with it.
struct TAnalysisResult {
  bool Ok = false;
  TPicSign Sign{TPicVariants::FromBits(0x3F)};
  TPictureSize Size;
  std::string Error;  // the analyser's LastError when not Ok
  TPixanStats Stats;  // the time it took

  // Copies the H-trace and the L-traces of the given variants into the signature.
  void CopyTo(TPicSign& signature, TPicVariants variants) const;
};

class TPixan {
public:
  TPixan();

  // Decodes the file and draws it into the working picture. On failure the previous working
  // picture, grid and size stay.
  bool LoadPicture(const std::string& name);
  // Asked by the decoders between rows and scans; true makes the decode fail at once (the
  // picture then fails to load). It must not throw: the decoders are C libraries.
  void SetCancel(std::function<bool()> cancelled) { Cancel_ = std::move(cancelled); }
  // Brightness grid (x, y) from a 128 x 128 picture and, with hue, the normalised hue histogram.
  void FillGrid(const TBitmap24& picture, bool withHue);

  static void Rotate180(const TBitmap24& source, TBitmap24& destination);
  static void Rotate90Left(const TBitmap24& source, TBitmap24& destination);
  static void Rotate90Right(const TBitmap24& source, TBitmap24& destination);
  static void FlipVertical(const TBitmap24& source, TBitmap24& destination);
  static void FlipHorizontal(const TBitmap24& source, TBitmap24& destination);

  // The H-trace and the L-traces of variant 0 and of every element 1 .. 5 in the set. The
  // signature must have been created with at least that set.
  bool Analyse(const std::string& name, TPicSign& signature, TPicVariants variants);
  // The same from the picture loaded last: everything after decoding. Gives exactly the
  // signature of AnalyseLoadedPlain, which follows the algorithm step by step, at a fraction of
  // its cost: only the 32 x 32 block the traces keep is transformed, and the variants are
  // derived from the grid of the unchanged picture.
  bool AnalyseLoaded(TPicSign& signature, TPicVariants variants);
  bool AnalyseLoadedPlain(TPicSign& signature, TPicVariants variants);
  // An L-trace from the block rows r0..r1, columns c0..c1 of a transformed grid.
  void ExtractTrace(const TMatrix& grid, TPicTrace& trace, int r0, int r1, int c0, int c1);
  static void StoreHueTrace(const TVector& histogram, TPicTrace& trace);
  // About 1 for alike traces: the dot product of the bytes over 127^2 (signed) or 255^2.
  static float CompareTraces(const TPicTrace& a, const TPicTrace& b, bool unsignedBytes);
  // The similarity CompareTraces gives for a dot product of the bytes.
  static float TraceSimilarity(std::int64_t dot, bool unsignedBytes) {
    return static_cast<float>(static_cast<double>(dot) / (unsignedBytes ? 65025.0 : 16129.0));
  }

  const std::string& LastError() const { return LastError_; }
  TPictureSize PictureSize() const { return PictureSize_; }
  const TPixanStats& Stats() const { return Stats_; }

  const TBitmap24& WorkingPicture() const { return Working; }
  const TMatrix& Grid() const { return Grid_; }
  const TVector& HueHistogram() const { return Hue; }
  // The transformed 32 x 32 block behind the last L-trace computed, before quantisation.
  const TMatrix& LastBlock() const { return Block; }

private:
  void KeepBlock();

  TBitmap24 Working;
  TBitmap24 Variant;
  TBitmap24 Staging;  // decoding target, swapped in on success
  TMatrix Grid_;
  TVector Hue;
  TVector Coefficients;
  THaar2D Transformer;
  TMatrix Block;        // fast path: the 32 x 32 block averages of one variant
  TMatrix Averages;     // fast path: block averages, rows paired first
  TMatrix AveragesT;    // fast path: block averages, columns paired first
  std::string LastError_;
  std::function<bool()> Cancel_;
  TPictureSize PictureSize_;
  TPixanStats Stats_;
};
