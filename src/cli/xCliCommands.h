#pragma once
// The commands of twinsifter-cli. Each takes its own arguments and returns the exit code.

#include <string>
#include <vector>

int RunSignature(const std::vector<std::string>& args);
int RunSearch(const std::vector<std::string>& args);
int RunCompare(const std::vector<std::string>& args);

extern const char* const SearchUsage;
