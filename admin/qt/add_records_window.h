// The window "Add Records" on the desktop: not modal, one at a time. The widgets mirror
// Frm_AddRecords's boxes and forward the clicks; while an import runs a progress bar with a
// Cancel button shows, the window's buttons are off and the rest of the program stays live.
#pragma once

#include <QWidget>
#include <array>
#include <functional>

#include "admin/frm_add_records.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;

namespace velloran {

class AddRecordsWindow : public QWidget {
 public:
  AddRecordsWindow(Frm_AddRecords& form, QWidget* owner);

  QLineEdit *Txt_SongNumber, *Txt_DiskID, *Txt_Song, *Txt_Artist, *Txt_Folder;
  QPushButton *Cmd_Add, *Cmd_Browse, *Cmd_Go, *Cmd_OK, *Cmd_Cancel;
  QCheckBox *Chk_RenameFiles, *Chk_Subfolders, *Chk_NamePattern;
  QComboBox* Cmb_NamePattern;
  QTableWidget* Preview;
  QLabel* PreviewCaption;  // says what the preview is: names split, nothing added yet
  QProgressBar* Progress;

  void Refresh();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ReadBoxes();
  void ShowPreview();
  void Go();
  Frm_AddRecords& form_;
  bool cancel_requested_ = false;
};

// The program's one add-records window: shown for the current database, or brought forward when
// it is open already.
class AddRecordsHost {
 public:
  void Show(QWidget* owner, DatabaseList& databases, CatalogueHost& host, DialogHost& dialogs);
  AddRecordsWindow* window() const { return window_; }

 private:
  std::unique_ptr<Frm_AddRecords> form_;
  AddRecordsWindow* window_ = nullptr;
};

}  // namespace velloran
