#pragma once
// Consistency checks. A violated precondition is a programming error: it throws
// EAssertionFailed, whose text names the unit and the line ("Assertion failure (xPixan, line 42)").
// The windows catch it at each command and show it in an error box; the program goes on.

#include <stdexcept>
#include <string>

class EAssertionFailed : public std::logic_error {
public:
  explicit EAssertionFailed(const std::string& text) : std::logic_error(text) {}
};

// Throws EAssertionFailed with "Assertion failure (<unit>, line <line>)"; the unit is the
// source file's base name without its extension.
[[noreturn]] void AssertionFailed(const char* file, int line);

// An internal-check failure that carries its own text instead of the unit and line.
[[noreturn]] void InternalError(const std::string& text);

// The unit's name from a source path: "/x/src/picture/xPixan.cpp" -> "xPixan".
std::string UnitName(const char* file);

#define TS_ASSERT(condition) \
  do { \
    if (!(condition)) AssertionFailed(__FILE__, __LINE__); \
  } while (false)
