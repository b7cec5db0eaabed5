#include "admin/folder_import.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <regex>

#include "admin/path_functions.h"
#include "catalogue/catalogue_design.h"

namespace velloran {

namespace {

// File names compare as they do on the file systems these libraries come from: regardless of
// letter case (of the letters A to Z).
std::string Folded(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The number of characters of valid UTF-8 text; -1 when `text` is not valid UTF-8.
int64_t Utf8Length(const std::string& text) {
  int64_t count = 0;
  for (size_t i = 0; i < text.size(); ++count) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3;
    } else if (lead >= 0x80) {
      return -1;
    }
    if (text.size() - i <= extra) return -1;
    for (size_t k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return -1;
    i += extra + 1;
  }
  return count;
}

// The entries of one folder, files only, sorted by name.
std::vector<std::string> FilesOf(const std::string& folder, std::vector<std::string>* subfolders,
                                 const std::function<void()>& between_entries) {
  std::vector<std::string> files;
  if (between_entries) between_entries();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return files;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (between_entries) between_entries();
    if (name == "." || name == "..") continue;
    struct stat info {};
    if (stat((folder + "/" + name).c_str(), &info) != 0) continue;
    if (S_ISDIR(info.st_mode)) {
      if (subfolders != nullptr) subfolders->push_back(name);
    } else {
      files.push_back(name);
    }
  }
  closedir(dir);
  std::sort(files.begin(), files.end());
  if (subfolders != nullptr) std::sort(subfolders->begin(), subfolders->end());
  return files;
}

void ScanInto(const std::string& root, const std::string& relative, const std::string& pattern, FolderScan& scan,
              bool subfolders, const std::function<void()>& between_entries) {
  std::vector<std::string> below;
  const std::string folder = relative.empty() ? root : root + "/" + relative;
  for (const std::string& name : FilesOf(folder, subfolders ? &below : nullptr, between_entries)) {
    if (!MatchesPattern(name, pattern)) continue;
    scan.names.push_back(relative.empty() ? name : relative + "/" + name);
    ++scan.count;
  }
  for (const std::string& sub : below)
    ScanInto(root, relative.empty() ? sub : relative + "/" + sub, pattern, scan, true, between_entries);
}

// One track: its MP3 file and the companions found beside it (actual names, "" when none).
struct Track {
  std::string folder, mp3, cdg, mcg;
};

std::vector<Track> ScanTracks(const std::string& root, bool subfolders, const std::function<void()>& between_entries) {
  FolderScan scan;
  ScanFolder(root, "*.mp3", scan, subfolders, between_entries);
  std::vector<Track> tracks;
  std::map<std::string, std::map<std::string, std::string>> folders;  // folder -> folded name -> name
  for (int32_t i = 1; i <= scan.count; ++i) {
    const std::string& relative = scan.names[static_cast<size_t>(i)];
    const size_t slash = relative.rfind('/');
    Track t;
    t.folder = slash == std::string::npos ? root : root + "/" + relative.substr(0, slash);
    t.mp3 = slash == std::string::npos ? relative : relative.substr(slash + 1);
    auto [at, fresh] = folders.try_emplace(t.folder);
    if (fresh)
      for (const std::string& name : FilesOf(t.folder, nullptr, {})) at->second.emplace(Folded(name), name);
    const std::string base = Folded(FileBaseName(t.mp3));
    if (auto c = at->second.find(base + ".cdg"); c != at->second.end()) t.cdg = c->second;
    if (auto m = at->second.find(base + ".mcg"); m != at->second.end()) t.mcg = m->second;
    tracks.push_back(std::move(t));
  }
  return tracks;
}

ImportRow RowFor(const Track& track, const ImportOptions& options, int64_t number) {
  ImportRow row{number, options.disk_id, FileBaseName(track.mp3), options.artist, ""};
  if (!track.mcg.empty()) row.type = "MCG";
  if (!track.cdg.empty()) row.type = "CDG";
  if (!options.name_pattern.empty()) {
    NameParts parts = SplitName(row.song, options.name_pattern);
    if (parts.fits) {
      row.song = parts.title;
      if (!parts.artist.empty()) row.artist = parts.artist;
      if (!parts.disc.empty()) row.disc = parts.disc;
    }
  }
  return row;
}

// Renames `from` to `to` in `folder` unless `to` is taken; the reason when it did not.
std::string RenameUnlessTaken(const std::string& folder, const std::string& from, const std::string& to) {
  const std::string source = folder + "/" + from, target = folder + "/" + to;
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return "";
  const int failed = errno;
  if (failed == EEXIST) return to + " is taken";
  return std::string(strerror(failed));
}

// The renames a committed batch asks for.
struct Rename {
  Track track;
  int64_t number;
};

void RenameTrack(const Rename& r, ImportResult& result) {
  const std::string n = std::to_string(r.number);
  // A track whose MP3 keeps its name keeps its companions' names too, so they stay a pair.
  std::string why = RenameUnlessTaken(r.track.folder, r.track.mp3, n + "." + ExtensionOf(r.track.mp3));
  if (!why.empty()) {
    result.not_renamed.push_back(r.track.mp3 + ": " + why);
    return;
  }
  for (const std::string* companion : {&r.track.mcg, &r.track.cdg}) {
    if (companion->empty()) continue;
    why = RenameUnlessTaken(r.track.folder, *companion, n + "." + ExtensionOf(*companion));
    if (!why.empty()) result.not_renamed.push_back(*companion + ": " + why);
  }
}

// Why the row cannot be written as it is, or "".
std::string Unwritable(const ImportRow& row, const TableInfo& design) {
  const struct {
    const char* field;
    const std::string* value;
  } texts[] = {{"Song", &row.song}, {"DiskID", &row.disc}, {"Artist", &row.artist}};
  for (const auto& t : texts) {
    const int64_t length = Utf8Length(*t.value);
    if (length < 0) return "the name is not valid text";
    for (const FieldInfo& f : design.fields)
      if (SameName(f.name, t.field) && f.type == FieldType::kText && length > f.size)
        return std::string("longer than the field ") + t.field + " (" + std::to_string(f.size) + " characters)";
  }
  return "";
}

}  // namespace

