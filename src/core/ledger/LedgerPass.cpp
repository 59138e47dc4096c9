#include "core/ledger/LedgerPass.h"

namespace fernhollow {

std::optional<sqlite::Error> passIntoLedger(const std::filesystem::path& ledgerPath, UsageSource source,
                                            bool wholeFiles, const SourceScan& scan) {
    try {
        Ledger ledger(ledgerPath);
        ScanResult result = scan(ledger.fileStates(source), wholeFiles);
        if (!result.changesNothing()) {
            ledger.apply({source, wholeFiles ? RecordRule::replace : RecordRule::keepLarger,
                          std::move(result.records), std::move(result.files), std::move(result.goneFiles)});
        }
        ledger.recordRateLimits(result.rateLimits);
        return std::nullopt;
    } catch (const sqlite::Error& error) {
        return error;
    }
}

} // namespace fernhollow
