#include "requests/http_reader.h"

#include <algorithm>
#include <charconv>

namespace velloran {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F && std::string_view("()<>@,;:\\\"/[]?={}").find(c) == std::string_view::npos;
  });
}

}  // namespace

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (key == name) return value;
  return "";
}

HttpReader::State HttpReader::Refuse(int status, std::string reason) {
  refusal_status_ = status;
  refusal_reason_ = std::move(reason);
  buffer_.clear();
  return state_ = State::kRefused;
}

HttpReader::State HttpReader::Feed(std::string_view bytes) {
  if (state_ == State::kRefused) return state_;
  buffer_.append(bytes);
  if (state_ == State::kComplete) return state_;  // the rest waits for Next()
  return Parse();
}

HttpReader::State HttpReader::Next() {
  if (state_ != State::kComplete) return state_;
  buffer_.erase(0, body_length_);
  request_ = HttpRequest{};
  body_length_ = 0;
  head_done_ = false;
  state_ = State::kNeedMore;
  return Parse();
}

HttpReader::State HttpReader::Parse() {
  if (!head_done_) {
    // Blank lines before a request are allowed and skipped.
    while (buffer_.starts_with("\r\n")) buffer_.erase(0, 2);
    const size_t end = buffer_.find("\r\n\r\n");
    if (end == std::string::npos) {
      if (buffer_.size() > limits_.max_head)
        return Refuse(431, "The request's headers are longer than " + std::to_string(limits_.max_head) + " bytes.");
      return state_ = State::kNeedMore;
    }
    if (end + 4 > limits_.max_head)
      return Refuse(431, "The request's headers are longer than " + std::to_string(limits_.max_head) + " bytes.");
    if (State s = ParseHead(std::string_view(buffer_).substr(0, end)); s == State::kRefused) return s;
    buffer_.erase(0, end + 4);
    head_done_ = true;
  }
  if (buffer_.size() < body_length_) return state_ = State::kNeedMore;
  request_.body = buffer_.substr(0, body_length_);
  return state_ = State::kComplete;
}

HttpReader::State HttpReader::ParseHead(std::string_view head) {
  const size_t line_end = head.find("\r\n");
  const std::string_view line = head.substr(0, line_end);
  const size_t a = line.find(' '), b = line.rfind(' ');
  if (a == std::string_view::npos || a == b) return Refuse(400, "The request line is not \"METHOD /path HTTP/1.1\".");
  request_.method = std::string(line.substr(0, a));
  request_.target = std::string(line.substr(a + 1, b - a - 1));
  const std::string_view version = line.substr(b + 1);
  if (!IsToken(request_.method) || request_.target.empty() || request_.target[0] != '/' ||
      request_.target.find_first_of(" \t") != std::string::npos)
    return Refuse(400, "The request line is not \"METHOD /path HTTP/1.1\".");
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return Refuse(505, "Only HTTP/1.0 and HTTP/1.1 are spoken here.");
  request_.keep_alive = version == "HTTP/1.1";
  std::string_view rest = line_end == std::string_view::npos ? std::string_view() : head.substr(line_end + 2);
  while (!rest.empty()) {
    const size_t end = rest.find("\r\n");
    const std::string_view field = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
    const size_t colon = field.find(':');
    // A header without a name, or folded onto the line before (obsolete and a smuggling risk).
    if (colon == std::string_view::npos || !IsToken(field.substr(0, colon)))
      return Refuse(400, "A header line is malformed.");
    request_.headers.emplace_back(Lower(field.substr(0, colon)), std::string(Trim(field.substr(colon + 1))));
  }
  const std::string connection = Lower(request_.Header("connection"));
  if (connection == "close") request_.keep_alive = false;
  if (connection == "keep-alive") request_.keep_alive = true;
  if (!request_.Header("transfer-encoding").empty())
    return Refuse(411, "Send the body with a Content-Length; chunked bodies are not accepted.");
  const std::string length = request_.Header("content-length");
  if (!length.empty()) {
    size_t n = 0;
    auto [end, ec] = std::from_chars(length.data(), length.data() + length.size(), n);
    if (ec != std::errc() || end != length.data() + length.size())
      return Refuse(400, "The Content-Length header is not a number.");
    if (n > limits_.max_body)
      return Refuse(413, "The request's body is longer than " + std::to_string(limits_.max_body) + " bytes.");
    body_length_ = n;
  }
  return State::kNeedMore;
}

}  // namespace velloran