const std::vector<std::string> kNamePatterns = {"Artist - Title", "DiscID - Artist - Title", "DiscID - Title - Artist"};

bool MatchesPattern(const std::string& name, const std::string& pattern) {
  if (pattern.size() >= 2 && pattern[0] == '*' && pattern[1] == '.') {
    if (name.find('.') == std::string::npos) return false;
    return Folded(ExtensionOf(name)) == Folded(pattern.substr(2));
  }
  return Folded(name) == Folded(pattern);
}

void ScanFolder(const std::string& folder, const std::string& pattern, FolderScan& scan, bool subfolders,
                const std::function<void()>& between_entries) {
  scan = FolderScan{};
  ScanInto(folder, "", pattern, scan, subfolders, between_entries);
}

NameParts SplitName(const std::string& base_name, const std::string& pattern) {
  static const std::regex placeholder("DiscID|Artist|Title");
  std::string expression;
  std::vector<std::string> order;
  auto literal = [&](const std::string& text) {
    for (char c : text) {
      if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) expression += '\\';
      expression += c;
    }
  };
  auto end = std::sregex_iterator();
  size_t last = 0;
  for (auto it = std::sregex_iterator(pattern.begin(), pattern.end(), placeholder); it != end; ++it) {
    literal(pattern.substr(last, static_cast<size_t>(it->position()) - last));
    expression += "(.+?)";
    order.push_back(it->str());
    last = static_cast<size_t>(it->position() + it->length());
  }
  literal(pattern.substr(last));
  NameParts parts;
  std::smatch found;
  if (order.empty() || !std::regex_match(base_name, found, std::regex(expression))) return parts;
  parts.fits = true;
  for (size_t i = 0; i < order.size(); ++i) {
    std::string value = found[i + 1].str();
    (order[i] == "DiscID" ? parts.disc : order[i] == "Artist" ? parts.artist : parts.title) = value;
  }
  return parts;
}

