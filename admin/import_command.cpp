// `velloran import`: the folder import for hosts who script their library.
#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <stdexcept>

#include "admin/folder_import.h"
#include "admin/path_functions.h"

namespace velloran {

namespace {

constexpr const char* kUsage =
    "usage: velloran import FILE TABLE FOLDER [--disk-id TEXT] [--artist TEXT] [--rename] [--pattern PATTERN] "
    "[--subfolders] [--batch-rows N]\n"
    "  adds a song to TABLE of the database FILE for every .mp3 file of FOLDER\n"
    "  --pattern splits file names into fields, e.g. \"DiscID - Artist - Title\"\n";

// Questions the engine's design steps may ask: with nobody to answer, a file another program holds
// is given up on.
class CommandLineHost : public CatalogueHost {
 public:
  explicit CommandLineHost(std::ostream& err) : err_(err) {}
  MessageAnswer ShowMessage(const std::string& text, MessageButtons buttons) override {
    err_ << "velloran import: " << text << "\n";
    return buttons == MessageButtons::kOk ? MessageAnswer::kOk : MessageAnswer::kCancel;
  }
  void ShowTableSelector() override {}
  void SetSelectTableEnabled(bool) override {}
  void EndProgramAtOnce() override { throw std::runtime_error("the database is in use by another program"); }

 private:
  std::ostream& err_;
};

}  // namespace

int RunImportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> positional;
  ImportOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool takes_value = a == "--disk-id" || a == "--artist" || a == "--pattern" || a == "--batch-rows";
    if (takes_value && i + 1 >= args.size()) {
      err << "velloran import: " << a << " needs a value\n" << kUsage;
      return 2;
    }
    if (a == "--disk-id") {
      options.disk_id = args[++i];
    } else if (a == "--artist") {
      options.artist = args[++i];
    } else if (a == "--pattern") {
      options.name_pattern = args[++i];
    } else if (a == "--batch-rows") {
      // Rows per commit: fewer flushes with more, less work lost to a crash with fewer.
      options.batch_rows = std::max(1, std::atoi(args[++i].c_str()));
    } else if (a == "--rename") {
      options.rename = true;
    } else if (a == "--subfolders") {
      options.subfolders = true;
    } else if (a.rfind("--", 0) == 0) {
      err << "velloran import: unknown option " << a << "\n" << kUsage;
      return 2;
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 3) {
    err << kUsage;
    return 2;
  }
  const std::string& file = positional[0];
  const std::string& table = positional[1];
  options.folder = positional[2];
  if (!FileExists(StripTrailingBackslashes(options.folder))) {
    err << "velloran import: the folder " << options.folder << " does not exist; nothing was imported\n";
    return 1;
  }
  try {
    CommandLineHost host(err);
    std::unique_ptr<Connection> db = Connection::Open(file);
    db->TableDef(table);  // a misspelt table is reported, not created
    AddImportFields(*db, table, host);
    ImportResult result = ImportFolder(*db, table, options);
    db->Close();
    out << result.Message() << "\n";
    return result.imported > 0 ? 0 : 1;
  } catch (const std::exception& e) {
    err << "velloran import: " << e.what() << "\n";
    return 1;
  }
}

}  // namespace velloran
