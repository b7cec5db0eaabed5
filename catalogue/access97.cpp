#include "catalogue/access97.h"

#include "catalogue/disk_info.h"

namespace velloran {

namespace {

std::string FileNameOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string ConvertedPath(const std::string& original) {
  const size_t slash = original.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? "" : original.substr(0, slash + 1);
  const std::string base = folder + FileBaseName(original) + " (Access 2000)";
  std::string path = base + ".mdb";
  for (int n = 2; FileExists(path) || FileExists(path + ".converting"); ++n) path = base + " " + std::to_string(n) + ".mdb";
  return path;
}

bool IsAccess97Refusal(const EngineError& error, const std::string& path) {
  return error.kind() == EngineError::Kind::kReadOnly && Connection::IsAccess97(path);
}

bool OfferConversion(DatabaseEntry& entry, const ConversionDialog& dialog) {
  const std::string target = ConvertedPath(entry.Database);
  const std::string question =
      FileNameOf(entry.Database) + " is an Access 97 database. Songs can be searched in it, but nothing in it can be "
      "changed: not the favourites, the print flags, the songs nor the table's own fields.\r\n\r\n"
      "Convert it to a new Access 2000 database, " + FileNameOf(target) + ", in the same folder? The original file "
      "stays exactly as it is, and the new file takes its place in the database list.";
  if (!dialog.ask(question)) return false;
  try {
    Connection::ConvertToAccess2000(entry.Database, target);
  } catch (const EngineError& e) {
    dialog.tell(std::string("The database could not be converted, and nothing was changed.\r\n") + e.what());
    return false;
  }
  entry.Database = target;
  return true;
}

bool ChangeOrOfferConversion(DatabaseEntry& entry, const ConversionDialog& dialog, const std::function<void()>& change) {
  try {
    change();
    return true;
  } catch (const EngineError& e) {
    if (!IsAccess97Refusal(e, entry.Database)) throw;
  }
  if (!OfferConversion(entry, dialog)) return false;
  change();
  return true;
}

}  // namespace velloran
