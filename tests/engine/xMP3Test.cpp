// MP3 files and their ID3 version 1 tags: reading the tag, comparing two tags, the keys the
// candidate loop files tags under, and searches over real MP3 files made by an encoder and
// tagged by a tool of their own.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>

#include "xDropOverride.h"
#include "xEngine.h"
#include "xLog.h"
#include "xMP3.h"
#include "xStorage.h"
#include "xTestFiles.h"

namespace fs = std::filesystem;

namespace {

struct TTagFields {
  std::string Title{}, Artist{}, Album{}, Year{}, Comment{};
  int Genre = 12;
};

// The 128 bytes of a tag: each field zero-padded (a field as long as its slot has no zero).
std::string TagBytes(const TTagFields& fields) {
  std::string tag = "TAG";
  for (const auto& [text, length] : {std::pair{&fields.Title, 30}, {&fields.Artist, 30}, {&fields.Album, 30},
                                     {&fields.Year, 4}, {&fields.Comment, 30}}) {
    std::string field = *text;
    field.resize(static_cast<std::size_t>(length), '\0');
    tag += field;
  }
  tag += static_cast<char>(fields.Genre);
  return tag;
}

std::string Audio(std::size_t bytes) { return std::string(bytes, '\xFF'); }

TID3Data Id3(std::string title = "", std::string artist = "", std::string album = "", std::string year = "") {
  return {std::move(title), std::move(artist), std::move(album), std::move(year)};
}

TMP3Data Record(const TID3Data& tag) { return TMP3Data("/x.mp3", 0, 200, tag); }

}  // namespace

TEST(MP3Tag, ReadingTheLast128Bytes) {
  TTempDir dir;
  const std::string tag = TagBytes({"Song", "Artist", "Album", "1999", "a comment", 17});
  struct TCase {
    const char* Name;
    std::string Content;
    bool Tagged;
    TID3Data Texts;
  };
  const TCase cases[] = {
      {"empty", "", false, {}},
      {"127 bytes", tag.substr(0, 127), false, {}},
      {"128 bytes, nothing but a tag", tag, false, {}},
      {"129 bytes", "x" + tag, true, Id3("Song", "Artist", "Album", "1999")},
      {"tag at the start, not the end", tag + Audio(50), false, {}},
      {"tag one byte early", Audio(50) + tag + "x", false, {}},
      {"lower-case marker", Audio(50) + "tag" + tag.substr(3), false, {}},
      {"trailing spaces kept", Audio(50) + TagBytes({"Song  ", " Artist", "", "99  "}), true,
       Id3("Song  ", " Artist", "", "99  ")},
      {"full fields have no zero", Audio(50) + TagBytes({std::string(30, 't'), std::string(30, 'a'),
                                                         std::string(30, 'b'), "2024", std::string(30, 'c')}),
       true, Id3(std::string(30, 't'), std::string(30, 'a'), std::string(30, 'b'), "2024")},
      {"text ends at the first zero", Audio(50) + TagBytes({std::string("Ab\0cd", 5), std::string("\0xyz", 4)}),
       true, Id3("Ab")},
      {"bytes above 127 as they are", Audio(50) + TagBytes({"Caf\xE9", "\xC4\xFF\x80"}), true,
       Id3("Caf\xE9", "\xC4\xFF\x80")},
      {"all fields empty", Audio(50) + TagBytes({}), true, {}},
  };
  for (const TCase& c : cases) {
    const std::string path = dir.File("song.mp3");
    WriteBytes(path, c.Content);
    const auto record = TEngine::ReadMP3Tag(path, 1234, 5678);
    ASSERT_EQ(record != nullptr, c.Tagged) << c.Name;
    if (!record) continue;
    EXPECT_EQ(record->Tag, c.Texts) << c.Name;
    EXPECT_EQ(record->FileName, path) << c.Name;
    EXPECT_EQ(record->Time, 1234U) << c.Name;
    EXPECT_EQ(record->Size, 5678) << c.Name;
  }
  EXPECT_EQ(TEngine::ReadMP3Tag(dir.File("missing.mp3"), 0, 0), nullptr);
  EXPECT_EQ(TEngine::ReadMP3Tag(dir.Path(), 0, 0), nullptr) << "a folder";
}

