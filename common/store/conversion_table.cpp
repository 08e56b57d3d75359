#include "conversion_table.h"

#include "text_lines.h"

namespace quellin {

bool LoadConversionTable(const std::filesystem::path& path, CList<CFirmifConversionInfo>& table) {
    auto lines = ReadTextLines(path);
    if (!lines)
        return false;
    for (std::string& line : *lines) {
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
