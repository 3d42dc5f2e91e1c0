#include "xCliArgs.h"

#include <sstream>

bool ParseVariants(const std::string& list, TPicVariants& variants, std::string& error) {
  static const struct {
    const char* Name;
    int Element;
  } names[] = {{"r180", pvRotate180},     {"r90l", pvRotate90Left},    {"r90r", pvRotate90Right},
               {"vflip", pvFlipVertical}, {"hflip", pvFlipHorizontal}, {"grey", pvGrayscale}};
  TPicVariants result;
  std::stringstream stream(list);
  std::string item;
  while (std::getline(stream, item, ',')) {
    if (item.empty()) continue;
    bool known = false;
    for (const auto& name : names) {
      if (item == name.Name) {
        result.Include(name.Element);
        known = true;
      }
    }
    if (!known) {
      error = "unknown variant \"" + item + "\" (known: r180, r90l, r90r, vflip, hflip, grey)";
      return false;
    }
  }
  variants = result;
  return true;
}

bool ParseNumber(const std::string& text, int lowest, int highest, std::int32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  long number = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (number < lowest || number > highest) return false;
  value = static_cast<std::int32_t>(number);
  return true;
}

bool TArgReader::Option(const std::string& name) {
  if (AtEnd() || OptionsEnded) return false;
  if (Args[Index] == "--") {
    OptionsEnded = true;
    ++Index;
    return false;
  }
  if (Args[Index] != name) return false;
  ++Index;
  return true;
}

bool TArgReader::OptionWithValue(const std::string& name, std::string& value, std::string& error) {
  if (AtEnd() || OptionsEnded) return false;
  const std::string& arg = Args[Index];
  if (arg.size() > name.size() && arg.compare(0, name.size(), name) == 0 && arg[name.size()] == '=') {
    value = arg.substr(name.size() + 1);
    ++Index;
    return true;
  }
  if (arg != name) return false;
  if (Index + 1 >= Args.size()) {
    error = name + " needs a value";
    value.clear();
    ++Index;
    return true;
  }
  value = Args[Index + 1];
  Index += 2;
  return true;
}

bool TArgReader::Positional(std::string& value) {
  if (AtEnd()) return false;
  if (!OptionsEnded && Args[Index] == "--") {
    OptionsEnded = true;
    ++Index;
    if (AtEnd()) return false;
  }
  if (!OptionsEnded && Args[Index].size() > 1 && Args[Index][0] == '-') return false;
  value = Args[Index++];
  return true;
}
