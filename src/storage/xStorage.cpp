#include "xStorage.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <ostream>

#include "xAssert.h"
#include "xLog.h"

namespace {

// A settings file is a few kilobytes; anything far beyond is not ours to parse or to rewrite.
constexpr off_t MaxSettingsFile = 32 * 1024 * 1024;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

bool ValidSectionName(const std::string& name) {
  return !name.empty() && name == Trim(name) && name.find_first_of("]\n\r") == std::string::npos;
}

bool ValidKey(const std::string& key) {
  return !key.empty() && key == Trim(key) && key.find_first_of("=\n\r") == std::string::npos &&
         key[0] != '[' && key[0] != ';' && key[0] != '#';
}

// Creates the folder and its missing parents; true when it exists afterwards.
bool MakeFolders(const std::string& folder) {
  std::string path;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    pos = folder.find('/', pos + 1);
    path = folder.substr(0, pos);
    if (!path.empty() && mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
  }
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The whole file, or false when it exists but cannot be read (or is too large to be ours).
// A missing file reads as empty.
bool ReadSettingsFile(const std::string& path, std::string& text) {
  text.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= MaxSettingsFile;
  if (ok) {
    text.resize(static_cast<std::size_t>(info.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = read(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;  // a file that shrank meanwhile reads as far as it goes
      done += static_cast<std::size_t>(n);
    }
    text.resize(done);
  }
  close(fd);
  if (!ok) text.clear();
  return ok;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TIniFile

void TIniFile::Parse(const std::string& text) {
  Lines.clear();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    TLine line;
    line.Raw = text.substr(start, end - start);
    const std::string content = Trim(line.Raw);
    if (!content.empty() && content[0] == '[') {
      line.IsSection = true;
      const auto close = content.find(']');
      line.Section = Trim(content.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    } else if (!content.empty() && content[0] != ';' && content[0] != '#') {
      const auto equals = content.find('=');
      if (equals != std::string::npos) {
        line.Key = Trim(content.substr(0, equals));
        line.IsKey = !line.Key.empty();
        if (line.IsKey) line.Value = DecodeValue(content.substr(equals + 1));
      }
    }
    Lines.push_back(std::move(line));
    start = end + 1;
  }
}

std::string TIniFile::Text() const {
  std::string text;
  for (const TLine& line : Lines) text += line.Raw + "\n";
  return text;
}

bool TIniFile::Find(const std::string& section, const std::string& key, std::string& value) const {
  bool inSection = false;
  for (const TLine& line : Lines) {
    if (line.IsSection)
      inSection = SameName(line.Section, section);
    else if (inSection && line.IsKey && SameName(line.Key, key)) {
      value = line.Value;
      return true;
    }
  }
  return false;
}

void TIniFile::EraseSection(const std::string& section) {
  std::vector<TLine> kept;
  kept.reserve(Lines.size());
  bool inSection = false;
  bool placed = false;
  for (TLine& line : Lines) {
    if (line.IsSection) {
      inSection = SameName(line.Section, section);
      if (inSection && !placed) {
        kept.push_back(std::move(line));
        placed = true;
      }
      if (inSection) continue;
    }
    if (!inSection) kept.push_back(std::move(line));
  }
  Lines = std::move(kept);
  if (!placed) {
    TLine header;
    header.Raw = "[" + section + "]";
    header.Section = section;
    header.IsSection = true;
    Lines.push_back(std::move(header));
  }
}

void TIniFile::Set(const std::string& section, const std::string& key, const std::string& value) {
  TLine entry;
  entry.Raw = key + "=" + EncodeValue(value);
  entry.Key = key;
  entry.Value = value;
  entry.IsKey = true;

  bool inSection = false;
  bool done = false;
  std::size_t insertAt = std::string::npos;  // after the last key line of the first copy
  bool firstCopy = false;
  for (std::size_t i = 0; i < Lines.size();) {
    TLine& line = Lines[i];
    if (line.IsSection) {
      const bool match = SameName(line.Section, section);
      firstCopy = match && insertAt == std::string::npos;
      if (firstCopy) insertAt = i + 1;
      inSection = match;
    } else if (inSection && line.IsKey && SameName(line.Key, key)) {
      if (done) {
        Lines.erase(Lines.begin() + static_cast<std::ptrdiff_t>(i));
        continue;
      }
      line = entry;
      done = true;
    } else if (firstCopy && !Trim(line.Raw).empty()) {
      insertAt = i + 1;
    }
    ++i;
  }
  if (done) return;
  if (insertAt == std::string::npos) {
    TLine header;
    header.Raw = "[" + section + "]";
    header.Section = section;
    header.IsSection = true;
    Lines.push_back(std::move(header));
    insertAt = Lines.size();
  }
  Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(entry));
}

std::string TIniFile::EncodeValue(const std::string& value) {
  const bool plain = value.find_first_of("\n\r") == std::string::npos &&
                     (value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back()) && value.front() != '"'));
  if (plain) return value;
  std::string text = "\"";
  for (const char c : value) {
    switch (c) {
      case '\\': text += "\\\\"; break;
      case '"': text += "\\\""; break;
      case '\n': text += "\\n"; break;
      case '\r': text += "\\r"; break;
      case '\t': text += "\\t"; break;
      default: text += c;
    }
  }
  return text + "\"";
}

std::string TIniFile::DecodeValue(const std::string& raw) {
  const std::string text = Trim(raw);
  if (text.size() < 2 || text.front() != '"' || text.back() != '"') return text;
  std::string value;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    char c = text[i];
    if (c == '\\' && i + 2 < text.size()) {
      switch (text[i + 1]) {
        case '\\': c = '\\'; ++i; break;
        case '"': c = '"'; ++i; break;
        case 'n': c = '\n'; ++i; break;
        case 'r': c = '\r'; ++i; break;
        case 't': c = '\t'; ++i; break;
        default: break;  // a lone backslash is itself, as in hand-written paths
      }
    }
    value += c;
  }
  return value;
}

// ---------------------------------------------------------------------------------------------
// Places and the program file

TStatePlaces StatePlaces(const TStateSources& sources) {
  TStatePlaces places;
  if (!sources.TwinsifterHome.empty()) {
    places.SettingsFolder = places.CacheBase = WithSlash(sources.TwinsifterHome);
  } else if (sources.AppFolderWritable && !sources.AppFolder.empty()) {
    places.SettingsFolder = places.CacheBase = WithSlash(sources.AppFolder);
  } else {
    // Relative XDG values are invalid and ignored, as the base directory rules say.
    auto base = [&sources](const std::string& xdg, const char* fallback) {
      if (!xdg.empty() && xdg[0] == '/') return WithSlash(xdg);
      return WithSlash(sources.Home) + fallback;
    };
    places.SettingsFolder = base(sources.XdgConfigHome, ".config/") + "twinsifter/";
    places.CacheBase = base(sources.XdgCacheHome, ".cache/") + "twinsifter/";
  }
  return places;
}

TStatePlaces StatePlaces() {
  auto env = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value ? value : "");
  };
  TStateSources sources;
  sources.TwinsifterHome = env("TWINSIFTER_HOME");
  sources.AppFolder = ExeFolder();
  // An installed program (its data in ../share/twinsifter) keeps its state in the user's folders
  // even where it could write beside itself (root and /usr/bin); a portable copy keeps it there.
  struct stat installed {};
  sources.AppFolderWritable = !sources.AppFolder.empty() && access(sources.AppFolder.c_str(), W_OK) == 0 &&
                              ::stat((sources.AppFolder + "../share/twinsifter").c_str(), &installed) != 0;
  sources.XdgConfigHome = env("XDG_CONFIG_HOME");
  sources.XdgCacheHome = env("XDG_CACHE_HOME");
  sources.Home = env("HOME");
  if (sources.Home.empty()) {
    if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) sources.Home = user->pw_dir;
  }
  return StatePlaces(sources);
}

