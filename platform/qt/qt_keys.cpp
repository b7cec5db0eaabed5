#include "platform/qt/qt_keys.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace velloran {

namespace {

// Keys whose code does not depend on the layout.
int16_t NamedKey(int key) {
  switch (key) {
    case Qt::Key_Backspace: return vk::kBack;
    case Qt::Key_Tab: case Qt::Key_Backtab: return vk::kTab;
    case Qt::Key_Return: case Qt::Key_Enter: return vk::kReturn;
    case Qt::Key_Shift: return vk::kShift;
    case Qt::Key_Control: return vk::kControl;
    case Qt::Key_Alt: case Qt::Key_AltGr: return vk::kMenuKey;
    case Qt::Key_Pause: return vk::kPause;
    case Qt::Key_CapsLock: return vk::kCapital;
    case Qt::Key_Escape: return vk::kEscape;
    case Qt::Key_Space: return vk::kSpace;
    case Qt::Key_PageUp: return vk::kPrior;
    case Qt::Key_PageDown: return vk::kNext;
    case Qt::Key_End: return vk::kEnd;
    case Qt::Key_Home: return vk::kHome;
    case Qt::Key_Left: return vk::kLeft;
    case Qt::Key_Up: return vk::kUp;
    case Qt::Key_Right: return vk::kRight;
    case Qt::Key_Down: return vk::kDown;
    case Qt::Key_Insert: return vk::kInsert;
    case Qt::Key_Delete: return vk::kDelete;
    case Qt::Key_Meta: case Qt::Key_Super_L: return vk::kLWin;
    case Qt::Key_Super_R: return vk::kRWin;
    case Qt::Key_Menu: return vk::kApps;
    case Qt::Key_NumLock: return vk::kNumLock;
    case Qt::Key_ScrollLock: return vk::kScroll;
    default: break;
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<int16_t>(vk::kF1 + (key - Qt::Key_F1));
  return 0;
}

int16_t KeypadKey(int key) {
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<int16_t>(vk::kNumpad0 + (key - Qt::Key_0));
  switch (key) {
    case Qt::Key_Asterisk: return vk::kMultiply;
    case Qt::Key_Plus: return vk::kAdd;
    case Qt::Key_Minus: return vk::kSubtract;
    case Qt::Key_Slash: return vk::kDivide;
    case Qt::Key_Period: case Qt::Key_Comma: case Qt::Key_Delete: return vk::kDecimal;
    default: return NamedKey(key);  // Enter, and the arrows and Home/End with Num Lock off
  }
}

// X11 key codes (evdev + 8) of the keys whose character depends on the layout, by their place
// on a 105-key keyboard, with the code Windows gives that place.
int16_t KeyAtPlace(uint32_t keycode) {
  static const char* const kRows[] = {
      "1234567890",  // 10..19
      "QWERTYUIOP",  // 24..33
      "ASDFGHJKL",   // 38..46
      "ZXCVBNM",     // 52..58
  };
  static const uint32_t kFirst[] = {10, 24, 38, 52};
  for (int r = 0; r < 4; ++r) {
    uint32_t length = static_cast<uint32_t>(std::char_traits<char>::length(kRows[r]));
    if (keycode >= kFirst[r] && keycode < kFirst[r] + length) return kRows[r][keycode - kFirst[r]];
  }
  switch (keycode) {
    case 20: return vk::kOemMinus;
    case 21: return vk::kOemPlus;
    case 34: return vk::kOem4;
    case 35: return vk::kOem6;
    case 47: return vk::kOem1;
    case 48: return vk::kOem7;
    case 49: return vk::kOem3;
    case 51: return vk::kOem5;
    case 59: return vk::kOemComma;
    case 60: return vk::kOemPeriod;
    case 61: return vk::kOem2;
    default: return 0;
  }
}

// Characters that name a key of the US layout: the unshifted and shifted characters of the
// digit row and the punctuation keys.
int16_t KeyOfCharacter(int key) {
  if (key >= Qt::Key_A && key <= Qt::Key_Z) return static_cast<int16_t>(key);
  if (key >= Qt::Key_0 && key <= Qt::Key_9) return static_cast<int16_t>(key);
  switch (key) {
    case Qt::Key_Exclam: return '1';
    case Qt::Key_At: return '2';
    case Qt::Key_NumberSign: return '3';
    case Qt::Key_Dollar: return '4';
    case Qt::Key_Percent: return '5';
    case Qt::Key_AsciiCircum: return '6';
    case Qt::Key_Ampersand: return '7';
    case Qt::Key_Asterisk: return '8';
    case Qt::Key_ParenLeft: return '9';
    case Qt::Key_ParenRight: return '0';
    case Qt::Key_Minus: case Qt::Key_Underscore: return vk::kOemMinus;
    case Qt::Key_Equal: case Qt::Key_Plus: return vk::kOemPlus;
    case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return vk::kOem4;
    case Qt::Key_BracketRight: case Qt::Key_BraceRight: return vk::kOem6;
    case Qt::Key_Semicolon: case Qt::Key_Colon: return vk::kOem1;
    case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return vk::kOem7;
    case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return vk::kOem3;
    case Qt::Key_Backslash: case Qt::Key_Bar: return vk::kOem5;
    case Qt::Key_Comma: case Qt::Key_Less: return vk::kOemComma;
    case Qt::Key_Period: case Qt::Key_Greater: return vk::kOemPeriod;
    case Qt::Key_Slash: case Qt::Key_Question: return vk::kOem2;
    default: return 0;
  }
}

}  // namespace

int16_t VirtualKeyCode(int qt_key, bool keypad, uint32_t x11_keycode) {
  if (keypad) return KeypadKey(qt_key);
  if (int16_t named = NamedKey(qt_key)) return named;
  // Latin letters and digits name their key on every Latin layout (the A of an AZERTY keyboard
  // is A). Any other character is named by the key's place where that is known: a Cyrillic
  // letter, or the "&" that the 1 key of a French keyboard types unshifted.
  if ((qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) || (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9))
    return static_cast<int16_t>(qt_key);
  if (x11_keycode != 0) {
    if (int16_t placed = KeyAtPlace(x11_keycode)) return placed;
  }
  return KeyOfCharacter(qt_key);
}

KeyStroke TranslateKey(const QKeyEvent& event) {
  KeyStroke stroke;
  const Qt::KeyboardModifiers mods = event.modifiers();
  if (mods & Qt::ShiftModifier) stroke.shift |= kShiftMask;
  if (mods & Qt::ControlModifier) stroke.shift |= kCtrlMask;
  if (mods & Qt::AltModifier) stroke.shift |= kAltMask;
  const bool x11 = QGuiApplication::platformName() == QLatin1String("xcb");
  stroke.code = VirtualKeyCode(event.key(), (mods & Qt::KeypadModifier) != 0, x11 ? event.nativeScanCode() : 0);
  return stroke;
}

}  // namespace velloran
