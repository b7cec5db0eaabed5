#include "jet/pages/property_map.h"

#include <map>

#include "jet/base/bytes.h"
#include "jet/base/value.h"

namespace jet {

namespace {

constexpr char kMagic[4] = {'M', 'R', '2', '\0'};
constexpr uint16_t kNamesBlock = 0x80;
constexpr uint16_t kObjectBlock = 0x00;
constexpr uint16_t kColumnBlock = 0x01;

std::string Utf16(const std::string& utf8) {
  std::string out;
  for (char16_t unit : FromUtf8(utf8)) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

void Append16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xFF));
  out->push_back(static_cast<char>(v >> 8));
}

void Append32(std::string* out, uint32_t v) {
  Append16(out, static_cast<uint16_t>(v & 0xFFFF));
  Append16(out, static_cast<uint16_t>(v >> 16));
}

// A block: its length (header included) and type, then `body`.
std::string Block(uint16_t type, const std::string& body) {
  std::string out;
  Append32(&out, static_cast<uint32_t>(body.size() + 6));
  Append16(&out, type);
  return out + body;
}

std::string Text16(const uint8_t* p, size_t bytes) {
  Text text;
  for (size_t i = 0; i + 1 < bytes; i += 2) text.push_back(static_cast<char16_t>(Get16(p + i)));
  return ToUtf8(text);
}

Error Malformed(const std::string& what) { return Error(ErrorCode::kCorrupt, "a property blob is malformed: " + what); }

Result<PropertySet> DecodeValues(const uint8_t* p, size_t size, bool column, const std::vector<std::string>& names) {
  PropertySet set;
  if (size < 6) return Malformed("a property block is too short");
  uint32_t header = Get32(p);
  uint16_t name_bytes = Get16(p + 4);
  if (header < 6 || header > size || 6u + name_bytes > header) return Malformed("a property block header is out of range");
  if (column) set.object = Text16(p + 6, name_bytes);
  for (size_t pos = header; pos < size;) {
    if (pos + 8 > size) return Malformed("a property entry is cut short");
    uint16_t entry = Get16(p + pos), name = Get16(p + pos + 4), length = Get16(p + pos + 6);
    if (entry < 8 || pos + entry > size || 8u + length > entry) return Malformed("a property entry is out of range");
    if (name >= names.size()) return Malformed("a property names an unknown name");
    set.properties.push_back(Property{names[name], p[pos + 3], p[pos + 2] != 0,
                                      std::string(reinterpret_cast<const char*>(p + pos + 8), length)});
    pos += entry;
  }
  return set;
}

}  // namespace

Property BooleanProperty(const std::string& name, bool value, bool ddl) {
  return Property{name, 0x01, ddl, std::string(1, value ? '\x01' : '\x00')};
}

Property LongProperty(const std::string& name, int32_t value, bool ddl) {
  std::string bytes;
  Append32(&bytes, static_cast<uint32_t>(value));
  return Property{name, 0x04, ddl, bytes};
}

Property TextProperty(const std::string& name, const std::string& value, bool ddl) {
  return Property{name, 0x0A, ddl, Utf16(value)};
}

std::string EncodePropertyBlob(const std::vector<PropertySet>& sets) {
  std::vector<std::string> names;
  std::map<std::string, uint16_t> index;
  for (const PropertySet& set : sets) {
    for (const Property& p : set.properties) {
      if (index.emplace(p.name, static_cast<uint16_t>(names.size())).second) names.push_back(p.name);
    }
  }
  std::string name_block;
  for (const std::string& name : names) {
    std::string text = Utf16(name);
    Append16(&name_block, static_cast<uint16_t>(text.size()));
    name_block += text;
  }
  std::string out(kMagic, sizeof kMagic);
  out += Block(kNamesBlock, name_block);
  for (const PropertySet& set : sets) {
    std::string object = Utf16(set.object);
    std::string body;
    Append32(&body, static_cast<uint32_t>(6 + object.size()));
    Append16(&body, static_cast<uint16_t>(object.size()));
    body += object;
    for (const Property& p : set.properties) {
      Append16(&body, static_cast<uint16_t>(8 + p.value.size()));
      body.push_back(static_cast<char>(p.ddl ? 1 : 0));
      body.push_back(static_cast<char>(p.type));
      Append16(&body, index[p.name]);
      Append16(&body, static_cast<uint16_t>(p.value.size()));
      body += p.value;
    }
    out += Block(set.object.empty() ? kObjectBlock : kColumnBlock, body);
  }
  return out;
}

Result<std::vector<PropertySet>> DecodePropertyBlob(const std::string& blob) {
  const auto* p = reinterpret_cast<const uint8_t*>(blob.data());
  if (blob.size() < 4 || blob.compare(0, 4, std::string(kMagic, sizeof kMagic)) != 0) return Malformed("no MR2 signature");
  std::vector<std::string> names;
  std::vector<PropertySet> sets;
  for (size_t pos = 4; pos < blob.size();) {
    if (pos + 6 > blob.size()) return Malformed("a block header is cut short");
    uint32_t length = Get32(p + pos);
    uint16_t type = Get16(p + pos + 4);
    if (length < 6 || length > blob.size() - pos) return Malformed("a block length is out of range");
    const uint8_t* body = p + pos + 6;
    size_t size = length - 6;
    if (type == kNamesBlock) {
      for (size_t q = 0; q < size;) {
        if (q + 2 > size || q + 2 + Get16(body + q) > size) return Malformed("a property name is cut short");
        names.push_back(Text16(body + q + 2, Get16(body + q)));
        q += 2 + Get16(body + q);
      }
    } else if (type == kObjectBlock || type == kColumnBlock) {
      JET_ASSIGN_OR_RETURN(PropertySet set, DecodeValues(body, size, type == kColumnBlock, names));
      sets.push_back(std::move(set));
    } else {
      return Malformed("unknown block type " + std::to_string(type));
    }
    pos += length;
  }
  return sets;
}

}  // namespace jet
