#include "core/ledger/LegacyImport.h"

#include "core/ledger/Ledger.h"
#include "core/ledger/StateFile.h"

#include <system_error>

namespace fernhollow {

bool importLegacyState(const std::filesystem::path& ledgerPath, const std::filesystem::path& stateFile) {
    std::error_code error;
    if (std::filesystem::exists(ledgerPath, error) || error) {
        return false;
    }
    auto state = loadStateFile(stateFile);
    if (!state) {
        return false;
    }
    const std::string building = ledgerPath.string() + ".import";
    for (const std::string_view suffix : {"", "-wal", "-shm"}) {
        std::filesystem::remove(building + std::string(suffix), error);
    }
    {
        // The log states are not taken over: the first pass reads every log whole once, and
        // the records it finds again are the same records.
        Ledger ledger(building);
        ledger.apply({UsageSource::claudeCode, RecordRule::keepLarger, std::move(state->records), {}, {}});
    }
    std::filesystem::rename(building, ledgerPath, error);
    return !error;
}

} // namespace fernhollow
