// A font as the program stores it, and the rules that carry it to and from the font dialog.
#pragma once

#include <cstdint>
#include <string>

namespace velloran {

struct FontSpec {
  std::string Name;
  int32_t Size = 0;  // whole points
  bool Bold = false;
  bool Underline = false;
  bool Italic = false;

  bool operator==(const FontSpec&) const = default;
};

// The longest face name the font dialog takes.
constexpr size_t kMaxFaceNameLength = 31;

// What the font dialog starts from: the face cut to 31 characters, the cell height in pixels at
// 96 per inch (points / 0.75, to the nearest whole number: 12 points give 16), weight 700 or 400.
struct DialogFont {
  std::string face;
  int pixel_height = 0;
  int weight = 400;
  bool italic = false;
  bool underline = false;
};
DialogFont ToDialogFont(const FontSpec& chosen);

// The dialog's confirmed choice back into a font description: the size arrives in tenths of a point and is
// taken to the nearest whole point with halves going to the even neighbour (10.5 -> 10,
// 11.5 -> 12); only weight 700 counts as bold. Strike-out and colour are not kept.
FontSpec FromDialogChoice(const std::string& face, int tenths_of_point, int weight, bool italic, bool underline);

// A number taken to the nearest whole number, halves to the even neighbour, held within 32 bits.
int32_t RoundToEven(double value);

}  // namespace velloran
