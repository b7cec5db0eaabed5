// Field values and types between the program's terms (FieldValue, FieldType) and the engine's
// (jet::Value, jet::ColumnType).
//
// Reading: Yes/No fields give a bool; Byte, Integer and Long a whole number; Single, Double,
// Currency and Decimal a number; Text and Memo a text; Date/Time a text "YYYY-MM-DD" or
// "YYYY-MM-DD HH:MM:SS" (the time only when it is not midnight); Binary and OLE their bytes as
// upper-case hex; a GUID "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". Writing takes those forms
// back, and converts between numbers, texts and Yes/No as Access assigns them.
#pragma once

#include <optional>
#include <string>

#include "catalogue/engine.h"
#include "jet/base/status.h"
#include "jet/base/value.h"
#include "jet/database.h"

namespace velloran {

FieldType FieldTypeOf(jet::ColumnType type);
// The engine type a new field of `type` gets; nullopt for a code the engine cannot create.
std::optional<jet::ColumnType> ColumnTypeOf(FieldType type);

FieldValue FromJetValue(const jet::Value& value);
// FromJetValue into `target`, reusing the room of the text it held.
void AssignFromJetValue(const jet::Value& value, FieldValue* target);

// The value `column` stores for `value`. kInvalidArgument, naming the field, for a value the
// field cannot hold (a text that is no number for a number field, a number out of range, ...).
jet::Result<jet::Value> ToColumnValue(const FieldValue& value, const jet::ColumnDef& column);

// A stored value as a SQL literal (null, bool, whole number, number or text), as index walks
// compare it; kInvalidArgument for values that have none (GUID, binary).
jet::Result<jet::Value> AsLiteral(const jet::Value& stored, const jet::ColumnDef& column);

// Date/Time values: days since 1899-12-30, the fraction being the time of day.
std::string FormatDate(double days);
std::optional<double> ParseDate(const std::string& text);

}  // namespace velloran
