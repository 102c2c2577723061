#pragma once
// Human-readable output: labelled fields and tables, aligned by the width a terminal gives
// each character (CJK characters take two columns).

#include <iosfwd>
#include <string>
#include <vector>

namespace orvikctl {

struct Field {
    std::string label;
    std::string value;
};

// Columns a terminal uses for the UTF-8 text.
size_t displayWidth(const std::string& text);

// "Label    value" lines, the values starting in one column.
void printFields(std::ostream& out, const std::vector<Field>& fields, const std::string& indent = "");

// Rows of cells (the first row is the header), each column as wide as its widest cell.
void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows,
                const std::string& indent = "");

}  // namespace orvikctl
