#pragma once

#include "core/ledger/Ledger.h"

#include <filesystem>
#include <functional>
#include <optional>

namespace fernhollow {

// A source's scan from the states the last pass left: `wholeFiles` reads every log whole. A
// source may hand its records to `sink` as its logs are read; those it returns are written after.
using SourceScan =
    std::function<ScanResult(const LogFileStates& known, bool wholeFiles, const RecordSink& sink)>;

// One source's pass on a connection of its own: the log states the last pass left, the logs
// read from them, and what was read written in one transaction. A pass that read nothing
// writes nothing. A forced rescan (`wholeFiles`) replaces what was kept of each log it reads.
// Gives the ledger's error, if any; the ledger is then as the pass found it.
std::optional<sqlite::Error> passIntoLedger(const std::filesystem::path& ledgerPath, UsageSource source,
                                            bool wholeFiles, const SourceScan& scan);

} // namespace fernhollow
