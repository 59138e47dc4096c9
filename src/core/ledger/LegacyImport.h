#pragma once

#include <filesystem>

namespace fernhollow {

// Versions before the ledger kept the Claude Code history in one state.json (schema 3). When
// there is no ledger at `ledgerPath` yet and such a file exists, a ledger is made from its
// records, whole or not at all (it is built under another name and renamed into place), so the
// history survives the upgrade. The file itself is left where it is. Returns whether a
// ledger was made.
bool importLegacyState(const std::filesystem::path& ledgerPath, const std::filesystem::path& stateFile);

} // namespace fernhollow
