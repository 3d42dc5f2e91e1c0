// Content comparison: byte by byte, or by a digest computed once per record.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "xAssert.h"
#include "xEngine.h"
#include "xLog.h"
#include "xReadFile.h"


bool TEngine::ContentEqual(TFileData& a, TFileData& b) {
  if (a.Size != b.Size) return false;
  if (a.Size > DigestSizeLimit && Options.FileComp != fcBytes) return false;
  if (Options.FileComp == fcBytes) return CompareBytes(a, b);
  if (Options.FileComp > fcSha) return false;
  if (!a.HasDigest()) ComputeDigest(a);
  if (!b.HasDigest()) ComputeDigest(b);
  if (a.Failed || b.Failed) return false;
  return a.Digest == b.Digest;
}

bool TEngine::CompareBytes(TFileData& a, TFileData& b) {
  TReadFile fileA(a.FileName);
  TReadFile fileB(b.FileName);
  // A file that cannot be read takes no further part, as with the digest methods.
  for (auto [file, record] : {std::pair{&fileA, &a}, std::pair{&fileB, &b}}) {
    if (!file->IsOpen()) {
      record->Failed = true;
      LogWarning("Failed to open \"" + record->FileName + "\"");
    }
  }
  if (!fileA.IsOpen() || !fileB.IsOpen()) return false;
  if (fileA.Size() != fileB.Size()) return false;
  const std::int64_t size = fileA.Size();
  for (std::int64_t pos = 0; pos < size;) {
    const auto length = static_cast<std::size_t>(std::min<std::int64_t>(CompareBufferSize, size - pos));
    const std::int64_t gotA = fileA.Read(BufferA.data(), length);
    const std::int64_t gotB = fileB.Read(BufferB.data(), length);
    if (gotA != static_cast<std::int64_t>(length) || gotB != static_cast<std::int64_t>(length)) {
      LastError = "File reading error";
      Stop();
      return false;
    }
    if (std::memcmp(BufferA.data(), BufferB.data(), length) != 0) return false;
    PumpEvents();
    pos += static_cast<std::int64_t>(length);
    if (Stopped) return false;
  }
  return true;
}

void TEngine::ComputeDigest(TFileData& record) {
  TReadOutcome outcome = record.Pending;
  record.Pending = TReadOutcome::Ok;
  if (outcome == TReadOutcome::Ok) outcome = DigestWholeFile(record.FileName, *Digest, BufferA, record.Digest);
  if (outcome == TReadOutcome::Ok) return;
  record.Failed = true;
  record.Digest = {};
  LogWarning((outcome == TReadOutcome::OpenFailed ? "Failed to open \"" : "Failed to read \"") + record.FileName + "\"");
}

void TEngine::SetFileComp(int method) {
  if (method == Options.FileComp) return;
  TS_ASSERT(method >= fcBytes && method <= fcSha);
  NeedRescan = true;
  Options.FileComp = static_cast<std::uint8_t>(method);
  if (method != fcBytes) Digest = MakeDigestAlgorithm(method);
}
