#include "core/ledger/PersistenceStore.h"

#include "core/common/Folders.h"
#include "core/ledger/Ledger.h"

#include <system_error>

namespace fernhollow::PersistenceStore {

std::filesystem::path ledgerURL() {
    return Folders::data() / Ledger::fileName;
}

std::filesystem::path legacyStateURL() {
    return Folders::data() / "state.json";
}

std::int64_t sizeOnDisk(const std::filesystem::path& ledger) {
    std::int64_t total = 0;
    for (const auto& file : {ledger, std::filesystem::path(ledger.string() + "-wal")}) {
        std::error_code error;
        const auto size = std::filesystem::file_size(file, error);
        if (!error) {
            total += static_cast<std::int64_t>(size);
        }
    }
    return total;
}

} // namespace fernhollow::PersistenceStore
