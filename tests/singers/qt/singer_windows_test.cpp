// The singers window and the next-singer display as real windows in the real program, on Qt's
// offscreen platform with two virtual screens side by side: queueing by Enter in the main window,
// the timer's refresh, "&Next Singer", removal, load and save, placement, layout and the popup's
// "&Hide"; the display dragged, its font chosen, its default font, moved to the second screen and
// found there after a restart.

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/qt/about_window.h"
#include "app/qt/program_window.h"
#include "tests/mainwindow/recording_window.h"
#include "tests/qt_test_support.h"

namespace velloran_test {
namespace {

class SingerWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(settings);
    Start();
  }
  // The program (again, once its main window has closed).
  void Start() {
    p.reset();
    p = std::make_unique<ProgramWindow>(settings, &dialogs);
    p->Start("velloran", "velloran");
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&p->window));
  }
  // The singers window opened over five songs in the main window's list: 1001 "Song 1" "Artist 1"..
  SingersWindow& OpenOverFiveSongs() {
    ListRows(p->logic, 5);
    p->ToggleSingersWindow();
    return *p->singers_window;
  }
  // Enter on row `row` of the main window's list, the host typing `name` when asked for one.
  void Queue(int row, const std::string& name) {
    p->logic.CurrentRow = row;
    dialogs.prompt_answers.push_back(name);
    int16_t enter = 13;
    p->logic.Form_KeyPress(enter);
  }
  static std::vector<std::string> Lines(const QListWidget& list) {
    std::vector<std::string> lines;
    for (int i = 0; i < list.count(); ++i) lines.push_back(list.item(i)->text().toStdString());
    return lines;
  }
  // Right-clicks `target` and picks the item with the mnemonic `key` from the popup menu that opens.
  static void PickFromPopup(QWidget* target, Qt::Key key) {
    QTimer::singleShot(0, [key] {
      if (QWidget* menu = QApplication::activePopupWidget()) QTest::keyClick(menu, key);
    });
    QTest::mouseClick(target, Qt::RightButton);
  }
  ScratchDir folder;
  std::string settings = folder.File("settings");
  ScriptedDialogHost dialogs;
  std::unique_ptr<ProgramWindow> p;
};

TEST_F(SingerWindowsTest, QueuedByEnterShownAtTheTickCalledAndRemoved) {
  SingersWindow& sw = OpenOverFiveSongs();
  const std::pair<int, const char*> queued[] = {{2, "Ann"}, {4, "Bob"}, {5, ""}, {1, "Cy"}, {3, "Dee"}};
  for (const auto& [row, name] : queued) Queue(row, name);  // an empty name adds nothing
  // The lines appear at the next tick of the two-second timer, the first one selected.
  EXPECT_TRUE(QTest::qWaitFor([&] { return sw.list().count() == 4; }, 3000));
  EXPECT_EQ(sw.list().currentRow(), 0);
  EXPECT_EQ(p->singers[1].Song.Artist, "Artist 2");  // the whole row travels with the singer
  sw.list().setCurrentRow(2);
  QTest::mouseClick(&sw.nextButton(), Qt::LeftButton);  // the head of the queue, whichever line is selected
  ASSERT_NE(p->next_singer.window(), nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(p->next_singer.window()));
  NextSingerWindow& display = *p->next_singer.window();
  EXPECT_EQ(display.logic().Singer, 1);
  const QImage shown = display.grab().toImage();
  QImage blank = shown;
  blank.fill(shown.pixel(0, 0));
  EXPECT_NE(shown, blank) << "the singer is drawn";

  // A middle, the first, the last and the only singer, each taking its line; the display closes.
  const struct { int line; std::vector<std::string> left; } removals[] = {
      {1, {"Ann - 1002 - Song 2", "Cy - 1001 - Song 1", "Dee - 1003 - Song 3"}},
      {0, {"Cy - 1001 - Song 1", "Dee - 1003 - Song 3"}}, {1, {"Cy - 1001 - Song 1"}}, {0, {}}};
  for (const auto& r : removals) {
    sw.list().setCurrentRow(r.line);
    QTest::mouseClick(&sw.removeButton(), Qt::LeftButton);
    EXPECT_EQ(Lines(sw.list()), r.left);
    ASSERT_EQ(p->singers.count(), static_cast<int>(r.left.size()));
    for (int i = 1; i <= p->singers.count(); ++i) EXPECT_EQ(p->singers.Line(i), r.left[i - 1]);
  }
  QTest::mouseClick(&sw.removeButton(), Qt::LeftButton);  // nothing left to remove
  EXPECT_TRUE(QTest::qWaitFor([&] { return p->next_singer.window() == nullptr; }, 1000));

  // "&Singers" off closes the window; Enter then asks for no name (it copies the number, as always).
  p->ToggleSingersWindow();
  EXPECT_TRUE(QTest::qWaitFor([&] { return p->singers_window == nullptr; }, 1000));
  Queue(3, "Eve");
  EXPECT_TRUE(p->singers.empty());
  EXPECT_EQ(dialogs.prompts, std::vector<std::string>(5, "Singer Name")) << "none while the window was closed";
}

