#pragma once

#include "cli/TextTable.h"
#include "cli/UsageReport.h"

#include <map>
#include <string>
#include <vector>

namespace fernhollow {

// A report of rows (days, sessions, blocks), each named by a few labels and holding token
// totals and their cost, split by model.
struct RowsReport {
    struct Label {
        std::string key;   // in JSON
        std::string title; // over its column
        unsigned layouts = TextTable::every;
        bool shrinks = true; // false for times, which mean nothing cut short
    };
    struct Row {
        std::vector<std::string> labels;     // one for each of the report's labels
        std::vector<std::string> jsonLabels; // the same for scripts, where they differ (UTC times)
        TokenTotals totals;
        std::map<std::string, TokenTotals> byModel; // by the model's display name
        // Priced and summed into the row and its model.
        void add(const UsageRecord& record, const std::string& model, double cost);
    };

    std::string name; // the JSON key of the rows: "daily", "sessions"
    std::vector<Label> labels;
    unsigned modelsLayouts = TextTable::full;                      // where the row's models show
    unsigned countLayouts = TextTable::full | TextTable::standard; // the four kinds of tokens
    unsigned totalTokensLayouts = TextTable::full | TextTable::narrow;
    std::vector<Row> rows;
    std::vector<std::string> notes; // lines under the table
    std::string extraJson;          // more members of the JSON object, each led by a comma

    TokenTotals total() const;
};

std::string rowsTable(const RowsReport& report, const Terminal& terminal, bool breakdown);
// `{"<name>":[…],"totals":{…}}`; each row with its labels, the five token sums, `totalTokens`,
// `usd`, `models` and, with `breakdown`, its rows by model.
std::string rowsJson(const RowsReport& report, bool breakdown);

} // namespace fernhollow
