#pragma once
// The command line's reports of a search: human-readable text, or one JSON object.

#include <cstdio>
#include <string>

class TEngine;
struct TRemovalPlan;

// Groups one by one: number, member count and size, then every member with its automatic mark.
std::string GroupsAsText(const TEngine& engine);
// {"files", "combinations", "error", "groups": [{"members": [...]}]}: groups and members in the
// engine's order, "marked" the automatic marking; with a plan, also "plan": [{"action", "path",
// "target" (moves), "keeper"}], the action "skip" (keeper null) where no copy would stay.
std::string GroupsAsJson(const TEngine& engine, const TRemovalPlan* plan = nullptr);
// The plan, one operation a line: "trash PATH", "delete PATH" or "move PATH -> TARGET", each with
// the copy that stays, or "skip PATH" where none would.
std::string PlanAsText(const TRemovalPlan& plan);
