#include "tools/formats/table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void Table::addRow(std::vector<std::string> cells) {
    cells.resize(columns_.size());
    rows_.push_back(std::move(cells));
}

std::string Table::aligned(const std::string& indent) const {
    std::vector<std::size_t> widths(columns_.size(), 0);
    for (const auto& row : rows_) {
        for (std::size_t c = 0; c < row.size(); c++) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    std::string text;
    for (const auto& row : rows_) {
        text += indent;
        for (std::size_t c = 0; c < row.size(); c++) {
            const std::string pad(widths[c] - row[c].size(), ' ');
            const bool last = c + 1 == row.size();
            text += (c == 0 ? "" : "  ") +
                    (columns_[c] == Align::right ? pad + row[c] : row[c] + (last ? "" : pad));
        }
        text += "\n";
    }
    return text;
}

std::string Table::tabSeparated() const {
    std::string text;
    for (const auto& row : rows_) {
        for (std::size_t c = 0; c < row.size(); c++) {
            text += (c == 0 ? "" : "\t") + row[c];
        }
        text += "\n";
    }
    return text;
}
