#include "platform/qt/qt_dialog_host.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFont>
#include <QFontDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <optional>

namespace velloran {

namespace {

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

QMessageBox::StandardButtons ButtonsOf(BoxButtons buttons) {
  switch (buttons) {
    case BoxButtons::kOk: return QMessageBox::Ok;
    case BoxButtons::kOkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case BoxButtons::kYesNo: return QMessageBox::Yes | QMessageBox::No;
    case BoxButtons::kYesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case BoxButtons::kRetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
  }
  return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kNone: return QMessageBox::NoIcon;
    case BoxIcon::kInformation: return QMessageBox::Information;
    case BoxIcon::kQuestion: return QMessageBox::Question;
    case BoxIcon::kWarning: return QMessageBox::Warning;
    case BoxIcon::kCritical: return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

// The dialog's answer; closing the box without a button counts as its cancelling button.
BoxAnswer AnswerOf(int button, BoxButtons buttons) {
  switch (button) {
    case QMessageBox::Ok: return BoxAnswer::kOk;
    case QMessageBox::Yes: return BoxAnswer::kYes;
    case QMessageBox::No: return BoxAnswer::kNo;
    case QMessageBox::Retry: return BoxAnswer::kRetry;
    case QMessageBox::Cancel: return BoxAnswer::kCancel;
    default: break;
  }
  if (buttons == BoxButtons::kOk) return BoxAnswer::kOk;
  if (buttons == BoxButtons::kYesNo) return BoxAnswer::kNo;
  return BoxAnswer::kCancel;
}

QString TitleOr(const std::string& title) { return title.empty() ? QApplication::applicationDisplayName() : Q(title); }

}  // namespace

QtDialogHost::QtDialogHost(QWidget* owner) : owner_(owner) {}
QtDialogHost::~QtDialogHost() = default;

QPrinter& QtDialogHost::CurrentPrinter() {
  if (!printer_) printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
  return *printer_;
}

BoxAnswer QtDialogHost::MessageBox(const std::string& text, BoxButtons buttons, BoxIcon icon,
                                   const std::string& title) {
  QMessageBox box(IconOf(icon), TitleOr(title), Q(text), ButtonsOf(buttons), owner_);
  return AnswerOf(box.exec(), buttons);
}

std::string QtDialogHost::Prompt(const std::string& prompt, const std::string& title,
                                 const std::string& default_text) {
  bool ok = false;
  QString text = QInputDialog::getText(owner_, TitleOr(title), Q(prompt), QLineEdit::Normal, Q(default_text), &ok);
  return ok ? S(text) : std::string();
}

void QtDialogHost::ClearClipboard() { QApplication::clipboard()->clear(); }

void QtDialogHost::SetClipboardText(const std::string& text) { QApplication::clipboard()->setText(Q(text)); }

int QtDialogHost::ShowOpen(FileList& files, const std::string& filter, const std::string& initial_folder,
                           bool multiple, const std::string& title) {
  files.assign(1, std::string());
  const QString qfilter = Q(DesktopFilter(filter));
  if (multiple) {
    for (const QString& path : QFileDialog::getOpenFileNames(owner_, Q(title), Q(initial_folder), qfilter))
      files.push_back(S(path));
  } else {
    QString path = QFileDialog::getOpenFileName(owner_, Q(title), Q(initial_folder), qfilter);
    if (!path.trimmed().isEmpty()) files.push_back(S(path.trimmed()));
  }
  return 0;
}

std::string QtDialogHost::ShowSave(const std::string& initial_name, const std::string& filter,
                                   const std::string& default_extension, const std::string& initial_folder,
                                   const std::string& title) {
  QFileDialog dialog(owner_, Q(title), Q(initial_folder), Q(DesktopFilter(filter)));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setOption(QFileDialog::DontConfirmOverwrite);  // callers ask themselves
  dialog.setDefaultSuffix(Q(default_extension));
  if (!initial_name.empty()) dialog.selectFile(Q(initial_name));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::string();
  return S(dialog.selectedFiles().first().trimmed());
}

int QtDialogHost::ShowFont(FontSpec& font, bool no_screen_fonts, bool no_printer_fonts, bool no_effects) {
  const DialogFont start = ToDialogFont(font);
  QFont initial(Q(start.face));
  initial.setPixelSize(start.pixel_height > 0 ? start.pixel_height : 16);
  initial.setWeight(static_cast<QFont::Weight>(start.weight));
  initial.setItalic(start.italic);
  initial.setUnderline(start.underline);
  // Qt's dialog lists every installed font. Its effects (the only check boxes it has, in a box
  // of their own) are hidden where the caller keeps none: offered, they would change nothing.
  (void)no_screen_fonts;
  (void)no_printer_fonts;
  QFontDialog dialog(initial, owner_);
  if (no_effects) {
    for (QCheckBox* effect : dialog.findChildren<QCheckBox*>()) {
      if (auto* box = qobject_cast<QGroupBox*>(effect->parentWidget())) box->hide();
    }
  }
  if (dialog.exec() != QDialog::Accepted) return 0;
  const QFont chosen = dialog.selectedFont();
  // Qt 6 weights are on the 100..900 scale the rule counts in: only 700 is bold.
  const int weight = static_cast<int>(chosen.weight());
  const double points = chosen.pointSizeF() > 0 ? chosen.pointSizeF() : chosen.pixelSize() * 0.75;
  font = FromDialogChoice(S(chosen.family()), static_cast<int>(points * 10 + 0.5), weight, chosen.italic(),
                          no_effects ? font.Underline : chosen.underline());
  return 0;
}

std::string QtDialogHost::BrowseForFolder(const std::string& prompt) {
  QString folder = QFileDialog::getExistingDirectory(owner_, Q(prompt));
  if (folder.isEmpty() || !QFileInfo(folder).isDir()) return std::string();
  return S(QDir::cleanPath(folder));
}

int QtDialogHost::ShowPageSetup() {
  QPageSetupDialog dialog(&CurrentPrinter(), owner_);
  return dialog.exec() == QDialog::Accepted ? 0 : -1;
}

bool QtDialogHost::ShowPrinter(int flags) {
  (void)flags;
  // The dialog works on a copy; only a confirmed choice becomes the current printer.
  QPrinter chosen(QPrinter::HighResolution);
  chosen.setPrinterName(CurrentPrinter().printerName());
  chosen.setPageLayout(CurrentPrinter().pageLayout());
  chosen.setCopyCount(CurrentPrinter().copyCount());
  chosen.setDuplex(CurrentPrinter().duplex());
  chosen.setColorMode(CurrentPrinter().colorMode());
  QPrintDialog dialog(&chosen, owner_);
  if (dialog.exec() != QDialog::Accepted) return false;
  QPrinter& current = CurrentPrinter();
  current.setPrinterName(chosen.printerName());
  current.setPageLayout(chosen.pageLayout());
  current.setCopyCount(chosen.copyCount());
  current.setDuplex(chosen.duplex());
  current.setColorMode(chosen.colorMode());
  return true;
}

int QtDialogHost::ShellOpen(const std::string& target) {
  QString t = Q(target);
  QUrl url = QUrl::fromUserInput(t, QDir::currentPath(), QUrl::AssumeLocalFile);
  if (url.isLocalFile() && DesktopHasNoProgramFor(S(url.toLocalFile()))) return 0;
  return QDesktopServices::openUrl(url) ? 33 : 0;
}

namespace {

// What xdg-mime prints for `arguments`, trimmed; none when it fails or takes too long.
std::optional<QString> AskXdgMime(const QString& program, const QStringList& arguments) {
  QProcess query;
  query.start(program, arguments);
  if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit || query.exitCode() != 0) {
    query.kill();
    query.waitForFinished(1000);
    return std::nullopt;
  }
  return QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
}

}  // namespace

bool DesktopHasNoProgramFor(const std::string& file) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  const QFileInfo info(Q(file));
  const QString xdg_mime = QStandardPaths::findExecutable("xdg-mime");
  if (!info.isFile() || xdg_mime.isEmpty()) return false;
  const std::optional<QString> type = AskXdgMime(xdg_mime, {"query", "filetype", info.absoluteFilePath()});
  if (!type || type->isEmpty()) return false;
  const std::optional<QString> program = AskXdgMime(xdg_mime, {"query", "default", *type});
  return program && program->isEmpty();
#else
  (void)file;
  return false;
#endif
}

}  // namespace velloran
