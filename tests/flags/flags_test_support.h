// A main window whose list commands are the real favourites and print flags, on a demo
// catalogue built for the test in a scratch folder.
#pragma once

#include "app/demo_catalogue.h"
#include "app/program.h"
#include "flags/song_flags.h"
#include "tests/admin/admin_support.h"

namespace velloran_test {

struct FlagsWindow {
  RecordingMainSurface surface;
  RecordingView view;
  ScriptedHost host;
  ScriptedDialogHost dialogs;
  SongFlags commands{dialogs};
  MainWindowLogic logic{surface, view, host, dialogs, commands};
  Program program;

  FlagsWindow(const std::string& folder, const std::string& database)
      : program(logic, view, dialogs, commands, folder, FontSpec{"DejaVu Sans", 8, false, false, false}) {
    commands.Attach(logic);
    program.Form_Load("velloran", "", database);
  }
  // A key pressed on the list's row `row` (0: the current one).
  void Key(int16_t code, int16_t shift, int row = 0) {
    if (row) logic.CurrentRow = row;
    logic.Form_KeyDown(code, shift);
  }
  // Lists the songs with IDs first..last, in ID order, in list mode on the first row.
  void List(int first, int last) {
    logic.form.GetSongs("SELECT * FROM [Songs] WHERE [ID]>=" + std::to_string(first) + " AND [ID]<=" +
                            std::to_string(last), "[ID]");
    logic.CurrentRow = 1;
  }
};

// What the file holds for one song, read by ID on a connection of its own.
struct StoredSong { std::string lists; bool print = false; };
inline StoredSong Stored(const std::string& database, int32_t id) {
  auto db = velloran::Connection::Open(database);
  auto rows = db->OpenRecordset("SELECT * FROM [Songs] WHERE [ID]=" + std::to_string(id));
  return {rows->Field("HotlistA").ToText(), rows->Field("PrintYN").ToBool()};
}

// The song number the demo catalogue gives the song with this ID.
inline std::string Number(int id) { return std::to_string(MakeDemoSong(id - 1).number); }

struct FlagsTest : ::testing::Test {
  static constexpr int kSongs = 40;
  ScratchDir scratch;
  std::string database = scratch.File("songs.mdb");
  void SetUp() override { ASSERT_TRUE(BuildDemoCatalogue(database, kSongs).ok()); }
};

}  // namespace velloran_test
