#include "admin/qt/select_table_window.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace velloran {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

SelectTableWindow::SelectTableWindow(Frm_SelectTable& form, QWidget* owner) : QDialog(owner), form_(form) {
  setWindowTitle(Frm_SelectTable::kCaption);
  setModal(true);
  auto* tables = new QGroupBox("Tables");
  List1 = new QListWidget;
  Cmd_CreateNewTable = new QPushButton("&Create table");
  Cmd_Delete = new QPushButton("&Delete table");
  auto* tables_layout = new QVBoxLayout(tables);
  tables_layout->addWidget(List1);
  tables_layout->addWidget(Cmd_CreateNewTable);
  tables_layout->addWidget(Cmd_Delete);

  auto* mapping = new QGroupBox("Field Mapping");
  auto* grid = new QGridLayout(mapping);
  for (int role = 0; role < 4; ++role) {
    QComboBox*& box = Cmb_Fields[static_cast<size_t>(role)];
    box = new QComboBox;
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    grid->addWidget(new QLabel(Frm_SelectTable::kRoleCaptions[static_cast<size_t>(role)]), role, 0);
    grid->addWidget(box, role, 1);
  }
  auto* instructions = new QLabel(Frm_SelectTable::kInstructions);
  instructions->setWordWrap(true);
  Cmd_CreateFields = new QPushButton("&Check/Create fields");
  grid->addWidget(instructions, 4, 0, 1, 2);
  grid->addWidget(Cmd_CreateFields, 5, 0, 1, 2);

  Cmd_OK = new QPushButton("&OK");
  Cmd_OK->setAutoDefault(false);
  Lbl_Database = new QLabel;
  auto* columns = new QHBoxLayout;
  columns->addWidget(tables, 2);
  columns->addWidget(mapping, 3);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Lbl_Database, 1);
  bottom->addWidget(Cmd_OK);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(columns);
  layout->addLayout(bottom);

  connect(List1, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row < 0 || row == form_.ListIndex) return;
    form_.List1_Click(row);
    Refresh();
  });
  auto click = [this](QPushButton* button, auto handler) {
    connect(button, &QPushButton::clicked, this, [this, handler] {
      ReadBoxes();
      handler();
      Refresh();
    });
  };
  click(Cmd_CreateNewTable, [this] { form_.Cmd_CreateNewTable_Click(); });
  click(Cmd_Delete, [this] { form_.Cmd_Delete_Click(); });
  click(Cmd_CreateFields, [this] { form_.Cmd_CreateFields_Click(); });
  connect(Cmd_OK, &QPushButton::clicked, this, [this] {
    ReadBoxes();
    if (form_.Cmd_OK_Click()) QDialog::done(Accepted);
  });
  Refresh();
}

void SelectTableWindow::ReadBoxes() {
  // A box whose text the user did not change keeps the item the logic chose.
  for (size_t role = 0; role < 4; ++role) {
    FieldBox& box = form_.Cmb_Fields[role];
    const std::string shown = Cmb_Fields[role]->currentText().toStdString();
    if (shown != box.text) box.Type(shown);
  }
}

void SelectTableWindow::Refresh() {
  Lbl_Database->setText(Q(form_.Lbl_Database));
  {
    QSignalBlocker quiet(List1);
    List1->clear();
    for (const std::string& name : form_.List1) List1->addItem(Q(name));
    List1->setCurrentRow(form_.ListIndex);
  }
  for (size_t role = 0; role < 4; ++role) {
    QComboBox* widget = Cmb_Fields[role];
    const FieldBox& box = form_.Cmb_Fields[role];
    QSignalBlocker quiet(widget);
    widget->clear();
    for (const std::string& item : box.items) widget->addItem(Q(item));
    widget->setCurrentIndex(box.selected);
    widget->setEditText(Q(box.text));
  }
  Cmd_OK->setEnabled(form_.OkEnabled);
}

void SelectTableWindow::done(int result) {
  // The close box stores nothing further; the connection closes with the window.
  form_.Form_Unload();
  QDialog::done(result);
}

void ShowSelectTable(QWidget* owner, DatabaseList& databases, CatalogueHost& host, DialogHost& dialogs) {
  if (databases.CurrentDB == 0) return;
  Frm_SelectTable form(databases, host, dialogs);
  if (!form.Form_Load()) return;
  SelectTableWindow window(form, owner);
  window.exec();
}

}  // namespace velloran
