#include "tools/zoc/Table.h"

#include <algorithm>

namespace zoc::tool {

namespace {

// Display width of UTF-8 text: continuation bytes take no column.
std::size_t Width(const std::string& text)
{
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

} // namespace

void Table::Print(std::ostream& out, std::size_t indent) const
{
    std::vector<std::size_t> widths;
    for (const auto& row : rows_) {
        widths.resize(std::max(widths.size(), row.size()));
        for (std::size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], Width(row[column]));
    }
    for (const auto& row : rows_) {
        std::string line(indent, ' ');
        for (std::size_t column = 0; column < row.size(); ++column) {
            line += row[column];
            if (column + 1 < row.size())
                line.append(widths[column] - Width(row[column]) + 2, ' ');
        }
        out << line << '\n';
    }
}

} // namespace zoc::tool
