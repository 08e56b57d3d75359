#include "backup_units.h"

#include "file_replacement.h"
#include "profile_file.h"

#include <cerrno>

namespace quellin::setup {
namespace fs = std::filesystem;

std::string FillInFolder(std::string_view unit, const fs::path& folder) {
    std::string escaped;
    for (char c : folder.string()) {
        if (c == '\\' || c == '"')
            escaped += '\\';
        else if (c == '%' || c == '$')
            escaped += c;
        escaped += c;
    }
    std::string text;
    for (std::size_t at = 0;;) {
        const std::size_t marker = unit.find(kFolderMarker, at);
        text.append(unit.substr(at, marker == std::string_view::npos ? unit.npos : marker - at));
        if (marker == std::string_view::npos)
            return text;
        text += escaped;
        at = marker + kFolderMarker.size();
    }
}

std::error_code FillInBackupUnits(const fs::path& installFolder) {
    for (const char* name : {kBackupService, kBackupTimer}) {
        const fs::path unit = installFolder / kUnitFolder / name;
        std::error_code ec;
        if (!fs::exists(unit, ec))
            continue;
        auto text = ReadWholeFile(unit);
        if (!text)
            return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
        if (!ReplaceFile(unit, FillInFolder(*text, installFolder)))
            return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
    }
    return {};
}

}  // namespace quellin::setup
