// A CatalogueHost whose user is a script: it records every message and answers from a queue; and
// the engine errors a test expects.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

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
  void Use(const std::string& path, const std::string& table = "MyList") { Use(velloran::DatabaseEntry{path, table, "", "", "", ""}); }
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

// Every field of a set's current row, in order.
inline std::vector<velloran::FieldValue> RowOf(velloran::Recordset& set) {
  std::vector<velloran::FieldValue> row;
  for (const auto& field : set.Fields()) row.push_back(set.Field(field.name));
  return row;
}

// The first field of every row `select` finds, as text, in the query's order.
inline std::vector<std::string> TextsOf(velloran::Connection& db, const std::string& select) {
  std::vector<std::string> texts;
  for (auto rows = db.OpenRecordset(select); !rows->AtEnd(); rows->MoveNext()) texts.push_back(rows->Field(rows->Fields().at(0).name).ToText());
  return texts;
}

// The whole numbers from `first` to `last`, as text.
inline std::vector<std::string> Numbers(int64_t first, int64_t last) {
  std::vector<std::string> numbers;
  for (int64_t n = first; n <= last; ++n) numbers.push_back(std::to_string(n));
  return numbers;
}

inline std::vector<std::string> FieldNames(velloran::Connection& db, const std::string& table) {
  std::vector<std::string> names;
  for (const velloran::FieldInfo& f : db.TableDef(table).fields) names.push_back(f.name);
  return names;
}

// A table's indexes by name, each with its fields; every one of them plain, as the program makes them.
inline std::map<std::string, std::vector<std::string>> Indexes(velloran::Connection& db, const std::string& table) {
  std::map<std::string, std::vector<std::string>> indexes;
  for (const velloran::IndexInfo& i : db.TableDef(table).indexes) {
    EXPECT_FALSE(i.unique || i.primary) << i.name << ": the program's indexes are plain";
    indexes[i.name] = i.fields;
  }
  return indexes;
}

// Adds a row with the given fields set.
inline void AddRow(velloran::Recordset& set, const std::vector<std::pair<std::string, velloran::FieldValue>>& fields) {
  set.AddNew();
  for (const auto& [name, value] : fields) set.SetField(name, value);
  set.Update();
}

// Edits one field of a set's current row and writes it.
inline void Change(velloran::Recordset& set, const std::string& field, const velloran::FieldValue& value) {
  set.Edit();
  set.SetField(field, value);
  set.Update();
}

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
