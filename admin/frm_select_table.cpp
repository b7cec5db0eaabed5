#include "admin/frm_select_table.h"

#include "admin/database_menu.h"
#include "catalogue/catalogue_design.h"

namespace velloran {

namespace {

const std::array<const char*, 4> kDefaultNames = {"SongNumber", "DiskID", "Song", "Artist"};

// What no field can be named: a placeholder, or nothing but blanks.
bool NamesNoField(const std::string& text) {
  return text == Frm_SelectTable::kPlaceholder || text == Frm_SelectTable::kPlaceholderAfterLoad ||
         text.find_first_not_of(' ') == std::string::npos;
}

}  // namespace

const std::array<const char*, 4> Frm_SelectTable::kRoleCaptions = {"Song Number", "Disk ID", "Song", "Artist"};

void FieldBox::Fill(const std::string& placeholder) {
  items.assign(1, placeholder);
  Select(0);
}

void FieldBox::Select(int index) {
  selected = index;
  text = index >= 0 && index < static_cast<int>(items.size()) ? items[static_cast<size_t>(index)] : std::string();
}

void FieldBox::Type(const std::string& typed) {
  text = typed;
  selected = -1;
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i] == typed) selected = static_cast<int>(i);
}

template <typename Step>
void Frm_SelectTable::Guarded(Step step) {
  // A step that would change an Access 97 catalogue offers to convert it first; once converted,
  // the window works on the new file.
  try {
    ChangeOrOfferConversion(databases_.current(), AskInMessageBoxes(dialogs_, ""), [&] {
      if (databases_.current().Database != Lbl_Database) {
        Lbl_Database = databases_.current().Database;
        Reopen();
      }
      step();
    });
  } catch (const EngineError& e) {
    dialogs_.MessageBox(std::string(e.what()) + " The database was left as the engine had it before this step.",
                        BoxButtons::kOk, BoxIcon::kWarning, "");
  }
}

std::string& Frm_SelectTable::RoleField(int role) {
  DatabaseEntry& entry = databases_.current();
  switch (role) {
    case 0: return entry.SongNumberField;
    case 1: return entry.DiskIDField;
    case 2: return entry.SongField;
    default: return entry.ArtistField;
  }
}

bool Frm_SelectTable::Form_Load() {
  Lbl_Database = databases_.current().Database;
  try {
    db_ = Connection::Open(Lbl_Database);
  } catch (const EngineError& e) {
    dialogs_.MessageBox("The database " + Lbl_Database + " could not be opened: " + e.what(), BoxButtons::kOk,
                        BoxIcon::kWarning, "");
    return false;
  }
  Guarded([&] { ShowTables(); });
  return true;
}

void Frm_SelectTable::Form_Unload() {
  if (db_ != nullptr) db_->Close();
  db_.reset();
}

void Frm_SelectTable::ShowTables() {
  for (FieldBox& box : Cmb_Fields) box.Fill(kPlaceholderAfterLoad);
  List1.clear();
  ListIndex = -1;
  if (db_ == nullptr) return;
  db_->RefreshTableDefs();
  // Only ordinary local tables: system, hidden and linked tables carry attribute flags.
  for (const TableInfo& table : db_->TableDefs())
    if (table.attributes == 0) List1.push_back(table.name);
  if (!List1.empty()) List1_Click(0);
}

void Frm_SelectTable::List1_Click(int index) {
  if (index < 0 || index >= static_cast<int>(List1.size()) || db_ == nullptr) return;
  ListIndex = index;
  DatabaseEntry& entry = databases_.current();
  entry.Table = List1[static_cast<size_t>(index)];
  for (FieldBox& box : Cmb_Fields) box.Fill(kPlaceholder);
  Guarded([&] {
    std::unique_ptr<Recordset> rows = db_->OpenRecordset(entry.Table);
    for (const FieldInfo& field : rows->Fields())
      for (FieldBox& box : Cmb_Fields) box.items.push_back(field.name);
    rows->Close();
    CatalogueDesign design(*db_, host_);
    for (int role = 0; role < 4; ++role) {
      FieldBox& box = Cmb_Fields[static_cast<size_t>(role)];
      // The entry's name is shown as the entry writes it, even where the table's differs in case.
      if (design.FieldExists(entry.Table, RoleField(role))) {
        box.Type(RoleField(role));
      } else {
        box.Select(0);
      }
    }
  });
  OkEnabled = true;
  for (const FieldBox& box : Cmb_Fields) {
    if (box.PlaceholderSelected()) {
      OkEnabled = false;
      break;
    }
  }
}

void Frm_SelectTable::Cmd_CreateFields_Click() {
  if (ListIndex < 0 || db_ == nullptr) return;
  DatabaseEntry& entry = databases_.current();
  entry.Table = List1[static_cast<size_t>(ListIndex)];
  Guarded([&] {
    CatalogueDesign design(*db_, host_);
    for (int role = 0; role < 4; ++role) {
      const FieldBox& box = Cmb_Fields[static_cast<size_t>(role)];
      std::string& name = RoleField(role);
      name = box.PlaceholderSelected() || NamesNoField(box.text) ? kDefaultNames[role] : box.text;
      if (design.FieldExists(entry.Table, name)) continue;
      if (role == 0) {
        design.CreateField(entry.Table, name, kTypeLong);
      } else {
        design.CreateField(entry.Table, name, kTypeText, 255);
      }
    }
  });
  List1_Click(ListIndex);
}

void Frm_SelectTable::Cmd_CreateNewTable_Click() {
  const std::string name = dialogs_.Prompt("Enter name for new table", "", "");
  if (name.empty() || db_ == nullptr) return;
  Guarded([&] { CatalogueDesign(*db_, host_).PrepareTable(name, databases_.current().Fields()); });
  ShowTables();
  for (size_t i = 0; i < List1.size(); ++i)
    if (List1[i] == name) List1_Click(static_cast<int>(i));
}

void Frm_SelectTable::Reopen() {
  db_->Close();
  db_.reset();
  db_ = Connection::Open(databases_.current().Database);
}

void Frm_SelectTable::Cmd_Delete_Click() {
  if (ListIndex < 0 || db_ == nullptr) return;
  if (dialogs_.MessageBox("Are you sure you want to delete this table?\r\nAll data in the table will be lost!",
                          BoxButtons::kYesNo, BoxIcon::kQuestion, "") == BoxAnswer::kNo)
    return;
  Guarded([&] {
    db_->Execute("DROP TABLE [" + List1[static_cast<size_t>(ListIndex)] + "]");
    Reopen();
  });
  ShowTables();
}

bool Frm_SelectTable::Cmd_OK_Click() {
  // A placeholder or an empty box would be stored as a field name no table can have.
  for (size_t role = 0; role < 4; ++role) {
    if (NamesNoField(Cmb_Fields[role].text)) {
      dialogs_.MessageBox(std::string("No field is chosen for \"") + kRoleCaptions[role] +
                              "\". Choose one of the table's fields, or click \"Check/Create fields\" to create it.",
                          BoxButtons::kOk, BoxIcon::kWarning, "");
      return false;
    }
  }
  DatabaseEntry& entry = databases_.current();
  entry.Table = ListIndex >= 0 ? List1[static_cast<size_t>(ListIndex)] : std::string();
  for (int role = 0; role < 4; ++role) RoleField(role) = Cmb_Fields[static_cast<size_t>(role)].text;
  Form_Unload();
  return true;
}

}  // namespace velloran
