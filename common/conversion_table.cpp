#include "conversion_table.h"

#include <fstream>

namespace quellin {

bool LoadConversionTable(const std::filesystem::path& path, CList<CFirmifConversionInfo>& table) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        CFirmifConversionInfo row;
        row.key = SplitNextField(line);
        row.value = SplitNextField(line);
        table.push_back(std::move(row));
    }
    return true;
}

std::string LookUpConversion(const CList<CFirmifConversionInfo>& table, const std::string& key) {
    for (const auto& row : table)
        if (row.key == key)
            return row.value;
    return {};
}

}  // namespace quellin
