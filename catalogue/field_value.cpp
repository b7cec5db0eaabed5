// FieldValue conversions: how a field's value reads as text, number and Yes/No.
#include <array>
#include <charconv>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "catalogue/engine.h"

namespace velloran {

namespace {

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return std::string();
  size_t end = text.find_last_not_of(" \t");
  return text.substr(begin, end - begin + 1);
}

// A text that spells a whole number or a decimal number, read exactly where it can be.
bool ParseNumberText(const std::string& text, int64_t* whole, double* number, bool* is_whole) {
  const std::string t = Trimmed(text);
  if (t.empty()) return false;
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (*first == '+') ++first;
  auto integer = std::from_chars(first, last, *whole);
  if (integer.ec == std::errc() && integer.ptr == last) {
    *is_whole = true;
    *number = static_cast<double>(*whole);
    return true;
  }
  char* end = nullptr;
  const double d = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || !std::isfinite(d)) return false;
  *is_whole = false;
  *number = d;
  return true;
}

// Rounds as Access converts a number to a whole one: to the nearest, ties to even, within range.
int64_t RoundToWhole(double d) {
  if (std::isnan(d)) return 0;
  const double rounded = std::nearbyint(d);
  if (rounded >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
  if (rounded <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(rounded);
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (x != b[i]) return false;
  }
  return i == a.size() && b[i] == '\0';
}

}  // namespace

// "00" to "99": a list writes a song number for every row it shows, two digits a step.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[2 * i] = static_cast<char>('0' + i / 10);
    pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Out of line: the usual number keeps to registers the caller does not save.
[[gnu::noinline]] static void AssignText(const char* text, size_t length, std::string& out) { out.assign(text, length); }

void FormatWhole(int64_t value, std::string& out) {
  char buffer[20];  // the longest, -9223372036854775808, has 20 characters
  char* const end = buffer + sizeof buffer;
  char* p = end;
  uint64_t rest = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  for (; rest >= 100; rest /= 100) {
    p -= 2;
    std::memcpy(p, &kDigitPairs[2 * (rest % 100)], 2);
  }
  if (rest >= 10) {
    p -= 2;
    std::memcpy(p, &kDigitPairs[2 * rest], 2);
  } else {
    *--p = static_cast<char>('0' + rest);
  }
  if (value < 0) *--p = '-';
  const size_t length = static_cast<size_t>(end - p);
  // A list writes a number into the room of the one its row held before, mostly as long: cut to
  // length (no fill) and written over with two overlapping fixed-size copies, without the
  // general assign's checks and call to copy.
  if (length > 16 || out.size() < length) return AssignText(p, length, out);
  out.resize(length);
  char* const to = out.data();
  if (length >= 8) {
    std::memcpy(to, p, 8);
    std::memcpy(to + length - 8, p + length - 8, 8);
  } else if (length >= 4) {
    std::memcpy(to, p, 4);
    std::memcpy(to + length - 4, p + length - 4, 4);
  } else {
    to[0] = p[0];
    to[length / 2] = p[length / 2];
    to[length - 1] = p[length - 1];
  }
}

std::string FieldValue::ToText() && {
  if (std::string* text = std::get_if<std::string>(&value_)) return std::move(*text);
  return static_cast<const FieldValue&>(*this).ToText();
}

std::string FieldValue::ToText() const& {
  if (is_null()) return std::string();
  if (const bool* b = std::get_if<bool>(&value_)) return *b ? "True" : "False";
  if (const int64_t* i = std::get_if<int64_t>(&value_)) return std::to_string(*i);
  if (const double* d = std::get_if<double>(&value_)) {
    char buffer[64];
    auto written = std::to_chars(buffer, buffer + sizeof buffer, *d);  // shortest form that reads back
    return std::string(buffer, written.ptr);
  }
  return std::get<std::string>(value_);
}

void FieldValue::CopyTextTo(std::string& out) const {
  // An empty field clears `out` rather than replacing it, which would give its room away.
  if (const std::string* text = std::get_if<std::string>(&value_)) out.assign(*text);
  else if (is_null()) out.clear();
  else if (const int64_t* i = std::get_if<int64_t>(&value_)) FormatWhole(*i, out);
  else out = ToText();
}

int64_t FieldValue::ToInteger() const {
  if (const bool* b = std::get_if<bool>(&value_)) return *b ? -1 : 0;
  if (const int64_t* i = std::get_if<int64_t>(&value_)) return *i;
  if (const double* d = std::get_if<double>(&value_)) return RoundToWhole(*d);
  if (const std::string* s = std::get_if<std::string>(&value_)) {
    int64_t whole = 0;
    double number = 0;
    bool is_whole = false;
    if (!ParseNumberText(*s, &whole, &number, &is_whole)) return 0;
    return is_whole ? whole : RoundToWhole(number);
  }
  return 0;
}

double FieldValue::ToNumber() const {
  if (const bool* b = std::get_if<bool>(&value_)) return *b ? -1.0 : 0.0;
  if (const int64_t* i = std::get_if<int64_t>(&value_)) return static_cast<double>(*i);
  if (const double* d = std::get_if<double>(&value_)) return *d;
  if (const std::string* s = std::get_if<std::string>(&value_)) {
    int64_t whole = 0;
    double number = 0;
    bool is_whole = false;
    return ParseNumberText(*s, &whole, &number, &is_whole) ? number : 0.0;
  }
  return 0;
}

bool FieldValue::ToBool() const {
  if (const bool* b = std::get_if<bool>(&value_)) return *b;
  if (const int64_t* i = std::get_if<int64_t>(&value_)) return *i != 0;
  if (const double* d = std::get_if<double>(&value_)) return *d != 0;
  if (const std::string* s = std::get_if<std::string>(&value_)) {
    const std::string t = Trimmed(*s);
    return EqualsIgnoringCase(t, "true") || EqualsIgnoringCase(t, "yes") || t == "-1" || t == "1";
  }
  return false;
}

}  // namespace velloran
