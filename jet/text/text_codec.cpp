#include "jet/text/text_codec.h"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace jet {

namespace {

// 0x80..0x9F of Windows-1252; the undefined bytes keep their C1 value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void DecodeCompressed(const uint8_t* data, size_t length, Text* out) {
  // Most texts are one run of one-byte characters: widen them in one go.
  if (std::memchr(data + 2, 0, length - 2) == nullptr) {
    out->resize(length - 2);
    char16_t* units = out->data();
    for (size_t i = 2; i < length; ++i) units[i - 2] = data[i];
    return;
  }
  out->clear();
  out->reserve(length);
  bool compressed = true;
  size_t i = 2;  // past the FF FE marker
  while (i < length) {
    if (data[i] == 0) {  // toggles between one-byte and two-byte runs
      compressed = !compressed;
      ++i;
    } else if (compressed) {
      out->push_back(static_cast<char16_t>(data[i]));
      ++i;
    } else {
      if (i + 1 >= length) break;
      out->push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
      i += 2;
    }
  }
}

// Whether every one of `count` bytes is an ASCII character other than 0: sixteen or eight at a
// time, the last block overlapping the one before, as most texts are a few words long.
bool AllPlainAscii(const uint8_t* bytes, size_t count) {
#if defined(__SSE2__)
  if (count >= 16) {
    const __m128i zero = _mm_setzero_si128();
    const auto odd = [&](const uint8_t* at) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
      return _mm_movemask_epi8(_mm_or_si128(block, _mm_cmpeq_epi8(block, zero)));  // 0 or 0x80 up
    };
    for (size_t i = 0; i + 16 < count; i += 16)
      if (odd(bytes + i) != 0) return false;
    return odd(bytes + count - 16) == 0;
  }
#endif
  const auto plain64 = [](uint64_t w) { return (((w - 0x0101010101010101ULL) | w) & 0x8080808080808080ULL) == 0; };
  const auto plain32 = [](uint32_t w) { return (((w - 0x01010101U) | w) & 0x80808080U) == 0; };
  if (count >= 8) {
    uint64_t word;
    for (size_t i = 0; i + 8 < count; i += 8) {
      std::memcpy(&word, bytes + i, sizeof word);
      if (!plain64(word)) return false;
    }
    std::memcpy(&word, bytes + count - 8, sizeof word);
    return plain64(word);
  }
  if (count >= 4) {
    uint32_t first, last;
    std::memcpy(&first, bytes, sizeof first);
    std::memcpy(&last, bytes + count - 4, sizeof last);
    return plain32(first) && plain32(last);
  }
  for (size_t i = 0; i < count; ++i)
    if (bytes[i] == 0 || bytes[i] >= 0x80) return false;
  return true;
}

// Narrows the leading ASCII characters of `count` little-endian UTF-16 units (stored bytes, or a
// Text: the same bytes on this machine) into `narrow`; returns how many there were. Most texts
// are plain ASCII: four units are tested at a time.
size_t NarrowAscii(const void* units, size_t count, char* narrow) {
  static_assert(std::endian::native == std::endian::little, "the units are read as one little-endian word");
  const uint8_t* bytes = static_cast<const uint8_t*>(units);
  size_t ascii = 0;
  for (; ascii + 4 <= count; ascii += 4) {
    uint64_t four;
    std::memcpy(&four, bytes + 2 * ascii, sizeof four);
    if ((four & 0xFF80FF80FF80FF80ULL) != 0) break;
    narrow[ascii] = static_cast<char>(four);
    narrow[ascii + 1] = static_cast<char>(four >> 16);
    narrow[ascii + 2] = static_cast<char>(four >> 32);
    narrow[ascii + 3] = static_cast<char>(four >> 48);
  }
  while (ascii < count && bytes[2 * ascii] < 0x80 && bytes[2 * ascii + 1] == 0) {
    narrow[ascii] = static_cast<char>(bytes[2 * ascii]);
    ++ascii;
  }
  return ascii;
}

