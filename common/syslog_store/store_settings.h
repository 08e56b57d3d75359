// What Syslogd.ini says about the store, read one way by Syslogd, which
// writes the store, and by every program that searches it.
//
// Keys of the section "SETUP" (absent: no store, exactly as before them):
//   StoreFlag      1: on; anything else, or absent: off
//   StorePath      the database; absent or empty: DefaultStorePath(LogPath);
//                  a relative path is taken from Syslogd.ini's own folder, so
//                  that Syslogd and every reader find the same file
//   StoreKeepDays  days kept; 0 or less, or absent: every day
//   StoreMaxMB     megabytes the data may take; 0 or less, or absent: no limit
// Values are read as Syslogd reads its other keys (at most 254 bytes), the
// numbers with the private-profile rule (leading digits; none gives 0).
#pragma once

#include "result.h"

#include <filesystem>
#include <optional>
#include <string_view>

namespace quellin::syslogstore {

// Syslogd's settings file in its program folder.
inline constexpr char kSyslogdSettingsFile[] = "Syslogd.ini";

// A caller keeps a writer only while `enabled`, which the writer itself
// does not look at.
struct StoreSettings {
    bool enabled = false;        // StoreFlag
    std::filesystem::path path;  // StorePath, or DefaultStorePath(LogPath)
    int keepDays = 0;            // StoreKeepDays; 0 or less: keep every day
    int maxMB = 0;               // StoreMaxMB; 0 or less: no size limit

    bool operator==(const StoreSettings&) const = default;
};

// From the bytes of a Syslogd.ini (nullopt: there is none) that lies in
// `folder` (empty: relative paths stay relative).
StoreSettings ParseStoreSettings(std::optional<std::string_view> syslogdIni,
                                 const std::filesystem::path& folder = {});

// Reads the file: kNotFound when there is none, kTooLong beyond 64 MiB,
// kIo when it cannot be read.
Result<StoreSettings> ReadStoreSettings(const std::filesystem::path& syslogdIni);

}  // namespace quellin::syslogstore