namespace {

std::string ExePath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      return path;
    }
    if (path.size() >= 64 * 1024) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::string ExeFolder() {
  const std::string path = ExePath();
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ShippedPath(const std::string& relative, const std::string& exeFolder) {
  struct stat info {};
  const std::string beside = exeFolder + relative;
  if (::stat(beside.c_str(), &info) == 0) return beside;
  const std::string installed = exeFolder + "../share/twinsifter/" + relative;
  if (::stat(installed.c_str(), &info) == 0) return installed;
  return beside;
}

std::string ShippedPath(const std::string& relative) { return ShippedPath(relative, ExeFolder()); }

std::string ExeBaseName() {
  std::string name = ExePath();
  const auto slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

// ---------------------------------------------------------------------------------------------
// Texts in streams

bool WriteStreamString(std::ostream& stream, const std::string& text) {
  if (text.size() > static_cast<std::size_t>(INT32_MAX)) return false;
  const auto length = static_cast<std::uint32_t>(text.size());
  const char bytes[4] = {static_cast<char>(length & 0xFF), static_cast<char>(length >> 8 & 0xFF),
                         static_cast<char>(length >> 16 & 0xFF), static_cast<char>(length >> 24 & 0xFF)};
  if (!stream.write(bytes, 4)) return false;
  return static_cast<bool>(stream.write(text.data(), static_cast<std::streamsize>(text.size())));
}

bool ReadStreamString(std::istream& stream, std::string& text) {
  text.clear();
  unsigned char bytes[4];
  if (!stream.read(reinterpret_cast<char*>(bytes), 4)) return false;
  const auto length = static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[0]) | std::uint32_t{bytes[1]} << 8 |
                                                std::uint32_t{bytes[2]} << 16 | std::uint32_t{bytes[3]} << 24);
  if (length <= 0) return true;
  // A damaged length must not reserve gigabytes: grow by chunks as the bytes arrive.
  constexpr std::size_t chunk = 64 * 1024;
  std::size_t remaining = static_cast<std::size_t>(length);
  while (remaining > 0) {
    const std::size_t n = remaining < chunk ? remaining : chunk;
    const std::size_t at = text.size();
    text.resize(at + n);
    if (!stream.read(text.data() + at, static_cast<std::streamsize>(n))) {
      text.clear();
      return false;
    }
    remaining -= n;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// TStorage

TStorage::TStorage() {
  const TStatePlaces places = StatePlaces();
  AppFolder_ = ExeFolder();
  FilePath_ = places.SettingsFolder + FileName_;
  CacheBase_ = places.CacheBase;
  Start(TInfo());
}

TStorage::TStorage(const std::string& settingsFolder, const TInfo& info) {
  AppFolder_ = ExeFolder();
  FilePath_ = WithSlash(settingsFolder) + FileName_;
  CacheBase_ = WithSlash(settingsFolder);
  Start(info);
}

void TStorage::Start(const TInfo& info) {
  // Numbers shown to the user always use "." (memory figures, sizes).
  std::setlocale(LC_NUMERIC, "C");
  Build_ = info.VerBuild;
  VersionText_ = ::VersionText(info);
  SysInfo_ = std::make_unique<TSysInfo>();
  OpenSection("GENERAL", false);
  NewBuild_ = ReadBool("Build" + Build_, true);
  ReadBool("First", true);
  CloseSection();
}

TStorage::~TStorage() {
  SysInfo_.reset();
  if (ReadOnly_) return;
  try {
    if (IsOpen()) CloseSection();
    OpenSection("GENERAL", true);
    WriteBool("Build" + Build_, false);
    WriteBool("First", false);
    CloseSection();
  } catch (...) {
    // Nothing may leave a destructor; a refused write has been logged already.
  }
}

void TStorage::OpenSection(const std::string& name, bool forWriting) {
  TS_ASSERT(!IsOpen());
  TS_ASSERT(ValidSectionName(name));
  std::string text;
  Readable = ReadSettingsFile(FilePath_, text);
  File.Parse(text);
  Section = name;
  Open_ = true;
  Dirty = forWriting;
  if (forWriting) File.EraseSection(name);
}

bool TStorage::CloseSection() {
  TS_ASSERT(IsOpen());
  bool ok = true;
  if (Dirty && !ReadOnly_) {
    // A file we could not read is never replaced: its other sections would be lost.
    ok = Readable && WriteFile(File.Text());
    if (!ok) {
      LastError_ = "Unable to write to " + FilePath_;
      LogError(LastError_);
    }
  }
  File = TIniFile();
  Section.clear();
  Open_ = false;
  Dirty = false;
  return ok;
}

// Written next to the old file and renamed over it: a crash or a full disk leaves either the
// old file or the new one, never half of one.
bool TStorage::WriteFile(const std::string& text) {
  std::string target = FilePath_;
  struct stat info {};
  const bool exists = lstat(target.c_str(), &info) == 0;
  if (exists && S_ISLNK(info.st_mode)) {
    // Keep a linked settings file (dot-file managers): replace its target, not the link.
    char* real = realpath(target.c_str(), nullptr);
    if (!real) return false;
    target = real;
    std::free(real);
    if (stat(target.c_str(), &info) != 0) return false;
  }
  const auto slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
  if (!MakeFolders(folder)) return false;

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporary = target + "." + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = true;
  if (exists) ok = fchmod(fd, info.st_mode & 07777) == 0;
  ok = ok && WriteAll(fd, text) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  return ok;
}

void TStorage::CheckOpen() const { TS_ASSERT(IsOpen()); }

bool TStorage::ParseInteger(const std::string& text, std::int32_t& value) {
  std::size_t pos = 0;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '-' || text[pos] == '+')) negative = text[pos++] == '-';
  int base = 10;
  if (pos < text.size() && text[pos] == '$') {
    base = 16;
    ++pos;
  } else if (pos + 1 < text.size() && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
    base = 16;
    pos += 2;
  }
  if (pos == text.size()) return false;
  std::uint64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (base == 16 && Lower(c) >= 'a' && Lower(c) <= 'f')
      digit = Lower(c) - 'a' + 10;
    else
      return false;
    magnitude = magnitude * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    if (magnitude > 0xFFFFFFFFULL) return false;
  }
  if (base == 16) {
    // Eight hex digits are a 32-bit pattern: $FFFFFFFF is -1.
    auto bits = static_cast<std::uint32_t>(magnitude);
    if (negative) bits = 0U - bits;
    value = static_cast<std::int32_t>(bits);
    return true;
  }
  if (negative ? magnitude > 0x80000000ULL : magnitude > 0x7FFFFFFFULL) return false;
  value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                   : static_cast<std::int32_t>(magnitude);
  return true;
}

