#include "tools/orvikctl/output.h"

#include <algorithm>
#include <cstdint>
#include <ostream>

namespace orvikctl {
namespace {

// East Asian wide and full-width ranges, as terminals lay them out.
bool isWide(uint32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

std::string padded(const std::string& text, size_t width) {
    const size_t used = displayWidth(text);
    return used >= width ? text : text + std::string(width - used, ' ');
}

}  // namespace

size_t displayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 1;
        uint32_t code = lead;
        if (lead >= 0xF0) {
            length = 4;
            code = lead & 0x07u;
        } else if (lead >= 0xE0) {
            length = 3;
            code = lead & 0x0Fu;
        } else if (lead >= 0xC0) {
            length = 2;
            code = lead & 0x1Fu;
        }
        for (size_t k = 1; k < length && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        width += isWide(code) ? 2 : 1;
        i += length;
    }
    return width;
}

void printFields(std::ostream& out, const std::vector<Field>& fields, const std::string& indent) {
    size_t width = 0;
    for (const Field& field : fields) width = std::max(width, displayWidth(field.label));
    for (const Field& field : fields) out << indent << padded(field.label, width + 3) << field.value << "\n";
}

void printTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows, const std::string& indent) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        if (widths.size() < row.size()) widths.resize(row.size(), 0);
        for (size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], displayWidth(row[column]));
    }
    for (const auto& row : rows) {
        std::string line = indent;
        for (size_t column = 0; column < row.size(); ++column)
            line += column + 1 == row.size() ? row[column] : padded(row[column], widths[column] + 2);
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out << line << "\n";
    }
}

}  // namespace orvikctl
