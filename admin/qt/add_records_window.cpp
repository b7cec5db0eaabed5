#include "admin/qt/add_records_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace velloran {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QLineEdit* box) { return box->text().toStdString(); }

}  // namespace

AddRecordsWindow::AddRecordsWindow(Frm_AddRecords& form, QWidget* owner)
    : QWidget(owner, Qt::Window), form_(form) {
  setWindowTitle(Frm_AddRecords::kCaption);
  setAttribute(Qt::WA_DeleteOnClose);
  auto* manual = new QGroupBox("Manually add a song");
  auto* manual_layout = new QFormLayout(manual);
  for (auto [box, label] : {std::pair{&Txt_SongNumber, "Song Number"}, std::pair{&Txt_DiskID, "Disk ID"},
                            std::pair{&Txt_Song, "Song"}, std::pair{&Txt_Artist, "Artist"}}) {
    *box = new QLineEdit;
    manual_layout->addRow(label, *box);
  }
  Cmd_Add = new QPushButton("&Add");
  manual_layout->addRow(Cmd_Add);

  auto* files = new QGroupBox("Add songs from filenames");
  auto* files_layout = new QFormLayout(files);
  Txt_Folder = new QLineEdit;
  Cmd_Browse = new QPushButton("&Browse");
  auto* folder_row = new QHBoxLayout;
  folder_row->addWidget(Txt_Folder, 1);
  folder_row->addWidget(Cmd_Browse);
  files_layout->addRow("Folder", folder_row);
  Chk_RenameFiles = new QCheckBox("&Rename files (append SongNumber prefix)");
  Chk_Subfolders = new QCheckBox("Include s&ubfolders");
  Chk_NamePattern = new QCheckBox("Split names by &pattern");
  Cmb_NamePattern = new QComboBox;
  Cmb_NamePattern->setEditable(true);
  for (const std::string& p : kNamePatterns) Cmb_NamePattern->addItem(Q(p));
  Cmb_NamePattern->setEnabled(false);
  auto* pattern_row = new QHBoxLayout;
  pattern_row->addWidget(Chk_NamePattern);
  pattern_row->addWidget(Cmb_NamePattern, 1);
  files_layout->addRow(Chk_RenameFiles);
  files_layout->addRow(Chk_Subfolders);
  files_layout->addRow(pattern_row);
  PreviewCaption = new QLabel("The first files, as the pattern splits their names (added only by Go):");
  PreviewCaption->setVisible(false);
  files_layout->addRow(PreviewCaption);
  Preview = new QTableWidget(0, 4);
  Preview->setHorizontalHeaderLabels({"Song Number", "Disk ID", "Song", "Artist"});
  // The number and disc fit their texts; the song and artist share the rest of the width.
  for (int c = 0; c < 4; ++c) Preview->horizontalHeader()->setSectionResizeMode(c, c < 2 ? QHeaderView::ResizeToContents : QHeaderView::Stretch);
  Preview->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Preview->setWordWrap(false);
  Preview->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Preview->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Preview->setVisible(false);
  files_layout->addRow(Preview);
  Cmd_Go = new QPushButton("&Go");
  Progress = new QProgressBar;
  Progress->setVisible(false);
  Cmd_Cancel = new QPushButton("Cancel");
  Cmd_Cancel->setVisible(false);
  auto* go_row = new QHBoxLayout;
  go_row->addWidget(Cmd_Go);
  go_row->addWidget(Progress, 1);
  go_row->addWidget(Cmd_Cancel);
  files_layout->addRow(go_row);

  Cmd_OK = new QPushButton("&Close");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(manual);
  layout->addWidget(files);
  // Room the window gains goes below the boxes, not between their rows.
  layout->addStretch(1);
  layout->addWidget(Cmd_OK, 0, Qt::AlignRight);

  connect(Cmd_Add, &QPushButton::clicked, this, [this] {
    ReadBoxes();
    form_.Cmd_Add_Click();
    Refresh();
    using Box = Frm_AddRecords::Box;
    const Box next = form_.NextBox;
    QLineEdit* const box = next == Box::kSongNumber ? Txt_SongNumber : next == Box::kDiskID ? Txt_DiskID
                           : next == Box::kSong     ? Txt_Song
                           : next == Box::kArtist   ? Txt_Artist
                                                    : nullptr;
    if (box != nullptr) {
      box->setFocus(Qt::OtherFocusReason);
      box->selectAll();
    }
  });
  connect(Cmd_Browse, &QPushButton::clicked, this, [this] {
    form_.Cmd_Browse_Click();
    Refresh();
    ShowPreview();
  });
  connect(Chk_NamePattern, &QCheckBox::toggled, this, [this](bool on) {
    Cmb_NamePattern->setEnabled(on);
    ShowPreview();
  });
  connect(Cmb_NamePattern, &QComboBox::currentTextChanged, this, [this] { ShowPreview(); });
  connect(Chk_Subfolders, &QCheckBox::toggled, this, [this] { ShowPreview(); });
  connect(Txt_Folder, &QLineEdit::editingFinished, this, [this] { ShowPreview(); });
  connect(Cmd_Go, &QPushButton::clicked, this, [this] { Go(); });
  connect(Cmd_Cancel, &QPushButton::clicked, this, [this] { cancel_requested_ = true; });
  connect(Cmd_OK, &QPushButton::clicked, this, &QWidget::close);
  Refresh();
}

