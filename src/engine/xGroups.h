#pragma once
// Duplicate groups and the automatic marking rule that both front ends use.

#include <cstdint>
#include <vector>

#include "xRecords.h"

// Members in order of addition; the group refers to records it does not own.
class TGroup {
public:
  int Count() const { return static_cast<int>(Members.size()); }
  TFileData* Items(int index) const;
  // Appends the record, makes this its group and updates the figures.
  void Add(TFileData* record);
  // Removes the record's first occurrence when this is its group; the figures stay as they were.
  void Remove(TFileData* record);

  // The largest quality among the picture and MP3 members; 0 when there is none.
  std::int64_t MaxQuality = 0;
  // The latest time among all members; 0 while the group is empty.
  TDateTime NewestTime = 0;

private:
  std::vector<TFileData*> Members;
};

struct TMarkRules {
  bool PicQuality = true;  // mark pictures and MP3 files inferior in quality
  bool FileOlder = true;   // mark older plain files
};

// Whether a member is marked for removal: a picture or MP3 file of lower quality than the
// group's best, or a plain file older than the group's newest. Ties at the top stay unmarked.
bool AutoMarked(const TGroup& group, const TFileData& member, const TMarkRules& rules);
