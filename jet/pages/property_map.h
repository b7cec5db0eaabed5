// Property blobs: the LvProp value of a catalogue row, which holds named properties of the object
// (a table's own, and one set per column) in Jet 4's "MR2" format.
//
// Layout: "MR2\0", then blocks of [u32 block length][u16 block type][contents]:
//   - type 0x80, once, first: every property name used, each [u16 byte length][UTF-16];
//   - type 0x00 (the object itself) or 0x01 (a column): [u32 header length][u16 name byte
//     length][UTF-16 column name] (no name for the object), then the properties, each
//     [u16 entry length][u8 DDL flag][u8 value type][u16 name index][u16 value length][value].
// Value types follow the column type codes (1 Boolean, 4 Long, 10 Text, ...); a Boolean is one
// byte, text is UTF-16.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"

namespace jet {

struct Property {
  std::string name;  // UTF-8
  uint8_t type = 0;  // a ColumnType code
  bool ddl = false;  // set for properties that belong to the design (Required, AllowZeroLength)
  std::string value;  // the stored bytes
};

struct PropertySet {
  std::string object;  // column name; empty for the object's own set
  std::vector<Property> properties;
};

// Helpers for the value types the engine writes.
Property BooleanProperty(const std::string& name, bool value, bool ddl);
Property LongProperty(const std::string& name, int32_t value, bool ddl);
Property TextProperty(const std::string& name, const std::string& value, bool ddl);

// Encodes the sets (the object's own set first when present; empty sets are kept).
std::string EncodePropertyBlob(const std::vector<PropertySet>& sets);

// Decodes a blob; kCorrupt names what is malformed.
Result<std::vector<PropertySet>> DecodePropertyBlob(const std::string& blob);

}  // namespace jet
