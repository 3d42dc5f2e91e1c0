// Peak memory of analysing one large picture: bench_picture_memory [megapixels] [jpeg|png|progressive].
// Writes the picture first (in a child process, so that writing does not count), then analyses it
// and prints the peak resident set of the analysing process.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "xPixan.h"
#include "xTestFiles.h"

int main(int argc, char** argv) {
  const int megapixels = argc > 1 ? std::atoi(argv[1]) : 100;
  const std::string kind = argc > 2 ? argv[2] : "jpeg";
  const int side = static_cast<int>(std::sqrt(megapixels * 1e6));
  TTempDir dir;
  const std::string file = dir.File(kind == "png" ? "big.png" : "big.jpg");
  if (const pid_t child = ::fork(); child == 0) {
    // The writer needs the whole picture in memory; the reader must not.
    const TTestImage image = PhotoLikeImage(side, side);
    if (kind == "png")
      WritePng(file, image);
    else
      WriteJpeg(file, image, 90, kind == "progressive");
    std::_Exit(0);
  } else {
    int status = 0;
    ::waitpid(child, &status, 0);
  }
  const auto start = std::chrono::steady_clock::now();
  TPixan analyser;
  TPicSign signature(TPicVariants::FromBits(0x3F));
  const bool ok = analyser.Analyse(file, signature, TPicVariants::FromBits(0x3F));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%s %d x %d (%s): %s in %.2f s, peak resident %.1f MB\n", kind.c_str(), side, side,
              ok ? "analysed" : "failed", ok ? "ok" : analyser.LastError().c_str(), seconds,
              static_cast<double>(usage.ru_maxrss) / 1024.0);
  return ok ? 0 : 1;
}
