// The cache's Open and Find on any four files. Input: a flags byte (bit n: give record file n
// a valid header), a capacity byte, then the bytes of cache.ncd, cache.lcd, cache.hcd and
// cache.nid, each after a 16-bit little-endian length.
// Besides not crashing: every indexed name of a cache that opened is found, a picture fetched
// through it gives the analyser's signature, and what the cache writes itself opens again.

#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "xCache.h"
#include "xFuzzPicture.h"

namespace {


struct TPlace {
  std::string Base;
  std::string Picture;
  TPicSign Reference{TPicVariants::FromBits(0x3F)};
  TCacheStamp Stamp;
  TPlace() {
    char pattern[] = "/tmp/twinsifter-fuzz-XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    Base = std::string(pattern) + "/";
    Picture = Base + "picture.png";
    Write(Picture, SmallestPng, sizeof SmallestPng);
    struct stat info {};
    if (stat(Picture.c_str(), &info) != 0) std::abort();
    Stamp = {info.st_size, info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec, info.st_ino};
    TPixan analyser;
    if (!analyser.Analyse(Picture, Reference, TPicVariants::FromBits(0x3F))) std::abort();
  }
  static void Write(const std::string& path, const void* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
    std::fclose(file);
  }
};

TPlace& Place() {
  static TPlace place;
  return place;
}

std::string StoredName(const std::string& ncd, std::int32_t record) {
  std::string name = ncd.substr(static_cast<std::size_t>(record) * NameRecordSize, CacheNameLength);
  return name.substr(0, name.find('\0'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TPlace& place = Place();
  if (size < 2) return 0;
  const unsigned flags = data[0];
  const int capacity = data[1] % 8;
  std::size_t at = 2;
  const char* names[] = {"cache.ncd", "cache.lcd", "cache.hcd", "cache.nid"};
  const int sizes[] = {NameRecordSize, LRecordSize, HRecordSize, 0};
  std::string files[4];
  for (int f = 0; f < 4; ++f) {
    std::size_t length = 0;
    if (at + 2 <= size) length = data[at] | std::size_t{data[at + 1]} << 8;
    at = at + 2 <= size ? at + 2 : size;
    length = length < size - at ? length : size - at;
    files[f].assign(reinterpret_cast<const char*>(data + at), length);
    at += length;
    if (f < 3 && (flags >> f & 1) != 0) {
      std::string header(static_cast<std::size_t>(sizes[f]), '\0');
      header.replace(0, 4, "\x03\x04\x05\x06");
      files[f] = header + files[f];
    }
  }
  TCache cache(place.Base);
  for (int f = 0; f < 4; ++f) TPlace::Write(cache.Folder() + names[f], files[f].data(), files[f].size());

  const bool opened = cache.Open(capacity);
  if (opened) {
    for (const std::int32_t record : cache.Index().Entries()) {
      const std::string name = StoredName(files[0], record);
      const TCacheFind found = cache.Find(name);
      if (found.Record < 1 || StoredName(files[0], found.Record) != name) std::abort();
    }
  }
  (void)cache.Find(std::string(reinterpret_cast<const char*>(data), size < 300 ? size : 300));

  TPixan analyser;
  const TPicVariants set = TPicVariants::FromBits(static_cast<std::uint8_t>(flags >> 2 & 0x3F | 1));
  for (int round = 0; round < 2; ++round) {
    TPicSign signature(set);
    TPictureSize size2;
    if (!cache.GetSignature(place.Picture, place.Stamp, signature, analyser, set, size2)) std::abort();
    for (int v = 0; v < LTraceVariants; ++v)
      if (set.Contains(v) && !(*signature.LTrace(v) == *place.Reference.LTrace(v))) std::abort();
    if (!(signature.HTrace() == place.Reference.HTrace())) std::abort();
  }
  TPicSign missing;
  TPictureSize size3;
  if (cache.GetSignature(place.Base + "missing.png", {}, missing, analyser, set, size3)) std::abort();

  if (opened && cache.IsOpen()) {
    if (!cache.Close()) std::abort();
    TCache again(place.Base);
    if (!again.Open(capacity)) std::abort();  // what the cache wrote itself must open again
  }
  return 0;
}
