#include "installation_layout.h"

namespace quellin {

std::string InstallationLayout::Path(std::string_view relative) const {
    if (folder_.empty())
        return std::string(relative);
    if (folder_.back() == '/')
        return folder_ + std::string(relative);
    return Joined(relative);
}

std::string InstallationLayout::Joined(std::string_view relative) const {
    return folder_ + "/" + std::string(relative);
}

}  // namespace quellin
