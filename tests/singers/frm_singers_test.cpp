// The singers window's logic on a recording window: queueing from the main window, the refresh,
// removal, "&Next Singer", load and save through the dialogs, placement and the layout.
#include "singers/frm_singers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/mainwindow/recording_window.h"

namespace velloran_test {
namespace {

class RecordingSingersView : public SingersView {
 public:
  WindowRect placement{kSingersDesignWidth, kSingersDesignHeight, 600, 900};
  std::vector<std::string> lines;
  int selected = -1;
  FontSpec font;
  std::vector<WindowRect> controls;
  int menus = 0;
  bool open = true;
  Frm_Singers* logic = nullptr;

  WindowRect Placement() override { return placement; }
  void SetPlacement(const WindowRect& rect) override { placement = rect; }
  float InnerWidth() override { return placement.Width; }
  float InnerHeight() override { return placement.Height; }
  bool IsMinimised() override { return false; }
  void SetListFont(const FontSpec& f) override { font = f; }
  int LineCount() override { return static_cast<int>(lines.size()); }
  void SetLines(const std::vector<std::string>& l) override {
    lines = l;
    selected = -1;
  }
  void RemoveLine(int k) override {
    lines.erase(lines.begin() + k);
    if (selected >= LineCount()) selected = LineCount() - 1;
  }
  int SelectedLine() override { return selected; }
  void SelectLine(int k) override { selected = k; }
  void PlaceControls(const WindowRect& list, const WindowRect& next, const WindowRect& remove) override {
    controls = {list, next, remove};
  }
  void ShowFileMenu() override { ++menus; }
  void Close() override {
    open = false;
    logic->Form_Unload();
  }
};

class RecordingDisplay : public NextSingerDisplay {
 public:
  std::vector<std::string> calls;
  void Show() override { calls.push_back("show"); }
  void SetSinger(int16_t slot) override { calls.push_back("singer " + std::to_string(slot)); }
  void ReDraw() override { calls.push_back("redraw"); }
  void Close() override { calls.push_back("close"); }
};

struct Evening {
  Window main;
  SingerList singers;
  RecordingSingersView view;
  RecordingDisplay display;
  WindowRect saved;
  Frm_Singers form{singers, view, display, main.dialogs, saved, main.logic.Switches.Singers};

