// A Claude Code log of arbitrary bytes, read from a file as the scan reads it.
#include "FuzzTarget.h"
#include "LogRecordChecks.h"

#include "core/sources/CCUsageParser.h"
#include "support/TempTree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fernhollow::test::TempTree projects;
    const auto log = projects.write("project/session.jsonl", fernhollow::fuzz::asText(data, size));
    const auto records = fernhollow::CCUsageParser::parseFile(log, projects.root());
    fernhollow::fuzz::checkLogRecords(records, "project", "session");
    return 0;
}
