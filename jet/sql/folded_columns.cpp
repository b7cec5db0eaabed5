#include "jet/sql/folded_columns.h"

#include <algorithm>
#include <cstring>

#include "jet/pages/usage_map.h"
#include "jet/sql/sql_rows.h"
#include "jet/text/text_codec.h"
#include "jet/text/text_fold.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace jet {

void AppendFoldedBytes(std::u16string_view folded, std::string* out) {
  for (const char16_t u : folded) {
    if (u < 0x80) {
      out->push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      out->push_back(static_cast<char>(0xC0 | u >> 6));
      out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xE0 | u >> 12));
      out->push_back(static_cast<char>(0x80 | (u >> 6 & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
}

void FoldedUnitsOf(std::string_view bytes, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < bytes.size();) {
    const uint8_t b = static_cast<uint8_t>(bytes[i]);
    const auto next = [&](size_t k) { return static_cast<char16_t>(static_cast<uint8_t>(bytes[i + k]) & 0x3F); };
    if (b < 0x80) {
      out->push_back(b);
      i += 1;
    } else if (b < 0xE0) {
      out->push_back(static_cast<char16_t>((b & 0x1F) << 6 | next(1)));
      i += 2;
    } else {
      out->push_back(static_cast<char16_t>((b & 0x0F) << 12 | next(1) << 6 | next(2)));
      i += 3;
    }
  }
}

size_t FoldedColumns::MemoryBytes() const {
  return bytes.capacity() + starts.capacity() * sizeof(uint32_t) + nulls.capacity() + places.capacity() * sizeof(RowId);
}

namespace {

// Appends the folding of one stored text. Jet 4 texts kept one byte a character without a switch
// to two-byte runs (most of them) are folded straight from their bytes.
void AppendStoredText(JetVersion version, const char16_t* fold, const StoredText& stored, Text* scratch,
                      std::string* out) {
  const uint8_t* b = stored.bytes;
  const size_t n = stored.size;
  if (version == JetVersion::kJet4 && n >= 2 && b[0] == 0xFF && b[1] == 0xFE && std::memchr(b + 2, 0, n - 2) == nullptr) {
    for (size_t i = 2; i < n; ++i) {
      const char16_t f = fold[b[i]];
      if (f < 0x80) out->push_back(static_cast<char>(f));
      else AppendFoldedBytes(std::u16string_view(&f, 1), out);
    }
    return;
  }
  DecodeStoredText(version, b, n, scratch);
  for (char16_t& u : *scratch) u = fold[u];
  AppendFoldedBytes(*scratch, out);
}

Result<std::unique_ptr<FoldedColumns>> Build(Pager& pager, const TableDef& def, const std::vector<size_t>& columns) {
  auto folded = std::make_unique<FoldedColumns>();
  folded->columns = columns;
  JET_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ReadUsageMap(pager, def.owned_pages_map));
  StorageCursor cursor(pager, def.page, std::make_shared<const std::vector<uint32_t>>(std::move(owned)));
  LazyRow row(pager, def);
  const JetVersion version = pager.format().version;
  const char16_t* fold = FoldTableOf(version);
  Text scratch;
  std::string& bytes = folded->bytes;
  for (Result<bool> on = cursor.First();; on = cursor.Next()) {
    if (!on.ok()) return on.error();
    if (!on.value()) break;
    JET_RETURN_IF_ERROR(row.Load(cursor.row(), cursor.slot()));
    folded->moved_rows = folded->moved_rows || cursor.slot().moved_home();
    folded->places.push_back(cursor.row());
    uint8_t nulls = 0;
    for (size_t k = 0; k < columns.size(); ++k) {
      folded->starts.push_back(static_cast<uint32_t>(bytes.size()));
      StoredText stored;
      JET_ASSIGN_OR_RETURN(Stored kind, row.GetStored(columns[k], &stored));
      if (kind == Stored::kText) {
        AppendStoredText(version, fold, stored, &scratch, &bytes);
      } else if (kind == Stored::kNull) {
        nulls |= static_cast<uint8_t>(1u << k);
      } else {
        JET_ASSIGN_OR_RETURN(const Value* value, row.Get(columns[k]));
        if (const Text* text = std::get_if<Text>(value)) {
          scratch.resize(text->size());
          for (size_t i = 0; i < text->size(); ++i) scratch[i] = fold[(*text)[i]];
          AppendFoldedBytes(scratch, &bytes);
        } else {
          nulls |= static_cast<uint8_t>(1u << k);
        }
      }
      bytes.push_back('\0');
      if (bytes.size() > UINT32_MAX - 1) return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\": too much text to search at once");
    }
    folded->nulls.push_back(nulls);
  }
  folded->starts.push_back(static_cast<uint32_t>(bytes.size()));
  bytes.shrink_to_fit();
  folded->starts.shrink_to_fit();
  folded->places.shrink_to_fit();
  folded->nulls.shrink_to_fit();
  return folded;
}

}  // namespace

