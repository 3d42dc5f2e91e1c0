// The freedesktop.org trash. Written here rather than through QFile::moveToTrash, which picks
// the home trash by the device of $HOME instead of $XDG_DATA_HOME, writes the info file's
// content only after the move (a full disk leaves a file nobody can restore), prints its
// complaints instead of returning them and fails without a reason when no trash folder exists.

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "xNoFollow.h"
#include "xPlatform.h"

namespace {

constexpr const char* InfoExtension = ".trashinfo";
constexpr std::size_t NameLimit = 255;  // NAME_MAX of the usual filesystems
constexpr int CandidateLimit = 10000;

std::string Reason(int err) { return std::generic_category().message(err); }

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string HomeDataFolder() {
  // Relative values are to be ignored, as the base directory rules say.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') return data;
  std::string home;
  if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
    home = env;
  } else if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir && user->pw_dir[0] == '/') {
    home = user->pw_dir;
  }
  return home.empty() ? std::string() : home + "/.local/share";
}

// Creates the folder and its missing parents (mode 0700); errno-style code on failure.
int MakeFolders(const std::string& path, int depth = 0) {
  if (::mkdir(path.c_str(), 0700) == 0) return 0;
  int err = errno;
  if (err == ENOENT && depth < 64) {
    const std::string parent = ParentOf(path);
    if (parent == path) return err;
    if (const int up = MakeFolders(parent, depth + 1)) return up;
    if (::mkdir(path.c_str(), 0700) == 0) return 0;
    err = errno;
  }
  struct stat info {};
  if (err == EEXIST) return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
  return err;
}

// The device of the path, or of its nearest existing parent when it does not exist yet.
bool DeviceOf(std::string path, dev_t& device) {
  for (int depth = 0; depth < 256; ++depth) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
      device = info.st_dev;
      return true;
    }
    if (path == "/" || path == ".") return false;
    path = ParentOf(path);
  }
  return false;
}

// The top folder of the filesystem that holds `folder` (itself on `device`).
std::string MountTop(std::string folder, dev_t device) {
  while (folder != "/") {
    const std::string up = ParentOf(folder);
    struct stat info {};
    if (::stat(up.c_str(), &info) != 0 || info.st_dev != device) break;
    folder = up;
  }
  return folder;
}

// A per-user trash folder, created when missing; it must be a real folder of ours, never a link.
// 0 when usable, else why not.
int OwnFolder(const std::string& path) {
  const int made = ::mkdir(path.c_str(), 0700) == 0 ? 0 : errno;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return made ? made : errno;
  if (!S_ISDIR(info.st_mode)) return ENOTDIR;
  if (info.st_uid != ::getuid()) return EPERM;
  return 0;
}

struct TTrashPlace {
  std::string Folder;    // the trash folder, holding files/ and info/
  std::string InfoPath;  // what its info file's Path says: absolute, or relative to the top folder
};

bool FindTrash(const std::string& file, dev_t device, TTrashPlace& place, std::string& error) {
  if (const std::string data = HomeDataFolder(); !data.empty()) {
    const std::string home = data + "/Trash";
    dev_t homeDevice = 0;
    if (DeviceOf(home, homeDevice) && homeDevice == device) {
      if (const int err = MakeFolders(home)) {
        error = "cannot create the trash folder \"" + home + "\": " + Reason(err);
        return false;
      }
      place = {home, file};
      return true;
    }
  }
  // Another filesystem: its own trash, since moving the file into the home trash would be a copy.
  const std::string top = MountTop(ParentOf(file), device);
  const std::string relative = file.substr(top == "/" ? 1 : top.size() + 1);
  const std::string uid = std::to_string(::getuid());
  const std::string shared = Join(top, ".Trash");
  struct stat info {};
  // An administrator's shared trash counts only when it is a real folder with the sticky bit.
  if (::lstat(shared.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX)) {
    const std::string own = shared + "/" + uid;
    if (OwnFolder(own) == 0) {
      place = {own, relative};
      return true;
    }
  }
  const std::string own = Join(top, ".Trash-" + uid);
  if (const int err = OwnFolder(own)) {
    error = "its filesystem (" + top + ") has no usable trash folder: \"" + own + "\": " + Reason(err);
    return false;
  }
  place = {own, relative};
  return true;
}

// The n-th name tried for the file in the trash: "photo.jpg", "photo.2.jpg", "photo.3.jpg" ...,
// short enough for its info file's name.
std::string Candidate(const std::string& name, int n) {
  std::string stem = name, extension;
  const auto dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0 && name.size() - dot <= 32) {
    stem = name.substr(0, dot);
    extension = name.substr(dot);
  }
  std::string number;
  if (n > 0) number.append(".").append(std::to_string(n + 1));
  const std::size_t budget = NameLimit - std::char_traits<char>::length(InfoExtension) - number.size() - extension.size();
  if (stem.size() > budget) {
    std::size_t cut = budget;
    while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
    stem.resize(cut);
  }
  return stem + number + extension;
}

