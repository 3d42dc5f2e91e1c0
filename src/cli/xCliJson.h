#pragma once
// JSON output of the command line.

#include <string>

// A JSON string literal, quotes included. Valid UTF-8 is copied; a byte that is not part of a
// valid UTF-8 sequence becomes the lone surrogate \udcXX (XX its value), which Python's
// "surrogateescape" turns back into the same byte.
std::string JsonString(const std::string& text);
