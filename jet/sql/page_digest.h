// The digest of a page's bytes, kept with whatever was decoded from the page so that a later look
// tells whether the page changed without decoding it again. Any length is taken.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jet/sql/bulk_digest.h"

namespace jet {

inline uint64_t PageDigest(const uint8_t* bytes, size_t size) { return BulkDigest::Of(bytes, size); }

}  // namespace jet