Result<std::shared_ptr<const FoldedColumns>> FoldedColumnsOf(Pager& pager, const TableDef& def,
                                                             const std::vector<size_t>& columns) {
  if (columns.empty() || columns.size() > 8) {
    return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\": folded texts of 1 to 8 columns, not " + std::to_string(columns.size()));
  }
  std::string key = "folded-columns:" + std::to_string(def.page);
  for (size_t c : columns) key += "," + std::to_string(c);
  if (std::shared_ptr<const FoldedColumns> kept = pager.SharedDecoded<FoldedColumns>(key)) return kept;
  JET_ASSIGN_OR_RETURN(std::unique_ptr<FoldedColumns> built, Build(pager, def, columns));
  std::shared_ptr<const FoldedColumns> shared = std::move(built);
  pager.ShareDecoded<FoldedColumns>(key, shared);
  return shared;
}

const char* FindBytes(const char* from, const char* end, std::string_view needle) {
  const size_t m = needle.size();
  if (m == 0) return from;
  if (end - from < static_cast<std::ptrdiff_t>(m)) return end;
  if (m == 1) {
    const void* hit = std::memchr(from, needle[0], static_cast<size_t>(end - from));
    return hit == nullptr ? end : static_cast<const char*>(hit);
  }
  const char* last_start = end - m;
  const char* p = from;
#if defined(__SSE2__)
  // Sixteen places at a time: those where both the first and the last byte of the needle are
  // where they should be; only those are compared in full.
  const __m128i first = _mm_set1_epi8(needle[0]);
  const __m128i last = _mm_set1_epi8(needle[m - 1]);
  for (; p + 15 <= last_start; p += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + m - 1));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
    while (mask != 0) {
      const int i = __builtin_ctz(mask);
      if (std::memcmp(p + i + 1, needle.data() + 1, m - 2) == 0) return p + i;
      mask &= mask - 1;
    }
  }
#endif
  for (; p <= last_start; ++p) {
    if (p[0] == needle[0] && std::memcmp(p, needle.data(), m) == 0) return p;
  }
  return end;
}

namespace {

// The text (field) that byte `pos` lies in, looking on from field `f`.
size_t FieldAt(const std::vector<uint32_t>& starts, size_t f, uint32_t pos) {
  for (int i = 0; i < 8; ++i, ++f) {
    if (starts[f + 1] > pos) return f;
  }
  return static_cast<size_t>(std::upper_bound(starts.begin() + static_cast<std::ptrdiff_t>(f), starts.end(), pos) -
                             starts.begin()) - 1;
}

// Marks the rows with a text of a masked column that holds `needle`; with `verify`, only those
// whose whole text `verify` matches too.
void MarkHolding(const FoldedColumns& folded, uint32_t mask, std::string_view needle, const LikePattern* verify,
                 std::vector<uint8_t>* match) {
  const size_t width = folded.columns.size();
  const char* base = folded.bytes.data();
  const char* end = base + folded.bytes.size();
  const auto& starts = folded.starts;
  std::u16string units;
  size_t f = 0;
  for (const char* at = base;;) {
    const char* hit = FindBytes(at, end, needle);
    if (hit == end) break;
    const uint32_t pos = static_cast<uint32_t>(hit - base);
    f = FieldAt(starts, f, pos);
    const size_t row = f / width, k = f % width;
    if ((*match)[row]) {
      at = base + starts[(row + 1) * width];
      continue;
    }
    if (pos + needle.size() >= starts[f + 1]) {  // runs on past the text's end
      at = hit + 1;
      continue;
    }
    if ((mask >> k & 1) == 0) {
      at = base + starts[f + 1];
      continue;
    }
    if (verify != nullptr) {
      FoldedUnitsOf(folded.Text(row, k), &units);
      if (!verify->Matches(units)) {
        at = base + starts[f + 1];
        continue;
      }
    }
    (*match)[row] = 1;
    at = base + starts[(row + 1) * width];
  }
}

}  // namespace

void MarkMatches(const FoldedColumns& folded, const std::vector<FoldedTerm>& terms, std::vector<uint8_t>* match) {
  match->assign(folded.rows(), 0);
  std::string needle;
  std::u16string units;
  for (const FoldedTerm& term : terms) {
    const LikePattern& like = *term.like;
    needle.clear();
    if (std::optional<std::u16string> contained = like.ContainedText()) {
      AppendFoldedBytes(*contained, &needle);
      MarkHolding(folded, term.column_mask, needle, nullptr, match);
      continue;
    }
    const std::u16string required = like.RequiredText();
    if (!required.empty()) {
      AppendFoldedBytes(required, &needle);
      MarkHolding(folded, term.column_mask, needle, &like, match);
      continue;
    }
    const bool any = like.MatchesAnyText();
    for (size_t row = 0; row < folded.rows(); ++row) {
      for (size_t k = 0; k < folded.columns.size() && !(*match)[row]; ++k) {
        if ((term.column_mask >> k & 1) == 0 || folded.Null(row, k)) continue;
        if (!any) FoldedUnitsOf(folded.Text(row, k), &units);
        if (any || like.Matches(units)) (*match)[row] = 1;
      }
    }
  }
}

}  // namespace jet
