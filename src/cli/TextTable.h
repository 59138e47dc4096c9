#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace fernhollow {

// What the output can show: colour only on a terminal, and never when NO_COLOR is set.
struct Terminal {
    bool colour = false;
    std::size_t width = 80;

    static Terminal of(std::FILE* stream);
};

// 12265431 as "12,265,431".
std::string groupedDigits(std::int64_t value);
// Dollars with cents and grouped digits: "$1,234.56".
std::string groupedDollars(double usd);

// A table that fits the terminal: of the layouts its columns take part in, the richest that
// fits is drawn, its text columns cut short ("…") as far as that helps.
class TextTable {
public:
    enum Layout : unsigned { full = 1, standard = 2, narrow = 4, every = 7 };
    enum class RowStyle { plain, detail, total };

    struct Column {
        std::string title;
        unsigned layouts = every;
        bool left = false;    // aligned left, as text is; numbers align right
        bool shrinks = false; // cut short before a layout is given up
    };

    explicit TextTable(std::vector<Column> columns) : columns_(std::move(columns)) {}

    // One cell for each column, in order.
    void addRow(std::vector<std::string> cells, RowStyle style = RowStyle::plain);
    std::string render(const Terminal& terminal) const;

private:
    struct Row {
        std::vector<std::string> cells;
        RowStyle style;
    };

    std::vector<std::size_t> widthsFor(unsigned layout, std::size_t available) const;

    std::vector<Column> columns_;
    std::vector<Row> rows_;
};

} // namespace fernhollow
