#pragma once

#include <string>
#include <vector>

// Small text helpers for the brain protocol as the tools speak it.

namespace tools {

std::string trim(const std::string& text);

// The pieces of `text` between the separators; empty pieces are kept.
std::vector<std::string> splitFields(const std::string& text, char separator);

// A whole decimal integer (optional sign, then digits, surrounding blanks
// allowed) that fits an int; anything else is refused.
bool parseInt(const std::string& text, int* value);

// "x,y" with optional blanks around each number; refuses anything else.
bool parseCoordinates(const std::string& text, int* x, int* y);

// The first blank-separated word of `line`, in upper case.
std::string commandWord(const std::string& line);

} // namespace tools
