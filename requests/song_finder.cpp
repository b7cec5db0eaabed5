#include "requests/song_finder.h"

#include <stdexcept>

#include "catalogue/engine.h"
#include "jet/database.h"

namespace velloran {

namespace {

// What EndProgramAtOnce throws: a search from a phone never ends the program.
struct QuestionRefused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

jet::Error Unavailable(const std::string& why) {
  return jet::Error(jet::ErrorCode::kIo, "The song book cannot be searched right now (" + why + "). Ask the host.");
}

}  // namespace

MessageAnswer CatalogueSongFinder::QuietHost::ShowMessage(const std::string& text, MessageButtons) {
  if (message.empty()) message = text;
  return MessageAnswer::kCancel;
}

void CatalogueSongFinder::QuietHost::EndProgramAtOnce() { throw QuestionRefused(message); }

jet::Status CatalogueSongFinder::Run(const std::function<void()>& search) {
  if (databases_.current().Database.empty()) return Unavailable("no database is open");
  form_.Databases = databases_;
  form_.Results.Clear();
  quiet_.message.clear();
  try {
    search();
  } catch (const std::exception& e) {
    return Unavailable(quiet_.message.empty() ? e.what() : quiet_.message);
  }
  if (!quiet_.message.empty()) return Unavailable(quiet_.message);
  return jet::Status::Ok();
}

namespace {

// What the answers kept for a search depend on: the database file as it is now (the engine's
// change stamp, which any write by any program moves), its table and mapped fields. Empty when
// the file cannot be looked at (nothing is kept then).
std::string AnswersOf(const DatabaseEntry& entry) {
  jet::Result<int64_t> stamp = jet::Database::FileChangeStamp(entry.Database);
  if (!stamp.ok()) return "";
  return entry.Database + '\n' + entry.Table + '\n' + entry.SongField + '\n' + entry.ArtistField + '\n' +
         entry.SongNumberField + '\n' + std::to_string(stamp.value());
}

constexpr size_t kKeptAnswers = 4096;

}  // namespace

jet::Result<FoundSongs> CatalogueSongFinder::Search(const std::string& text, int max) {
  const std::string state = AnswersOf(databases_.current());
  if (state != answers_of_) {
    answers_.clear();
    answers_of_ = state;
  }
  const std::string key = std::to_string(max) + '\n' + text;
  if (auto kept = answers_.find(key); kept != answers_.end() && !state.empty()) return kept->second;
  form_.SearchText = text;
  form_.MaxResults = max;  // the search keeps one more, which tells that there are more
  jet::Status ran = Run([this] { form_.BuildWhereClause(); });
  if (!ran.ok()) return ran.error();
  FoundSongs found;
  for (int i = 1; i <= form_.Results.count() && i <= max; ++i) found.rows.push_back(form_.Results[i]);
  found.more = form_.Results.count() > max;
  if (!state.empty()) {
    if (answers_.size() >= kKeptAnswers) answers_.clear();
    answers_[key] = found;
  }
  return found;
}

jet::Result<ResultRow> CatalogueSongFinder::Song(int32_t id) {
  form_.MaxResults = 1;
  jet::Status ran = Run([this, id] {
    const DatabaseEntry& entry = databases_.current();
    form_.GetSongs("SELECT * FROM [" + entry.Table + "] WHERE [ID] = " + std::to_string(id), "[ID]");
  });
  if (!ran.ok()) return ran.error();
  if (form_.Results.empty() || form_.Results[1].ID != id)
    return jet::Error(jet::ErrorCode::kNotFound, "That song is no longer in the song book. Search again and choose another.");
  return form_.Results[1];
}

}  // namespace velloran
