#include "catalogue/string_functions.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace velloran {

namespace {

bool Ignored(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The text without the characters a number reading skips.
std::string Squeezed(const std::string& text) {
  std::string out;
  for (char c : text)
    if (!Ignored(c)) out += c;
  return out;
}

double RadixNumber(const std::string& s, size_t at, int radix) {
  uint64_t value = 0;
  for (; at < s.size(); ++at) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(s[at])));
    int digit = c >= '0' && c <= '9' ? c - '0' : (c >= 'A' && c <= 'F' ? c - 'A' + 10 : 99);
    if (digit >= radix) break;
    value = value * radix + digit;
    if (value > 0xFFFFFFFFull) break;
  }
  if (value <= 0xFFFF) return static_cast<int16_t>(static_cast<uint16_t>(value));
  return static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFFull));
}

}  // namespace

std::string ReplaceText(const std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  std::string out;
  size_t at = 0;
  while (true) {
    size_t found = text.find(from, at);
    if (found == std::string::npos) break;
    out.append(text, at, found - at);
    out += to;
    at = found + from.size();
  }
  out.append(text, at, std::string::npos);
  return out;
}

std::string RemoveCharacters(const std::string& text, const std::string& characters) {
  std::string out;
  for (char c : text)
    if (characters.find(c) == std::string::npos) out += c;
  return out;
}

double LeadingNumber(const std::string& text) {
  std::string s = Squeezed(text);
  if (s.size() >= 2 && s[0] == '&') {
    char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(s[1])));
    if (kind == 'H') return RadixNumber(s, 2, 16);
    if (kind == 'O') return RadixNumber(s, 2, 8);
  }
  // The longest prefix of the form [sign] digits [. digits] [E|D [sign] digits].
  std::string number;
  size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) number += s[i++];
  bool digits = false;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { number += s[i++]; digits = true; }
  if (i < s.size() && s[i] == '.') {
    number += s[i++];
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) { number += s[i++]; digits = true; }
  }
  if (!digits) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::string exponent = "e";
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
    size_t first_digit = j;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) exponent += s[j++];
    if (j > first_digit) number += exponent;
  }
  return std::strtod(number.c_str(), nullptr);
}

std::string ShortestNumberText(double value) {
  char buffer[64];
  if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
    std::snprintf(buffer, sizeof buffer, "%.0f", value);
    return buffer;
  }
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

}  // namespace velloran
