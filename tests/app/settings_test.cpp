// The settings file: what a host's file from any program version or platform reads as, and what
// the program writes back.

#include <filesystem>

#include "app/settings.h"
#include "tests/jet/test_support.h"

namespace velloran {
namespace {

const FontSpec kWindowFont{"DejaVu Sans", 10, false, false, false};

Settings Read(const std::string& text) {
  Settings s = DefaultSettings(kWindowFont);
  ParseSettings(text, s);
  return s;
}

// A settings record with every value off its default.
Settings Full() {
  Settings s = DefaultSettings(kWindowFont);
  s.Databases.entries.push_back({"/songs/Main Songs.mdb", "MyList", "Artist", "Song", "SongNumber", "DiskID"});
  s.Databases.entries.push_back({"/songs/other.mdb", "Tbl", "A", "S", "N", "D"});
  s.Databases.CurrentDB = 2;
  s.Display[0] = DisplaySettings{"SAND", {"Liberation Serif", 14, true, false, true}, {"Arial", 24, false, false, false},
                                 {0, 1000.5f, 2000, 3000.25f, 6000}, ""};
  s.Display.push_back(DisplaySettings{"ND  ", {"Courier", 9, false, false, false}, {"Times", 11, true, false, true},
                                      {0, 700, 1400, 2100, 2800}, ""});
  s.ScreenSaver = s.AllowWindowResizing = s.AllowColumnResizing = false;
  s.Window = {9000, 5000, 120, 240.5f};
  s.TitleText = "Friday A=B night";
  s.SingerWindow = {4000, 3000, 100, 200};
  s.NextSingerWindow = {8000, 2000, 300, 400};
  s.NextSingerFont = {"Impact", 48, false, false, true};
  return s;
}

TEST(Settings, WrittenAsHostsExpectAndReadBackWhole) {
  const Settings written = Full();
  const std::string text = FormatSettings(written);
  for (const char* line : {"[Product Info]\r\nProduct Name=Velloran\r\nVersion=2.00.0014\r\n\r\n[Databases]\r\nCurrentDB=2\r\n",
                           "List Font Bold=-1\r\n", "Column Order=ND  \r\n", "Column Width=1,1000.5\r\n",
                           "Always on top=0\r\nScreenSaver=0\r\nTop=120\r\nLeft=240.5\r\nWidth=9000\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  EXPECT_TRUE(text.ends_with("\r\nAllowWindowResizing=0\r\nTitle=Friday A=B night\r\n"));
  EXPECT_EQ(SingleText(0.1f), "0.1");
  // The placement comes back in file order, before the resizing switch that would undo it.
  const Settings read = Read(text);
  EXPECT_EQ(read.WindowLines, (std::vector<WindowLine>{{WindowLine::kTop, 120}, {WindowLine::kLeft, 240.5f},
      {WindowLine::kWidth, 9000}, {WindowLine::kHeight, 5000}, {WindowLine::kAllowWindowResizing, 0}}));
  // Written again, the file is the same, byte for byte: as every value is off its default, any
  // value lost or misread on the way would show.
  Settings again = read;
  again.Window = written.Window;
  EXPECT_EQ(FormatSettings(again), text);
}

TEST(Settings, HostFilesReadAsTheRulesSay) {
  // Letter case, blanks around keys, values holding "=", column orders cut and padded, LF ends.
  Settings s = Read(
      "garbage without equals\n"
      "TABLE=before any database\n"
      "DATABASE=/a.mdb\n  Table=ignored\nTable =ignored too\ntable=T1\n"
      "database=/b.mdb\n"
      "List Font Size=10.5\n"  // before any list font name: no record to attach to
      "list font name=Sans\nlist font size=10.5\ntitle font size=11.5\nLIST FONT BOLD=7\ncolumn order=SANDX\n"
      "Column Width=  2,999  \nColumn Width=9,1\nColumn Width=-1,1\nColumn Width=4\n"
      "List Font Name=Second\nColumn Order=ND\n"
      "title=A=B\n");
  ASSERT_EQ(s.Databases.count(), 2);
  EXPECT_EQ(s.Databases.entries[0].Table + "|" + s.Databases.entries[1].Table, "before any database|T1");
  ASSERT_EQ(s.Display.size(), 2u);
  EXPECT_EQ(s.Display[0].ListFont, (FontSpec{"Sans", 10, true, false, false}));
  EXPECT_EQ(s.Display[0].TitleFont.Size, 12);
  EXPECT_EQ(s.Display[0].ColumnOrder + "|" + s.Display[1].ColumnOrder, "SAND|ND  ");
  EXPECT_EQ(s.Display[0].ColumnWidth, (std::array<float, 5>{0, 720, 999, 3540, 0}));
  EXPECT_EQ(s.TitleText, "A=B");
  EXPECT_EQ(FormatSettings(s).find("before any database"), std::string::npos);
}

TEST(Settings, CurrentDatabaseClamps) {
  const struct { const char* text; int16_t current; } cases[] = {
      {"CurrentDB=5\r\n", 0},                                   // no databases at all
      {"Database=/a\r\nDatabase=/b\r\nCurrentDB=2\r\n", 2},
      {"Database=/a\r\nDatabase=/b\r\nCurrentDB=1.5\r\n", 2},   // to the nearest, halves to even
      {"Database=/a\r\nDatabase=/b\r\nCurrentDB=-3\r\n", 1},    // negative counts as too large
      {"Database=/a\r\nCurrentDB=99999999999\r\n", 1},
      {"Database=/a\r\nCurrentDB=abc\r\n", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Read(c.text).Databases.CurrentDB, c.current) << c.text;
}

TEST(Settings, HugeAndBrokenNumbersNeitherCrashNorReachTheWindow) {
  Settings s = Read(
      "List Font Name=X\nColumn Width=1,1e999\nColumn Width=2,-50\nList Font Size=-99999999999999\n"
      "Top=1e300\nLeft=-20\nWidth=nonsense\nScreenSaver=-1\n");
  EXPECT_EQ(std::pair(s.Display[0].ColumnWidth[1], s.Display[0].ColumnWidth[2]), std::pair(720.0f, -50.0f));  // 1e999: not a single, ignored
  EXPECT_EQ(s.Display[0].ListFont.Size, -2147483647 - 1);
  EXPECT_EQ(s.WindowLines, (std::vector<WindowLine>{{WindowLine::kLeft, -20}, {WindowLine::kWidth, 0}}));
  EXPECT_TRUE(s.ScreenSaver);
}

TEST(Settings, Windows1252FilesAreReadAsSuch) {
  // "Café Hits" and a euro sign in Windows-1252; the same text in UTF-8 stays as it is.
  EXPECT_EQ(DecodeSettingsText("Title=Caf\xE9 \x80 Hits"), "Title=Caf\xC3\xA9 \xE2\x82\xAC Hits");
  EXPECT_EQ(DecodeSettingsText("Title=Caf\xC3\xA9"), "Title=Caf\xC3\xA9");
  EXPECT_EQ(DecodeSettingsText("\xC3"), "\xC3\x83");  // a cut UTF-8 sequence is no UTF-8
}

TEST(Settings, TextHelpers) {
  EXPECT_EQ(IniPath("/opt/velloran/bin//  ", "velloran"), "/opt/velloran/bin/velloran.ini");
  EXPECT_EQ(IniPath("C:\\Karaoke\\", "Velloran"), "C:\\Karaoke/Velloran.ini");
  // Beside the executable where it can be written; a folder that is not there cannot be.
  const std::string here = std::filesystem::temp_directory_path();
  EXPECT_EQ(SettingsFolder(here, "/home/h/.config/velloran", ""), here);
  EXPECT_EQ(SettingsFolder("/no/such/folder", "/home/h/.config/velloran", ""), "/home/h/.config/velloran");
  EXPECT_EQ(SettingsFolder(here, "/c", "/forced"), "/forced");
}

TEST(Settings, SavedWholeOrNotAtAll) {
  velloran_test::ScratchDir folder;
  const std::string path = folder.File("velloran.ini");
  ASSERT_TRUE(WriteFileAtomically(path, "first\r\n").ok());
  ASSERT_TRUE(WriteFileAtomically(path, "second\r\n").ok());
  EXPECT_EQ(ReadSettingsFile(path).value(), "second\r\n");
  // A write that cannot finish (the temporary name is taken by a folder) leaves the old file.
  std::filesystem::create_directories(path + ".new");
  jet::Status failed = WriteFileAtomically(path, "third\r\n");
  ASSERT_FALSE(failed.ok());
  EXPECT_NE(failed.error().message().find("the previous file is unchanged"), std::string::npos);
  EXPECT_EQ(ReadSettingsFile(path).value(), "second\r\n");
  EXPECT_EQ(ReadSettingsFile(folder.File("missing.ini")).value(), "");
}

}  // namespace
}  // namespace velloran
