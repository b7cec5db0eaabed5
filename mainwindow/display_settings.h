// How the results list looks: the column layout (which field each column shows and where the
// column edges are) and the list and title fonts. Record 0 of the settings' display records is
// the one in use.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/font_spec.h"

namespace velloran {

struct DisplaySettings {
  // Character i (0-based here, column i + 1) says what display column i + 1 shows: "N" song
  // number, "D" disc ID, "S" song, "A" artist. Always exactly 4 characters.
  std::string ColumnOrder = "NDSA";
  FontSpec ListFont;
  FontSpec TitleFont;
  // Despite the name, column edges: entry j is the right edge of display column j (twips);
  // entry 0 is the left edge of column 1.
  std::array<float, 5> ColumnWidth{0, 720, 1560, 3540, 5160};
  // The title the idle reset shows; no command fills it.
  std::string IdleTitle;

  bool operator==(const DisplaySettings&) const = default;
};

// The window's design positions of the four column edges.
constexpr std::array<float, 5> kDesignColumnEdges{0, 720, 1560, 3540, 5160};

// `text` cut or blank-padded to the 4 characters of a column order.
inline std::string FixedColumnOrder(const std::string& text) {
  std::string order = text.substr(0, 4);
  order.resize(4, ' ');
  return order;
}

}  // namespace velloran
