#include "app/display_options.h"

#include <cmath>
#include <limits>

namespace velloran {

std::optional<int32_t> ReadResultsAnswer(const std::string& answer, bool& too_large) {
  too_large = false;
  size_t i = 0;
  while (i < answer.size() && (answer[i] == ' ' || answer[i] == '\t')) ++i;
  bool negative = false;
  if (i < answer.size() && (answer[i] == '-' || answer[i] == '+')) negative = answer[i++] == '-';
  double value = 0, scale = 0;
  for (; i < answer.size(); ++i) {
    const char c = answer[i];
    if (c == '.' && scale == 0) {
      scale = 1;
    } else if (c >= '0' && c <= '9') {
      if (scale == 0) {
        value = value * 10 + (c - '0');
      } else {
        scale /= 10;
        value += (c - '0') * scale;
      }
    } else {
      break;
    }
  }
  if (negative || value <= 0) return std::nullopt;
  if (value > std::numeric_limits<int32_t>::max()) {
    too_large = true;
    return std::nullopt;
  }
  // A fraction below one half reads as no results at all: not a limit.
  const int32_t whole = RoundToEven(value);
  if (whole < 1) return std::nullopt;
  return whole;
}

void DisplayOptions::Mnu_Options_ListFont_Click() {
  FontSpec working = logic_.Display[0].ListFont;
  dialogs_.ShowFont(working, false, true, true);
  logic_.Display[0].ListFont = working;  // as it was when cancelled
  logic_.ShowSongs();
}

void DisplayOptions::Mnu_Options_Results_Click() {
  const std::string answer = dialogs_.Prompt("Number of search results to return?\n(Default=1000)", "Results",
                                             std::to_string(logic_.form.MaxResults));
  bool too_large = false;
  if (std::optional<int32_t> limit = ReadResultsAnswer(answer, too_large)) {
    logic_.form.MaxResults = *limit;
  } else if (too_large) {
    dialogs_.MessageBox("\"" + answer + "\" is more search results than can be returned. Enter a whole number " +
                            "from 1 to " + std::to_string(std::numeric_limits<int32_t>::max()) + ".",
                        BoxButtons::kOk, BoxIcon::kWarning, "");
  }
}

void DisplayOptions::Mnu_Options_TitleText_Click() {
  const std::string answer = dialogs_.Prompt("Enter new title", "Title", logic_.form.TitleText);
  if (answer.empty()) return;
  logic_.form.TitleText = answer;
  // The screen-saver tick shows the new title at its next run.
  logic_.IdleCountdown = 0;
}

void DisplayOptions::Mnu_Options_TitleFont_Click() {
  FontSpec working = logic_.Display[0].TitleFont;
  dialogs_.ShowFont(working, false, true, true);
  logic_.Display[0].TitleFont = working;
  logic_.IdleCountdown = 0;
}

}  // namespace velloran
