// The "&Options" commands that change how the main window looks and behaves: the list and title
// fonts, the title text and the number of search results. The check-mark options (screen saver,
// window resizing, always on top) are flipped by the program's menu handling.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "mainwindow/main_window_logic.h"
#include "platform/dialog_host.h"

namespace velloran {

// The answer to "Number of &Results" read as the leading decimal number of the text ("250.5
// songs" reads 250.5; empty or not a number reads 0), taken to the nearest whole number with
// halves to the even neighbour. Nothing when that is not at least 1; `too_large` is set when it
// is beyond what the limit can hold.
std::optional<int32_t> ReadResultsAnswer(const std::string& answer, bool& too_large);

class DisplayOptions {
 public:
  DisplayOptions(MainWindowLogic& logic, DialogHost& dialogs) : logic_(logic), dialogs_(dialogs) {}

  void Mnu_Options_ListFont_Click();
  void Mnu_Options_Results_Click();
  void Mnu_Options_TitleText_Click();
  void Mnu_Options_TitleFont_Click();

 private:
  MainWindowLogic& logic_;
  DialogHost& dialogs_;
};

}  // namespace velloran
