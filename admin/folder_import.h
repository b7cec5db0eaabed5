// Adding one song row for every MP3 track of a folder: the scan, the companion files (".cdg",
// ".mcg", found whatever their letter case), the song numbers continuing from the table's highest,
// the optional renaming of each track's files to its song number, and an optional name pattern
// that splits file names into disc ID, artist and title.
//
// Rows are written in batches, each one transaction: a commit per row would cost a disk flush per
// song. A batch's files are renamed only after the batch is committed, so that at every moment
// (a crash, a cancel, a failed rename) each renamed file has its row. A file that cannot become a
// row (a name longer than the field, a name that is not valid text) is skipped and reported.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "catalogue/catalogue_host.h"
#include "catalogue/engine.h"

namespace velloran {

// The matching file names of a folder, numbered 1..count (names[0] is empty and unused). With
// subfolders the names of files below the folder carry their relative folder ("Pop/Song.mp3").
struct FolderScan {
  int32_t count = 0;
  std::vector<std::string> names{std::string()};
};

// Whether `name` matches `pattern`: "*.ext" compares the text after the last "." with ext in any
// letter case (a name without "." never matches); other patterns compare whole names that way.
bool MatchesPattern(const std::string& name, const std::string& pattern);
// Lists the files of `folder` that match `pattern`, sorted by name as the file systems these
// libraries come from list them. `between_entries` runs before the first entry and after each
// further one (the window lets its events run there).
void ScanFolder(const std::string& folder, const std::string& pattern, FolderScan& scan, bool subfolders = false,
                const std::function<void()>& between_entries = {});

// A file name split by a name pattern. The pattern names its parts with the words "DiscID",
// "Artist" and "Title"; the text between them must appear in the name as written.
struct NameParts {
  bool fits = false;
  std::string disc, artist, title;
};
NameParts SplitName(const std::string& base_name, const std::string& pattern);
// The patterns a host picks from; they may also type their own.
extern const std::vector<std::string> kNamePatterns;

struct ImportOptions {
  std::string folder;
  std::string disk_id, artist;  // for every row (unless the name pattern gives them)
  bool rename = false;
  bool subfolders = false;
  std::string name_pattern;  // empty: the whole name is the title
  int batch_rows = 2000;
};

// One row the import would write.
struct ImportRow {
  int64_t number = 0;
  std::string disc, song, artist, type;
};

struct ImportResult {
  int imported = 0;
  bool cancelled = false;
  std::vector<std::string> skipped;      // "name: why"
  std::vector<std::string> not_renamed;  // "name: why"
  std::string error;                     // an engine failure that ended the import
  // "Done!" when every file became a row and was renamed as asked; else what happened.
  std::string Message() const;
};

// Told after every row; returns false to stop the import (the rows written so far are kept).
using ImportProgress = std::function<bool(int done, int total)>;

// The highest "SongNumber" of the table by its index "SongNumber"; 0 for a table without songs.
int64_t HighestSongNumber(Connection& db, const std::string& table);
// Gives the table the fields "New" (Yes/No) and "Type" (Text 255) when it lacks them.
void AddImportFields(Connection& db, const std::string& table, CatalogueHost& host);

// The first `limit` rows an import of the folder would write, numbers from `first_number`.
std::vector<ImportRow> PreviewImport(const ImportOptions& options, int64_t first_number, int limit);

// Imports the folder into `table`, which has the fields "SongNumber", "DiskID", "Song", "Artist"
// and "Type" and the index "SongNumber". A missing folder imports nothing and says nothing.
ImportResult ImportFolder(Connection& db, const std::string& table, const ImportOptions& options,
                          const ImportProgress& progress = {});

// `velloran import FILE TABLE FOLDER [options]`: the same import from the command line; the
// closing message on `out`, usage and failures on `err`. The exit status: 0 when at least one row
// was imported, 1 when none could be, 2 for wrong arguments.
int RunImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace velloran