  Evening() {
    view.logic = &form;
    main.commands.add_singer = [this](const std::string& name, const ResultRow& row) { singers.Append(name, row); };
    main.logic.Switches.Singers = true;
    main.Rows(5);
  }
  void Queue(int row, const std::string& name) {
    main.logic.CurrentRow = row;
    main.dialogs.prompt_answers.push_back(name);
    main.Press(13);
  }
};

TEST(Frm_Singers, QueuedFromTheMainWindowShownAtTheNextTickAndRemoved) {
  Evening e;
  e.form.Form_Load(FontSpec{"Arial", 14, true, false, false});
  EXPECT_EQ(e.view.font.Name, "Arial");
  EXPECT_TRUE(e.view.lines.empty());
  e.form.Cmd_Next_Click();  // an empty queue: the display opens and shows nothing
  e.Queue(2, "Ann");
  EXPECT_EQ(e.main.dialogs.prompts, std::vector<std::string>{"Singer Name"});
  EXPECT_TRUE(e.view.lines.empty());  // until the timer ticks
  e.form.Timer1_Timer();
  EXPECT_EQ(e.view.lines, (std::vector<std::string>{"Ann - 1002 - Song 2"}));
  EXPECT_EQ(e.view.selected, 0);
  EXPECT_EQ(e.singers[1].Song.Artist, "Artist 2");  // the whole row travels with the singer
  e.Queue(4, "Bob");
  e.Queue(5, "");  // an empty name adds nothing
  e.Queue(1, "Cy");
  e.Queue(3, "Dee");
  e.form.Timer1_Timer();
  ASSERT_EQ(e.view.lines.size(), 4u);
  e.form.Cmd_Next_Click();  // the head of the queue, whichever line is selected
  EXPECT_EQ(e.display.calls, (std::vector<std::string>{"show", "show", "singer 1", "redraw"}));
  e.display.calls.clear();

  // A middle, the first, the last and the only singer, each taking its line and closing the display.
  const struct {
    int line;
    std::vector<std::string> left;
  } removals[] = {{1, {"Ann - 1002 - Song 2", "Cy - 1001 - Song 1", "Dee - 1003 - Song 3"}},
                  {0, {"Cy - 1001 - Song 1", "Dee - 1003 - Song 3"}},
                  {1, {"Cy - 1001 - Song 1"}},
                  {0, {}}};
  for (const auto& r : removals) {
    e.view.selected = r.line;
    e.form.Cmd_Remove_Click();
    EXPECT_EQ(e.view.lines, r.left);
    ASSERT_EQ(e.singers.count(), static_cast<int>(r.left.size()));
    for (int i = 1; i <= e.singers.count(); ++i) EXPECT_EQ(e.singers.Line(i), r.left[i - 1]);
  }
  e.form.Cmd_Remove_Click();  // nothing left: only the display closes
  EXPECT_EQ(e.display.calls, std::vector<std::string>(5, "close"));

  // The singers window not in use: Enter copies the number and asks nothing.
  e.main.logic.Switches.Singers = false;
  e.Queue(3, "Eve");
  EXPECT_TRUE(e.singers.empty());
  EXPECT_EQ(e.main.dialogs.clipboard, "1003");
  EXPECT_EQ(e.main.dialogs.prompts.size(), 5u) << "the five queued while it was in use";
}

TEST(Frm_Singers, PlacementLayoutPopupAndHide) {
  Evening e;
  e.saved = WindowRect{3000, 0, -5, 1200};  // 0 or less keeps the designed value
  e.form.Form_Load(FontSpec{});
  EXPECT_EQ(e.view.placement, (WindowRect{3000, kSingersDesignHeight, 600, 1200}));
  e.form.Form_Resize();
  ASSERT_EQ(e.view.controls.size(), 3u);
  EXPECT_EQ(e.view.controls[0], (WindowRect{2950, kSingersDesignHeight - 425, 0, 0}));
  EXPECT_EQ(e.view.controls[1], (WindowRect{1450, 375, kSingersDesignHeight - 375, 0}));
  EXPECT_EQ(e.view.controls[2], (WindowRect{1450, 375, kSingersDesignHeight - 375, 1550}));
  e.form.List1_MouseDown(MouseButton::kLeft);
  e.form.List1_MouseDown(MouseButton::kRight);
  EXPECT_EQ(e.view.menus, 1);
  e.view.placement.Left = 4000;
  e.form.Mnu_File_Hide_Click();
  EXPECT_FALSE(e.view.open);
  EXPECT_FALSE(e.main.logic.Switches.Singers);
  EXPECT_EQ(e.saved, (WindowRect{3000, kSingersDesignHeight, 600, 4000}));
}

TEST(Frm_Singers, SaveAndLoadThroughTheDialogs) {
  Evening e;
  e.form.Form_Load(FontSpec{});
  e.Queue(1, "Ann, \"Annie\"");
  e.Queue(2, "Bob");
  ScratchDir dir;
  const std::string path = dir.File("night.sng");
  ScriptedDialogHost& d = e.main.dialogs;
  e.form.Mnu_File_Save_Click();  // cancelled
  EXPECT_FALSE(std::filesystem::exists(path));
  d.save_answers = {path, path, path};
  e.form.Mnu_File_Save_Click();
  d.box_answers = {BoxAnswer::kNo, BoxAnswer::kYes};
  e.Queue(3, "Cy");
  e.form.Mnu_File_Save_Click();  // exists, "No": the file keeps two singers
  EXPECT_EQ(d.messages, (std::vector<std::string>{"File exists, overwrite it?"}));
  d.open_answers = {FileList{"", path}};
  e.form.Mnu_File_Load_Click();
  EXPECT_EQ(e.view.lines, (std::vector<std::string>{"Ann, \"Annie\" - 1001 - Song 1", "Bob - 1002 - Song 2"}));
  e.form.Mnu_File_Save_Click();  // "Yes"
  EXPECT_EQ(d.messages.size(), 2u);

  // A broken file: refused with its line named, queue and lines unchanged.
  std::ofstream(dir.File("bad.sng"), std::ios::binary) << "\"Ann\",1,\"A\"\r\n\"Bob\",x,\"B\"\r\n";
  d.open_answers = {FileList{"", dir.File("bad.sng")}, FileList{""}};
  e.form.Mnu_File_Load_Click();
  ASSERT_EQ(d.messages.size(), 3u);
  EXPECT_NE(d.messages.back().find("line 2"), std::string::npos);
  e.form.Mnu_File_Load_Click();  // cancelled
  EXPECT_EQ(e.singers.count(), 2);
  EXPECT_EQ(e.view.lines.size(), 2u);
}

}  // namespace
}  // namespace velloran_test
