#include "jet/base/number_text.h"

#include <cstdint>

namespace jet {

bool ParseScaled(const std::string& text, int scale, bool* negative, unsigned __int128* magnitude) {
  size_t i = 0;
  *negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) *negative = text[i++] == '-';
  *magnitude = 0;
  int decimals = -1, digits = 0;
  for (; i < text.size(); ++i) {
    if (text[i] == '.' && decimals < 0) {
      decimals = 0;
      continue;
    }
    if (text[i] < '0' || text[i] > '9' || digits > 36) return false;
    *magnitude = *magnitude * 10 + static_cast<unsigned>(text[i] - '0');
    ++digits;
    if (decimals >= 0 && ++decimals > scale) return false;
  }
  for (int d = decimals < 0 ? 0 : decimals; d < scale; ++d) *magnitude *= 10;
  return digits > 0;
}

std::optional<Currency> ParseCurrency(const std::string& text) {
  bool negative;
  unsigned __int128 m;
  if (!ParseScaled(text, 4, &negative, &m)) return std::nullopt;
  // Two's complement reaches one further below zero than above it.
  if (m > static_cast<unsigned __int128>(INT64_MAX) + (negative ? 1 : 0)) return std::nullopt;
  return Currency{negative ? static_cast<int64_t>(0 - static_cast<uint64_t>(m)) : static_cast<int64_t>(m)};
}

}  // namespace jet
