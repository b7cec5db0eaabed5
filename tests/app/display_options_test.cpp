// The display and window options from the menu: each one's effect on the window, and which of
// them a restart keeps.
#include "app/display_options.h"

#include "app/program.h"
#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

TEST(DisplayOptions, NumberOfResultsAnswers) {
  const struct { const char* answer; int32_t limit; bool too_large; } cases[] = {  // limit 0: unchanged
      {"250", 250, false}, {"250.5", 250, false}, {"251.5", 252, false}, {" 40 songs", 40, false}, {"0", 0, false},
      {"-5", 0, false}, {"abc", 0, false}, {"", 0, false}, {"0.4", 0, false}, {"2147483647", 2147483647, false},
      {"2147483648", 0, true}, {"99999999999999999999", 0, true}};
  for (const auto& c : cases) {
    bool too_large = false;
    std::optional<int32_t> limit = ReadResultsAnswer(c.answer, too_large);
    EXPECT_EQ(limit.value_or(0), c.limit) << c.answer;
    EXPECT_EQ(too_large, c.too_large) << c.answer;
  }
}

struct Session {
  ScratchDir& folder;
  Window w;
  Program program{w.logic, w.view, w.dialogs, w.commands, folder.File(""), FontSpec{"Sans", 8, false, false, false}};
  explicit Session(ScratchDir& f) : folder(f) { program.Form_Load("velloran", "velloran"); }
};

TEST(DisplayOptions, EachOptionActsOnTheWindowAndTheSavedOnesSurviveARestart) {
  ScratchDir folder;
  const FontSpec list{"Mono", 14, true, false, false}, title{"Serif", 30, false, false, true};
  {
    Session s(folder);
    ScriptedDialogHost& d = s.w.dialogs;
    d.font_answers = {list, title};
    s.w.surface.texts.clear();
    s.program.MenuCommand("Mnu_Options_ListFont");
    EXPECT_EQ(s.w.logic.Display[0].ListFont, list);
    EXPECT_FALSE(s.w.surface.texts.empty());  // redrawn at once
    s.w.logic.IdleCountdown = 20;
    s.program.MenuCommand("Mnu_Options_TitleFont");
    EXPECT_EQ(s.w.logic.Display[0].TitleFont, title);
    EXPECT_EQ(s.w.logic.IdleCountdown, 0);

    d.prompt_answers = {"", "Karaoke Night", "500", "0", "3000000000"};
    s.program.MenuCommand("Mnu_Options_TitleText");  // empty: the old title stays
    EXPECT_EQ(s.w.logic.form.TitleText, "No database loaded!");
    s.program.MenuCommand("Mnu_Options_TitleText");
    EXPECT_EQ(s.w.logic.form.TitleText, "Karaoke Night");
    s.program.MenuCommand("Mnu_Options_Results");
    s.program.MenuCommand("Mnu_Options_Results");  // no limit: unchanged, without a word
    EXPECT_EQ(s.w.logic.form.MaxResults, 500);
    s.program.MenuCommand("Mnu_Options_Results");  // too many: said so, and unchanged
    EXPECT_EQ(s.w.logic.form.MaxResults, 500);
    ASSERT_EQ(d.messages.size(), 1u);
    EXPECT_NE(d.messages[0].find("from 1 to 2147483647"), std::string::npos);

    for (const char* item : {"Mnu_Options_ScreenSaver", "Mnu_AllowWindowResize", "Mnu_OnTop"}) s.program.MenuCommand(item);
    EXPECT_EQ(std::pair(s.w.view.top_most, FindMenuItem(s.program.Menu(), "Mnu_OnTop")->checked), std::pair(true, true));
    s.program.Form_Unload();
  }
  Session again(folder);
  EXPECT_EQ(std::pair(again.w.logic.Display[0].ListFont, again.w.logic.Display[0].TitleFont), std::pair(list, title));
  EXPECT_EQ(again.w.logic.form.TitleText, "No database loaded!");  // the title follows the database
  EXPECT_EQ(again.w.logic.form.MaxResults, 1000);  // never kept
  const auto& kept = again.w.logic.Switches;  // every run starts not on top
  EXPECT_EQ(std::tuple(kept.ScreenSaver, kept.AllowWindowResize, kept.OnTop), std::tuple(false, false, false));
}

}  // namespace
}  // namespace velloran_test
