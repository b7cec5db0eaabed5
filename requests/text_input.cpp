#include "requests/text_input.h"

#include <cstdint>
#include <vector>

namespace velloran {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void AppendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The code points of `text`, or nullopt when it is not well-formed UTF-8 (stray or missing
// continuation bytes, overlong forms, surrogates, values past U+10FFFF).
std::optional<std::vector<uint32_t>> CodePoints(std::string_view text) {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int more = b < 0x80 ? 0 : b >= 0xC2 && b < 0xE0 ? 1 : b >= 0xE0 && b < 0xF0 ? 2 : b >= 0xF0 && b < 0xF5 ? 3 : -1;
    if (more < 0 || i + static_cast<size_t>(more) > text.size() - 1) return std::nullopt;
    uint32_t cp = more == 0 ? b : b & (0x3F >> more);
    for (int k = 1; k <= more; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) return std::nullopt;
      cp = cp << 6 | (c & 0x3F);
    }
    static constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[more] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    out.push_back(cp);
    i += static_cast<size_t>(more) + 1;
  }
  return out;
}

bool Unshowable(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp < 0xA0) || cp == 0x2028 || cp == 0x2029 || (cp >= 0x202A && cp <= 0x202E) ||
         (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F || cp == 0xFEFF;
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] != '%') {
      out += text[i];
    } else {
      if (i + 2 >= text.size()) return std::nullopt;
      const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
      if (hi < 0 || lo < 0) return std::nullopt;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    }
  }
  return out;
}

std::optional<std::map<std::string, std::string>> QueryParameters(std::string_view target) {
  std::map<std::string, std::string> out;
  const size_t q = target.find('?');
  if (q == std::string_view::npos) return out;
  std::string_view rest = target.substr(q + 1);
  while (!rest.empty()) {
    const size_t amp = rest.find('&');
    const std::string_view part = rest.substr(0, amp);
    rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    if (part.empty()) continue;
    const size_t eq = part.find('=');
    auto name = PercentDecode(part.substr(0, eq));
    auto value = PercentDecode(eq == std::string_view::npos ? std::string_view() : part.substr(eq + 1));
    if (!name || !value) return std::nullopt;
    out.emplace(std::move(*name), std::move(*value));
  }
  return out;
}

jet::Result<std::string> CheckedText(std::string_view text, size_t max_chars, const std::string& what) {
  auto refuse = [&](const std::string& why) { return jet::Error(jet::ErrorCode::kInvalidArgument, "The " + what + " " + why); };
  const auto points = CodePoints(text);
  if (!points) return refuse("is not valid UTF-8 text.");
  for (uint32_t cp : *points)
    if (Unshowable(cp)) return refuse("holds a control or direction character; type it again with letters only.");
  size_t first = text.find_first_not_of(' '), last = text.find_last_not_of(' ');
  std::string trimmed = first == std::string_view::npos ? "" : std::string(text.substr(first, last - first + 1));
  if (points->size() - (text.size() - trimmed.size()) > max_chars)
    return refuse("is longer than " + std::to_string(max_chars) + " characters.");
  return trimmed;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
      static const char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

namespace {

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : t_(text) {}

  jet::Result<std::map<std::string, std::string>> Object() {
    std::map<std::string, std::string> out;
    if (!Eat('{')) return Fail("the body does not start with '{'");
    if (!Eat('}')) {
      do {
        std::string key, value;
        if (!String(key)) return Fail("a name is not a string");
        if (!Eat(':')) return Fail("a ':' is missing");
        Blanks();
        if (at_ < t_.size() && t_[at_] == '"') {
          if (!String(value)) return Fail("a string is malformed");
        } else if (!Number(value)) {
          return Fail("a value is neither a string nor a whole number");
        }
        out[key] = std::move(value);
      } while (Eat(','));
      if (!Eat('}')) return Fail("the object is not closed");
    }
    Blanks();
    if (at_ != t_.size()) return Fail("bytes follow the object");
    return out;
  }

 private:
  jet::Error Fail(const std::string& why) const {
    return jet::Error(jet::ErrorCode::kInvalidArgument,
                      "The request is not the JSON object expected: " + why + " (at byte " + std::to_string(at_) + ").");
  }
  void Blanks() {
    while (at_ < t_.size() && (t_[at_] == ' ' || t_[at_] == '\t' || t_[at_] == '\r' || t_[at_] == '\n')) ++at_;
  }
  bool Eat(char c) {
    Blanks();
    if (at_ < t_.size() && t_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Number(std::string& out) {
    const size_t start = at_;
    if (at_ < t_.size() && t_[at_] == '-') ++at_;
    while (at_ < t_.size() && t_[at_] >= '0' && t_[at_] <= '9' && at_ - start < 19) ++at_;
    out = std::string(t_.substr(start, at_ - start));
    return !out.empty() && out != "-" && (at_ == t_.size() || std::string_view(" \t\r\n,}").find(t_[at_]) != std::string_view::npos);
  }
  bool Hex4(uint32_t& v) {
    if (at_ + 4 > t_.size()) return false;
    v = 0;
    for (int k = 0; k < 4; ++k) {
      const int d = HexDigit(t_[at_++]);
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    return true;
  }
  bool String(std::string& out) {
    if (!Eat('"')) return false;
    while (at_ < t_.size() && t_[at_] != '"') {
      const char c = t_[at_++];
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= t_.size()) return false;
      const char e = t_[at_++];
      static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
      if (const size_t k = kFrom.find(e); k != std::string_view::npos && e != 'u') {
        out += kTo[k];
        continue;
      }
      uint32_t cp = 0;
      if (e != 'u' || !Hex4(cp)) return false;
      if (cp >= 0xD800 && cp < 0xDC00) {  // a surrogate pair makes one code point
        uint32_t low = 0;
        if (t_.substr(at_, 2) != "\\u") return false;
        at_ += 2;
        if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
        return false;
      }
      AppendUtf8(cp, out);
    }
    return Eat('"');
  }

  std::string_view t_;
  size_t at_ = 0;
};

}  // namespace

jet::Result<std::map<std::string, std::string>> ParseFlatJson(std::string_view text) { return JsonReader(text).Object(); }

}  // namespace velloran