// Latin-1 bytes (compressed Jet 4 text) as UTF-8 at `to`, which has room for two bytes a
// character and eight more (a whole word stored at once never passes that); returns the end
// written, or nullptr at a 0 byte, which switches to two bytes a character. Even an accented title
// is mostly ASCII: eight bytes are tested and stored at a time (the last eight of a text of eight
// or more overlapping those before, only the bytes not taken yet counting), and only a byte from
// 0x80 up (or a 0) is taken on its own.
char* Latin1ToUtf8(const uint8_t* bytes, size_t count, char* to) {
  char* w = to;
  size_t i = 0;
  while (i < count) {
    size_t valid = 8;
    uint64_t word;
    if (i + 8 <= count) {
      std::memcpy(&word, bytes + i, sizeof word);
    } else if (count >= 8) {
      valid = count - i;
      std::memcpy(&word, bytes + count - 8, sizeof word);
      word >>= 8 * (8 - valid);  // the bytes not taken yet, lowest first
    } else {
      break;  // a text of fewer than eight: byte by byte below
    }
    std::memcpy(w, &word, sizeof word);
    // The lowest byte marked is the first that is 0 or from 0x80 up; marks above it may be
    // borrows, and marks past the valid bytes are not the text's.
    uint64_t odd = ((word - 0x0101010101010101ULL) | word) & 0x8080808080808080ULL;
    if (valid < 8) odd &= (uint64_t{1} << (8 * valid)) - 1;
    if (odd == 0) {
      w += valid;
      i += valid;
      continue;
    }
    const size_t plain = static_cast<size_t>(std::countr_zero(odd)) / 8;
    w += plain;
    i += plain;
    const uint8_t b = bytes[i++];
    if (b == 0) return nullptr;
    *w++ = static_cast<char>(0xC0 | (b >> 6));
    *w++ = static_cast<char>(0x80 | (b & 0x3F));
  }
  for (; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (b == 0) return nullptr;
    if (b < 0x80) {
      *w++ = static_cast<char>(b);
    } else {
      *w++ = static_cast<char>(0xC0 | (b >> 6));
      *w++ = static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return w;
}

// Appends `count` UTF-16 units, unit(0) .. unit(count - 1), as UTF-8. A surrogate pair makes one
// code point; a lone surrogate is encoded as its own value, so that every stored text round-trips.
// No unit takes more than three bytes (a pair takes four for two), so room for three a unit is
// made once and the bytes are written straight into it.
template <typename Unit>
void AppendUnitsUtf8(size_t count, Unit unit, std::string* out) {
  const size_t at = out->size();
  out->resize(at + 3 * count);
  char* const start = out->data() + at;
  char* w = start;
  for (size_t i = 0; i < count; ++i) {
    uint32_t cp = unit(i);
    if (cp < 0x80) {
      *w++ = static_cast<char>(cp);
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count) {
      const uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp < 0x800) {
      *w++ = static_cast<char>(0xC0 | (cp >> 6));
    } else {
      if (cp < 0x10000) {
        *w++ = static_cast<char>(0xE0 | (cp >> 12));
      } else {
        *w++ = static_cast<char>(0xF0 | (cp >> 18));
        *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      }
      *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    }
    *w++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  out->resize(at + static_cast<size_t>(w - start));
}

}  // namespace

char16_t Cp1252ToUnicode(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) return kCp1252High[byte - 0x80];
  return byte;
}

bool UnicodeToCp1252(char16_t unit, uint8_t* byte) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
    *byte = static_cast<uint8_t>(unit);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kCp1252High[i] == unit) {
      *byte = static_cast<uint8_t>(0x80 + i);
      return true;
    }
  }
  return false;
}

Text DecodeStoredText(JetVersion version, const uint8_t* data, size_t length) {
  Text out;
  DecodeStoredText(version, data, length, &out);
  return out;
}

