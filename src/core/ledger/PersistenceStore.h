#pragma once

#include <cstdint>
#include <filesystem>

// Where the usage ledger lives in the data folder, and what it takes on disk.
namespace fernhollow::PersistenceStore {

// ledger.sqlite3 in the data folder, which is created on the way.
std::filesystem::path ledgerURL();

// state.json, the whole-history cache that versions before the ledger wrote; read once, to
// fill a new ledger, and then left where it is.
std::filesystem::path legacyStateURL();

// The ledger at `ledger` and its write-ahead log together, in bytes; 0 when there is none.
std::int64_t sizeOnDisk(const std::filesystem::path& ledger);

} // namespace fernhollow::PersistenceStore
