// The database header on page 0: format version, code page, sort order and the protection fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/format.h"
#include "jet/base/status.h"

namespace jet {

struct DatabaseHeader {
  JetVersion version = JetVersion::kJet4;
  uint16_t code_page = 0;
  uint32_t encryption_key = 0;  // non-zero: pages are encrypted
  uint16_t sort_order = 0;      // 0x0409 General
  uint8_t sort_order_version = 0;
  double creation_date = 0;
  bool has_password = false;
  std::vector<uint8_t> unmasked;  // the first page_size bytes of page 0 with the mask removed
};

// Applies (or removes: it is its own inverse) the fixed RC4 mask over the header's masked region.
void ToggleHeaderMask(JetVersion version, uint8_t* page0, size_t length);

// Decodes page 0. `data` holds at least the first page of the file; `file` names it in errors.
// Fails with kNotDatabase for anything that is not a Jet 3/4 database, kUnsupported for newer
// formats and kEncrypted for encrypted or password-protected databases.
Result<DatabaseHeader> DecodeHeader(const uint8_t* data, size_t length, const std::string& file);

// Reads the RC4 keystream of `key` into `out` (length bytes).
void Rc4Keystream(const uint8_t* key, size_t key_length, uint8_t* out, size_t length);

}  // namespace jet
