// A CatalogueHost whose user is a script: it records every message and answers from a queue; and
// the engine errors a test expects.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <unistd.h>
#include <string>
#include <vector>

#include "catalogue/catalogue_host.h"
#include "catalogue/engine.h"
#include "mainwindow/frm_karaoke.h"
#include "tests/jet/test_support.h"

namespace velloran_test {

// Thrown where the program would end at once.
struct ProgramEnded : std::runtime_error {
  ProgramEnded() : std::runtime_error("the program ended") {}
};

class ScriptedHost : public velloran::CatalogueHost {
 public:
  std::vector<std::string> messages;
  std::deque<velloran::MessageAnswer> answers;  // for Retry/Cancel questions; OK boxes need none
  std::function<void()> selector;               // what the user does in the selector
  std::function<void()> on_message;             // what else happens while a message shows
  int selector_shown = 0;
  int select_enabled = -1;                      // -1 until set

  velloran::MessageAnswer ShowMessage(const std::string& text, velloran::MessageButtons buttons) override {
    messages.push_back(text);
    if (on_message) on_message();
    if (buttons == velloran::MessageButtons::kOk) return velloran::MessageAnswer::kOk;
    if (answers.empty()) throw std::logic_error("unexpected question: " + text);
    velloran::MessageAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void ShowTableSelector() override {
    ++selector_shown;
    if (selector) selector();
  }
  void SetSelectTableEnabled(bool enabled) override { select_enabled = enabled ? 1 : 0; }
  void EndProgramAtOnce() override { throw ProgramEnded(); }
};

class RecordingSurface : public velloran::KaraokeSurface {
 public:
  std::vector<std::string> printed;
  int top_most = 0;
  int shown = 0;
  void ClearAndPrint(const std::string& text) override { printed.push_back(text); }
  void MakeTopMost() override { ++top_most; }
  void ShowSongs() override { ++shown; }
};

// The main window's search logic on one database (the test's scratch folder holds it).
struct KaraokeWindow {
  ScratchDir folder;
  ScriptedHost host;
  RecordingSurface surface;
  velloran::Frm_Karaoke form{surface, host};
  void Use(const std::string& path, const std::string& table = "MyList") {
    Use(velloran::DatabaseEntry{path, table, "", "", "", ""});
  }
  void Use(const velloran::DatabaseEntry& entry) {
    form.Databases.entries.push_back(entry);
    form.Databases.CurrentDB = static_cast<int16_t>(form.Databases.count());
  }
  void Search(const std::string& text) {
    form.SearchText = text;
    form.SearchVisible = true;
    form.BuildWhereClause();
  }
  std::vector<std::string> Songs() const {
    std::vector<std::string> songs;
    for (int i = 1; i <= form.Results.count(); ++i) songs.push_back(form.Results[i].Song);
    return songs;
  }
};

// The error `action` throws; fails the test when it throws none.
inline velloran::EngineError ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const velloran::EngineError& e) {
    return e;
  }
  ADD_FAILURE() << "expected an EngineError";
  return velloran::EngineError(velloran::EngineError::Kind::kFailed, "(none thrown)");
}

// Expects `action` to throw an error of `kind` whose message names `named`.
inline void ExpectError(const std::function<void()>& action, velloran::EngineError::Kind kind, const std::string& named) {
  const velloran::EngineError error = ErrorOf(action);
  EXPECT_EQ(error.kind(), kind) << error.what();
  EXPECT_NE(std::string(error.what()).find(named), std::string::npos) << error.what();
}

}  // namespace velloran_test
