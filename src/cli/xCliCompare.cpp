// twinsifter-cli compare [--variants LIST] [--tolerance N] A B: how alike two pictures are, and
// whether a search would call them duplicates.

#include <cstdio>
#include <iostream>

#include "xCliArgs.h"
#include "xCliCommands.h"
#include "xEngine.h"
#include "xPixan.h"

namespace {

const char* VariantText(int variant) {
  switch (variant) {
    case pvRotate180: return "  (the second picture turned 180 degrees)";
    case pvRotate90Left: return "  (the second picture turned 90 degrees left)";
    case pvRotate90Right: return "  (the second picture turned 90 degrees right)";
    case pvFlipVertical: return "  (the second picture flipped upside down)";
    case pvFlipHorizontal: return "  (the second picture mirrored)";
    default: return "";
  }
}

}  // namespace

int RunCompare(const std::vector<std::string>& args) {
  TArgReader reader(args);
  TPicVariants variants;
  std::int32_t tolerance = 0;
  std::vector<std::string> files;
  std::string value, error, file;
  while (!reader.AtEnd() && error.empty()) {
    if (reader.OptionWithValue("--variants", value, error)) {
      if (error.empty()) ParseVariants(value, variants, error);
    } else if (reader.OptionWithValue("--tolerance", value, error)) {
      if (error.empty() && !ParseNumber(value, 0, 10, tolerance)) error = "--tolerance takes 0 .. 10";
    } else if (reader.Positional(file)) {
      files.push_back(file);
    } else {
      error = "unexpected argument \"" + reader.Peek() + "\"";
    }
  }
  if (error.empty() && files.size() != 2) error = "two picture files are needed";
  if (!error.empty()) {
    std::cerr << "twinsifter-cli compare: " << error << "\n"
              << "usage: twinsifter-cli compare [--variants r180,r90l,r90r,vflip,hflip,grey] [--tolerance N] A B\n";
    return ecUsage;
  }
  TPixan analyser;
  TPicSign signatures[2] = {TPicSign(variants), TPicSign(variants)};
  for (int i = 0; i < 2; ++i) {
    if (!analyser.Analyse(files[static_cast<std::size_t>(i)], signatures[i], variants)) {
      std::cerr << analyser.LastError() << "\n";
      return ecFailed;
    }
  }
  const TPictureVerdict verdict = JudgePictures(signatures[0], signatures[1], variants, tolerance, false);
  std::printf("structure similarity  %.4f%s\n", static_cast<double>(verdict.Structure), VariantText(verdict.Variant));
  std::printf("colour similarity     %.4f\n", static_cast<double>(verdict.Colour));
  std::printf("score                 %.2f\n", static_cast<double>(verdict.Score));
  std::printf("threshold             %d (tolerance %d)\n", verdict.Threshold, tolerance);
  std::printf("decision              %s\n", verdict.Duplicate ? "duplicates" : "different");
  return ecOk;
}