TEST_F(SingerWindowsTest, PlacedFromTheSettingsLaidOutAndHiddenFromItsPopup) {
  p->program.KeptSettings().SingerWindow = WindowRect{3000, 0, -5, 1200};  // 0 or less: the designed value
  p->logic.Display[0].ListFont = FontSpec{"Serif", 14, true, false, false};
  SingersWindow& sw = OpenOverFiveSongs();
  // At 96 dots an inch, 15 twips a pixel.
  EXPECT_EQ(std::pair(sw.size(), sw.x()), std::pair(QSize(200, kSingersDesignHeight / 15), 80));
  EXPECT_EQ(std::pair(sw.list().font().pointSize(), sw.list().font().bold()), std::pair(14, true));
  // The list fills the window but for a margin; the two buttons share the line under it.
  EXPECT_EQ(sw.list().geometry(), QRect(0, 0, 197, 303));
  EXPECT_EQ(sw.nextButton().geometry(), QRect(0, 306, 97, 25));
  EXPECT_EQ(sw.removeButton().geometry(), QRect(103, 306, 97, 25));

  sw.move(300, 45);
  PickFromPopup(sw.list().viewport(), Qt::Key_H);  // "&Hide"
  EXPECT_FALSE(p->logic.Switches.Singers);
  EXPECT_EQ(p->program.KeptSettings().SingerWindow, (WindowRect{3000, kSingersDesignHeight, 675, 4500}));
}

TEST_F(SingerWindowsTest, SavedAndLoadedThroughTheDialogs) {
  SingersWindow& sw = OpenOverFiveSongs();
  Frm_Singers& form = sw.logic();
  Queue(1, "Ann, \"Annie\"");
  Queue(2, "Bob");
  const std::string path = folder.File("night.sng"), bad = folder.File("bad.sng");
  form.Mnu_File_Save_Click();  // cancelled
  EXPECT_FALSE(std::filesystem::exists(path));
  dialogs.save_answers = {path, path, path};
  dialogs.box_answers = {BoxAnswer::kNo, BoxAnswer::kYes};
  form.Mnu_File_Save_Click();
  Queue(3, "Cy");
  form.Mnu_File_Save_Click();  // the file exists: "No" keeps it as it was
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"File exists, overwrite it?"}));
  std::ofstream(bad, std::ios::binary) << "\"Ann\",1,\"A\"\r\n\"Bob\",x,\"B\"\r\n";
  dialogs.open_answers = {FileList{"", path}, FileList{"", bad}};
  form.Mnu_File_Load_Click();
  EXPECT_EQ(Lines(sw.list()), (std::vector<std::string>{"Ann, \"Annie\" - 1001 - Song 1", "Bob - 1002 - Song 2"}));
  Queue(3, "Cy");
  form.Mnu_File_Save_Click();  // "Yes"
  EXPECT_EQ(ReadWholeFile(path), p->singers.Format());
  form.Mnu_File_Load_Click();  // a broken file: refused, saying why
  form.Mnu_File_Load_Click();  // cancelled: nothing to say
  EXPECT_EQ(dialogs.messages.size(), 3u);
}

