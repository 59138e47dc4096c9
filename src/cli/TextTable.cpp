#include "cli/TextTable.h"

#include "core/common/FixedDecimal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace fernhollow {
namespace {

constexpr std::size_t gap = 2;
constexpr std::size_t shortestTextColumn = 12;
constexpr std::string_view bold = "\033[1m";
constexpr std::string_view dim = "\033[2m";
constexpr std::string_view reset = "\033[0m";

// Characters as a terminal counts them, near enough: code points.
std::size_t displayWidth(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The first `width` characters of `text`, its last one "…" when it was cut.
std::string fitted(std::string_view text, std::size_t width) {
    if (displayWidth(text) <= width) {
        return std::string(text);
    }
    std::string out;
    std::size_t shown = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool startsCharacter = (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
        if (startsCharacter && ++shown == width) {
            break;
        }
        out += text[i];
    }
    return out + "\u2026";
}

std::string padded(std::string_view text, std::size_t width, bool left) {
    const std::string cell = fitted(text, width);
    const std::string pad(width - displayWidth(cell), ' ');
    return left ? cell + pad : pad + cell;
}

} // namespace

Terminal Terminal::of(std::FILE* stream) {
    Terminal terminal;
    const int fd = ::fileno(stream);
    const bool isTerminal = fd >= 0 && ::isatty(fd) != 0;
    const char* noColour = std::getenv("NO_COLOR");
    terminal.colour = isTerminal && (noColour == nullptr || *noColour == '\0');
    winsize size{};
    if (isTerminal && ::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        terminal.width = size.ws_col;
    } else if (const char* columns = std::getenv("COLUMNS"); columns != nullptr) {
        const long parsed = std::strtol(columns, nullptr, 10);
        terminal.width = parsed >= 20 && parsed <= 1000 ? static_cast<std::size_t>(parsed) : terminal.width;
    }
    return terminal;
}

std::string groupedDigits(std::int64_t value) {
    const std::string digits = std::to_string(value);
    const std::size_t sign = value < 0 ? 1 : 0;
    std::string out = digits.substr(0, sign);
    for (std::size_t i = sign; i < digits.size(); ++i) {
        if (i > sign && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

std::string groupedDollars(double usd) {
    if (!std::isfinite(usd) || std::abs(usd) >= 1e15) {
        return "$" + fixedDecimal(usd, 2);
    }
    const double cents = std::round(std::abs(usd) * 100.0);
    const auto whole = static_cast<std::int64_t>(cents / 100.0);
    const auto rest = static_cast<int>(cents - static_cast<double>(whole) * 100.0);
    return std::string(usd < 0 && cents > 0 ? "-$" : "$") + groupedDigits(whole) + "." +
           (rest < 10 ? "0" : "") + std::to_string(rest);
}

void TextTable::addRow(std::vector<std::string> cells, RowStyle style) {
    cells.resize(columns_.size());
    rows_.push_back({std::move(cells), style});
}

// The widths of the layout's columns (0 for those left out), its text columns narrowed to fit
// `available` where they can be; the sum may still exceed it.
std::vector<std::size_t> TextTable::widthsFor(unsigned layout, std::size_t available) const {
    std::vector<std::size_t> widths(columns_.size(), 0);
    std::size_t used = 0;
    for (std::size_t c = 0; c < columns_.size(); ++c) {
        if ((columns_[c].layouts & layout) == 0) {
            continue;
        }
        widths[c] = displayWidth(columns_[c].title);
        for (const Row& row : rows_) {
            widths[c] = std::max(widths[c], displayWidth(row.cells[c]));
        }
        used += widths[c] + (used == 0 ? 0 : gap);
    }
    // The widest text column gives way first, down to a readable width.
    while (used > available) {
        std::size_t widest = columns_.size();
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            if (columns_[c].shrinks && widths[c] > shortestTextColumn &&
                (widest == columns_.size() || widths[c] > widths[widest])) {
                widest = c;
            }
        }
        if (widest == columns_.size()) {
            break;
        }
        const std::size_t cut = std::min(used - available, widths[widest] - shortestTextColumn);
        widths[widest] -= cut;
        used -= cut;
    }
    return widths;
}

std::string TextTable::render(const Terminal& terminal) const {
    std::vector<std::size_t> widths;
    for (const unsigned layout : {full, standard, narrow}) {
        widths = widthsFor(layout, terminal.width);
        std::size_t used = 0;
        for (const std::size_t width : widths) {
            used += width > 0 ? width + gap : 0;
        }
        if (used <= terminal.width + gap) {
            break;
        }
    }
    const auto line = [&](const std::vector<std::string>& cells, std::string_view style) {
        std::string out;
        for (std::size_t c = 0; c < columns_.size(); ++c) {
            if (widths[c] == 0) {
                continue;
            }
            out += out.empty() ? "" : std::string(gap, ' ');
            out += padded(cells[c], widths[c], columns_[c].left);
        }
        while (out.ends_with(' ')) {
            out.pop_back();
        }
        return terminal.colour && !style.empty() ? std::string(style) + out + std::string(reset) + "\n"
                                                 : out + "\n";
    };
    std::vector<std::string> titles;
    for (const Column& column : columns_) {
        titles.push_back(column.title);
    }
    std::string out = line(titles, bold);
    std::size_t ruleWidth = 0;
    for (const std::size_t width : widths) {
        ruleWidth += width > 0 ? width + gap : 0;
    }
    std::string rule;
    for (std::size_t i = 0; i + gap < ruleWidth; ++i) {
        rule += "\u2500";
    }
    out += rule + "\n";
    for (const Row& row : rows_) {
        if (row.style == RowStyle::total) {
            out += rule + "\n";
        }
        out += line(row.cells, row.style == RowStyle::total    ? bold
                               : row.style == RowStyle::detail ? dim
                                                               : std::string_view());
    }
    return out;
}

} // namespace fernhollow
