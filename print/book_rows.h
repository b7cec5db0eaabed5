// The songs of the song book: every song of the current table whose print flag is set, in the
// book's order, read with the table's mapped field names.
#pragma once

#include <vector>

#include "catalogue/database_list.h"
#include "print/book_layout.h"

namespace velloran {

// Throws EngineError when the database cannot be read.
std::vector<BookRow> ReadBookRows(const DatabaseEntry& entry, BookOrder order);

}  // namespace velloran
