#pragma once

#include "core/ledger/StoredRecord.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Other machines' records are kept packed, a few hundred to a row: as rows of their own, merging
// years of five machines' use cost a second and a half of SQLite's inserts and 150 MB of pages
// to commit; packed, they take a fifth of the room and a few thousand inserts.
namespace fernhollow::recordchunk {

// A chunk holds at most this many records, of one machine, within this span of time: a search of
// an hour's records then reads a few chunks, whose first times lie at most this span before it.
inline constexpr std::size_t mostRecords = 512;
inline constexpr std::int64_t longestSpanMs = 86'400'000;

// The records, of one machine and in time order, packed. Fields a record shares with the one
// before it (its source, names and price class) are left out.
std::string encode(std::span<const StoredRecord> records);

// Appends the records a chunk holds to `records`, with `device` as their machine. Throws
// sqlite::Error (SQLITE_CORRUPT) for bytes that no chunk was written as, so a damaged ledger is
// told as such.
void decode(std::string_view bytes, std::int64_t device, std::vector<StoredRecord>& records);

} // namespace fernhollow::recordchunk
