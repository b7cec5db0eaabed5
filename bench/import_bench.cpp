// The folder import on generated folders of tracks (half of them with a ".cdg" companion): the
// time to import 10,000 tracks with and without renaming, and 100,000 to show how it grows.
// Usage: import_bench [scratch folder]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "admin/folder_import.h"
#include "catalogue/catalogue_design.h"

namespace {

namespace fs = std::filesystem;
using velloran::Connection;

class QuietHost : public velloran::CatalogueHost {
 public:
  velloran::MessageAnswer ShowMessage(const std::string&, velloran::MessageButtons) override {
    return velloran::MessageAnswer::kCancel;
  }
  void ShowTableSelector() override {}
  void SetSelectTableEnabled(bool) override {}
  void EndProgramAtOnce() override { std::exit(1); }
};

double Run(const fs::path& scratch, int tracks, bool rename) {
  fs::remove_all(scratch);
  fs::create_directories(scratch / "tracks");
  for (int i = 0; i < tracks; ++i) {
    const std::string base = (scratch / "tracks" / ("Artist " + std::to_string(i) + " - Title")).string();
    std::ofstream(base + ".mp3") << "x";
    if (i % 2 == 0) std::ofstream(base + ".cdg") << "x";
  }
  const std::string db_path = (scratch / "songs.mdb").string();
  Connection::Create(db_path);
  std::unique_ptr<Connection> db = Connection::Open(db_path);
  QuietHost host;
  velloran::CatalogueDesign design(*db, host);
  design.CreateField("Songs", "SongNumber", velloran::kTypeLong);
  for (const char* f : {"DiskID", "Song", "Artist"}) design.CreateField("Songs", f, velloran::kTypeText, 255);
  design.PrepareTable("Songs");
  velloran::AddImportFields(*db, "Songs", host);
  velloran::ImportOptions options;
  options.folder = (scratch / "tracks").string();
  options.rename = rename;
  options.disk_id = "SC01";
  const auto start = std::chrono::steady_clock::now();
  velloran::ImportResult result = velloran::ImportFolder(*db, "Songs", options);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  db->Close();
  if (result.imported != tracks) std::printf("  (only %d imported: %s)\n", result.imported, result.Message().c_str());
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path scratch = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("import-bench-" + std::to_string(getpid()));
  for (auto [tracks, rename] : {std::pair{10000, false}, std::pair{10000, true}, std::pair{100000, false}}) {
    const double s = Run(scratch, tracks, rename);
    std::printf("import of %6d tracks%s: %.2f s (%.1f us a track)\n", tracks, rename ? ", renamed" : "         ", s,
                s * 1e6 / tracks);
    std::fflush(stdout);
  }
  fs::remove_all(scratch);
  return 0;
}
