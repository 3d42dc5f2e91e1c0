#pragma once
// Command-line argument helpers shared by the commands of twinsifter-cli.

#include <cstdint>
#include <string>
#include <vector>

#include "xPicSign.h"

enum TExitCode : int { ecOk = 0, ecFailed = 1, ecUsage = 2 };

// "r180,r90l,r90r,vflip,hflip,grey" to a variant set; element 0 is always included.
// False, with a message, for an unknown name.
bool ParseVariants(const std::string& list, TPicVariants& variants, std::string& error);

// A whole decimal number within [lowest, highest].
bool ParseNumber(const std::string& text, int lowest, int highest, std::int32_t& value);

// Walks the arguments of one command: options (with "--name value" or "--name=value") and
// positional arguments; "--" ends the options.
class TArgReader {
public:
  explicit TArgReader(std::vector<std::string> args) : Args(std::move(args)) {}

  bool AtEnd() const { return Index >= Args.size(); }
  // True when the next argument is the option `name`; its value, if it takes one, follows.
  bool Option(const std::string& name);
  bool OptionWithValue(const std::string& name, std::string& value, std::string& error);
  // The next argument when it is no option (or any after "--").
  bool Positional(std::string& value);
  const std::string& Peek() const { return Args[Index]; }

private:
  std::vector<std::string> Args;
  std::size_t Index = 0;
  bool OptionsEnded = false;
};