std::string ImportResult::Message() const {
  if (error.empty() && skipped.empty() && not_renamed.empty() && !cancelled) return "Done!";
  std::string text = cancelled ? "Stopped: " : "Done: ";
  text += std::to_string(imported) + (imported == 1 ? " song was" : " songs were") + " added.";
  if (!error.empty()) text += "\n" + error;
  auto list = [&](const std::vector<std::string>& items, const std::string& heading) {
    if (items.empty()) return;
    text += "\n\n" + heading;
    for (size_t i = 0; i < items.size() && i < 20; ++i) text += "\n" + items[i];
    if (items.size() > 20) text += "\n... and " + std::to_string(items.size() - 20) + " more";
  };
  list(skipped, "These files were skipped:");
  list(not_renamed, "These files kept their names:");
  return text;
}

int64_t HighestSongNumber(Connection& db, const std::string& table) {
  std::unique_ptr<Recordset> rows = db.OpenRecordset(table);
  rows->SelectIndex("SongNumber");
  int64_t highest = 0;
  if (rows->RecordCount() > 0) {
    rows->MoveLast();
    const FieldValue& value = rows->Field("SongNumber");
    if (!value.is_null()) highest = value.ToInteger();
  }
  rows->Close();
  return highest;
}

void AddImportFields(Connection& db, const std::string& table, CatalogueHost& host) {
  CatalogueDesign design(db, host);
  design.CreateField(table, "New", kTypeBoolean);
  design.CreateField(table, "Type", kTypeText, 255);
}

std::vector<ImportRow> PreviewImport(const ImportOptions& options, int64_t first_number, int limit) {
  std::vector<ImportRow> rows;
  const std::string folder = StripTrailingBackslashes(options.folder);
  if (!FileExists(folder)) return rows;
  for (const Track& t : ScanTracks(folder, options.subfolders, {})) {
    if (static_cast<int>(rows.size()) >= limit) break;
    rows.push_back(RowFor(t, options, first_number + static_cast<int64_t>(rows.size())));
  }
  return rows;
}

ImportResult ImportFolder(Connection& db, const std::string& table, const ImportOptions& options,
                          const ImportProgress& progress) {
  ImportResult result;
  const std::string folder = StripTrailingBackslashes(options.folder);
  if (!FileExists(folder)) return result;
  int64_t counter = HighestSongNumber(db, table);
  const TableInfo design = db.TableDef(table);
  const std::vector<Track> tracks = ScanTracks(folder, options.subfolders, {});
  std::unique_ptr<Recordset> rows = db.OpenRecordset(table);
  std::vector<Rename> renames;
  size_t next = 0;
  while (next < tracks.size() && !result.cancelled) {
    int in_batch = 0;
    int batch_added = 0;
    renames.clear();
    try {
      db.BeginTrans();
      for (; next < tracks.size() && in_batch < options.batch_rows && !result.cancelled; ++next, ++in_batch) {
        const Track& t = tracks[next];
        const ImportRow row = RowFor(t, options, counter + 1);
        const std::string why = Unwritable(row, design);
        if (!why.empty()) {
          result.skipped.push_back(t.mp3 + ": " + why);
        } else {
          rows->AddNew();
          rows->SetField("SongNumber", FieldValue(row.number));
          if (!row.type.empty()) rows->SetField("Type", FieldValue(row.type));
          rows->SetField("Song", FieldValue(row.song));
          rows->SetField("DiskID", FieldValue(row.disc));
          rows->SetField("Artist", FieldValue(row.artist));
          rows->Update();
          counter = row.number;
          ++batch_added;
          if (options.rename) renames.push_back({t, row.number});
        }
        if (progress && !progress(static_cast<int>(next + 1), static_cast<int>(tracks.size()))) result.cancelled = true;
      }
      db.CommitTrans();
    } catch (const EngineError& e) {
      // The batch under way was rolled back; the batches before it stay.
      result.error = std::string("The import stopped: ") + e.what();
      break;
    }
    result.imported += batch_added;
    // Only now is every row of the batch on disk: its files may take their numbers.
    for (const Rename& r : renames) RenameTrack(r, result);
  }
  rows->Close();
  return result;
}

}  // namespace velloran
