#pragma once
// The tag comparison's view of a tag, shared by the comparison and the candidate loop.

#include <string>
#include <vector>

#include "xRecords.h"

// The text as tags are compared: the letters A to Z lowered, every other byte as it is.
std::string FoldTagText(const std::string& text);

// One key "<field>:<folded text>" for each non-empty field, the fields numbered 0 title,
// 1 artist, 2 album, 3 year. Two tags that match share at least one key.
std::vector<std::string> TagKeys(const TID3Data& tag);