TEST(MP3Tag, ComparisonAndKeys) {
  struct TCase {
    const char* Name;
    TID3Data A, B;
    bool Duplicate;
  };
  const TCase cases[] = {
      {"case of the title only", Id3("Song"), Id3("SONG"), true},
      {"trailing space", Id3("Song"), Id3("Song "), false},
      {"artist on one side only", Id3("Song", "Artist"), Id3("Song"), true},
      {"two artists", Id3("Song", "Artist"), Id3("Song", "Other"), false},
      {"all four agree", Id3("T", "Ar", "Al", "1999"), Id3("t", "AR", "aL", "1999"), true},
      {"years differ", Id3("T", "Ar", "Al", "1999"), Id3("T", "Ar", "Al", "2000"), false},
      {"all empty", Id3(), Id3(), false},
      {"no field filled on both sides", Id3("Song", ""), Id3("", "Artist"), false},
      {"agree on the album alone", Id3("", "", "Album"), Id3("x", "", "ALBUM", ""), true},
      {"letters above Z stay", Id3("Caf\xE9"), Id3("CAF\xC9"), false},
      {"bytes above 127 match themselves", Id3("Caf\xE9"), Id3("CAF\xE9"), true},
      {"punctuation is not folded", Id3("a[b"), Id3("A{B"), false},
  };
  for (const TCase& c : cases) {
    const TMP3Data a = Record(c.A), b = Record(c.B);
    EXPECT_EQ(TEngine::CompareTags(a, b), c.Duplicate) << c.Name;
    EXPECT_EQ(TEngine::CompareTags(b, a), c.Duplicate) << c.Name << " (swapped)";
    // The candidate loop relies on this: a match always shares a key.
    const std::vector<std::string> keysA = TagKeys(c.A), keysB = TagKeys(c.B);
    const std::set<std::string> setA(keysA.begin(), keysA.end());
    const bool shared = std::any_of(keysB.begin(), keysB.end(), [&](const std::string& k) { return setA.count(k); });
    EXPECT_TRUE(shared || !c.Duplicate) << c.Name;
  }
  EXPECT_EQ(TagKeys(Id3("Song", "", "My ALBUM", "1999")), (std::vector<std::string>{"0:song", "2:my album", "3:1999"}));
  EXPECT_EQ(TagKeys(Id3("", "x")), (std::vector<std::string>{"1:x"})) << "the field is part of the key";
  EXPECT_TRUE(TagKeys({}).empty());

  TMP3Data a = Record(Id3("Song")), b = Record(Id3("Song"));
  ASSERT_TRUE(TEngine::CompareTags(a, b));
  b.Failed = true;
  EXPECT_FALSE(TEngine::CompareTags(a, b));
  EXPECT_FALSE(TEngine::CompareTags(b, a));
}

class MP3SearchTest : public testing::Test {
protected:
  MP3SearchTest() : Storage(Home.Path(), TInfo()), Engine(Storage, false) {
    Root = Tree.Path() + "/";
    Engine.AddFolder(Tree.Path());
  }

  std::vector<std::vector<std::string>> Search(TPairStrategy strategy) {
    Engine.PairStrategy = strategy;
    Engine.NeedRescan = true;
    EXPECT_TRUE(Engine.Execute()) << Engine.LastError;
    std::vector<std::vector<std::string>> groups;
    for (int g = 0; g < Engine.GroupCount(); ++g) {
      groups.emplace_back();
      for (int i = 0; i < Engine.Groups(g)->Count(); ++i)
        groups.back().push_back(Engine.Groups(g)->Items(i)->FileName.substr(Root.size()));
    }
    return groups;
  }

  const TFileData* Find(const std::string& name) const {
    for (int i = 0; i < Engine.FileCount(); ++i)
      if (Engine.Files(i)->FileName == Root + name) return Engine.Files(i);
    return nullptr;
  }

