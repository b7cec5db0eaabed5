// Folding text as the General sort order weighs it, and the one rule by which the engine matches
// the names of tables, columns and indexes.
//
// Two characters fold alike when the sort order gives them the same weights: upper and lower case
// of a letter do (they share every weight), a letter and its accented forms do not (the accent is
// a weight of its own). That is also when the catalogue's unique index on object names, which
// keys names in the General sort order, takes two names for one: so "Ärger" and "ärger" name the
// same table, "Senor" and "Señor" two.
#pragma once

#include <string>
#include <string_view>

#include "jet/base/format.h"

namespace jet {

// Replaces every code unit by the first unit that the sort order weighs identically (its
// upper-case form for letters), so that folded texts compare equal exactly when they match
// character by character ignoring case. Units without a weight of their own stay as they are.
// Jet 3 files weigh only the code page 1252 characters. `out` is overwritten; its room is reused.
void FoldText(JetVersion version, std::u16string_view text, std::u16string* out);
char16_t FoldUnit(JetVersion version, char16_t unit);
// The whole folding of a version: 65,536 units, FoldUnit of each, for loops that fold unit by unit.
const char16_t* FoldTableOf(JetVersion version);

// Whether two UTF-8 names of objects (tables, columns, indexes, properties) are the same name.
// Every lookup of an object by name in the engine, and above it, goes through this.
bool SameObjectName(std::string_view a, std::string_view b);

}  // namespace jet
