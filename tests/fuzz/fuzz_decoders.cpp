// The picture readers on arbitrary bytes, through the point sampler the analyser uses: never a
// crash, an overread, a hang or an unbounded allocation. One source for three targets:
// FUZZ_JPEG (libjpeg through our reader), FUZZ_PNG (libpng through ours) and FUZZ_OWN (our
// PSD, PSP and CEL readers, chosen by the first byte).

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "xBitmap.h"
#include "xOwnFormats.h"
#include "xPicDecode.h"
#include "xSampler.h"

namespace {

// The input as a file: the readers take paths. One per process, in memory where there is /dev/shm.
const std::string& InputFile() {
  static const std::string path = [] {
    const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(folder) + "/twinsifter-fuzz-" + std::to_string(::getpid());
  }();
  return path;
}

// Decoders may be asked for pictures of any declared size; the fuzzer's time goes to the
// parsers, not to sampling pictures of a gigapixel.
class TBoundedSampler final : public TPictureSink {
public:
  explicit TBoundedSampler(TBitmap24& target) : Sampler(target) {}
  bool Begin(int width, int height) override {
    return std::int64_t{width} * height <= (std::int64_t{1} << 24) && Sampler.Begin(width, height);
  }
  bool WantsRow(int y) const override { return Sampler.WantsRow(y); }
  int LastWantedRow() const override { return Sampler.LastWantedRow(); }
  int NextWantedRow(int y) const override { return Sampler.NextWantedRow(y); }
  void PutRow(int y, const std::uint8_t* pixels, TPixelFormat format) override { Sampler.PutRow(y, pixels, format); }

private:
  TPointSampler Sampler;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#if defined(FUZZ_OWN)
  if (size < 1) return 0;
  const int reader = data[0] % 3;
  ++data;
  --size;
#endif
  std::FILE* file = std::fopen(InputFile().c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  TBitmap24 target(128, 128);
  TBoundedSampler sink(target);
#if defined(FUZZ_JPEG)
  DecodeJpeg(InputFile(), sink);
#elif defined(FUZZ_PNG)
  DecodePng(InputFile(), sink);
#elif defined(FUZZ_OWN)
  if (reader == 0) DecodePsd(InputFile(), sink);
  if (reader == 1) DecodePsp(InputFile(), sink);
  if (reader == 2) DecodeCel(InputFile(), sink);
#endif
  return 0;
}