void DecodeStoredText(JetVersion version, const uint8_t* data, size_t length, Text* out) {
  if (version == JetVersion::kJet3) {
    out->resize(length);
    for (size_t i = 0; i < length; ++i) (*out)[i] = Cp1252ToUnicode(data[i]);
    return;
  }
  if (length >= 2 && data[0] == 0xFF && data[1] == 0xFE) return DecodeCompressed(data, length, out);
  out->resize(length / 2);
  for (size_t i = 0; i + 1 < length; i += 2) (*out)[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
}

void AppendUtf8(const Text& text, std::string* out) {
  const size_t at = out->size();
  out->resize(at + text.size());
  const size_t ascii = NarrowAscii(text.data(), text.size(), out->data() + at);
  out->resize(at + ascii);
  if (ascii == text.size()) return;
  AppendUnitsUtf8(text.size() - ascii, [&](size_t i) { return text[ascii + i]; }, out);
}

namespace {

// Compressed text with runs of two-byte characters: rare enough to go through UTF-16, kept out of
// line so that the common paths stay a leaf.
[[gnu::noinline]] void CompressedWithRunsToUtf8(const uint8_t* data, size_t length, std::string* out) {
  Text text;
  DecodeCompressed(data, length, &text);
  out->clear();
  AppendUtf8(text, out);
}

// DecodeStoredTextUtf8 of every text but compressed ASCII: out of line, so that the usual path
// stays a leaf with no room of its own to set up.
[[gnu::noinline]] void OtherStoredTextUtf8(JetVersion version, const uint8_t* data, size_t length, std::string* out) {
  if (version == JetVersion::kJet3) {
    out->clear();
    AppendUnitsUtf8(length, [&](size_t i) { return Cp1252ToUnicode(data[i]); }, out);
    return;
  }
  if (length < 2 || data[0] != 0xFF || data[1] != 0xFE) {
    const size_t count = length / 2;
    out->resize(count);
    const size_t ascii = NarrowAscii(data, count, out->data());
    out->resize(ascii);
    if (ascii == count) return;
    const uint8_t* rest = data + 2 * ascii;
    AppendUnitsUtf8(count - ascii, [&](size_t i) { return static_cast<char16_t>(rest[2 * i] | (rest[2 * i + 1] << 8)); }, out);
    return;
  }
  // Compressed: one byte a character, Latin-1, until a 0 switches to two. Written straight into
  // the string's room, made as long as the longest the text can be, then cut to what it is.
  const size_t count = length - 2;
  out->resize(2 * count + 8);
  char* const start = out->data();
  if (const char* end = Latin1ToUtf8(data + 2, count, start)) {
    out->resize(static_cast<size_t>(end - start));
    return;
  }
  CompressedWithRunsToUtf8(data, length, out);
}

}  // namespace

void DecodeStoredTextUtf8(JetVersion version, const uint8_t* data, size_t length, std::string* out) {
  // Most stored texts are compressed ASCII: one test and one copy.
  if (version != JetVersion::kJet3 && length >= 2 && data[0] == 0xFF && data[1] == 0xFE &&
      AllPlainAscii(data + 2, length - 2)) {
    // Into the room of the text it held before (a list's row, mostly as long): cut to length, no
    // fill, and copied over, without the general assign's checks.
    const size_t count = length - 2;
    if (out->size() < count) {
      out->assign(reinterpret_cast<const char*>(data + 2), count);
      return;
    }
    out->resize(count);
    std::memcpy(out->data(), data + 2, count);
    return;
  }
  OtherStoredTextUtf8(version, data, length, out);
}

std::string ToUtf8(const Text& text) {
  std::string out;
  AppendUtf8(text, &out);
  return out;
}

namespace {

// Decodes `utf8` into `out`. Where the bytes are not UTF-8, `strict` stops and returns the offset
// of the first bad byte; otherwise each bad byte becomes U+FFFD. npos when all was decoded.
size_t DecodeUtf8(const std::string& utf8, bool strict, Text* out) {
  static constexpr uint32_t kSmallest[4] = {0, 0x80, 0x800, 0x10000};  // below these: overlong
  out->reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    uint8_t b = static_cast<uint8_t>(utf8[i]);
    uint32_t cp;
    size_t extra;
    if (b < 0x80) { cp = b; extra = 0; }
    else if ((b & 0xE0) == 0xC0) { cp = b & 0x1F; extra = 1; }
    else if ((b & 0xF0) == 0xE0) { cp = b & 0x0F; extra = 2; }
    else if ((b & 0xF8) == 0xF0) { cp = b & 0x07; extra = 3; }
    else { if (strict) return i; out->push_back(0xFFFD); ++i; continue; }
    bool valid = true;
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= utf8.size() || (static_cast<uint8_t>(utf8[i + k]) & 0xC0) != 0x80) { valid = false; break; }
      cp = (cp << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
    }
    if (strict && valid && (cp < kSmallest[extra] || cp > 0x10FFFF)) valid = false;
    if (!valid) { if (strict) return i; out->push_back(0xFFFD); ++i; continue; }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
  }
  return std::string::npos;
}

}  // namespace

Text FromUtf8(const std::string& utf8) {
  Text out;
  DecodeUtf8(utf8, false, &out);
  return out;
}

Result<Text> StrictFromUtf8(const std::string& utf8) {
  Text out;
  const size_t bad = DecodeUtf8(utf8, true, &out);
  if (bad == std::string::npos) return out;
  return Error(ErrorCode::kInvalidArgument, "the text is not valid UTF-8 (byte " + std::to_string(bad + 1) +
                                                " of " + std::to_string(utf8.size()) + "); give it as UTF-8");
}

}  // namespace jet
