#include "cli/UsageReport.h"

#include "cli/TextTable.h"

#include "core/common/SaturatingAdd.h"

#include "core/model/JsonWriter.h"
#include "core/model/ModelPricing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>

namespace fernhollow {
namespace {

std::string localDate(double timestamp) {
    // A moment beyond any calendar (an API may stamp 2^63) has no day, and converting it to a
    // time_t would be undefined.
    if (!(std::abs(timestamp) < 1e15)) {
        return "unknown";
    }
    const auto seconds = static_cast<std::time_t>(std::floor(timestamp));
    std::tm local{};
    if (::localtime_r(&seconds, &local) == nullptr) {
        return "unknown";
    }
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d", &local);
    return buffer;
}

std::vector<UsageReport::Row> rowsOf(std::map<std::string, TokenTotals>&& groups) {
    std::vector<UsageReport::Row> rows;
    rows.reserve(groups.size());
    for (auto& [label, totals] : groups) {
        rows.push_back({label, totals});
    }
    return rows;
}

void appendRowsJson(std::string& out, std::string_view name, std::string_view labelKey,
                    const std::vector<UsageReport::Row>& rows) {
    out += ",\"";
    out += name;
    out += "\":[";
    for (const auto& row : rows) {
        if (&row != &rows.front()) {
            out.push_back(',');
        }
        out += "{\"";
        out += labelKey;
        out += "\":";
        json::appendString(out, row.label);
        appendTotalsJson(out, row.totals);
        out.push_back('}');
    }
    out.push_back(']');
}

void appendTableRow(std::string& out, std::string_view label, const TokenTotals& totals) {
    char buffer[320];
    std::snprintf(buffer, sizeof buffer, "  %-30.*s %14s %14s %14s %14s %16s %12s\n",
                  static_cast<int>(std::min<std::size_t>(label.size(), 30)), label.data(),
                  groupedDigits(totals.inputTokens).c_str(), groupedDigits(totals.outputTokens).c_str(),
                  groupedDigits(totals.cacheCreationInputTokens).c_str(),
                  groupedDigits(totals.cacheCreation1hTokens).c_str(),
                  groupedDigits(totals.cacheReadInputTokens).c_str(),
                  groupedDollars(totals.usd).substr(1).c_str());
    out += buffer;
}

void appendTableSection(std::string& out, std::string_view title, const std::vector<UsageReport::Row>& rows) {
    char header[256];
    std::snprintf(header, sizeof header, "  %-30s %14s %14s %14s %14s %16s %12s\n",
                  std::string(title).c_str(), "Input", "Output", "Cache write", "of which 1h", "Cache read",
                  "USD");
    out += header;
    for (const auto& row : rows) {
        appendTableRow(out, row.label, row.totals);
    }
}

} // namespace

void TokenTotals::add(const UsageRecord& record, double cost) {
    add(TokenTotals{record.inputTokens, record.outputTokens, record.cacheCreationInputTokens,
                    record.cacheCreation1hTokens, record.cacheReadInputTokens, cost});
}

void TokenTotals::add(const TokenTotals& other) {
    inputTokens = addSaturating(inputTokens, other.inputTokens);
    outputTokens = addSaturating(outputTokens, other.outputTokens);
    cacheCreationInputTokens = addSaturating(cacheCreationInputTokens, other.cacheCreationInputTokens);
    cacheCreation1hTokens = addSaturating(cacheCreation1hTokens, other.cacheCreation1hTokens);
    cacheReadInputTokens = addSaturating(cacheReadInputTokens, other.cacheReadInputTokens);
    usd += other.usd;
}

std::int64_t TokenTotals::allTokens() const {
    return addSaturating(addSaturating(inputTokens, outputTokens),
                         addSaturating(cacheCreationInputTokens, cacheReadInputTokens));
}

void appendTotalsJson(std::string& out, const TokenTotals& totals) {
    const std::pair<std::string_view, std::int64_t> counts[] = {
        {"inputTokens", totals.inputTokens},
        {"outputTokens", totals.outputTokens},
        {"cacheCreationInputTokens", totals.cacheCreationInputTokens},
        {"cacheCreation1hTokens", totals.cacheCreation1hTokens},
        {"cacheReadInputTokens", totals.cacheReadInputTokens},
    };
    for (const auto& [key, value] : counts) {
        out += ",\"";
        out += key;
        out += "\":";
        json::appendInteger(out, value);
    }
    out += ",\"usd\":";
    json::appendNumber(out, totals.usd);
}

void UsageReportBuilder::add(const UsageRecord& record) {
    const double cost = pricer_.cost(record);
    if (record.timestamp != dayTimestamp_) {
        dayTimestamp_ = record.timestamp;
        day_ = localDate(record.timestamp);
    }
    byModel_[pricer_.displayName(record.model)].add(record, cost);
    byDay_[day_].add(record, cost);
    total_.add(record, cost);
}

UsageReport UsageReportBuilder::build(std::size_t recordCount) {
    UsageReport report;
    report.records = recordCount;
    report.total = total_;
    report.byModel = rowsOf(std::move(byModel_));
    std::stable_sort(report.byModel.begin(), report.byModel.end(),
                     [](const auto& a, const auto& b) { return a.totals.usd > b.totals.usd; });
    report.byDay = rowsOf(std::move(byDay_));
    return report;
}

std::string formatReportJson(const UsageReport& report) {
    std::string out = "{\"records\":";
    json::appendInteger(out, static_cast<std::int64_t>(report.records));
    appendRowsJson(out, "byModel", "model", report.byModel);
    appendRowsJson(out, "byDay", "date", report.byDay);
    out += "}\n";
    return out;
}

std::string formatReportTable(const UsageReport& report) {
    std::string out;
    out += groupedDigits(static_cast<std::int64_t>(report.records)) +
           " usage records, API-equivalent total " + groupedDollars(report.total.usd) + "\n";
    if (report.records == 0) {
        return out;
    }
    out += "\n";
    appendTableSection(out, "By model", report.byModel);
    out += "\n";
    if (!report.byMachine.empty()) {
        appendTableSection(out, "By machine", report.byMachine);
        out += "\n";
    }
    appendTableSection(out, "By day", report.byDay);
    out += "\n";
    appendTableRow(out, "Total", report.total);
    return out;
}

} // namespace fernhollow
