// What the request server answers, without the network: the page, the search and the request,
// each input checked and bounded, each phone held to its allowances. Everything else is refused
// with a status and a sentence saying why; nothing here reads a file or changes the catalogue.
#pragma once

#include <functional>
#include <string>

#include "requests/http_answer.h"
#include "requests/http_reader.h"
#include "requests/rate_limiter.h"
#include "requests/song_finder.h"
#include "singers/song_requests.h"

namespace velloran {

struct RequestRules {
  size_t max_name = 30;    // characters of a singer's name
  size_t max_search = 60;  // characters of a search text
  int max_results = 50;
  int max_waiting = 200;   // requests waiting for the host
  Rate hits{60, 20};       // any answer
  Rate searches{10, 5};
  Rate requests{3, 3.0 / 60};
  Rate wrong_codes{5, 5.0 / 60};
  // Searching runs on the user-interface thread: all phones together may keep it busy for at
  // most this share of the time, in bursts of at most `search_burst` seconds, so the host's
  // windows stay responsive however many phones search.
  double search_share = 0.5;
  double search_burst = 0.25;
};

class RequestService {
 public:
  RequestService(SongFinder& finder, PendingRequests& waiting, RequestRules rules = {});

  // The four-digit venue code the page must send; empty for none.
  std::string venue_code;
  // Set: a request joins the queue at once through this instead of waiting for the host.
  std::function<void(const std::string& name, const ResultRow& song)> join_at_once;
  // Called after a request was taken.
  std::function<void()> on_request;

  // The answer to `request` from `address` at `now` (seconds on a steady clock).
  HttpAnswer Answer(const HttpRequest& request, const std::string& address, double now);

 private:
  HttpAnswer Search(const HttpRequest& request, const std::string& address, double now);
  HttpAnswer Request(const HttpRequest& request, const std::string& address, double now);
  // An answer when `code` is not the venue code (or a wrong code came too often); else nothing.
  bool RefuseCode(const std::string& code, const std::string& address, double now, HttpAnswer& refusal);
  static HttpAnswer TooMany(const RateLimiter& limiter, const std::string& address, const std::string& what);

  SongFinder& finder_;
  PendingRequests& waiting_;
  RequestRules rules_;
  RateLimiter hits_, searches_, requests_, wrong_codes_;
  double search_debt_ = 0, search_debt_at_ = 0;  // seconds of searching not yet paid back
};

// The page and its script, as served.
extern const char* const kRequestPage;
extern const char* const kRequestScript;

}  // namespace velloran
