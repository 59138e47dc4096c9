#pragma once

#include "core/model/ModelPricing.h"
#include "core/model/UsageRecord.h"

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace fernhollow {

struct TokenTotals {
    std::int64_t inputTokens = 0;
    std::int64_t outputTokens = 0;
    std::int64_t cacheCreationInputTokens = 0;
    std::int64_t cacheCreation1hTokens = 0;
    std::int64_t cacheReadInputTokens = 0;
    double usd = 0.0;

    void add(const UsageRecord& record, double cost);
    void add(const TokenTotals& other);
    // Every token counted once: the 1-hour cache writes are a part of the cache writes.
    std::int64_t allTokens() const;
};

struct UsageReport {
    struct Row {
        std::string label; // the model's canonical id, or a local date YYYY-MM-DD
        TokenTotals totals;
    };
    std::size_t records = 0;
    std::vector<Row> byModel;   // most expensive first
    std::vector<Row> byDay;     // oldest first, by the local calendar day of each record
    std::vector<Row> byMachine; // the table's alone, and only when more than one machine counts
    TokenTotals total;
};

// Groups and prices history (records, or totals that no local day splits) with the current
// rate tables, a record at a time; days follow the process's time zone.
class UsageReportBuilder {
public:
    void add(const UsageRecord& record);
    // `recordCount` is how many records the history holds.
    UsageReport build(std::size_t recordCount);

private:
    ModelPricing::Pricer pricer_;
    std::map<std::string, TokenTotals> byModel_;
    std::map<std::string, TokenTotals> byDay_;
    TokenTotals total_;
    // The totals of one quarter-hour come together: its day is formatted once.
    double dayTimestamp_ = std::numeric_limits<double>::quiet_NaN();
    std::string day_;
};

std::string formatReportJson(const UsageReport& report);
// The five token sums and `usd`, each as ",\"key\":value".
void appendTotalsJson(std::string& out, const TokenTotals& totals);
std::string formatReportTable(const UsageReport& report);

} // namespace fernhollow
