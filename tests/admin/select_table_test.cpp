// The table and field selector on generated databases: what the list and the four boxes show,
// which state "&OK" is in, and what each button writes into the entry and the file.
#include "admin/frm_select_table.h"

#include <map>

#include "tests/admin/admin_support.h"

namespace velloran_test {
namespace {

struct Selector : OneDatabase {
  std::unique_ptr<Frm_SelectTable> form;

  // A database with the tables given, each with the fields given.
  explicit Selector(const std::vector<std::pair<std::string, std::vector<NewField>>>& tables) {
    Connection::Create(path);
    std::unique_ptr<Connection> db = Connection::Open(path);
    for (const auto& [name, fields] : tables) db->CreateTable(name, fields);
  }
  void Load() {
    form = std::make_unique<Frm_SelectTable>(list, host, dialogs);
    ASSERT_TRUE(form->Form_Load());
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const FieldBox& b : form->Cmb_Fields) out.push_back(b.text);
    return out;
  }
  const DatabaseEntry& Entry() const { return list.current(); }
};

TEST(SelectTable, NoTablesThenCreateOneAndItsFields) {
  Selector s({});
  s.Load();
  EXPECT_EQ(s.form->Lbl_Database, s.path);
  EXPECT_TRUE(s.form->List1.empty());
  for (const FieldBox& box : s.form->Cmb_Fields)
    EXPECT_EQ(box.items, std::vector<std::string>{Frm_SelectTable::kPlaceholderAfterLoad});
  s.form->Cmd_CreateFields_Click();  // no table: nothing
  s.form->Cmd_Delete_Click();
  EXPECT_TRUE(s.dialogs.messages.empty());

  s.dialogs.prompt_answers = {"", "Karaoke"};
  s.form->Cmd_CreateNewTable_Click();  // cancelled
  s.form->Cmd_CreateNewTable_Click();
  EXPECT_EQ(s.dialogs.prompts, (std::vector<std::string>{"Enter name for new table", "Enter name for new table"}));
  EXPECT_EQ(s.form->List1, std::vector<std::string>{"Karaoke"});
  // Only the program's own fields so far: every role still wants its field.
  EXPECT_EQ(s.Texts(), std::vector<std::string>(4, Frm_SelectTable::kPlaceholder));
  EXPECT_FALSE(s.form->OkEnabled);
  EXPECT_FALSE(s.form->Cmd_OK_Click());
  EXPECT_NE(s.dialogs.messages.back().find("No field is chosen for \"Song Number\""), std::string::npos);
  EXPECT_EQ(s.Entry().SongNumberField, "SongNumber");  // nothing stored

  // One name typed by the user, three defaults.
  s.form->Cmb_Fields[3].Type("Singer");
  s.form->Cmd_CreateFields_Click();
  EXPECT_EQ(s.Texts(), (std::vector<std::string>{"SongNumber", "DiskID", "Song", "Singer"}));
  EXPECT_TRUE(s.form->OkEnabled);
  ASSERT_TRUE(s.form->Cmd_OK_Click());
  EXPECT_EQ(s.Entry(), (DatabaseEntry{s.path, "Karaoke", "Singer", "Song", "SongNumber", "DiskID"}));

  std::map<std::string, FieldType> fields;
  for (const FieldInfo& f : Connection::Open(s.path)->TableDef("Karaoke").fields) fields[f.name] = f.type;
  EXPECT_EQ(std::vector({fields["SongNumber"], fields["Singer"]}), std::vector({FieldType::kLong, FieldType::kText}));
  EXPECT_TRUE(PassesJetCheck(s.path));
}

TEST(SelectTable, MappedFieldsFoundInOtherLetterCaseAMissingRoleAndDeletingTheTableInUse) {
  Selector s({{"Songs", {{"songnumber"}, {"DISKID"}, {"Song"}, {"Title"}}}, {"Other", {{"X"}}}});
  s.Load();
  EXPECT_EQ(s.form->List1, (std::vector<std::string>{"Songs", "Other"}));
  EXPECT_EQ(s.form->Cmb_Fields[0].items,
            (std::vector<std::string>{Frm_SelectTable::kPlaceholder, "songnumber", "DISKID", "Song", "Title"}));
  // The entry's letter case is shown; the artist field is missing.
  EXPECT_EQ(s.Texts(), (std::vector<std::string>{"SongNumber", "DiskID", "Song", Frm_SelectTable::kPlaceholder}));
  EXPECT_FALSE(s.form->OkEnabled);

  // Choosing another table and closing with the close box keeps the field names.
  s.form->List1_Click(1);
  s.form->Form_Unload();
  EXPECT_EQ(s.Entry(), (DatabaseEntry{s.path, "Other", "Artist", "Song", "SongNumber", "DiskID"}));

  s.Load();
  s.form->Cmb_Fields[3].Select(4);  // "Title" plays the artist
  EXPECT_FALSE(s.form->OkEnabled);  // only a table choice changes the button
  ASSERT_TRUE(s.form->Cmd_OK_Click());
  EXPECT_EQ(s.Entry(), (DatabaseEntry{s.path, "Songs", "Title", "Song", "SongNumber", "DiskID"}));

  // Every role found: "&OK" is on from the start. Then the table in use is deleted.
  s.Load();
  EXPECT_TRUE(s.form->OkEnabled);
  s.dialogs.box_answers = {BoxAnswer::kNo};
  s.form->Cmd_Delete_Click();
  EXPECT_EQ(s.dialogs.messages.back(), "Are you sure you want to delete this table?\r\nAll data in the table will be lost!");
  EXPECT_EQ(s.form->List1.size(), 2u);

  s.dialogs.box_answers = {BoxAnswer::kYes, BoxAnswer::kYes};
  s.form->Cmd_Delete_Click();
  EXPECT_EQ(s.form->List1, std::vector<std::string>{"Other"});
  EXPECT_EQ(s.Entry().Table, "Other");
  s.form->Cmd_Delete_Click();
  EXPECT_TRUE(s.form->List1.empty());
  EXPECT_EQ(s.Entry().Table, "Other");  // the last table's name stays
  s.form->Form_Unload();
  EXPECT_TRUE(PassesJetCheck(s.path));
}

}  // namespace
}  // namespace velloran_test
