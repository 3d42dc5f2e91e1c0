#include "xGroups.h"

#include <algorithm>

#include "xAssert.h"

TFileData* TGroup::Items(int index) const {
  TS_ASSERT(index >= 0 && index < Count());
  return Members[static_cast<std::size_t>(index)];
}

void TGroup::Add(TFileData* record) {
  TS_ASSERT(record != nullptr);
  const bool first = Members.empty();
  Members.push_back(record);
  record->Group = this;
  const std::int64_t quality = record->JudgedByQuality() ? record->Quality() : 0;
  if (first) {
    NewestTime = record->DateTime();
    MaxQuality = quality;
    return;
  }
  NewestTime = std::max(NewestTime, record->DateTime());
  if (record->JudgedByQuality()) MaxQuality = std::max(MaxQuality, quality);
}

void TGroup::Remove(TFileData* record) {
  if (!record || record->Group != this) return;
  const auto found = std::find(Members.begin(), Members.end(), record);
  if (found != Members.end()) Members.erase(found);
  record->Group = nullptr;
}

bool AutoMarked(const TGroup& group, const TFileData& member, const TMarkRules& rules) {
  if (member.JudgedByQuality()) return rules.PicQuality && member.Quality() < group.MaxQuality;
  return rules.FileOlder && member.DateTime() < group.NewestTime;
}
