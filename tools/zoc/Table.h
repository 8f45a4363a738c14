#pragma once
// Plain-text tables with aligned columns for the commands' output.

#include <ostream>
#include <string>
#include <vector>

namespace zoc::tool {

class Table {
public:
    explicit Table(std::vector<std::string> header) { rows_.push_back(std::move(header)); }
    void Add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    /// Writes every row, columns padded to their widest cell and `indent`
    /// spaces in front.
    void Print(std::ostream& out, std::size_t indent = 0) const;

private:
    std::vector<std::vector<std::string>> rows_;
};

} // namespace zoc::tool
