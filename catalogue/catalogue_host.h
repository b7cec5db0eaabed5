// What the catalogue logic asks of the windows around it: message boxes, the table and field
// selector, the state of one menu item and ending the program. The windows implement it; tests
// script it.
#pragma once

#include <string>

namespace velloran {

enum class MessageButtons { kOk, kRetryCancel, kYesNo };
enum class MessageAnswer { kOk, kRetry, kCancel, kYes, kNo };

class CatalogueHost {
 public:
  virtual ~CatalogueHost() = default;

  // A message box titled with the application's title; returns the button pressed.
  virtual MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) = 0;
  // Shows the table and field selector modally; it may change the current entry's table and
  // field mapping. Returns when the selector is closed.
  virtual void ShowTableSelector() = 0;
  // Enables or disables the "&Select Table/Fields" menu item.
  virtual void SetSelectTableEnabled(bool enabled) = 0;
  // Ends the program at once, without the normal shutdown (the settings are not saved). The
  // program's implementation does not return; a test's may throw to leave the call.
  virtual void EndProgramAtOnce() = 0;
};

}  // namespace velloran
