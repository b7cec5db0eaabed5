#include "platform/font_spec.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace velloran {

int32_t RoundToEven(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLow = std::numeric_limits<int32_t>::min();
  constexpr double kHigh = std::numeric_limits<int32_t>::max();
  if (value <= kLow) return std::numeric_limits<int32_t>::min();
  if (value >= kHigh) return std::numeric_limits<int32_t>::max();
  // Halves go to the even neighbour whatever rounding mode the process runs in.
  double whole = std::floor(value);
  double rest = value - whole;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0.0)) whole += 1.0;
  return static_cast<int32_t>(whole);
}

DialogFont ToDialogFont(const FontSpec& chosen) {
  DialogFont font;
  font.face = chosen.Name.substr(0, kMaxFaceNameLength);
  font.pixel_height = RoundToEven(chosen.Size / 0.75);
  font.weight = chosen.Bold ? 700 : 400;
  font.italic = chosen.Italic;
  font.underline = chosen.Underline;
  return font;
}

FontSpec FromDialogChoice(const std::string& face, int tenths_of_point, int weight, bool italic, bool underline) {
  FontSpec chosen;
  chosen.Name = face;
  chosen.Size = RoundToEven(tenths_of_point / 10.0);
  chosen.Bold = weight == 700;
  chosen.Italic = italic;
  chosen.Underline = underline;
  return chosen;
}

}  // namespace velloran
