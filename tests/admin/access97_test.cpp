// An Access 97 catalogue: the first command that would change it asks to convert it; No leaves the
// files and the database list as they were, Yes puts a checked Access 2000 copy beside the
// untouched original and in its place in the list.
#include "admin/frm_add_records.h"
#include "mainwindow/frm_karaoke.h"
#include "tests/admin/admin_support.h"

namespace velloran_test {
namespace {

TEST(Access97, ChangingACatalogueOffersAnAccess2000CopyAndNoKeepsEverything) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir dir;
  const std::string original = dir.CopyFixture("access/testV1997.mdb", "songs97.mdb");
  const std::string bytes = ReadWholeFile(original);
  // Its Table1 holds every mapped field, but not the program's own: the check must add them.
  const DatabaseEntry entry{original, "Table1", "A", "B", "E", "A"};
  ScriptedHost host;
  RecordingSurface surface;
  Frm_Karaoke form{surface, host};
  form.Databases.entries.push_back(entry);
  form.Databases.CurrentDB = 1;

  // Adding songs and the check's repair both ask; No changes nothing.
  ScriptedDialogHost dialogs;
  dialogs.box_answers = {BoxAnswer::kNo};
  Frm_AddRecords add{form.Databases, host, dialogs};
  EXPECT_FALSE(add.Form_Load());
  host.answers = {MessageAnswer::kNo};
  EXPECT_FALSE(form.CheckDatabase());
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_EQ(dialogs.messages[0], host.messages.at(0));
  EXPECT_NE(host.messages.back().find("songs97.mdb is an Access 97 database"), std::string::npos) << host.messages.back();
  EXPECT_NE(host.messages.back().find("songs97 (Access 2000).mdb"), std::string::npos) << host.messages.back();
  EXPECT_EQ(form.Databases.current(), entry);
  EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"songs97.mdb"});

  // Yes: the copy takes the original's place, is repaired by the check and searches.
  host.answers = {MessageAnswer::kYes};
  ASSERT_TRUE(form.CheckDatabase()) << (host.messages.empty() ? "" : host.messages.back());
  const std::string copy = dir.File("songs97 (Access 2000).mdb");
  EXPECT_EQ(form.Databases.current().Database, copy);
  EXPECT_EQ(ReadWholeFile(original), bytes);
  EXPECT_TRUE(PassesJetCheck(copy));
  form.GetSongs("SELECT * FROM [Table1]", "[ID]");
  EXPECT_EQ(form.Results.count(), 2);
  // The next conversion of the same original does not take the first copy's name.
  EXPECT_EQ(ConvertedPath(original), dir.File("songs97 (Access 2000) 2.mdb"));
}

}  // namespace
}  // namespace velloran_test
