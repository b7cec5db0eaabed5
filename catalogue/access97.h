// Access 97 catalogues. The program searches them as they are, but the engine changes only Access
// 2000 files, so a command that would change one (the catalogue check's repair of the table,
// favourites, print flags, adding songs) asks whether to convert it first: a new Access 2000 file
// is made beside the original, which is kept as it was, and the new file takes the original's
// place in the database list. Declining leaves the files and the list as they were.
#pragma once

#include <functional>
#include <string>

#include "catalogue/database_list.h"
#include "catalogue/engine.h"

namespace velloran {

// The name the converted copy of `original` gets beside it: "<name> (Access 2000).mdb", or
// "<name> (Access 2000) 2.mdb" and so on when that is taken.
std::string ConvertedPath(const std::string& original);

// Whether `error` is the engine refusing to change the Access 97 file at `path`.
bool IsAccess97Refusal(const EngineError& error, const std::string& path);

// How the offer talks to the user: a Yes/No question (true for Yes) and a message.
struct ConversionDialog {
  std::function<bool(const std::string& question)> ask;
  std::function<void(const std::string& message)> tell;
};

// Asks whether to convert `entry`'s Access 97 file; on Yes converts it and points the entry at the
// new file. True when the entry now names the converted file; false when the user declined or the
// conversion failed (then told why), the entry and the files as they were.
bool OfferConversion(DatabaseEntry& entry, const ConversionDialog& dialog);

// Runs `change`; when the engine refuses it because `entry`'s file is an Access 97 database,
// offers the conversion and, once converted, runs `change` again (it must read the file's name
// from the entry). False when the change was not made because the user kept the Access 97 file.
// Other errors are thrown as they came.
bool ChangeOrOfferConversion(DatabaseEntry& entry, const ConversionDialog& dialog, const std::function<void()>& change);

}  // namespace velloran
