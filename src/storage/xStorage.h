#pragma once
// The settings store: typed keys in sections of a text file ("[SECTION]", then "Key=value"
// lines), one section open at a time. Also the program's folders, its version and whether
// this build runs for the first time.

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "xSysInfo.h"

// The settings file in memory. Section and key names compare without regard to ASCII case.
// Lines the program does not own (comments, stray text) survive a rewrite unchanged.
class TIniFile {
public:
  void Parse(const std::string& text);
  std::string Text() const;

  // The first value of the key in the first of the section's copies that holds it.
  bool Find(const std::string& section, const std::string& key, std::string& value) const;
  // Removes every copy of the section; an empty one stays where the first copy was (or at the
  // end), so that the keys written next land there.
  void EraseSection(const std::string& section);
  // Replaces the key's first line in the section (later duplicates go), or adds the key.
  void Set(const std::string& section, const std::string& key, const std::string& value);

  // Value as written to the file: plain when it survives reading back as it is, else in
  // double quotes with \\ \" \n \r \t escapes; DecodeValue is its inverse.
  static std::string EncodeValue(const std::string& value);
  static std::string DecodeValue(const std::string& raw);

private:
  struct TLine {
    std::string Raw;      // the line as read or to be written
    std::string Section;  // section header: its name
    std::string Key;      // key line: its name
    std::string Value;    // key line: its decoded value
    bool IsSection = false;
    bool IsKey = false;
  };
  std::vector<TLine> Lines;
};

// Where the writable state lives: the settings file's folder, and the folder that holds "Cache".
struct TStatePlaces {
  std::string SettingsFolder;  // with a trailing '/'
  std::string CacheBase;       // with a trailing '/'
};

// What the choice depends on, so that it can be made without touching the process.
struct TStateSources {
  std::string TwinsifterHome;  // $TWINSIFTER_HOME
  std::string AppFolder;       // the program's folder
  bool AppFolderWritable = false;
  std::string XdgConfigHome;
  std::string XdgCacheHome;
  std::string Home;
};

// $TWINSIFTER_HOME when set, else the program folder when it is writable (portable use, the
// build tree), else $XDG_CONFIG_HOME/twinsifter/ and $XDG_CACHE_HOME/twinsifter/.
TStatePlaces StatePlaces(const TStateSources& sources);
TStatePlaces StatePlaces();  // from the environment

// The running program's file (through /proc/self/exe): its folder with a trailing '/', and its
// name without folder and extension.
std::string ExeFolder();
std::string ExeBaseName();
// A file or folder shipped with the program (tips, help, skins), by its name relative to the
// data folder: beside the program (the build tree, portable use), else in the installed tree's
// share/twinsifter/. The first that exists; the place beside the program when neither does.
std::string ShippedPath(const std::string& relative, const std::string& exeFolder);
std::string ShippedPath(const std::string& relative);

// A text in a byte stream: 32-bit little-endian signed length, then the bytes.
bool WriteStreamString(std::ostream& stream, const std::string& text);
// False when the length or a byte is missing; a length of 0 or less reads as an empty text.
// Memory grows with the bytes that actually arrive, never with the length alone.
bool ReadStreamString(std::istream& stream, std::string& text);

inline constexpr int MaxSettingsText = 2047;  // longest text ReadString gives back

class TStorage {
public:
  // The program's store: the state folder of StatePlaces, the compiled-in version.
  TStorage();
  // A store on the file settingsFolder + "twinsifter.ini", for the given version block.
  TStorage(const std::string& settingsFolder, const TInfo& info);
  // Records that this build has run (the "GENERAL" section).
  ~TStorage();
  TStorage(const TStorage&) = delete;
  TStorage& operator=(const TStorage&) = delete;

  // Opening for writing erases the section: it holds exactly the keys written before closing.
  void OpenSection(const std::string& name, bool forWriting);
  // Writes the changes (if any) and closes. False with LastError "Unable to write to <file>"
  // (also logged as an error) when the file cannot be written; the section is closed anyway.
  bool CloseSection();
  bool IsOpen() const { return Open_ && !Section.empty(); }
  // A read-only store reads as usual and never writes the file (the command line's).
  void SetReadOnly(bool readOnly) { ReadOnly_ = readOnly; }
  bool IsReadOnly() const { return ReadOnly_; }

  std::int32_t ReadInteger(const std::string& key, std::int32_t defaultValue) const;
  void WriteInteger(const std::string& key, std::int32_t value);
  bool ReadBool(const std::string& key, bool defaultValue) const;
  void WriteBool(const std::string& key, bool value);
  std::string ReadString(const std::string& key, const std::string& defaultValue) const;
  void WriteString(const std::string& key, const std::string& value);

  // "0x10" and "$10" are hexadecimal; anything that is not a whole 32-bit number gives false.
  static bool ParseInteger(const std::string& text, std::int32_t& value);

  const std::string& FileName() const { return FileName_; }            // "twinsifter.ini"
  const std::string& FilePath() const { return FilePath_; }            // settings folder + FileName
  const std::string& AppFolder() const { return AppFolder_; }          // the program's folder
  const std::string& CacheBase() const { return CacheBase_; }          // base folder for the cache
  const std::string& Build() const { return Build_; }
  const std::string& VersionText() const { return VersionText_; }
  bool NewBuild() const { return NewBuild_; }
  TSysInfo& SysInfo() { return *SysInfo_; }
  const std::string& LastError() const { return LastError_; }

private:
  void Start(const TInfo& info);
  bool WriteFile(const std::string& text);
  void CheckOpen() const;

  std::string FileName_ = "twinsifter.ini";
  std::string FilePath_;
  std::string AppFolder_;
  std::string CacheBase_;
  std::string Build_;
  std::string VersionText_;
  bool NewBuild_ = true;
  std::unique_ptr<TSysInfo> SysInfo_;
  std::string LastError_;

  std::string Section;
  bool Open_ = false;
  bool Dirty = false;  // erased or written since opening
  bool ReadOnly_ = false;
  bool Readable = true;  // false when an existing file could not be read: it is never overwritten
  TIniFile File;
};

// The program's one store, created on first use (the front end does so before any window)
// and destroyed when the program ends. Tests make stores of their own instead.
TStorage& Storage();
