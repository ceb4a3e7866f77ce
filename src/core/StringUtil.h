// Small text helpers shared by the core.
#pragma once

#include <string>

namespace movik {

// Removes blanks and tabs at both ends.
std::string trimBlanks(const std::string& text);
// ASCII lower case; other bytes unchanged.
std::string lowerCase(std::string text);
// True when text ends with suffix.
bool endsWith(const std::string& text, const std::string& suffix);
// Appends a Unicode code point as UTF-8.
void appendUtf8(std::string& out, unsigned long code);
// Value of a hexadecimal digit in either case; -1 for any other character.
int hexDigitValue(char c);

} // namespace movik
