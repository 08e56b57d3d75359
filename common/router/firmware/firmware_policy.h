// Which image of the software folder a device is to be given: one rule for
// the console and Netprov, the highest version for the device's model (the
// first by name among equal versions, never V00.00), the model converted by
// the conversion table after the search, legacy models kept from images
// below V30.00, nothing given when the versions are equal.  How the two
// programs match names and announce an update differs: those differences
// are their rule sets.
#pragma once

#include "conversion_table.h"
#include "device_identity.h"
#include "result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace quellin {

// An image model that serves another device model.
struct ModelAlias {
    const char* imageModel;
    const char* deviceModel;
};
// The console's five pairs.
extern const ModelAlias ModelAliasTable[5];

struct FirmwareRules {
    // Model names compared without their dashes ("Tarn60" is "Tarn-60"):
    // in the search, as the conversion table's key and at the legacy gate.
    bool ignoreDashes = false;
    // Image models that serve another device model in the search.
    std::span<const ModelAlias> aliases;
    // Longest conversion-table value taken as a model name; a longer one
    // converts nothing.
    std::size_t conversionLimit = std::string::npos;
    // What announces an update (UTF-8): AAA stands for the device's version,
    // BBB for the image's, XXX for "(ダウングレード)" or nothing.
    const char* updateText = "";
};

// The console's search, for its updates and its inventory.
extern const FirmwareRules kConsoleFirmwareRules;
// Netprov's provisioning run.
extern const FirmwareRules kNetprovFirmwareRules;

// The image an update would give a device now.
struct FirmwareChoice {
    enum class Verdict {
        kUpdate,            // `image` is to be given (a downgrade when `downgrade`)
        kSameVersion,       // the best image has the device's own version
        kGated,             // a legacy model never takes an image below V30.00
        kNoImage,           // no image for the model
        kFolderUnreadable,  // the software folder cannot be searched
    };
    Verdict verdict = Verdict::kNoImage;
    std::filesystem::path image;
    std::int32_t major = 0;  // the best image's version
    std::int32_t minor = 0;
    bool downgrade = false;
    std::string reason;  // CP932: why no image is to be given
    // kFolderUnreadable: what listing the folder failed with.
    ErrorCode folderError = ErrorCode::kNotFound;

    Error FolderError() const { return {folderError, reason}; }
};

// The choice for the device (as it identified itself) among the images of
// the folder (CP932, as the settings name it).
FirmwareChoice ChooseFirmware(const std::string& folder, const DeviceIdentity& device,
                              const CList<CFirmifConversionInfo>& table,
                              const FirmwareRules& rules);

// The rules' announcement of an update between two versions ("V%02d.%02d"),
// CP932.
std::string FirmwareUpdateMessage(const FirmwareRules& rules, const std::string& current,
                                  const std::string& next, bool downgrade);

}  // namespace quellin
