#pragma once
// Decoders that run outside programs or are known to hang, to take gigabytes or to write files
// (PostScript through Ghostscript, Windows and enhanced metafiles) decode in a helper process,
// twinsifter-decode beside the program's executable, under resource limits. The helper runs
// the ordinary in-process decoder; the sink stays in this process and sees the same calls it
// would see in process, so results are identical. Whatever goes wrong in the helper (a limit,
// a crash, a stopped search) is a failed decode.

#include <cstdint>
#include <string>

#include "xPicDecode.h"

struct TDecodeLimits {
  int CpuSeconds = 10;                                // RLIMIT_CPU of the helper and its children
  std::int64_t MemoryBytes = std::int64_t{1} << 30;   // RLIMIT_AS
  std::int64_t FileBytes = std::int64_t{256} << 20;   // RLIMIT_FSIZE: the largest file it may write
  int WallMilliseconds = 15000;                       // then its whole process group is killed
};

TDecodeLimits HelperLimits();
// For tests: shorter limits keep a hostile file from taking seconds.
void SetHelperLimits(const TDecodeLimits& limits);

// True for the extensions (lower case, with the dot) that decode in the helper.
bool DecodesInHelper(const std::string& extension);

// Decodes in a helper process; the helper itself calls DecodeInProcess.
TDecodeResult DecodeInHelper(const std::string& path, const std::string& extension, TPictureSink& sink);

// The registry's decoder for the extension, in this process.
TDecodeResult DecodeInProcess(const std::string& path, const std::string& extension, TPictureSink& sink);

// The helper's side: decodes `path` and talks to the parent over `channel` (a socket). Returns
// the process's exit status.
int ServeDecode(int channel, const std::string& path, const std::string& extension);
