#include "xAssert.h"

#include <cstdio>

std::string UnitName(const char* file) {
  std::string name = file ? file : "";
  const auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const auto dot = name.find('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

void AssertionFailed(const char* file, int line) {
  char text[512];
  std::snprintf(text, sizeof text, "%s (%s, line %d)", "Assertion failure", UnitName(file).c_str(), line);
  throw EAssertionFailed(text);
}

void InternalError(const std::string& text) { throw EAssertionFailed(text); }
