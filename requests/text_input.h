// Text that arrives from phones: percent-decoded query strings, a small JSON object, and the
// checks every name and search text passes before the program uses it.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "jet/base/status.h"

namespace velloran {

// "a%20b+c" -> "a b c"; nullopt for a '%' not followed by two hex digits.
std::optional<std::string> PercentDecode(std::string_view text);
// The query string of `target` ("/search?q=x&code=1" -> {q: x, code: 1}); nullopt when a part
// does not decode. A name given twice keeps its first value.
std::optional<std::map<std::string, std::string>> QueryParameters(std::string_view target);

// `text` trimmed of spaces, when it is valid UTF-8 of at most `max_chars` characters and holds no
// control characters, line or paragraph separators or direction overrides (which would let a
// name disguise itself or another line in the host's lists). The error says which rule failed,
// naming the field as `what`.
jet::Result<std::string> CheckedText(std::string_view text, size_t max_chars, const std::string& what);

// `text` as a JSON string literal, quotes included; '<', '>' and '&' are escaped too so the text
// stays inert wherever it lands.
std::string JsonString(std::string_view text);

// A JSON object whose values are strings or whole numbers (numbers kept as their digits), as
// the page sends it; anything else (nesting, arrays, a value of another kind, trailing bytes, a
// bad escape) is an error saying where.
jet::Result<std::map<std::string, std::string>> ParseFlatJson(std::string_view text);

}  // namespace velloran
