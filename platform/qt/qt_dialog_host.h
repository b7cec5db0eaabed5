// The dialog host on the desktop's own dialogs, through Qt's standard ones: QMessageBox,
// QInputDialog, QFileDialog, QFontDialog, QPageSetupDialog, QPrintDialog, QDesktopServices and
// the clipboard. Every dialog is modal to the owner window.
#pragma once

#include <memory>
#include <string>

#include "platform/dialog_host.h"

class QWidget;
class QPrinter;

namespace velloran {

class QtDialogHost : public DialogHost {
 public:
  explicit QtDialogHost(QWidget* owner);
  ~QtDialogHost() override;

  void SetOwner(QWidget* owner) { owner_ = owner; }
  // The printer the print and page-setup dialogs work on; it stays current for what follows.
  QPrinter& CurrentPrinter();

  BoxAnswer MessageBox(const std::string& text, BoxButtons buttons, BoxIcon icon, const std::string& title) override;
  std::string Prompt(const std::string& prompt, const std::string& title, const std::string& default_text) override;
  void ClearClipboard() override;
  void SetClipboardText(const std::string& text) override;
  int ShowOpen(FileList& files, const std::string& filter, const std::string& initial_folder, bool multiple,
               const std::string& title) override;
  std::string ShowSave(const std::string& initial_name, const std::string& filter,
                       const std::string& default_extension, const std::string& initial_folder,
                       const std::string& title) override;
  int ShowFont(FontSpec& font, bool no_screen_fonts, bool no_printer_fonts, bool no_effects) override;
  std::string BrowseForFolder(const std::string& prompt) override;
  int ShowPageSetup() override;
  bool ShowPrinter(int flags) override;
  int ShellOpen(const std::string& target) override;

 private:
  QWidget* owner_;
  std::unique_ptr<QPrinter> printer_;
};

// Whether the desktop names no program for the type of `file` (asked of xdg-mime where there is
// one; false where it cannot be asked). ShellOpen fails at once for such a file: the desktop's
// opener runs apart from this program and, finding no program, fails where nobody sees it.
bool DesktopHasNoProgramFor(const std::string& file);

}  // namespace velloran
