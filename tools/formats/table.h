// Tables of text cells as the tools print them: aligned columns for people, tab-separated
// values for programs.
#pragma once

#include "tools/formats/number_format.h" // fixedCell, the number format of table cells

#include <string>
#include <vector>

// The three forms of a command's tables: aligned text, tab-separated values, JSON.
enum class TableFormat { table, tsv, json };

// How a column's cells line up in the aligned form.
enum class Align { left, right };

// Rows of cells under fixed columns. Cells are written as given; a row shorter than the
// columns leaves the rest empty.
class Table {
  public:
    explicit Table(std::vector<Align> columns) : columns_(std::move(columns)) {}

    void addRow(std::vector<std::string> cells);

    // Columns padded to their widest cell and separated by two blanks, each line after
    // `indent`; the last column is never padded after its text.
    std::string aligned(const std::string& indent = "") const;

    // Cells separated by tabs, one line per row.
    std::string tabSeparated() const;

  private:
    std::vector<Align> columns_;
    std::vector<std::vector<std::string>> rows_;
};
