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
  KaraokeWindow k;
  const std::string original = k.folder.CopyFixture("access/testV1997.mdb", "songs97.mdb");
  const std::string bytes = ReadWholeFile(original);
  // Its Table1 holds every mapped field, but not the program's own: the check must add them.
  const DatabaseEntry entry{original, "Table1", "A", "B", "E", "A"};
  k.Use(entry);

  // Adding songs and the check's repair both ask; No changes nothing.
  ScriptedDialogHost dialogs;
  dialogs.box_answers = {BoxAnswer::kNo};
  Frm_AddRecords add{k.form.Databases, k.host, dialogs};
  EXPECT_FALSE(add.Form_Load());
  k.host.answers = {MessageAnswer::kNo};
  EXPECT_FALSE(k.form.CheckDatabase());
  EXPECT_EQ(dialogs.messages, k.host.messages);  // the same question from both
  const std::string asked = k.host.messages.at(0);
  EXPECT_NE(asked.find("songs97.mdb is an Access 97 database"), std::string::npos) << asked;
  EXPECT_NE(asked.find("songs97 (Access 2000).mdb"), std::string::npos) << asked;
  EXPECT_EQ(k.form.Databases.current(), entry);
  EXPECT_EQ(NamesIn(k.folder.path()), std::set<std::string>{"songs97.mdb"});

  // Yes: the copy takes the original's place, is repaired by the check and searches.
  k.host.answers = {MessageAnswer::kYes};
  ASSERT_TRUE(k.form.CheckDatabase()) << (k.host.messages.empty() ? "" : k.host.messages.back());
  const std::string copy = k.folder.File("songs97 (Access 2000).mdb");
  EXPECT_EQ(k.form.Databases.current().Database, copy);
  EXPECT_EQ(ReadWholeFile(original), bytes);
  EXPECT_TRUE(PassesJetCheck(copy));
  k.form.GetSongs("SELECT * FROM [Table1]", "[ID]");
  EXPECT_EQ(k.form.Results.count(), 2);
  // The next conversion of the same original does not take the first copy's name.
  EXPECT_EQ(ConvertedPath(original), k.folder.File("songs97 (Access 2000) 2.mdb"));
}

}  // namespace
}  // namespace velloran_test
