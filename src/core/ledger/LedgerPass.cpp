#include "core/ledger/LedgerPass.h"

namespace fernhollow {

std::optional<sqlite::Error> passIntoLedger(const std::filesystem::path& ledgerPath, UsageSource source,
                                            bool wholeFiles, const SourceScan& scan) {
    try {
        Ledger ledger(ledgerPath);
        const LogFileStates known = ledger.fileStates(source);
        std::vector<RateLimit> rateLimits;
        ledger.applyAsRead({source, wholeFiles ? RecordRule::replace : RecordRule::keepLarger, {}, {}, {}},
                           [&](const RecordSink& sink, LedgerBatch& batch) {
                               ScanResult result = scan(known, wholeFiles, sink);
                               batch.records = std::move(result.records);
                               batch.files = std::move(result.files);
                               batch.goneFiles = std::move(result.goneFiles);
                               rateLimits = std::move(result.rateLimits);
                           });
        ledger.recordRateLimits(rateLimits);
        return std::nullopt;
    } catch (const sqlite::Error& error) {
        return error;
    }
}

} // namespace fernhollow
