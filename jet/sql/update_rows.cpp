#include "jet/sql/update_rows.h"

#include "jet/row_editor.h"
#include "jet/sql/sql_update.h"

namespace jet {

Status UpdateRows(Database& db, const UpdateStatement& update, const std::string& sql) {
  JET_ASSIGN_OR_RETURN(PreparedUpdate prepared, PrepareUpdate(db, update, sql));
  JET_ASSIGN_OR_RETURN(std::vector<RowId> rows, RowsToUpdate(db, update, sql));
  JET_ASSIGN_OR_RETURN(std::unique_ptr<RowEditor> editor, RowEditor::Open(db, prepared.table));
  for (const RowId& row : rows) JET_RETURN_IF_ERROR(editor->Change(row, prepared.assignments).status());
  return Status::Ok();
}

}  // namespace jet
