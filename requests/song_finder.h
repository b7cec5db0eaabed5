// The catalogue as the phones see it: the main window's search on its current database, and one
// song found again by its row.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue/catalogue_host.h"
#include "mainwindow/frm_karaoke.h"
#include "jet/base/status.h"

namespace velloran {

struct FoundSongs {
  std::vector<ResultRow> rows;
  bool more = false;  // the search found more than were kept
};

class SongFinder {
 public:
  virtual ~SongFinder() = default;
  // The first `max` songs the main window's search lists for `text`.
  virtual jet::Result<FoundSongs> Search(const std::string& text, int max) = 0;
  // The song whose ID is `id`; kNotFound when no row has it (any more).
  virtual jet::Result<ResultRow> Song(int32_t id) = 0;
};

// Runs the catalogue's own search (Frm_Karaoke) on the main window's current database, with its
// own result set so the main window's list is left alone. Questions the search would ask the
// host (a missing file, a table to map, a database held by another program) are never put on
// the host's screen for a phone: the search fails with the question's text instead.
//
// Phones at one venue search for the same few words again and again; the answers are kept until
// the database file changes (its size or time of last change) or another database or mapping is
// in use, so a repeated search costs no reading of the file.
class CatalogueSongFinder : public SongFinder {
 public:
  explicit CatalogueSongFinder(const DatabaseList& databases) : databases_(databases) {}

  jet::Result<FoundSongs> Search(const std::string& text, int max) override;
  jet::Result<ResultRow> Song(int32_t id) override;

 private:
  class QuietHost : public CatalogueHost, public KaraokeSurface {
   public:
    std::string message;
    MessageAnswer ShowMessage(const std::string& text, MessageButtons) override;
    void ShowTableSelector() override {}
    void SetSelectTableEnabled(bool) override {}
    void EndProgramAtOnce() override;
    void ClearAndPrint(const std::string&) override {}
    void MakeTopMost() override {}
    void ShowSongs() override {}
  };
  // Runs `search` on a fresh copy of the current database entry; an error when it could not run.
  jet::Status Run(const std::function<void()>& search);

  const DatabaseList& databases_;
  std::unordered_map<std::string, FoundSongs> answers_;
  std::string answers_of_;  // the database, mapping and file state the kept answers belong to
  QuietHost quiet_;
  Frm_Karaoke form_{quiet_, quiet_};
};

}  // namespace velloran
