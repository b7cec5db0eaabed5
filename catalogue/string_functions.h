// Text helpers the search and the settings share.
#pragma once

#include <string>

namespace velloran {

// Replaces every occurrence of `from` in `text` by `to`; the scan continues after each
// replacement, so replaced text is never replaced again. An empty `from` changes nothing.
std::string ReplaceText(const std::string& text, const std::string& from, const std::string& to);

// Removes every occurrence of each character of `characters`.
std::string RemoveCharacters(const std::string& text, const std::string& characters);

// The number `text` begins with, read the way a host types it: blanks, tabs and line feeds
// anywhere are ignored; a sign, digits, one decimal point and an exponent (E or D) are read up
// to the first character that cannot continue the number; "&H" and "&O" introduce hexadecimal
// and octal numbers (16-bit values read as signed, like 32-bit ones). No number reads as 0.
double LeadingNumber(const std::string& text);

// `value` in its shortest decimal form: 5, not 5.0; 2.5; at most 15 significant digits.
std::string ShortestNumberText(double value);

}  // namespace velloran
