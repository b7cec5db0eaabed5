// Everything the program asks of the person in front of it, and the few desktop services it
// uses: message boxes, the one-line text prompt, the clipboard, the standard file, font, folder,
// page-setup and print dialogs, and opening a file or address with its own program. The logic of
// every window asks through this one interface; the Qt program answers with the desktop's
// dialogs (platform/qt/), tests answer from a script.
#pragma once

#include <string>
#include <vector>

#include "platform/font_spec.h"

namespace velloran {

enum class BoxButtons { kOk, kOkCancel, kYesNo, kYesNoCancel, kRetryCancel };
enum class BoxAnswer { kOk, kCancel, kYes, kNo, kRetry };
enum class BoxIcon { kNone, kInformation, kQuestion, kWarning, kCritical };

// Chosen paths, slots 1..n; slot 0 is always there and never holds a path. Slot 0 alone: none.
using FileList = std::vector<std::string>;

class DialogHost {
 public:
  virtual ~DialogHost() = default;

  // A modal message box. An empty title means the application's title.
  virtual BoxAnswer MessageBox(const std::string& text, BoxButtons buttons, BoxIcon icon,
                               const std::string& title) = 0;
  // The modal one-line prompt; the entered text, or "" when cancelled.
  virtual std::string Prompt(const std::string& prompt, const std::string& title,
                             const std::string& default_text) = 0;

  virtual void ClearClipboard() = 0;
  virtual void SetClipboardText(const std::string& text) = 0;

  // The open dialog. `filter` alternates descriptions and patterns separated by "|"
  // ("Singer Files|*.sng|All files|*.*"). Fills `files` (emptied first); returns 0 when a file
  // was chosen, else the dialog's error code (0 for a plain cancel): callers test the list.
  virtual int ShowOpen(FileList& files, const std::string& filter, const std::string& initial_folder,
                       bool multiple, const std::string& title) = 0;
  // The save dialog; the chosen path, or "" when cancelled. It does not ask about overwriting.
  virtual std::string ShowSave(const std::string& initial_name, const std::string& filter,
                               const std::string& default_extension, const std::string& initial_folder,
                               const std::string& title) = 0;
  // The font dialog starting from `font`, which changes only when the choice is confirmed.
  // Returns 0 when confirmed or cancelled (callers store `font` back either way), else an
  // error code.
  virtual int ShowFont(FontSpec& font, bool no_screen_fonts, bool no_printer_fonts, bool no_effects) = 0;
  // The chosen folder's full path, or "" when cancelled.
  virtual std::string BrowseForFolder(const std::string& prompt) = 0;
  // 0 when confirmed, -1 when cancelled.
  virtual int ShowPageSetup() = 0;
  // True when confirmed; the chosen printer and its settings become current.
  virtual bool ShowPrinter(int flags) = 0;
  // Opens a file with its own program, or an address in the browser. 33 on success, 0 when the
  // desktop refused (a result above 32 means success, callers do not check it).
  virtual int ShellOpen(const std::string& target) = 0;
};

// A "|"-separated filter as the desktop's file dialogs take it: "Singer Files (*.sng);;All files
// (*.*)". A description that already names its pattern is kept as it is; a trailing lone
// description (no pattern) is dropped.
std::string DesktopFilter(const std::string& filter);

}  // namespace velloran
