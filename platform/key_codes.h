// Keys as the windows' logic sees them: Windows virtual-key codes and the Shift/Ctrl/Alt bits,
// whatever the desktop reports. The Qt translation is in platform/qt/qt_keys.h.
#pragma once

#include <cstdint>

namespace velloran {

// Modifier bits of a key event.
constexpr int16_t kShiftMask = 1;
constexpr int16_t kCtrlMask = 2;
constexpr int16_t kAltMask = 4;

// Virtual-key codes. Letters and main-keyboard digits are their upper-case characters ('A' = 65,
// '0' = 48).
namespace vk {
constexpr int16_t kBack = 8, kTab = 9, kReturn = 13, kShift = 16, kControl = 17, kMenuKey = 18, kPause = 19,
                  kCapital = 20, kEscape = 27, kSpace = 32, kPrior = 33, kNext = 34, kEnd = 35, kHome = 36,
                  kLeft = 37, kUp = 38, kRight = 39, kDown = 40, kInsert = 45, kDelete = 46, kLWin = 91,
                  kRWin = 92, kApps = 93, kNumpad0 = 96, kMultiply = 106, kAdd = 107, kSubtract = 109,
                  kDecimal = 110, kDivide = 111, kF1 = 112, kF24 = 135, kNumLock = 144, kScroll = 145,
                  kOem1 = 186, kOemPlus = 187, kOemComma = 188, kOemMinus = 189, kOemPeriod = 190,
                  kOem2 = 191, kOem3 = 192, kOem4 = 219, kOem5 = 220, kOem6 = 221, kOem7 = 222;
}  // namespace vk

// A key as the logic receives it: the virtual-key code (0 when the key has none) and the
// modifier bits.
struct KeyStroke {
  int16_t code = 0;
  int16_t shift = 0;
  bool operator==(const KeyStroke&) const = default;
};

}  // namespace velloran
