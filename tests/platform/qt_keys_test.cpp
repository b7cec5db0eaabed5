// Qt key events become the virtual-key codes the key table names, on any layout.
#include <gtest/gtest.h>

#include <QKeyEvent>

#include "platform/qt/qt_keys.h"

namespace velloran {
namespace {

TEST(VirtualKeyCode, KeysOfEveryKind) {
  const struct { int qt_key; bool keypad; uint32_t x11; int16_t code; } cases[] = {
      {Qt::Key_A, false, 0, 'A'},           {Qt::Key_7, false, 0, '7'},
      {Qt::Key_Exclam, false, 0, '1'},      // Shift+1 on a US keyboard is still the 1 key
      {Qt::Key_5, true, 0, 101},            {Qt::Key_0, true, 0, 96},
      {Qt::Key_Plus, true, 0, 107},         {Qt::Key_Minus, true, 0, 109},
      {Qt::Key_Asterisk, true, 0, 106},     {Qt::Key_Slash, true, 0, 111},
      {Qt::Key_Period, true, 0, 110},       {Qt::Key_Enter, true, 0, 13},
      {Qt::Key_Home, true, 0, 36},          // keypad 7 with Num Lock off
      {Qt::Key_Minus, false, 0, 189},       {Qt::Key_Equal, false, 0, 187},
      {Qt::Key_QuoteLeft, false, 0, 192},   {Qt::Key_Backslash, false, 0, 220},
      {Qt::Key_PageDown, false, 0, 34},     {Qt::Key_F12, false, 0, 123},
      {Qt::Key_Escape, false, 0, 27},       {Qt::Key_Backtab, false, 0, 9},
      {Qt::Key_Ampersand, false, 10, '1'},  // the unshifted 1 key of a French keyboard
      {Qt::Key_A, false, 24, 'A'},          // A on the Q key of a French keyboard stays A
      {0x0444, false, 38, 'A'},             // a Cyrillic letter on the A key
      {0x0436, false, 47, 186},             // and on the ; key
      {Qt::Key_unknown, false, 0, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(VirtualKeyCode(c.qt_key, c.keypad, c.x11), c.code) << std::hex << c.qt_key;
}

TEST(TranslateKey, ModifiersBecomeShiftBits) {
  QKeyEvent ctrl_keypad5(QEvent::KeyPress, Qt::Key_5, Qt::ControlModifier | Qt::KeypadModifier);
  EXPECT_EQ(TranslateKey(ctrl_keypad5), (KeyStroke{101, kCtrlMask}));
  QKeyEvent shift_ctrl_p(QEvent::KeyPress, Qt::Key_P, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(TranslateKey(shift_ctrl_p), (KeyStroke{'P', kShiftMask | kCtrlMask}));
  QKeyEvent alt_x(QEvent::KeyPress, Qt::Key_X, Qt::AltModifier);
  EXPECT_EQ(TranslateKey(alt_x), (KeyStroke{'X', kAltMask}));
}

}  // namespace
}  // namespace velloran
