// Key names: the text a key and its modifiers make ("SHIFT-CTRL-P", "PGDN", "A"), on which the
// main window's keyboard commands dispatch.
#pragma once

#include <cstdint>
#include <string>

namespace velloran {

// The prefix ("SHIFT-", "CTRL-", "ALT-", "[8]-", "[16]-" for the set bits of `Shift`, in that
// order) and the key's base name; with `UseWordNames` a keypad or punctuation key that has a word
// name ("NUM 5", "PLUS", "EQUALS") uses it instead. Codes without a name read "(code)".
std::string GetKeyName(int16_t Shift, int16_t KeyCode, bool UseWordNames);

}  // namespace velloran
