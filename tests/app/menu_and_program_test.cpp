// The popup menu's tree as the host sees it, and the program's start-up and shutdown around the
// window's logic: settings applied in order, saved whole, the demo catalogue.

#include <filesystem>
#include <fstream>

#include "app/demo_catalogue.h"
#include "app/program.h"
#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

// One line per item: indentation by depth, the caption, then [x] or [ ] for check marks and
// "(off)" for disabled items.
void Flatten(const MenuItem& item, int depth, std::vector<std::string>& out) {
  for (const MenuItem& child : item.children) {
    std::string line = std::string(static_cast<size_t>(depth) * 2, ' ') + child.caption;
    if (child.checkable) line += child.checked ? " [x]" : " [ ]";
    if (!child.enabled) line += " (off)";
    out.push_back(line);
    Flatten(child, depth + 1, out);
  }
}

TEST(MenuModel, TheWholeTreeAsDesigned) {
  MenuItem menu = BuildMainMenu();
  EXPECT_EQ(menu.caption, "Options Menu");
  std::vector<std::string> lines;
  Flatten(menu, 0, lines);
  const std::vector<std::string> expected{
      "&Database", "  &New database", "  &Open database", "  &Close database", "  -", "  &Modify database (Requires MS Access)", "  -",
      "  &Select Table/Fields (off)", "  -", "  &Add Records", "Fa&vourties", "  &Import", "  &Export", "  &Clear", "&Print Book",
      "  &Print Book", "  -", "  &Clear print flags", "  &Show print flags [ ]", "&Singers [ ]", "Song &Requests", "  &Take Requests [ ]",
      "  Straight into the &Queue [ ]", "  -", "  &Port...", "  Venue &Code...", "-", "&Options", "  &List", "    &List Font",
      "    Number of &Results", "    -", "    Allow &Column Resizing [x]", "    Reset Column &Widths", "  &Title", "    &Title Text",
      "    &Title Font", "    &Screen Saver [x]", "  &Allow Window Resizing [x]", "  &Always on top [ ]", "About", "-", "E&xit"};
  EXPECT_EQ(lines, expected);
  SyncMenu(menu, MenuSwitches{.ScreenSaver = false, .OnTop = true, .SelectTableEnabled = true});
  EXPECT_EQ(std::tuple(FindMenuItem(menu, "Mnu_Options_ScreenSaver")->checked, FindMenuItem(menu, "Mnu_OnTop")->checked,
                       FindMenuItem(menu, "Mnu_Database_Select")->enabled), std::tuple(false, true, true));
}

struct Started {
  ScratchDir folder;
  Window w;
  Program program{w.logic, w.view, w.dialogs, w.commands, folder.File(""), FontSpec{"Sans", 8, false, false, false}};
  void Load(const std::string& ini) {
    std::ofstream(program.SettingsPath(), std::ios::binary) << ini;
    program.Form_Load("velloran", "velloran");
  }
  std::string Saved() const { return ReadWholeFile(program.SettingsPath()); }
};

TEST(Program, PlacementFollowsTheResizingSwitchInFileOrder) {
  // As written: the size before the switch that turns resizing off, so the size sticks.
  Started a;
  a.Load("Width=9000\r\nHeight=5000\r\nAllowWindowResizing=0\r\n");
  EXPECT_EQ(a.w.view.placement.Width, 9000);
  EXPECT_FALSE(a.w.logic.Switches.AllowWindowResize);
  // The other way round the window returns to its design size.
  Started b;
  const WindowRect design = b.w.view.placement;
  b.Load("AllowWindowResizing=0\r\nWidth=9000\r\nHeight=5000\r\n");
  EXPECT_EQ(std::pair(b.w.view.placement.Width, b.w.view.placement.Height), std::pair(design.Width, design.Height));
}

TEST(Program, ShutdownWritesWhatTheWindowHoldsAndKeepsOtherWindowsValues) {
  Started s;
  s.Load("SingerWindowWidth=4321\r\nNextSingerWindowFontName=Impact\r\nList Font Name=A\r\nList Font Name=B\r\n"
         "ScreenSaver=0\r\nAlways on top=-1\r\n");
  s.program.MenuCommand("Mnu_OnTop");  // on top again after the file's "never read back" line
  s.program.MenuCommand("Mnu_AllowColumnResize");
  s.w.logic.Display[0].ColumnOrder = "ADSN";
  s.program.Form_Unload();
  const std::string saved = s.Saved();
  for (const char* line : {"SingerWindowWidth=4321\r\n", "NextSingerWindowFontName=Impact\r\n", "List Font Name=B\r\n",
                           "Column Order=ADSN\r\n", "ScreenSaver=0\r\n", "Always on top=-1\r\n",
                           "AllowColumnResizing=0\r\n", "Title=No database loaded!\r\n"})
    EXPECT_NE(saved.find(line), std::string::npos) << line;
  EXPECT_TRUE(s.w.commands.calls.empty());  // no database: no favourites to export
}

TEST(DemoCatalogue, BuildsPlausibleSongsTheProgramCanSearch) {
  if (!std::filesystem::exists(SharedDir())) GTEST_SKIP() << "no shared folder";
  Started s;
  const std::string path = s.folder.File("demo.mdb");
  ASSERT_TRUE(BuildDemoCatalogue(path, 300).ok());
  EXPECT_FALSE(BuildDemoCatalogue(path + "/cannot/be/here.mdb", 3).ok());
  s.program.Form_Load("velloran", "velloran --demo", path);
  s.w.logic.Txt_Search_Change("love");
  s.w.Press(13);
  EXPECT_GT(s.w.logic.form.Results.count(), 5);  // a demo a host can try searches on
  EXPECT_EQ(MakeDemoSong(7).title, MakeDemoSong(7).title);
  EXPECT_NE(MakeDemoSong(7).title + MakeDemoSong(7).artist, MakeDemoSong(8).title + MakeDemoSong(8).artist);
}

}  // namespace
}  // namespace velloran_test
