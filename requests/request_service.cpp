#include "requests/request_service.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>

#include "requests/text_input.h"

namespace velloran {

namespace {

// A field of a search address or a request body; a field left out reads as empty.
std::string FieldOf(const std::map<std::string, std::string>& fields, const char* key) {
  auto it = fields.find(key);
  return it == fields.end() ? std::string() : it->second;
}

std::string SongJson(const ResultRow& row) {
  return "{\"row\":" + std::to_string(row.ID) + ",\"number\":" + JsonString(row.SongNumber) +
         ",\"title\":" + JsonString(row.Song) + ",\"artist\":" + JsonString(row.Artist) + "}";
}

// Codes are compared without stopping at the first difference, so timing tells nothing.
bool SameCode(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

RequestService::RequestService(SongFinder& finder, PendingRequests& waiting, RequestRules rules)
    : finder_(finder), waiting_(waiting), rules_(rules), hits_(rules.hits), searches_(rules.searches),
      requests_(rules.requests), wrong_codes_(rules.wrong_codes) {}

HttpAnswer RequestService::TooMany(const RateLimiter& limiter, const std::string& address, const std::string& what) {
  const int wait = std::max(1, limiter.WaitSeconds(address));
  HttpAnswer a = ErrorAnswer(429, "Too many " + what + " from this phone; wait " + std::to_string(wait) +
                                      " second" + (wait == 1 ? "" : "s") + " and try again.");
  a.headers.emplace_back("Retry-After", std::to_string(wait));
  return a;
}

HttpAnswer RequestService::Answer(const HttpRequest& request, const std::string& address, double now) {
  if (!hits_.Allow(address, now)) return TooMany(hits_, address, "requests");
  const std::string path = request.target.substr(0, request.target.find('?'));
  const bool get = request.method == "GET";
  if (path == "/" || path == "/app.js" || path == "/search") {
    if (!get) return HttpAnswer{405, "application/json", "{\"error\":\"Only GET is answered here.\"}", {{"Allow", "GET"}}};
    if (path == "/") return HttpAnswer{200, "text/html; charset=utf-8", kRequestPage, {}};
    if (path == "/app.js") return HttpAnswer{200, "text/javascript; charset=utf-8", kRequestScript, {}};
    return Search(request, address, now);
  }
  if (path == "/request") {
    if (request.method != "POST")
      return HttpAnswer{405, "application/json", "{\"error\":\"Only POST is answered here.\"}", {{"Allow", "POST"}}};
    return Request(request, address, now);
  }
  return ErrorAnswer(404, "There is nothing here: this server only offers the song search page at /.");
}

bool RequestService::RefuseCode(const std::string& code, const std::string& address, double now, HttpAnswer& refusal) {
  if (venue_code.empty() || SameCode(code, venue_code)) return false;
  if (!wrong_codes_.Allow(address, now)) {
    refusal = TooMany(wrong_codes_, address, "wrong venue codes");
  } else {
    refusal = HttpAnswer{403, "application/json",
                         "{\"error\":\"Type the venue's four-digit code, shown by the host.\",\"needCode\":true}", {}};
  }
  return true;
}

HttpAnswer RequestService::Search(const HttpRequest& request, const std::string& address, double now) {
  const auto params = QueryParameters(request.target);
  if (!params) return ErrorAnswer(400, "The search address is malformed (a '%' not followed by two hex digits).");
  auto get = [&](const char* key) { return FieldOf(*params, key); };
  HttpAnswer refusal;
  if (RefuseCode(get("code"), address, now, refusal)) return refusal;
  jet::Result<std::string> text = CheckedText(get("q"), rules_.max_search, "search text");
  if (!text.ok()) return ErrorAnswer(400, text.error().message());
  if (!searches_.Allow(address, now)) return TooMany(searches_, address, "searches");
  search_debt_ = std::max(0.0, search_debt_ - (now - search_debt_at_) * rules_.search_share);
  search_debt_at_ = now;
  if (search_debt_ > rules_.search_burst) {
    HttpAnswer busy = ErrorAnswer(503, "The host's program is busy with other phones' searches; try again in a moment.");
    busy.headers.emplace_back("Retry-After", "1");
    return busy;
  }
  const auto started = std::chrono::steady_clock::now();
  jet::Result<FoundSongs> found = finder_.Search(*text, rules_.max_results);
  search_debt_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!found.ok()) return ErrorAnswer(503, found.error().message());
  std::string body = "{\"songs\":[";
  for (size_t i = 0; i < found->rows.size(); ++i) body += (i > 0 ? "," : "") + SongJson(found->rows[i]);
  body += std::string("],\"more\":") + (found->more ? "true" : "false") + "}";
  return HttpAnswer{200, "application/json", std::move(body), {}};
}

HttpAnswer RequestService::Request(const HttpRequest& request, const std::string& address, double now) {
  const std::string type = request.Header("content-type");
  if (type.substr(0, type.find(';')) != "application/json")
    return ErrorAnswer(415, "Send the request as application/json.");
  jet::Result<std::map<std::string, std::string>> fields = ParseFlatJson(request.body);
  if (!fields.ok()) return ErrorAnswer(400, fields.error().message());
  auto get = [&](const char* key) { return FieldOf(*fields, key); };
  HttpAnswer refusal;
  if (RefuseCode(get("code"), address, now, refusal)) return refusal;
  jet::Result<std::string> name = CheckedText(get("name"), rules_.max_name, "name");
  if (!name.ok()) return ErrorAnswer(400, name.error().message());
  if (name->empty()) return ErrorAnswer(400, "Type your name, so the host can call you.");
  // The singers file quotes names and has no way to escape a double quote inside one.
  std::replace(name->begin(), name->end(), '"', '\'');
  const std::string row_text = get("row");
  int32_t row = 0;
  auto [end, ec] = std::from_chars(row_text.data(), row_text.data() + row_text.size(), row);
  if (ec != std::errc() || end != row_text.data() + row_text.size() || row < 1)
    return ErrorAnswer(400, "The request names no song; choose one from the search results.");
  if (!requests_.Allow(address, now)) return TooMany(requests_, address, "song requests");
  if (!join_at_once && waiting_.count() >= rules_.max_waiting)
    return ErrorAnswer(503, "The host has too many requests waiting; try again later.");
  jet::Result<ResultRow> song = finder_.Song(row);
  if (!song.ok()) return ErrorAnswer(song.error().code() == jet::ErrorCode::kNotFound ? 410 : 503, song.error().message());
  if (join_at_once) {
    join_at_once(*name, *song);
  } else {
    waiting_.Add(*name, *song, address);
  }
  if (on_request) on_request();
  return HttpAnswer{200, "application/json",
                    "{\"message\":" + JsonString("Thank you, " + *name + ": your request for \"" + song->Song +
                                                 "\" is with the host.") + "}",
                    {}};
}

}  // namespace velloran
