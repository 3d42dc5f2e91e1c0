#include "xCliOutput.h"

#include "xCliJson.h"
#include "xEngine.h"

namespace {

const char* KindName(TRecordKind kind) {
  switch (kind) {
    case TRecordKind::Picture: return "picture";
    case TRecordKind::MP3: return "mp3";
    case TRecordKind::Plain: break;
  }
  return "plain";
}

std::int64_t Combinations(const TEngine& engine) {
  const auto n = static_cast<std::int64_t>(engine.FileCount());
  return n > 1 ? n * (n - 1) / 2 : 0;
}

// A path on one line of text: control characters would break the line apart.
std::string Printable(const std::string& path) {
  std::string out = path;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return out;
}

std::string SizeText(std::int64_t size) { return std::to_string(size) + (size == 1 ? " byte" : " bytes"); }

}  // namespace

std::string GroupsAsText(const TEngine& engine) {
  std::string out;
  const TMarkRules rules = engine.MarkRules();
  for (int g = 0; g < engine.GroupCount(); ++g) {
    const TGroup& group = *engine.Groups(g);
    out += "Group " + std::to_string(g + 1) + ": " + std::to_string(group.Count()) + " files";
    bool sameSize = group.Count() > 0;
    for (int i = 1; i < group.Count(); ++i) sameSize = sameSize && group.Items(i)->Size == group.Items(0)->Size;
    if (sameSize) out += ", " + SizeText(group.Items(0)->Size);
    out += "\n";
    for (int i = 0; i < group.Count(); ++i) {
      const TFileData& member = *group.Items(i);
      std::string time = PackedToIsoText(member.Time);
      time[10] = ' ';
      out += AutoMarked(group, member, rules) ? "  marked  " : "  keep    ";
      out += time.substr(0, 16) + "  ";
      if (member.Kind() == TRecordKind::Picture) {
        const auto& picture = static_cast<const TPicData&>(member);
        out += std::to_string(picture.Width) + " x " + std::to_string(picture.Height) + "  ";
      }
      out += Printable(member.FileName) + "\n";
    }
  }
  return out;
}

std::string PlanAsText(const TRemovalPlan& plan) {
  std::string out = "Plan: " + std::to_string(plan.Removable()) + " of " + std::to_string(plan.Steps.size()) +
                    " files, " + SizeText(plan.Bytes()) + "; each is checked again when it is acted on\n";
  for (const TRemovalStep& step : plan.Steps) {
    if (!step.Keeper) {
      out += "  skip    " + Printable(step.Record->FileName) + "  (no copy of it would stay)\n";
      continue;
    }
    std::string verb = RemovalVerb(plan.Kind);
    verb.resize(8, ' ');
    out += "  " + verb + Printable(step.Record->FileName);
    if (plan.Kind == TRemovalKind::Move) out += " -> " + Printable(step.Target);
    out += "  (stays: " + Printable(step.Keeper->FileName) + ")\n";
  }
  return out;
}

std::string GroupsAsJson(const TEngine& engine, const TRemovalPlan* plan) {
  std::string out = "{\"files\": " + std::to_string(engine.FileCount()) +
                    ", \"combinations\": " + std::to_string(Combinations(engine)) +
                    ", \"error\": " + JsonString(engine.LastError) + ", \"groups\": [";
  const TMarkRules rules = engine.MarkRules();
  for (int g = 0; g < engine.GroupCount(); ++g) {
    const TGroup& group = *engine.Groups(g);
    out += g ? ", {\"members\": [" : "{\"members\": [";
    for (int i = 0; i < group.Count(); ++i) {
      const TFileData& member = *group.Items(i);
      int width = 0, height = 0;
      if (member.Kind() == TRecordKind::Picture) {
        width = static_cast<const TPicData&>(member).Width;
        height = static_cast<const TPicData&>(member).Height;
      }
      if (i) out += ", ";
      out += "{\"path\": " + JsonString(member.FileName) + ", \"size\": " + std::to_string(member.Size) +
             ", \"time\": \"" + PackedToIsoText(member.Time) + "\", \"kind\": \"" + KindName(member.Kind()) +
             "\", \"width\": " + std::to_string(width) + ", \"height\": " + std::to_string(height) +
             ", \"marked\": " + (AutoMarked(group, member, rules) ? "true" : "false") + "}";
    }
    out += "]}";
  }
  out += "]";
  if (plan) {
    out += ", \"plan\": [";
    for (std::size_t i = 0; i < plan->Steps.size(); ++i) {
      const TRemovalStep& step = plan->Steps[i];
      if (i) out += ", ";
      out += std::string("{\"action\": \"") + (step.Keeper ? RemovalVerb(plan->Kind) : "skip") +
             "\", \"path\": " + JsonString(step.Record->FileName);
      if (plan->Kind == TRemovalKind::Move) out += ", \"target\": " + JsonString(step.Target);
      out += ", \"keeper\": " + (step.Keeper ? JsonString(step.Keeper->FileName) : std::string("null")) + "}";
    }
    out += "]";
  }
  out += "}\n";
  return out;
}
