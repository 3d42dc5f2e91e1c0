// Session loading on any bytes, once through LoadSession (magic included) and once through
// LoadGroups (the bytes after a magic). The folder /tmp/tsfz/ holds a few files with short
// names ("a", "b.png", "c.mp3", "d.mp3"), so that inputs can name files that exist.
// Besides not crashing: a failure leaves one of the documented messages, every record made is
// a member of exactly the group it names, and a loaded session saves and loads back to the
// same bytes.

#include <sys/stat.h>

#include <cerrno>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "xEngine.h"
#include "xFuzzPicture.h"
#include "xStorage.h"

namespace {


void Write(const std::string& path, const std::string& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
  std::fclose(file);
}

struct TPlace {
  std::string Folder;
  std::string Session;
  TStorage* Store = nullptr;
  TEngine* Engine = nullptr;
  TPlace() {
    // A fixed place, so that a corpus names the same files in every run.
    Folder = "/tmp/tsfz/";
    if (mkdir(Folder.c_str(), 0700) != 0 && errno != EEXIST) std::abort();
    Write(Folder + "a", "plain");
    Write(Folder + "b.png", std::string(reinterpret_cast<const char*>(SmallestPng), sizeof SmallestPng));
    Write(Folder + "c.mp3", "audio" + std::string("TAG") + "Title" + std::string(120, '\0'));
    Write(Folder + "d.mp3", "no tag at all, just some bytes of audio, and more of them, and more again, until "
                            "the end comes after a hundred and twenty-eight bytes or so");
    Session = Folder + "session.tsn";
    Store = new TStorage(Folder, TInfo());
    Engine = new TEngine(*Store, false);
  }
};

TPlace& Place() {
  static TPlace place;
  return place;
}

// The failures of the stream itself, and a path that a search never saves.
bool DamagedStream(const std::string& message) {
  return message == "Stream reading error" || message == "Damaged session file: it names a file without its full path";
}

bool Documented(const std::string& message) {
  return message == "Failed to read from file" || message == "Wrong file format" || DamagedStream(message);
}

// Every record is in one group, and the group it names holds it; no file has two records.
void CheckShape(const TEngine& engine) {
  if (!engine.NeedRescan) std::abort();
  std::set<const TFileData*> members;
  for (int g = 0; g < engine.GroupCount(); ++g) {
    const TGroup* group = engine.Groups(g);
    for (int i = 0; i < group->Count(); ++i) {
      if (group->Items(i)->Group != group) std::abort();
      if (!members.insert(group->Items(i)).second) std::abort();
    }
  }
  std::set<std::pair<std::uint64_t, std::uint64_t>> files;
  for (int i = 0; i < engine.FileCount(); ++i) {
    const TFileData* record = engine.Files(i);
    if (members.count(record) == 0) std::abort();
    if (!files.insert({record->Identity.Device, record->Identity.Inode}).second) std::abort();
  }
  if (members.size() != static_cast<std::size_t>(engine.FileCount())) std::abort();
}

std::vector<std::string> Names(const TGroup& group) {
  std::vector<std::string> names;
  for (int i = 0; i < group.Count(); ++i) names.push_back(group.Items(i)->FileName);
  return names;
}

std::string Saved(TEngine& engine) {
  std::ostringstream out;
  if (!engine.SaveGroups(out)) std::abort();
  return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TPlace& place = Place();
  TEngine& engine = *place.Engine;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  Write(place.Session, bytes);
  if (engine.LoadSession(place.Session)) {
    if (!engine.LastError.empty()) std::abort();
  } else if (!Documented(engine.LastError)) {
    std::abort();
  }
  CheckShape(engine);

  std::istringstream stream(bytes);
  if (engine.LoadGroups(stream)) {
    if (!engine.LastError.empty()) std::abort();
    CheckShape(engine);
    // What was loaded saves to bytes that load back to its groups of two members or more (the
    // others are saved as their counts alone), and from then on to the same bytes.
    std::vector<std::vector<std::string>> kept;
    for (int g = 0; g < engine.GroupCount(); ++g)
      if (engine.Groups(g)->Count() >= 2) kept.push_back(Names(*engine.Groups(g)));
    std::istringstream first(Saved(engine));
    if (!engine.LoadGroups(first)) std::abort();
    if (engine.GroupCount() != static_cast<int>(kept.size())) std::abort();
    for (int g = 0; g < engine.GroupCount(); ++g)
      if (Names(*engine.Groups(g)) != kept[static_cast<std::size_t>(g)]) std::abort();
    const std::string second = Saved(engine);
    std::istringstream again(second);
    if (!engine.LoadGroups(again) || Saved(engine) != second) std::abort();
  } else if (!DamagedStream(engine.LastError)) {
    std::abort();
  }
  CheckShape(engine);
  return 0;
}
