// Qt key events as virtual-key codes, so the windows' logic sees the same codes on every
// desktop and keyboard layout: keypad keys get their own codes, a shifted digit is still its
// digit, and on X11 a letter or punctuation key of a layout without Latin letters is named by
// its place on the keyboard, as Windows names it.
#pragma once

#include <cstdint>

#include "platform/key_codes.h"

class QKeyEvent;

namespace velloran {

KeyStroke TranslateKey(const QKeyEvent& event);

// The translation's core, apart from the event: a Qt key code, whether it came from the keypad,
// and the X11 key code (0 when unknown or not on X11).
int16_t VirtualKeyCode(int qt_key, bool keypad, uint32_t x11_keycode);

}  // namespace velloran
