// Copying rows into a caller's list: the one definition of what a list keeps of a row, which a
// set that copies straight from the file must match.
#include "catalogue/engine.h"

#include <iterator>

namespace velloran {

void Recordset::CopyCurrentRow(const std::vector<CopiedField>& fields, size_t row, CopiedRows& rows) const {
  std::string* const* texts = rows.Start(row);
  int64_t few[16] = {};  // a list's handful of fields needs no allocation
  std::vector<int64_t> many;
  int64_t* numbers = few;
  if (fields.size() > std::size(few)) {
    many.resize(fields.size());
    numbers = many.data();
  }
  for (size_t k = 0; k < fields.size(); ++k) {
    const CopiedField& field = fields[k];
    switch (field.as) {
      case CopiedField::As::kText:
        CopyTextAt(field.position, *texts[k]);
        break;
      case CopiedField::As::kWhole:
        numbers[k] = FieldAt(field.position).ToInteger();
        break;
      case CopiedField::As::kYesNo:
        numbers[k] = FieldAt(field.position).ToBool() ? 1 : 0;
        break;
    }
  }
  rows.Finish(numbers);
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