  TTempDir Home, Tree;
  std::string Root;
  TStorage Storage;
  TEngine Engine;
  TLogCapture Log;
};

TEST_F(MP3SearchTest, TagsDecideBetweenMP3FilesAndContentForTheRest) {
  const std::string tag = TagBytes({"Song", "Artist"});
  WriteBytes(Root + "a.mp3", Audio(10) + tag);
  WriteBytes(Root + "b.MP3", Audio(20) + TagBytes({"SONG"}));  // a capital extension counts
  WriteBytes(Root + "c.mp3", Audio(10) + "x" + tag.substr(1));  // no tag: a plain record ...
  WriteBytes(Root + "d.mp3", Audio(10) + "x" + tag.substr(1));  // ... compared by content
  WriteBytes(Root + "e.txt", Audio(30) + tag);                  // a tag in a file that is no MP3
  WriteBytes(Root + "f.txt", Audio(30) + tag);

  EXPECT_EQ(Search(TPairStrategy::Candidates),
            (std::vector<std::vector<std::string>>{{"b.MP3", "a.mp3"}, {"d.mp3", "c.mp3"}, {"f.txt", "e.txt"}}));
  ASSERT_NE(Find("b.MP3"), nullptr);
  EXPECT_EQ(Find("b.MP3")->Kind(), TRecordKind::MP3);
  EXPECT_EQ(Find("c.mp3")->Kind(), TRecordKind::Plain);
  EXPECT_EQ(Find("e.txt")->Kind(), TRecordKind::Plain);

  Engine.Options.MP3Comp = false;
  EXPECT_EQ(Search(TPairStrategy::Candidates),
            (std::vector<std::vector<std::string>>{{"d.mp3", "c.mp3"}, {"f.txt", "e.txt"}}));
  EXPECT_EQ(Find("a.mp3")->Kind(), TRecordKind::Plain);
}

TEST_F(MP3SearchTest, UnreadableMP3IsAPlainRecordThatFailsWithAWarning) {
  if (RunsWithFileOverride()) return;
  const std::string tag = TagBytes({"Song"});
  WriteBytes(Root + "a.mp3", Audio(10) + tag);
  WriteBytes(Root + "b.mp3", Audio(10) + tag);
  fs::permissions(Root + "a.mp3", fs::perms::none);
  EXPECT_EQ(Search(TPairStrategy::Candidates), (std::vector<std::vector<std::string>>{}));
  EXPECT_EQ(Find("a.mp3")->Kind(), TRecordKind::Plain);
  EXPECT_TRUE(Find("a.mp3")->Failed);
  EXPECT_EQ(Find("b.mp3")->Kind(), TRecordKind::MP3);
  bool warned = false;
  for (const auto& line : Log.Lines())
    warned |= line == TLogCapture::TLine{"Failed to open \"" + Root + "a.mp3\"", llWarning, false};
  EXPECT_TRUE(warned);
  EXPECT_FALSE(Engine.IsRunning());
}

// Real MP3 files: encoded by lame from generated sound, tagged by id3v2 (ID3 version 1 only).
class RealMP3Test : public MP3SearchTest {
protected:
  static void SetUpTestSuite() {
    for (const char* tool : {"lame", "id3v2"})
      if (std::system((std::string("command -v ") + tool + " >/dev/null").c_str()) != 0)
        FAIL() << tool << " is missing: scripts/install-deps.sh installs it";
  }

