// A catalogue changed by every favourites and print-flag command still reads the same in mdbtools:
// the rows rewritten in place by the keys, the whole-table updates of the clearing commands and
// the import's transaction must each leave a file other programs understand.
#include <fstream>

#include "tests/flags/flags_test_support.h"
#include "tests/jet/other_readers.h"

namespace velloran_test {
namespace {

constexpr int16_t kCtrl = 2, kAlt = 4;

TEST_F(FlagsTest, EveryCommandLeavesAFileMdbExportReadsAsWeDo) {
  if (!Have("mdb-export")) GTEST_SKIP() << "mdb-export (Debian mdbtools) is not installed";
  FlagsWindow w(scratch.path(), database);
  w.List(1, 12);
  for (int row = 1; row <= 12; row += 3) {
    w.logic.CurrentRow = row;
    w.Key('P', kAlt);
    w.Key(static_cast<int16_t>('1' + row % 9), kCtrl);
  }
  w.Key('P', kCtrl);
  w.logic.CurrentRow = 4;
  w.Key(vk::kDelete, kCtrl);
  w.dialogs.box_answers = {BoxAnswer::kYes};
  w.program.MenuCommand("Mnu_Print_Clear");
  w.dialogs.box_answers = {BoxAnswer::kNo, BoxAnswer::kYes};
  w.program.MenuCommand("Mnu_Favourites_Clear");
  ASSERT_EQ(Stored(database, 7).lists, "0000000000");
  const std::string file = scratch.path() + "/favs.txt";
  std::ofstream(file, std::ios::binary) << Stored(database, 3).number << ",1000000001\r\n"
                                        << Stored(database, 9).number << ",0000100000\r\n";
  w.dialogs.open_answers = {FileList{"", file}};
  w.dialogs.box_answers = {BoxAnswer::kNo};
  w.program.MenuCommand("Mnu_Favourites_Import");
  ASSERT_EQ(Stored(database, 3).lists, "1000000001");
  w.List(1, 12);
  w.Key('P', kCtrl);
  ExpectFileChecks(database);
  ExpectMdbExportAgrees(database, "Songs");
}

}  // namespace
}  // namespace velloran_test
