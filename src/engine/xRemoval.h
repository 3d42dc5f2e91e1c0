#pragma once
// Removing files from the results: first a plan, values that say what goes where and which copy
// stays, which can be shown or printed; then the plan carried out one file at a time, each file
// checked against the file system at the moment it is acted on.
//
// A file is removed (deleted, trashed or moved away) only while another member of its group that
// stays is, at that moment, still the file the search saw and, where the group was found by
// content, still holds the same bytes (compared then, not taken from a digest). Groups found by
// tags or looks have no equal bytes to compare: there the member that stays must be unchanged.

#include <cstdint>
#include <string>
#include <vector>

class TFileData;

enum class TRemovalKind : std::uint8_t { Trash, Delete, Move };

struct TRemovalStep {
  TFileData* Record = nullptr;
  std::string Target;  // Move: the path the file is to get
  // The member meant to stay, the first of the group not in the plan; null when the plan takes
  // every member, and then this file stays too.
  const TFileData* Keeper = nullptr;
};

struct TRemovalPlan {
  TRemovalKind Kind = TRemovalKind::Trash;
  std::string Folder;  // Move: the destination folder as given
  std::vector<TRemovalStep> Steps;

  // The steps that have a member to stay, and the bytes they free.
  int Removable() const;
  std::int64_t Bytes() const;
};

struct TRemovalOutcome {
  int Done = 0;
  int Kept = 0;     // a move answered No to replacing a file
  int Skipped = 0;  // refused by a check or failed, each with a warning
  int NotDone = 0;  // not reached: Stop came first
  bool Stopped() const { return NotDone > 0; }
  bool AllDone() const { return Skipped == 0 && NotDone == 0; }
};

// "trash", "delete" or "move".
const char* RemovalVerb(TRemovalKind kind);
