// Text as stored in rows: Jet 4 UTF-16 (optionally "compressed" to one byte a character) and
// Jet 3 8-bit text in the database's code page (Windows-1252 for Western databases).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "jet/base/format.h"
#include "jet/base/status.h"
#include "jet/base/value.h"

namespace jet {

// Decodes a stored text value. Never fails: an odd trailing byte of UTF-16 is dropped.
Text DecodeStoredText(JetVersion version, const uint8_t* data, size_t length);
// The same into *out, whose capacity is reused: for readers that decode row after row.
void DecodeStoredText(JetVersion version, const uint8_t* data, size_t length, Text* out);
// The same text as UTF-8 (as ToUtf8 gives it) into *out, whose capacity is reused, without the
// UTF-16 step: a compressed Jet 4 text of ASCII characters, the usual song title, is one copy.
void DecodeStoredTextUtf8(JetVersion version, const uint8_t* data, size_t length, std::string* out);

// FromUtf8 (value.h) for text a user gives: bytes that are not UTF-8 (a stray byte, a cut-short or
// overlong sequence, a code point past U+10FFFF), which FromUtf8 turns into U+FFFD, are refused
// (kInvalidArgument, naming the byte).
Result<Text> StrictFromUtf8(const std::string& utf8);

// Windows-1252 <-> UTF-16 for Jet 3 text. The five bytes 1252 leaves undefined map to the C1
// control of the same value, as Windows does, so every stored byte round-trips.
char16_t Cp1252ToUnicode(uint8_t byte);
// Returns false when `unit` has no Windows-1252 byte.
bool UnicodeToCp1252(char16_t unit, uint8_t* byte);

}  // namespace jet
