// Numbers written in decimal ("-12.345"), read exactly: a binary floating-point number cannot hold
// most decimal fractions, nor every Currency amount.
#pragma once

#include <optional>
#include <string>

#include "jet/base/value.h"

namespace jet {

// The number's magnitude scaled by 10^scale, and its sign. False when it has more decimals than
// `scale`, more than 36 digits, or is not a plain decimal number (an optional sign, digits, an
// optional point and digits).
bool ParseScaled(const std::string& text, int scale, bool* negative, unsigned __int128* magnitude);

// A Currency amount: at most 4 decimals, from -922337203685477.5808 to 922337203685477.5807.
std::optional<Currency> ParseCurrency(const std::string& text);

}  // namespace jet
