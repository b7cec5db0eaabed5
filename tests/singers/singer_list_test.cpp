// The singers file: round trips of awkward names, the exact bytes written, the code pages read and
// written, fields over lines, and the malformed files refused with the queue untouched. (Saving
// whole or not at all is the settings file's writer, tested with it.)
#include "singers/singer_list.h"

#include <fstream>

#include "tests/jet/test_support.h"

namespace velloran {
namespace {

using namespace std::string_literals;

ResultRow Song(const std::string& number, const std::string& title) { return ResultRow{7, "", number, title, "", false}; }

SingerList Three() {
  SingerList q;
  q.Append("Ann", Song("1042", "Yesterday"));
  q.Append("Bob", Song("7", "Help!"));
  q.Append("Cy", Song("300", "Hey Jude"));
  return q;
}

TEST(SingerList, WritesTheFileByteForByteAndReadsItBack) {
  SingerList plain;
  plain.Append("Ann, \"first\"", Song("1042", "Yesterday, today"));
  plain.Append("Line\r\nbreak", Song("7", "Caf\xc3\xa9"));
  plain.Append("", Song("-12.5", ""));
  const std::string bytes = plain.Format();
  EXPECT_EQ(bytes, "\"Ann, \"first\"\",1042,\"Yesterday, today\"\r\n\"Line\r\nbreak\",7,\"Caf\xe9\"\r\n\"\",-12.5,\"\"\r\n");

  velloran_test::ScratchDir dir;
  const std::string path = dir.File("night.sng");
  ASSERT_TRUE(plain.Save(path).ok());
  SingerList back = Three();  // as many singers as the file: every one is replaced
  ASSERT_TRUE(back.Load(path).ok());
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(back[i].Song.ID, 0);  // only the three fields travel
  EXPECT_EQ(back.Format(), bytes) << "every name, number and title came back as it was";
}

// Lists kept by Windows tools are in Windows-1252; lists this program wrote before were UTF-8.
TEST(SingerList, ReadsWindows1252AndUtf8FilesAndWritesTheWindowsCodePage) {
  velloran_test::ScratchDir dir;
  const std::string windows = dir.File("windows.sng"), again = dir.File("again.sng");
  const std::string cp1252 = "\"Zo\xEB\",6001,\"D\xE9j\xE0 Vu\"\r\n\"Ren\xE9" "e\",1234,\"Caf\xE9 \x80\x96 Song\"\r\n";
  std::ofstream(windows, std::ios::binary) << cp1252;
  SingerList q;
  ASSERT_TRUE(q.Load(windows).ok());
  EXPECT_EQ(q.Line(1), "Zo\xC3\xAB - 6001 - D\xC3\xA9j\xC3\xA0 Vu");
  EXPECT_EQ(q.Line(2), "Ren\xC3\xA9" "e - 1234 - Caf\xC3\xA9 \xE2\x82\xAC\xE2\x80\x93 Song");
  ASSERT_TRUE(q.Save(again).ok());
  EXPECT_EQ(velloran_test::ReadWholeFile(again), cp1252) << "saved back byte for byte";

  SingerList utf8;
  ASSERT_TRUE(utf8.Parse("\"Zo\xC3\xAB\",6001,\"D\xC3\xA9j\xC3\xA0 Vu\"\r\n").ok());
  EXPECT_EQ(utf8.Line(1), q.Line(1));
  // A name Windows-1252 has no letters for is kept whole: the file is then written in UTF-8.
  SingerList wide;
  wide.Append("\xC5\x81ucja \xE5\xB0\x8F", Song("5", "Zo\xC3\xAB"));
  EXPECT_EQ(wide.Format(), "\"\xC5\x81ucja \xE5\xB0\x8F\",5,\"Zo\xC3\xAB\"\r\n");
  SingerList back;
  ASSERT_TRUE(back.Parse(wide.Format()).ok());
  EXPECT_EQ(back.Line(1), wide.Line(1));
}

TEST(SingerList, ReadsFieldsSplitOverLinesAndLooseBlanks) {
  SingerList q;
  ASSERT_TRUE(q.Parse("\"Ann\"\r\n 1042 ,\n\"Yes\nterday\"\r\n\r\n  \"Bob\" , 7 , \"Help\"").ok());
  EXPECT_EQ(q.Format(), "\"Ann\",1042,\"Yes\nterday\"\r\n\"Bob\",7,\"Help\"\r\n");
  ASSERT_TRUE(q.Parse("").ok());
  EXPECT_TRUE(q.empty());
}

TEST(SingerList, RefusesMalformedFilesNamingTheLineAndKeepsTheQueue) {
  const struct { std::string text; const char* says; } cases[] = {
      {"\"Ann\",1,\"A\"\r\n\"Bob\",2,\"B\r\n"s, "line 2 "},           // a quote never closed
      {"\"Ann\",1,\"A\"\r\n\"Bob\"x,2,\"B\"\r\n"s, "line 2 "},         // a quote that closes nothing
      {"\"Ann\",1,\"A\"\r\n\"Bob\",2\r\n"s, "line 2 "},                // no title
      {"\"Ann\",1,\"A\"\r\n\r\n\"Bob\"\r\n"s, "line 3 "},              // no number, no title
      {"\"Ann\",1,\"A\"\r\n\"Bob\",two,\"B\"\r\n"s, "line 2 "},        // a number that is not one
      {"\"Ann\",\"1\",\"A\"\r\n"s, "line 1 "},                         // a quoted number
      {"\"Ann\",1,\"A\"\r\n\x7f" "ELF\x02\x01\x01\0\0,\x03"s, "line 2 "},  // binary
  };
  for (const auto& c : cases) {
    SingerList q = Three();
    jet::Status s = q.Parse(c.text);
    ASSERT_FALSE(s.ok()) << c.says;
    EXPECT_NE(s.error().message().find(c.says), std::string::npos) << s.error().message();
    EXPECT_EQ(q.Format(), Three().Format());
  }
  SingerList q = Three();
  jet::Status missing = q.Load("/nonexistent/folder/x.sng");
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.error().message().find("/nonexistent/folder/x.sng"), std::string::npos);
  EXPECT_EQ(q.count(), 3);
}

}  // namespace
}  // namespace velloran
