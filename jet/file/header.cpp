#include "jet/file/header.h"

#include <cmath>
#include <cstring>

#include "jet/base/bytes.h"

namespace jet {

namespace {

constexpr uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr size_t kMaskStart = 0x18;
constexpr size_t kVersionOffset = 0x14;
constexpr size_t kCodePageOffset = 0x3C;
constexpr size_t kEncryptionKeyOffset = 0x3E;
constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kSortOrderOffset = 0x6E;
constexpr size_t kSortOrderVersionOffset = 0x71;
constexpr size_t kCreationDateOffset = 0x72;

// Jet 4 stores the password scrambled with the creation date as well as the header mask, so
// an empty password reads as that date's bytes rather than zeros.
bool PasswordPresent(const DatabaseHeader& header) {
  const uint8_t* pwd = header.unmasked.data() + kPasswordOffset;
  if (header.version == JetVersion::kJet3) {
    for (size_t i = 0; i < 20; ++i)
      if (pwd[i] != 0) return true;
    return false;
  }
  // A damaged date that is no number of days at all (NaN, infinite, beyond 64 bits) would make the
  // conversion undefined; such a header scrambles nothing.
  double date = header.creation_date;
  uint32_t date_bits = 0;
  if (std::isfinite(date) && std::fabs(date) < 9.0e18) date_bits = static_cast<uint32_t>(static_cast<int64_t>(date));
  uint8_t date_mask[4];
  Put32(date_mask, date_bits);
  for (size_t i = 0; i < 40; ++i) {
    if ((pwd[i] ^ date_mask[i % 4]) != 0) return true;
  }
  return false;
}

}  // namespace

void Rc4Keystream(const uint8_t* key, size_t key_length, uint8_t* out, size_t length) {
  uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<uint8_t>(i);
  uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<uint8_t>(j + s[i] + key[i % key_length]);
    std::swap(s[i], s[j]);
  }
  uint8_t a = 0, b = 0;
  for (size_t n = 0; n < length; ++n) {
    a = static_cast<uint8_t>(a + 1);
    b = static_cast<uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    out[n] = s[static_cast<uint8_t>(s[a] + s[b])];
  }
}

void ToggleHeaderMask(JetVersion version, uint8_t* page0, size_t length) {
  size_t end = Format::For(version).masked_header_end;
  if (end > length) end = length;
  uint8_t stream[256];
  Rc4Keystream(kHeaderMaskKey, sizeof kHeaderMaskKey, stream, end - kMaskStart);
  for (size_t i = kMaskStart; i < end; ++i) page0[i] ^= stream[i - kMaskStart];
}

Result<DatabaseHeader> DecodeHeader(const uint8_t* data, size_t length, const std::string& file) {
  static constexpr char kJetMagic[] = "Standard Jet DB";
  static constexpr char kAceMagic[] = "Standard ACE DB";
  if (length < 2048 || data[0] != 0 || data[1] != 1 || data[2] != 0 || data[3] != 0) {
    return Error(ErrorCode::kNotDatabase, file + ": not an Access database (no database header on page 0)");
  }
  if (std::memcmp(data + 4, kAceMagic, sizeof kAceMagic - 1) == 0) {
    return Error(ErrorCode::kUnsupported,
                 file + ": an Access 2007 or later (.accdb) database; save it in Access 2000-2003 format (.mdb) to use it here");
  }
  if (std::memcmp(data + 4, kJetMagic, sizeof kJetMagic - 1) != 0) {
    return Error(ErrorCode::kNotDatabase, file + ": not an Access database (unknown header signature)");
  }
  DatabaseHeader header;
  uint8_t version = data[kVersionOffset];
  if (version == 0) {
    header.version = JetVersion::kJet3;
  } else if (version == 1) {
    header.version = JetVersion::kJet4;
  } else {
    return Error(ErrorCode::kUnsupported, file + ": database format version " + std::to_string(version) +
                                              " is newer than Access 2003; save it as an Access 2000-2003 .mdb");
  }
  size_t page_size = Format::For(header.version).page_size;
  if (length < page_size) {
    return Error(ErrorCode::kCorrupt, file + ", page 0: the file is shorter than one page");
  }
  header.unmasked.assign(data, data + page_size);
  ToggleHeaderMask(header.version, header.unmasked.data(), page_size);
  const uint8_t* h = header.unmasked.data();
  header.code_page = Get16(h + kCodePageOffset);
  header.encryption_key = Get32(h + kEncryptionKeyOffset);
  header.sort_order = Get16(h + kSortOrderOffset);
  header.sort_order_version = h[kSortOrderVersionOffset];
  header.creation_date = GetDouble(h + kCreationDateOffset);
  if (header.encryption_key != 0) {
    return Error(ErrorCode::kEncrypted, file + ": the database is encrypted; decrypt it in Access (Tools, Security) and open it again");
  }
  header.has_password = PasswordPresent(header);
  if (header.has_password) {
    return Error(ErrorCode::kEncrypted,
                 file + ": the database is protected by a password; remove the password in Access and open it again");
  }
  return header;
}

}  // namespace jet
