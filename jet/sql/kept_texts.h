// Folded texts (folded_columns.h) and the orders kept for them (sorted_rows.h), kept in files
// between processes: a program started afresh begins from what an earlier run built, brought up
// to the file as it is now the way a change by another program is (only pages whose digest
// changed are decoded again), instead of folding every row and ordering them anew.
//
// Contract:
//   - nothing is written or read unless a folder is set (SetKeptTextsFolder); the program sets
//     its cache folder at start-up, tests and tools that do not ask write nothing;
//   - a file is written when texts or an order were built afresh, to a temporary name and then
//     renamed, so a reader sees a whole file or none; the folder keeps at most kKeptFiles of
//     them and kKeptBytes, the oldest going first;
//   - a file is named by a digest of the catalogue's absolute path and what it keeps, and holds
//     both in full; it is trusted only when its kind, version, catalogue, table layout and a
//     digest of its whole content are as expected and every count and offset in it holds
//     together; otherwise it is deleted and what it held is built again;
//   - an order names the texts file it orders by that file's digest, and serves only those texts;
//   - texts are brought up to the file as it is by the digests of its pages, unless the file is
//     still at the change stamp they were read at and that stamp was one no later write could
//     leave again (Pager::SettledStampNow): then they are taken as they are;
//   - the texts file keeps where each text starts, and a loaded file is trusted only when every
//     start lies right after the zero that ends the text before it (the first of each chunk at
//     the chunk's start), as many starts as zeros: a text the search finds in the bytes is then
//     the one the starts name;
//   - loading maps the file whole and uses the texts' bytes, their starts, places and NULL
//     flags where they lie, in the system's cache, and writing writes straight from the buffers
//     they are searched in: neither holds a second copy. The digest is taken at the speed
//     memory delivers the file (BulkDigest). A kept file is only ever replaced whole (by a
//     rename) or deleted, never changed in place, so a mapping of it stays as it was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/file/pager.h"
#include "jet/pages/table_def.h"
#include "jet/sql/folded_columns.h"
#include "jet/sql/sorted_rows.h"

namespace jet {

// Where kept files go, for the whole process; empty (the default): none are written or read.
void SetKeptTextsFolder(const std::string& folder);
std::string KeptTextsFolder();

// What the folder keeps at most: the files of a few catalogues of a million songs (about 45 MB
// each), or of many small ones.
constexpr size_t kKeptFiles = 24;
constexpr uintmax_t kKeptBytes = uintmax_t{256} << 20;

// The texts kept for `columns` of `def` (under FoldedColumnsKey), as an earlier process carried
// them, with the orders kept for them carried (Pager::Carry) for the texts loaded; null when
// there is no usable file.
std::shared_ptr<FoldedCarry> LoadKeptTexts(const Pager& pager, const TableDef& def, const std::vector<size_t>& columns);

// Writes the texts carried for a table of `def` to their file, the texts themselves on a thread
// of its own, so that the search that built them need not wait: what changes with the file (the
// pages and their digests) is written first, here, and the thread holds only the texts (shared,
// never changed). carry.keeping gives carry.kept_id once the file is in place (0: it could not
// be written); until then the file is under another name, and a handle that looks for it
// meanwhile builds the texts itself.
void KeepTexts(const Pager& pager, const TableDef& def, FoldedCarry& carry);

// Waits until the thread writing the file of `carry`'s texts (if any) is done with them.
void AwaitKeeping(const FoldedCarry& carry);

// Makes ready what writes kept files, without waiting for anything: whatever is made after it
// and writes kept files as the process exits (later_folds.h) is then ended before it.
void PrepareKeeping();

// Waits until every kept file this process began to write is written. A process waits for them
// by itself when it exits; a test or tool that starts another process on the same folder waits
// first.
void WaitForKeptTexts();

// Writes `order`, kept under `key` for the folded texts the process carries for the table, beside
// the file of those texts (written first when no file holds them as they are).
void KeepOrder(const Pager& pager, const TableDef& def, const std::string& key, const SortedRows& order);

}  // namespace jet