std::string DeletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  ::localtime_r(&now, &local);
  char text[32] = {};
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool RenameNoReplace(int folder, const std::string& name, const std::string& to) {
  if (::renameat2(folder, name.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  // Filesystems without the flag: the name was reserved through the info file and checked free.
  if (errno != EINVAL && errno != ENOSYS) return false;
  return ::renameat(folder, name.c_str(), AT_FDCWD, to.c_str()) == 0;
}

}  // namespace

std::string PercentEncodePath(const std::string& path) {
  static const char Hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
                       byte == '-' || byte == '.' || byte == '_' || byte == '~' || byte == '/';
    if (plain) {
      out += c;
    } else {
      out += '%';
      out += Hex[byte >> 4];
      out += Hex[byte & 15];
    }
  }
  return out;
}

std::string FileUri(const std::string& path) { return "file://" + PercentEncodePath(path); }

bool MoveToTrash(const std::string& path, std::string& error, std::string* trashedAs) {
  error.clear();
  std::string given = path;
  while (given.size() > 1 && given.back() == '/') given.pop_back();
  struct stat source {};
  if (given.find('\0') != std::string::npos) {
    error = "not a file name";
    return false;
  }
  if (given.empty() || ::lstat(given.c_str(), &source) != 0) {
    error = Reason(given.empty() ? ENOENT : errno);
    return false;
  }
  const std::string name = given.substr(given.find_last_of('/') + 1);
  if (name.empty() || name == "." || name == "..") {
    error = "not a file name";
    return false;
  }
  // The folder resolved, so that the filesystem's top folder and the path below it are right.
  const std::string folder = RealPath(ParentOf(given));
  if (folder.empty()) {
    error = Reason(errno);
    return false;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    error = Reason(errno);
    return false;
  }
  const bool moved = MoveToTrashAt(fd, name, Join(folder, name), error, trashedAs);
  ::close(fd);
  return moved;
}

bool MoveToTrashAt(int folder, const std::string& name, const std::string& file, std::string& error,
                   std::string* trashedAs) {
  error.clear();
  struct stat source {};
  if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos || name == "." ||
      name == ".." || file.empty() || file.front() != '/' || file.find('\0') != std::string::npos) {
    error = "not a file name";
    return false;
  }
  if (::fstatat(folder, name.c_str(), &source, AT_SYMLINK_NOFOLLOW) != 0) {
    error = Reason(errno);
    return false;
  }

  TTrashPlace place;
  if (!FindTrash(file, source.st_dev, place, error)) return false;
  const std::string files = place.Folder + "/files", info = place.Folder + "/info";
  for (const std::string& sub : {files, info}) {
    if (const int err = MakeFolders(sub)) {
      error = "cannot create \"" + sub + "\": " + Reason(err);
      return false;
    }
  }

  // The info file first, created exclusively: it reserves the name, and a desktop that finds the
  // file in the trash always knows where it came from.
  std::string target, infoFile;
  int fd = -1;
  for (int n = 0; n < CandidateLimit && fd < 0; ++n) {
    const std::string candidate = Candidate(name, n);
    infoFile = info + "/" + candidate + InfoExtension;
    fd = ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error = "cannot create \"" + infoFile + "\": " + Reason(errno);
      return false;
    }
    target = files + "/" + candidate;
    struct stat taken {};
    if (::lstat(target.c_str(), &taken) == 0) {  // left over from someone else's trashing
      ::close(fd);
      ::unlink(infoFile.c_str());
      fd = -1;
    }
  }
  if (fd < 0) {
    error = "no free name left in the trash";
    return false;
  }
  const std::string content =
      "[Trash Info]\nPath=" + PercentEncodePath(place.InfoPath) + "\nDeletionDate=" + DeletionDate() + "\n";
  const bool written = WriteAll(fd, content);
  const int writeError = errno;
  if (::close(fd) != 0 || !written) {
    const int err = written ? errno : writeError;
    ::unlink(infoFile.c_str());
    error = "cannot write \"" + infoFile + "\": " + Reason(err);
    return false;
  }
  if (!RenameNoReplace(folder, name, target)) {
    const int err = errno;
    ::unlink(infoFile.c_str());
    error = Reason(err);
    return false;
  }
  if (trashedAs) *trashedAs = target;
  return true;
}