std::int32_t TStorage::ReadInteger(const std::string& key, std::int32_t defaultValue) const {
  CheckOpen();
  std::string text;
  std::int32_t value = 0;
  if (File.Find(Section, key, text) && ParseInteger(text, value)) return value;
  return defaultValue;
}

void TStorage::WriteInteger(const std::string& key, std::int32_t value) {
  WriteString(key, std::to_string(value));
}

bool TStorage::ReadBool(const std::string& key, bool defaultValue) const {
  return ReadInteger(key, defaultValue ? 1 : 0) != 0;
}

void TStorage::WriteBool(const std::string& key, bool value) { WriteString(key, value ? "1" : "0"); }

std::string TStorage::ReadString(const std::string& key, const std::string& defaultValue) const {
  CheckOpen();
  std::string text;
  if (!File.Find(Section, key, text)) return defaultValue;
  if (text.size() > static_cast<std::size_t>(MaxSettingsText)) {
    std::size_t cut = MaxSettingsText;
    // Never end inside a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
  }
  return text;
}

void TStorage::WriteString(const std::string& key, const std::string& value) {
  CheckOpen();
  TS_ASSERT(ValidKey(key));
  File.Set(Section, key, value);
  Dirty = true;
}

TStorage& Storage() {
  static TStorage storage;
  return storage;
}
