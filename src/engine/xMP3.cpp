// MP3 files compared by their ID3 version 1 tags: the last 128 bytes, "TAG", then title,
// artist, album and year in fixed fields, each text ending at its first zero byte.

#include "xMP3.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "xEngine.h"

namespace {

constexpr int TagSize = 128;

struct TField {
  int Offset;
  int Length;
};
constexpr TField TitleField{3, 30}, ArtistField{33, 30}, AlbumField{63, 30}, YearField{93, 4};

std::string FieldText(const unsigned char* tag, TField field) {
  const auto* begin = reinterpret_cast<const char*>(tag + field.Offset);
  const void* zero = std::memchr(begin, 0, static_cast<std::size_t>(field.Length));
  const auto length = zero ? static_cast<const char*>(zero) - begin : field.Length;
  return std::string(begin, static_cast<std::size_t>(length));
}

bool ReadAt(int fd, unsigned char* buffer, std::size_t count, off_t offset) {
  while (count > 0) {
    const ssize_t got = ::pread(fd, buffer, count, offset);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    buffer += got;
    count -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

const std::string* Fields(const TID3Data& tag, int index) {
  switch (index) {
    case 0: return &tag.Title;
    case 1: return &tag.Artist;
    case 2: return &tag.Album;
    default: return &tag.Year;
  }
}

}  // namespace

std::string FoldTagText(const std::string& text) {
  std::string folded = text;
  // Only ASCII letters: bytes above 127 are characters of the code page and stay as they are.
  for (char& c : folded)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return folded;
}

std::vector<std::string> TagKeys(const TID3Data& tag) {
  std::vector<std::string> keys;
  for (int field = 0; field < 4; ++field) {
    const std::string& text = *Fields(tag, field);
    if (!text.empty()) keys.push_back(std::to_string(field) + ":" + FoldTagText(text));
  }
  return keys;
}

std::unique_ptr<TMP3Data> TEngine::ReadMP3Tag(const std::string& fileName, std::uint32_t time, std::int64_t size) {
  // A file that cannot be opened gets no MP3 record: as a plain record it fails with a warning
  // once its content is read.
  const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  // The size of the file as it is now, not as it was listed: the tag is read from its real end.
  struct stat info {};
  unsigned char tag[TagSize];
  const bool found = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > TagSize &&
                     ReadAt(fd, tag, TagSize, info.st_size - TagSize) && std::memcmp(tag, "TAG", 3) == 0;
  ::close(fd);
  if (!found) return nullptr;
  TID3Data texts{FieldText(tag, TitleField), FieldText(tag, ArtistField), FieldText(tag, AlbumField),
                 FieldText(tag, YearField)};
  return std::make_unique<TMP3Data>(fileName, time, size, std::move(texts));
}

bool TEngine::CompareTags(const TMP3Data& a, const TMP3Data& b) {
  if (a.Failed || b.Failed) return false;
  bool anyField = false;
  for (int field = 0; field < 4; ++field) {
    const std::string& x = *Fields(a.Tag, field);
    const std::string& y = *Fields(b.Tag, field);
    if (x.empty() || y.empty()) continue;  // a field missing on either side is no evidence
    if (FoldTagText(x) != FoldTagText(y)) return false;
    anyField = true;
  }
  return anyField;
}
