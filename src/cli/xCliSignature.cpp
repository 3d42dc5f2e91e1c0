// twinsifter-cli signature [--variants LIST] FILE: the picture's signature as JSON.

#include <cstdio>
#include <iostream>

#include "xCliArgs.h"
#include "xCliCommands.h"
#include "xPixan.h"

namespace {

void PrintTrace(std::string& out, const TPicTrace& trace, bool unsignedBytes) {
  out += '[';
  for (int k = 0; k < trace.Length(); ++k) {
    if (k) out += ',';
    const std::uint8_t byte = trace.Bytes(k);
    out += std::to_string(unsignedBytes ? static_cast<int>(byte) : static_cast<int>(static_cast<std::int8_t>(byte)));
  }
  out += ']';
}

}  // namespace

int RunSignature(const std::vector<std::string>& args) {
  TArgReader reader(args);
  TPicVariants variants;
  std::string file;
  std::string value;
  std::string error;
  while (!reader.AtEnd()) {
    if (reader.OptionWithValue("--variants", value, error)) {
      if (error.empty() && !ParseVariants(value, variants, error)) break;
      if (!error.empty()) break;
    } else if (file.empty() && reader.Positional(file)) {
    } else {
      error = "unexpected argument \"" + reader.Peek() + "\"";
      break;
    }
  }
  if (error.empty() && file.empty()) error = "a picture file is needed";
  if (!error.empty()) {
    std::cerr << "twinsifter-cli signature: " << error << "\n"
              << "usage: twinsifter-cli signature [--variants r180,r90l,r90r,vflip,hflip,grey] FILE\n";
    return ecUsage;
  }

  TPixan analyser;
  TPicSign signature(variants);
  if (!analyser.Analyse(file, signature, variants)) {
    std::cerr << analyser.LastError() << "\n";
    return ecFailed;
  }
  std::string out = "{\"width\": " + std::to_string(analyser.PictureSize().Width) +
                    ", \"height\": " + std::to_string(analyser.PictureSize().Height) + ", \"l\": {";
  bool first = true;
  for (int variant = pvOriginal; variant < LTraceVariants; ++variant) {
    const TPicTrace* trace = signature.LTrace(variant);
    if (!trace) continue;
    if (!first) out += ", ";
    first = false;
    out += "\"" + std::to_string(variant) + "\": ";
    PrintTrace(out, *trace, false);
  }
  out += "}, \"h\": ";
  PrintTrace(out, signature.HTrace(), true);
  out += "}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
  return ecOk;
}
