// Copying rows into a caller's list: the one definition of what a list keeps of a row, which a
// set that copies straight from the file must match.
#include "catalogue/engine.h"

namespace velloran {

void Recordset::CopyCurrentRow(const std::vector<CopiedField>& fields, size_t row, CopiedRows& rows) const {
  rows.Start(row);
  for (size_t k = 0; k < fields.size(); ++k) {
    const CopiedField& field = fields[k];
    switch (field.as) {
      case CopiedField::As::kText:
        CopyTextAt(field.position, rows.Text(k));
        break;
      case CopiedField::As::kWhole:
        rows.Whole(k, FieldAt(field.position).ToInteger());
        break;
      case CopiedField::As::kYesNo:
        rows.YesNo(k, FieldAt(field.position).ToBool());
        break;
    }
  }
}

size_t Recordset::CopyRows(const std::vector<CopiedField>& fields, size_t most, CopiedRows& rows) {
  size_t copied = 0;
  while (copied < most && !AtEnd()) {
    CopyCurrentRow(fields, copied++, rows);
    MoveNext();
  }
  return copied;
}

}  // namespace velloran
