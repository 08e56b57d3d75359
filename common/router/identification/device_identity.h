// What a router is: filled from "show system information" (device
// identification) or from a firmware image's ".firmif" block, so that an
// image and a device can be compared field by field.
#pragma once

#include "result.h"
#include "telnet_session.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quellin {

// Texts are bytes as received: model, ptf and date at most 31 bytes,
// startupConfig at most 32.
struct DeviceIdentity {
    std::string model;
    std::int32_t major = 0;
    std::int32_t minor = 0;
    std::string ptf;
    std::string date;
    std::string startupConfig;

    bool operator==(const DeviceIdentity&) const = default;
};

// "V" + major + "." + exactly two bytes of minor ("V10.02" gives 10 and 2).
// 0 on success, -1 otherwise; major is stored even when the minor part fails.
int ParseVersionText(const std::string& text, std::int32_t& major, std::int32_t& minor);

// Versions as shown to users: "V%02d.%02d".
std::string FormatVersion(std::int32_t major, std::int32_t minor);

// The console and Netprov read "show system information" by slightly
// different rules; each program keeps its own.
enum class SystemInformationRules {
    // The version line is the one of the firmware named by
    // "Running-firmware : " ("Firmware1 Ver. : " or "Firmware2 Ver. : "),
    // else "Firm Ver. : "; the start-up configuration follows a 24-byte time
    // stamp and a space.
    kNetprov,
    // The version line is always "Firm Ver. : "; the start-up configuration
    // is the word from " config" on in its line.
    kConsole,
};

// Picks model ("System : "), version and start-up configuration out of the
// router's answer.  0 when all three were found, else -1; what was found is
// filled either way, everything else is cleared.
int ParseSystemInformation(std::string_view text, DeviceIdentity& identity,
                           SystemInformationRules rules);

// The same for the "idinfo -c" answer ("TYPE    : ", "FIRM    : ",
// "CURRENT : ").
int ParseIdInfo(std::string_view text, DeviceIdentity& identity);

// Identifies the router at the dotted IPv4 address with one telnet dialogue
// ("show system information"): its identity, or the dialogue's failure, or
// kFormat when the answer lacked one of the three values.  An empty user or
// password is sent as an empty line.  Default options: port 23, 5 s receive
// timeout.
Result<DeviceIdentity> IdentifyDevice(const std::string& address, const std::string& user,
                                      const std::string& password, SystemInformationRules rules,
                                      const TelnetOptions& options = {});

// The same dialogue as the routers' callers have always run it: 0 identified,
// -1 the dialogue failed, -2 the answer lacked one of the three values (what
// it held is filled all the same).
int QuerySystemInformation(const std::string& address, const std::string& user,
                           const std::string& password, DeviceIdentity& identity,
                           SystemInformationRules rules, const TelnetOptions& options = {});

// The same with "idinfo -c", for devices that answer it.
int QueryIdInfo(const std::string& address, const std::string& user, const std::string& password,
                DeviceIdentity& identity, const TelnetOptions& options = {});

// The legacy models that take the short command forms and must never be
// given an image older than V30.00: "Tarn-10", "Tarn-20B", "Tarn-60",
// "Tarn-70" and "Tarn-90" (exact bytes) while their major version is below 30.
bool IsGatedModel(const DeviceIdentity& identity);

// The same test with the dashes of both names left out ("Tarn60" is gated
// like "Tarn-60"), for the console's image search, which compares model
// names without their dashes.
bool IsGatedModelWithoutDashes(const DeviceIdentity& identity);

}  // namespace quellin
