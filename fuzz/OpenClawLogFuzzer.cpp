// An OpenClaw session log of arbitrary bytes, read from a file as the scan reads it.
#include "FuzzTarget.h"
#include "LogRecordChecks.h"

#include "core/sources/OpenClawParser.h"
#include "support/TempTree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fernhollow::test::TempTree agents;
    const auto log = agents.write("agent/sessions/session.jsonl", fernhollow::fuzz::asText(data, size));
    const auto records = fernhollow::OpenClawParser::parseFile(log, "agent");
    fernhollow::fuzz::checkLogRecords(records, "openclaw/agent", "session");
    return 0;
}
