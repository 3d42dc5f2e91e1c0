#pragma once
// The command line's reports of a search: human-readable text, or one JSON object.

#include <cstdio>
#include <string>

class TEngine;

// Groups one by one: number, member count and size, then every member with its automatic mark.
std::string GroupsAsText(const TEngine& engine);
// {"files", "combinations", "error", "groups": [{"members": [...]}]}: groups and members in the
// engine's order, "marked" the automatic marking.
std::string GroupsAsJson(const TEngine& engine);
