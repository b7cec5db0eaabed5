// The singers window and the next-singer display as real windows on Qt's offscreen platform
// with two virtual screens side by side: queueing from the main window, "&Next Singer", the
// display moved to the second screen and found there after a restart.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTest>
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
  void SetUp() override { std::filesystem::create_directories(settings); }
  std::unique_ptr<ProgramWindow> Start() {
    auto p = std::make_unique<ProgramWindow>(settings, &dialogs);
    p->Start("velloran", "velloran");
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&p->window));
    return p;
  }
  ScratchDir folder;
  std::string settings = folder.File("settings");
  ScriptedDialogHost dialogs;
};

TEST_F(SingerWindowsTest, QueueShowTheHeadAndRemove) {
  ASSERT_EQ(QGuiApplication::screens().size(), 2) << "the test runs with two virtual screens";
  auto p = Start();
  p->ToggleSingersWindow();
  ASSERT_NE(p->singers_window, nullptr);
  SingersWindow& sw = *p->singers_window;
  EXPECT_TRUE(QTest::qWaitForWindowExposed(&sw));
  ResultRow song;
  song.SongNumber = "1042";
  song.Song = "Yesterday";
  p->logic.form.Results.Grow(1) = song;
  p->logic.form.SearchVisible = false;
  p->logic.CurrentRow = 1;
  dialogs.prompt_answers = {"Ann"};
  int16_t enter = 13;
  p->logic.Form_KeyPress(enter);
  // The line appears at the next tick of the two-second timer.
  EXPECT_TRUE(QTest::qWaitFor([&] { return sw.list().count() == 1; }, 3000));
  EXPECT_EQ(sw.list().item(0)->text(), "Ann - 1042 - Yesterday");
  EXPECT_EQ(sw.list().currentRow(), 0);

  QTest::mouseClick(&sw.nextButton(), Qt::LeftButton);
  NextSingerWindow* display = p->next_singer.window();
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(display));
  EXPECT_EQ(display->logic().Singer, 1);
  Screenshot(sw, "singers");
  Screenshot(*display, "next_singer");

  QTest::mouseClick(&sw.removeButton(), Qt::LeftButton);
  EXPECT_EQ(sw.list().count(), 0);
  EXPECT_TRUE(p->singers.empty());
  EXPECT_TRUE(QTest::qWaitFor([&] { return p->next_singer.window() == nullptr; }, 1000));
  // "&Singers" off closes the window and clears its mark.
  p->ToggleSingersWindow();
  EXPECT_FALSE(p->logic.Switches.Singers);
  EXPECT_TRUE(QTest::qWaitFor([&] { return p->singers_window == nullptr; }, 1000));
}

TEST_F(SingerWindowsTest, TheDisplayComesBackOnTheSecondScreen) {
  const QRect second = QGuiApplication::screens().at(1)->geometry();
  {
    auto p = Start();
    p->next_singer.Show();
    NextSingerWindow* display = p->next_singer.window();
    ASSERT_NE(display, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(display));
    display->move(second.topLeft() + QPoint(40, 30));
    QTest::keyClick(display, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return p->next_singer.window() == nullptr; }, 1000));
    // Closing the main window ends the program: the singer windows go with it.
    p->ToggleSingersWindow();
    p->next_singer.Show();
    p->window.close();
    EXPECT_EQ(p->singers_window, nullptr);
    EXPECT_EQ(p->next_singer.window(), nullptr);
  }
  auto p = Start();
  p->next_singer.Show();
  NextSingerWindow* display = p->next_singer.window();
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(QTest::qWaitForWindowExposed(display));
  EXPECT_EQ(display->pos(), second.topLeft() + QPoint(40, 30));
  EXPECT_EQ(display->screen(), QGuiApplication::screens().at(1));
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

TEST_F(SingerWindowsTest, AboutShowsTheVersionAndAnInactiveEmptyLink) {
  auto p = Start();
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