TEST_F(SingerWindowsTest, TheDisplayIsDraggedAndComesBackOnTheSecondScreen) {
  ASSERT_EQ(QGuiApplication::screens().size(), 2) << "the test runs with two virtual screens";
  const QRect second = QGuiApplication::screens().at(1)->geometry();
  p->next_singer.Show();
  NextSingerWindow* display = p->next_singer.window();
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(display));
  display->move(second.topLeft() + QPoint(10, 20));
  // Dragged by its surface with the left button held: 30 pixels right, 10 down.
  QTest::mousePress(display, Qt::LeftButton, {}, QPoint(50, 50));
  QTest::mouseMove(display, QPoint(80, 60));
  QTest::mouseRelease(display, Qt::LeftButton, {}, QPoint(80, 60));
  EXPECT_EQ(display->pos(), second.topLeft() + QPoint(40, 30));
  // Its popup's "&Font": kept in the settings and on the screen at once, not at the next resize.
  p->singers.Append("Ann", ResultRow{1, "", "7", "Help!", "", false});
  p->next_singer.SetSinger(1);
  p->next_singer.ReDraw();
  const float before = display->surface().TextHeight("A");
  dialogs.font_answers = {FontSpec{"Mono", 72, false, false, true}};
  PickFromPopup(display, Qt::Key_F);
  EXPECT_EQ(p->program.KeptSettings().NextSingerFont.Size, 72);
  EXPECT_GT(display->surface().TextHeight("A"), before);
  // Closing a popup repaints the window beneath on this platform, hiding whether the command
  // itself shows its drawing: called directly, the screen must show the new size all the same.
  dialogs.font_answers = {FontSpec{"Mono", 36, false, false, false}};
  display->logic().Mnu_Font_Click();
  const QImage on_screen = display->screen()->grabWindow(display->winId()).toImage();
  EXPECT_EQ(on_screen.convertToFormat(QImage::Format_RGB32), display->surface().image().convertToFormat(QImage::Format_RGB32));
  QTest::keyClick(display, Qt::Key_Escape);
  EXPECT_TRUE(QTest::qWaitFor([&] { return p->next_singer.window() == nullptr; }, 1000));
  // Closing the main window ends the program: the singer windows go with it.
  p->ToggleSingersWindow();
  p->next_singer.Show();
  p->window.close();
  EXPECT_EQ(p->singers_window, nullptr);
  EXPECT_EQ(p->next_singer.window(), nullptr);
  Start();
  p->next_singer.Show();
  display = p->next_singer.window();
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(display));
  EXPECT_EQ(display->pos(), second.topLeft() + QPoint(40, 30));
  // Full screen fills the second screen.
  display->logic().Singer = 0;
  display->SetFullScreen(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return display->geometry() == second; }, 2000)) << display->geometry().x();
  display->SetFullScreen(false);
  EXPECT_TRUE(QTest::qWaitFor([&] { return display->geometry() != second; }, 2000));
  // A place on no screen (the screen was unplugged): the main screen instead.
  display->SetPlacement(WindowRect{3000, 2000, 99999, 99999});
  EXPECT_EQ(display->pos(), QGuiApplication::primaryScreen()->availableGeometry().topLeft());
}

TEST_F(SingerWindowsTest, TheDefaultFontShowsAnOrdinaryNameAndTitleWhole) {
  ASSERT_EQ(p->program.KeptSettings().NextSingerFont, FontSpec{}) << "no font chosen yet";
  p->singers.Append("Bob, the \"Rocker\"", ResultRow{1, "", "6001", "Total Eclipse of the Heart", "", false});
  p->singers.Append("Ann", ResultRow{2, "", "6002", "Heart like a Love", "", false});
  p->next_singer.Show();
  NextSingerWindow* display = p->next_singer.window();
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(display));
  for (int16_t slot : {1, 2}) {
    p->next_singer.SetSinger(slot);
    p->next_singer.ReDraw();
    // Nothing drawn in the outermost columns: neither line runs off an edge.
    const QImage shown = display->grab().toImage();
    const QRgb background = shown.pixel(0, 0);
    int inked = 0;
    for (int x : {0, shown.width() - 1})
      for (int y = 0; y < shown.height(); ++y) inked += shown.pixel(x, y) != background;
    EXPECT_EQ(inked, 0) << p->singers[slot].Song.Song;
    EXPECT_GE(display->surface().TextHeight("A"), 20 * 20) << "still big letters: 20 points or more";
  }
  Screenshot(*display, "next-singer-default");
}

TEST_F(SingerWindowsTest, AboutShowsTheVersionAndAnInactiveEmptyLink) {
  AboutWindow about(&p->window, dialogs);
  about.show();
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&about));
  EXPECT_EQ(about.windowTitle(), "About Velloran");
  EXPECT_EQ(about.findChild<QLabel*>("Lbl_Version")->text(), "Version 2.00.0014");
  EXPECT_TRUE(about.wwwLabel().text().isEmpty());
  Screenshot(about, "about");
}

}  // namespace
}  // namespace velloran_test

int main(int argc, char** argv) {
  // Two screens side by side on the offscreen platform: the main one and a larger one right of it.
  const std::string config = (std::filesystem::temp_directory_path() /
                              ("velloran-two-screens-" + std::to_string(::getpid()) + ".json")).string();
  std::ofstream(config) << R"({"screens": [
    {"name": "main", "x": 0, "y": 0, "width": 1024, "height": 768, "logicalDpi": 96, "dpr": 1},
    {"name": "stage", "x": 1024, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96, "dpr": 1}]})";
  setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
  QApplication app(argc, argv);
  std::filesystem::remove(config);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
