// The table and field selector, "Table/Field Selection", without widgets: which table of the
// current database holds the songs and which of its fields play the four roles. It creates and
// deletes tables and creates the fields a role lacks. It works straight on the current entry of
// the database list; what it writes stays written when it closes. The Qt window (qt/) shows this
// state and forwards clicks; tests drive it directly.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/catalogue_host.h"
#include "catalogue/database_list.h"
#include "catalogue/engine.h"
#include "platform/dialog_host.h"

namespace velloran {

// An editable drop-down box: its items, the item chosen (-1 while the text is typed) and the text.
struct FieldBox {
  std::vector<std::string> items;
  int selected = -1;
  std::string text;

  void Fill(const std::string& placeholder);
  void Select(int index);
  void Type(const std::string& typed);
  bool PlaceholderSelected() const { return selected == 0; }
};

class Frm_SelectTable {
 public:
  static constexpr const char* kCaption = "Table/Field Selection";
  static constexpr const char* kInstructions =
      "Select existing fields from the table if available, otherwise leave as (Create New Field) then click the button "
      "below.";
  // The first item of every box; the first text after ShowTables, the second after a table has
  // been chosen. Both stand for a field still to be created.
  static constexpr const char* kPlaceholderAfterLoad = "(Create a new field)";
  static constexpr const char* kPlaceholder = "(Create new field)";
  static const std::array<const char*, 4> kRoleCaptions;

  Frm_SelectTable(DatabaseList& databases, CatalogueHost& host, DialogHost& dialogs)
      : databases_(databases), host_(host), dialogs_(dialogs) {}
  ~Frm_SelectTable() { Form_Unload(); }

  // Opens the window's own connection on the current entry's file; false (after telling the
  // user) when it cannot be opened, and the window then does not show.
  bool Form_Load();
  void Form_Unload();
  void ShowTables();
  // The user chose table `index` of the list.
  void List1_Click(int index);
  void Cmd_CreateFields_Click();
  void Cmd_CreateNewTable_Click();
  void Cmd_Delete_Click();
  // True when the window closes; false when a box still names no field (the user is told).
  bool Cmd_OK_Click();

  // What the window shows.
  std::string Lbl_Database;
  std::vector<std::string> List1;
  int ListIndex = -1;
  std::array<FieldBox, 4> Cmb_Fields;
  bool OkEnabled = false;

 private:
  std::string& RoleField(int role);
  // Runs a step that uses the engine; an engine error is shown instead of ending the program.
  template <typename Step>
  void Guarded(Step step);
  void Reopen();

  DatabaseList& databases_;
  CatalogueHost& host_;
  DialogHost& dialogs_;
  std::unique_ptr<Connection> db_;
};

}  // namespace velloran
