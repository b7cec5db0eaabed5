// The table and field selector on the desktop: the widgets show Frm_SelectTable's state and
// forward the user's clicks to it; the logic decides everything.
#pragma once

#include <QDialog>
#include <array>

#include "admin/frm_select_table.h"

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

namespace velloran {

class SelectTableWindow : public QDialog {
 public:
  SelectTableWindow(Frm_SelectTable& form, QWidget* owner);

  QListWidget* List1;
  std::array<QComboBox*, 4> Cmb_Fields;
  QPushButton *Cmd_CreateNewTable, *Cmd_Delete, *Cmd_CreateFields, *Cmd_OK;
  QLabel* Lbl_Database;

  // Shows the logic's state again after it changed.
  void Refresh();

 protected:
  void done(int result) override;

 private:
  void ReadBoxes();
  Frm_SelectTable& form_;
};

// Shows the selector for the current entry of `databases` modally; returns when it closes.
void ShowSelectTable(QWidget* owner, DatabaseList& databases, CatalogueHost& host, DialogHost& dialogs);

}  // namespace velloran
