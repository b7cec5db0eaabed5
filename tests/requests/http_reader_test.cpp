// The parts of reading a phone's request that HTTP tests reach only by luck: requests that arrive
// split anywhere or several in one piece, and the JSON escapes a browser may use.
#include <gtest/gtest.h>

#include "requests/http_reader.h"
#include "requests/text_input.h"

namespace velloran_test {
namespace {

using namespace velloran;

std::vector<std::string> ReadAll(const std::string& stream, size_t piece) {
  HttpReader reader;
  std::vector<std::string> got;
  for (size_t at = 0; at < stream.size(); at += piece) {
    HttpReader::State s = reader.Feed(std::string_view(stream).substr(at, piece));
    while (s == HttpReader::State::kComplete) {
      got.push_back(reader.request().method + " " + reader.request().target + " [" + reader.request().body + "]");
      s = reader.Next();
    }
    if (s == HttpReader::State::kRefused) got.push_back("refused " + std::to_string(reader.refusal_status()));
  }
  return got;
}

TEST(HttpReader, RequestsSplitAnywhereOrPipelinedReadTheSame) {
  const std::string stream =
      "GET /search?q=a HTTP/1.1\r\nHost: x\r\n\r\n"
      "POST /request HTTP/1.1\r\nContent-Length: 11\r\nContent-Type: application/json\r\n\r\n{\"row\":12}\n"
      "\r\nGET / HTTP/1.0\r\n\r\n";
  const std::vector<std::string> expected = {"GET /search?q=a []", "POST /request [{\"row\":12}\n]", "GET / []"};
  for (size_t piece : {stream.size(), size_t{1}, size_t{7}, size_t{64}}) EXPECT_EQ(ReadAll(stream, piece), expected) << piece;
  // A second request's bad header is refused after the first is read.
  EXPECT_EQ(ReadAll("GET / HTTP/1.1\r\n\r\nGET / HTTP/1.1\r\n folded\r\n\r\n", 5),
            (std::vector<std::string>{"GET / []", "refused 400"}));
}

TEST(FlatJson, EscapesDecodeAndAnythingElseIsRefused) {
  const auto parsed = ParseFlatJson(R"( {"name":"Zo\u00eb \"Z\" \ud83c\udfa4\/", "row": 42} )");
  ASSERT_TRUE(parsed.ok()) << parsed.error().message();
  EXPECT_EQ(parsed->at("name"), "Zoë \"Z\" \xF0\x9F\x8E\xA4/");
  EXPECT_EQ(parsed->at("row"), "42");
  for (const char* bad : {R"({"a":"\ud83c"})", R"({"a":"\udfa4"})", R"({"a":"\x"})", R"({"a":1.5})", R"({"a":{}})",
                          R"({"a":"b"} x)", "{\"a\":\"b\nc\"}", R"({"a" "b"})", R"({"a":"b",})", ""}) {
    EXPECT_FALSE(ParseFlatJson(bad).ok()) << bad;
  }
}

}  // namespace
}  // namespace velloran_test
