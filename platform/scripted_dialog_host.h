// A dialog host whose user is a script: it records every message, prompt and clipboard change
// and answers from queues. Tests and benchmarks drive the windows' logic with it; an empty queue
// answers as a user who cancels.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/dialog_host.h"

namespace velloran {

class ScriptedDialogHost : public DialogHost {
 public:
  std::vector<std::string> messages;  // every message box's text, in order
  std::vector<std::string> prompts;   // every prompt's text
  std::deque<BoxAnswer> box_answers;  // for boxes with more than an OK button
  std::deque<std::string> prompt_answers;
  std::deque<FileList> open_answers;
  std::deque<std::string> save_answers, folder_answers;
  std::deque<FontSpec> font_answers;  // each confirms a font; none left answers as a cancel
  std::string clipboard = "(untouched)";

  BoxAnswer MessageBox(const std::string& text, BoxButtons buttons, BoxIcon, const std::string&) override {
    messages.push_back(text);
    if (buttons == BoxButtons::kOk) return BoxAnswer::kOk;
    return Next(box_answers, buttons == BoxButtons::kYesNo ? BoxAnswer::kNo : BoxAnswer::kCancel);
  }
  std::string Prompt(const std::string& prompt, const std::string&, const std::string&) override {
    prompts.push_back(prompt);
    return Next(prompt_answers, std::string());
  }
  void ClearClipboard() override { clipboard.clear(); }
  void SetClipboardText(const std::string& text) override { clipboard = text; }
  int ShowOpen(FileList& files, const std::string&, const std::string&, bool, const std::string&) override {
    files = Next(open_answers, FileList{""});
    return 0;
  }
  std::string ShowSave(const std::string&, const std::string&, const std::string&, const std::string&,
                       const std::string&) override {
    return Next(save_answers, std::string());
  }
  int ShowFont(FontSpec& font, bool, bool, bool) override {
    font = Next(font_answers, font);
    return 0;
  }
  std::string BrowseForFolder(const std::string&) override { return Next(folder_answers, std::string()); }
  int ShowPageSetup() override { return -1; }
  bool ShowPrinter(int) override { return false; }
  int ShellOpen(const std::string&) override { return 33; }

 private:
  template <typename T>
  static T Next(std::deque<T>& queue, T otherwise) {
    if (queue.empty()) return otherwise;
    T answer = std::move(queue.front());
    queue.pop_front();
    return answer;
  }
};

}  // namespace velloran
