// firmifconvert.db: maps the model name a router reports to the model name
// the firmware images carry.  One "key,value" row per line; data only, no
// program writes it.
#pragma once

#include "device_registry.h"

#include <filesystem>
#include <string>

namespace quellin {

struct CFirmifConversionInfo {
    std::string key;
    std::string value;
};

// Appends the file's rows to the list; false when it cannot be opened.
bool LoadConversionTable(const std::filesystem::path& path, CList<CFirmifConversionInfo>& table);

// The value of the first row with that key (exact comparison), or empty text.
std::string LookUpConversion(const CList<CFirmifConversionInfo>& table, const std::string& key);

}  // namespace quellin