void AddRecordsWindow::ReadBoxes() {
  form_.Txt_SongNumber = S(Txt_SongNumber);
  form_.Txt_DiskID = S(Txt_DiskID);
  form_.Txt_Song = S(Txt_Song);
  form_.Txt_Artist = S(Txt_Artist);
  form_.Txt_Folder = S(Txt_Folder);
  form_.Chk_RenameFiles = Chk_RenameFiles->isChecked();
  form_.Chk_Subfolders = Chk_Subfolders->isChecked();
  form_.NamePattern = Chk_NamePattern->isChecked() ? Cmb_NamePattern->currentText().toStdString() : std::string();
}

void AddRecordsWindow::Refresh() {
  Txt_SongNumber->setText(Q(form_.Txt_SongNumber));
  Txt_DiskID->setText(Q(form_.Txt_DiskID));
  Txt_Song->setText(Q(form_.Txt_Song));
  Txt_Artist->setText(Q(form_.Txt_Artist));
  Txt_Folder->setText(Q(form_.Txt_Folder));
  const bool idle = !form_.Importing();
  for (QWidget* w : std::initializer_list<QWidget*>{Cmd_Add, Cmd_Browse, Cmd_Go, Cmd_OK}) w->setEnabled(idle);
  Progress->setVisible(!idle);
  Cmd_Cancel->setVisible(!idle);
}

void AddRecordsWindow::ShowPreview() {
  ReadBoxes();
  const bool show = !form_.NamePattern.empty();
  Preview->setVisible(show);
  PreviewCaption->setVisible(show);
  if (!show) return;
  const std::vector<ImportRow> rows = form_.Preview(5);
  Preview->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const ImportRow& row = rows[static_cast<size_t>(r)];
    const std::string cells[] = {std::to_string(row.number), row.disc, row.song, row.artist};
    for (int c = 0; c < 4; ++c) Preview->setItem(r, c, new QTableWidgetItem(Q(cells[c])));
  }
  // As tall as its few rows (at most five), so that every one is seen without scrolling.
  Preview->resizeRowsToContents();
  int height = Preview->horizontalHeader()->sizeHint().height() + 2 * Preview->frameWidth();
  for (int r = 0; r < Preview->rowCount(); ++r) height += Preview->rowHeight(r);
  Preview->setFixedHeight(height);
}

void AddRecordsWindow::Go() {
  if (form_.Importing()) return;
  ReadBoxes();
  cancel_requested_ = false;
  QElapsedTimer since_events;
  since_events.start();
  form_.Cmd_Go_Click([this, &since_events](int done, int total) {
    // The window's events run every few hundredths of a second: often enough to stay live,
    // rarely enough to cost the import nothing worth measuring.
    if (done == 1 || since_events.elapsed() >= 40) {
      if (done == 1) Refresh();
      Progress->setRange(0, total);
      Progress->setValue(done);
      QApplication::processEvents();
      since_events.restart();
    }
    return !cancel_requested_;
  });
  Refresh();
}

void AddRecordsWindow::closeEvent(QCloseEvent* event) {
  if (form_.Importing()) {
    // Closing would pull the window from under the import: stop it instead, it ends at once.
    cancel_requested_ = true;
    event->ignore();
    return;
  }
  form_.Form_Unload();
  event->accept();
}

void AddRecordsHost::Show(QWidget* owner, DatabaseList& databases, CatalogueHost& host, DialogHost& dialogs) {
  if (window_ != nullptr) {
    window_->raise();
    window_->activateWindow();
    return;
  }
  form_ = std::make_unique<Frm_AddRecords>(databases, host, dialogs);
  if (!form_->Form_Load()) return;
  window_ = new AddRecordsWindow(*form_, owner);
  QObject::connect(window_, &QObject::destroyed, [this] { window_ = nullptr; });
  window_->show();
}

}  // namespace velloran
