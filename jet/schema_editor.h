// Design changes (Jet 4): creating, changing and dropping user tables, as Access makes them.
//
// Each change comes in two forms: one that runs inside a pager write the caller opened (so that
// several changes, and row changes, can form one all-or-nothing operation), and one that runs as
// a write of its own through WritableDatabase::Write. On any error the second form changes
// nothing; after an error from the first the caller rolls its write back.
//
// What each change does:
//   - CreateTable: a new definition (columns numbered in order, indexes as given; logical indexes
//     with the same columns, order and flags share one physical index), its usage maps and empty
//     index root pages, its catalogue row (Id = definition page, in the Tables container, Type 1,
//     Flags 0, column properties Required and AllowZeroLength) and access-control rows (one per
//     SID that holds rights on the Tables container, full rights, owner first).
//   - AddColumn: the next column number; existing rows are not rewritten and read the column as
//     NULL. An autonumber or required column can only be added to an empty table.
//   - AddIndex: a new logical index, filled from the table's rows; it shares the physical index
//     of an existing one with the same columns and flags. kConstraint when the rows break it
//     (a duplicate in a unique index, a NULL where the index requires values).
//   - DropColumn: its entry and name go; the column count shrinks but no other column moves and
//     the maximum column number stays. A column an index uses cannot be dropped.
//   - DropIndex: the logical index goes, and its physical index with its pages when no other
//     logical index shares it; index numbers after it close up. Indexes of tables that take part
//     in relationships are refused (kUnsupported).
//   - DropTable: its catalogue, access-control and relationship rows (and the foreign-key indexes
//     of other tables that point to it) go, and every page it owned is released.
// Names follow Access's rules (table_design.h) and are unique regardless of letter case: table
// names among every object of the Tables container, column and index names within the table.
// System tables cannot be changed (kInvalidArgument); Access 97 files are refused (kReadOnly).
#pragma once

#include <string>

#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/schema/table_design.h"
#include "jet/writable_database.h"

namespace jet {

// Inside the caller's write.
Status CreateTable(Pager& pager, const TableDesign& design);
Status AddColumn(Pager& pager, const std::string& table, const ColumnDesign& column);
Status DropColumn(Pager& pager, const std::string& table, const std::string& column);
Status AddIndex(Pager& pager, const std::string& table, const IndexDesign& index);
Status DropIndex(Pager& pager, const std::string& table, const std::string& index);
Status DropTable(Pager& pager, const std::string& table);

// Each as one all-or-nothing write.
Status CreateTable(WritableDatabase& db, const TableDesign& design);
Status AddColumn(WritableDatabase& db, const std::string& table, const ColumnDesign& column);
Status DropColumn(WritableDatabase& db, const std::string& table, const std::string& column);
Status AddIndex(WritableDatabase& db, const std::string& table, const IndexDesign& index);
Status DropIndex(WritableDatabase& db, const std::string& table, const std::string& index);
Status DropTable(WritableDatabase& db, const std::string& table);

}  // namespace jet
