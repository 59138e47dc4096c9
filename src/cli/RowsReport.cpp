#include "cli/RowsReport.h"

#include "core/model/JsonWriter.h"

namespace fernhollow {
namespace {

std::string modelsOf(const RowsReport::Row& row) {
    std::string models;
    for (const auto& [model, totals] : row.byModel) {
        models += models.empty() ? model : ", " + model;
    }
    return models;
}

std::vector<std::string> countCells(const TokenTotals& totals) {
    return {groupedDigits(totals.inputTokens),
            groupedDigits(totals.outputTokens),
            groupedDigits(totals.cacheCreationInputTokens),
            groupedDigits(totals.cacheReadInputTokens),
            groupedDigits(totals.allTokens()),
            groupedDollars(totals.usd)};
}

void appendCountsJson(std::string& out, const TokenTotals& totals) {
    appendTotalsJson(out, totals);
    out += ",\"totalTokens\":";
    json::appendInteger(out, totals.allTokens());
}

} // namespace

void RowsReport::Row::add(const UsageRecord& record, const std::string& model, double cost) {
    totals.add(record, cost);
    byModel[model].add(record, cost);
}

TokenTotals RowsReport::total() const {
    TokenTotals sum;
    for (const Row& row : rows) {
        sum.add(row.totals);
    }
    return sum;
}

std::string rowsTable(const RowsReport& report, const Terminal& terminal, bool breakdown) {
    std::vector<TextTable::Column> columns;
    for (const RowsReport::Label& label : report.labels) {
        columns.push_back({label.title, label.layouts, true, label.shrinks});
    }
    columns.push_back({"Models", report.modelsLayouts, true, true});
    for (const char* title : {"Input", "Output", "Cache write", "Cache read"}) {
        columns.push_back({title, report.countLayouts});
    }
    columns.push_back({"Total tokens", report.totalTokensLayouts});
    columns.push_back({"Cost (USD)", TextTable::every});
    TextTable table(std::move(columns));
    const auto addRow = [&](std::vector<std::string> labels, std::string models, const TokenTotals& totals,
                            TextTable::RowStyle style) {
        labels.resize(report.labels.size());
        labels.push_back(std::move(models));
        for (std::string& cell : countCells(totals)) {
            labels.push_back(std::move(cell));
        }
        table.addRow(std::move(labels), style);
    };
    for (const RowsReport::Row& row : report.rows) {
        addRow(row.labels, modelsOf(row), row.totals, TextTable::RowStyle::plain);
        if (breakdown) {
            for (const auto& [model, totals] : row.byModel) {
                addRow({"  \u2514 " + model}, "", totals, TextTable::RowStyle::detail);
            }
        }
    }
    addRow({"Total"}, "", report.total(), TextTable::RowStyle::total);
    std::string out = table.render(terminal);
    for (const std::string& note : report.notes) {
        out += note + "\n";
    }
    return out;
}

std::string rowsJson(const RowsReport& report, bool breakdown) {
    std::string out = "{";
    json::appendString(out, report.name);
    out += ":[";
    for (const RowsReport::Row& row : report.rows) {
        out += &row == &report.rows.front() ? "{" : ",{";
        for (std::size_t i = 0; i < report.labels.size(); ++i) {
            out += i == 0 ? "" : ",";
            json::appendString(out, report.labels[i].key);
            out += ":";
            json::appendString(out, (row.jsonLabels.empty() ? row.labels : row.jsonLabels)[i]);
        }
        appendCountsJson(out, row.totals);
        out += ",\"models\":[";
        for (const auto& [model, totals] : row.byModel) {
            out += model == row.byModel.begin()->first ? "" : ",";
            json::appendString(out, model);
        }
        out += "]";
        if (breakdown) {
            out += ",\"breakdown\":[";
            for (const auto& [model, totals] : row.byModel) {
                out += model == row.byModel.begin()->first ? "{\"model\":" : ",{\"model\":";
                json::appendString(out, model);
                appendCountsJson(out, totals);
                out += "}";
            }
            out += "]";
        }
        out += "}";
    }
    // The sums' keys each begin with a comma, which an object's first may not.
    std::string totals;
    appendCountsJson(totals, report.total());
    out += "],\"totals\":{" + totals.substr(1) + "}" + report.extraJson + "}\n";
    return out;
}

} // namespace fernhollow