  static std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  }

  // Half a second of a tone at `hertz`, as a 16-bit mono WAV, encoded to `name`.
  void Encode(const std::string& name, double hertz) {
    const int rate = 8000, samples = rate / 2;
    std::string wav = "RIFF";
    auto put = [&wav](std::uint32_t value, int bytes) {
      for (int i = 0; i < bytes; ++i) wav += static_cast<char>(value >> (8 * i) & 0xFF);
    };
    put(36 + samples * 2, 4);
    wav += "WAVEfmt ";
    put(16, 4), put(1, 2), put(1, 2), put(rate, 4), put(rate * 2, 4), put(2, 2), put(16, 2);
    wav += "data";
    put(samples * 2, 4);
    for (int i = 0; i < samples; ++i)
      put(static_cast<std::uint16_t>(static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * hertz * i / rate))), 2);
    const std::string source = Home.File("tone.wav");
    WriteBytes(source, wav);
    ASSERT_EQ(std::system(("lame --quiet -b 32 " + Quoted(source) + " " + Quoted(Root + name)).c_str()), 0);
  }

  void Tag(const std::string& name, const TTagFields& fields) {
    std::string command = "id3v2 -1 -g " + std::to_string(fields.Genre);
    if (!fields.Title.empty()) command += " -t " + Quoted(fields.Title);
    if (!fields.Artist.empty()) command += " -a " + Quoted(fields.Artist);
    if (!fields.Album.empty()) command += " -A " + Quoted(fields.Album);
    if (!fields.Year.empty()) command += " -y " + Quoted(fields.Year);
    ASSERT_EQ(std::system((command + " " + Quoted(Root + name) + " >/dev/null").c_str()), 0);
  }

  void Make(const std::string& name, double hertz, const TTagFields& fields) {
    Encode(name, hertz);
    Tag(name, fields);
  }
};

TEST_F(RealMP3Test, GroupsFollowTheTags) {
  // a matches b and c, b and c do not match: one group of three all the same.
  Make("a.mp3", 300, {"Song"});
  Make("b.mp3", 400, {"SONG", "Artist X"});
  Make("c.mp3", 500, {"song", "Artist Y"});
  Make("d.mp3", 600, {"Song "});  // a trailing space is part of the title
  Encode("h.mp3", 700);          // no tag: compared by content
  fs::copy_file(Root + "h.mp3", Root + "i.mp3");
  Make("j.MP3", 800, {"Other", "", "", "2001"});
  Make("k.mp3", 900, {"OTHER", "", "An Album", "2001"});
  Make("l.mp3", 1000, {"", "", "Caf\xE9"});  // Latin-1 bytes, which id3v2 passes on as they are
  Make("m.mp3", 1100, {"", "", "CAF\xC9"});
  Make("n.mp3", 1200, {"", "", "caf\xC9"});
  Make("o.mp3", 1300, {"", "", "", "", "", 3});  // a tag with no text at all
  Make("p.mp3", 1300, {"", "", "", "", "", 3});  // the same bytes: no field takes part, so by content

  const std::vector<std::vector<std::string>> expected = {
      {"b.mp3", "a.mp3", "c.mp3"}, {"i.mp3", "h.mp3"}, {"k.mp3", "j.MP3"}, {"n.mp3", "m.mp3"}, {"p.mp3", "o.mp3"}};
  EXPECT_EQ(Search(TPairStrategy::Plain), expected);
  EXPECT_EQ(Search(TPairStrategy::Candidates), expected);

  const auto& b = static_cast<const TMP3Data&>(*Find("b.mp3"));
  const auto& c = static_cast<const TMP3Data&>(*Find("c.mp3"));
  EXPECT_EQ(b.Tag, Id3("SONG", "Artist X")) << "what id3v2 wrote, read back";
  EXPECT_FALSE(TEngine::CompareTags(b, c));
  EXPECT_EQ(static_cast<const TMP3Data&>(*Find("l.mp3")).Tag.Album, "Caf\xE9");
  EXPECT_EQ(static_cast<const TMP3Data&>(*Find("m.mp3")).Tag.Album, "CAF\xC9");
  EXPECT_EQ(static_cast<const TMP3Data&>(*Find("n.mp3")).Tag.Album, "caf\xC9");
  EXPECT_EQ(Find("h.mp3")->Kind(), TRecordKind::Plain);
  EXPECT_EQ(Find("o.mp3")->Kind(), TRecordKind::Plain) << "a tag without text makes no MP3 record";

  // Without tags the encoder's output differs everywhere but for the copy.
  Engine.Options.MP3Comp = false;
  EXPECT_EQ(Search(TPairStrategy::Candidates), (std::vector<std::vector<std::string>>{{"i.mp3", "h.mp3"}, {"p.mp3", "o.mp3"}}));
}
