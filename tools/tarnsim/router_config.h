// What one simulated router is: model, software, slots, credentials, ports,
// pace of its outputs and the faults it plays.  The same "key=value"
// settings come from the command line (--key value) and from fleet files.
//
// Fleet file: one line per router or group of routers, "#" starts a comment.
//
//   defaults password=secret reset-delay-ms=500
//   router name=osaka-1 address=127.0.0.2 model=Tarn-90 version=V10.02
//   router name=kobe-%d address=127.0.0.10 count=40 model=Tarn-60
//
// "defaults" applies to the lines after it; "count=N" makes N routers on
// consecutive addresses, with %d in the name replaced by 1..N.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net.h"

namespace quellin::tarn {

// How "show system information" names the running software.
enum class FirmwareForm {
    kPlain,    // "Firm Ver. : "
    kRunning,  // "Running-firmware : " with "Firmware1/2 Ver. : "
    kBoth,     // both forms
};

struct Faults {
    bool noBanner = false;        // accept the connection but never speak
    bool wrongPassword = false;   // refuse every telnet login
    bool noPrompt = false;        // never return the prompt after a command
    bool refuseFtpLogin = false;  // answer every FTP PASS with 530
    // Close the connection right after echoing a command containing this
    // text (empty: any command).
    std::optional<std::string> closeAfterCommand;
    // Fall silent this long in the middle of every command output.
    int silenceMs = 0;
    // Answers that never end, given after echoing a command that holds
    // `outputCommand` (empty: any command) instead of its output:
    bool flood = false;             // lines, as fast as the client takes them
    int trickleMs = 0;              // one line every trickleMs, for ever
    std::size_t longLineBytes = 0;  // this many bytes without a line end, then silence
    std::string outputCommand;
};

struct RouterConfig {
    std::string name;  // empty: the address
    std::string address = "127.0.0.2";
    std::string model = "Tarn-90";
    std::string version = "V10.02";
    std::string ptf = "PTF00";
    std::string date = "2006/01/26";
    std::string startup = "config1";
    FirmwareForm firmwareForm = FirmwareForm::kPlain;
    std::string secondVersion = "V09.01";  // the other bank's software
    std::string user;                      // telnet login name; empty accepts any
    std::string password;
    int telnetPort = 23;
    int ftpPort = 21;
    int resetDelayMs = 3000;
    std::size_t techSupportBytes = 16 * 1024;
    int techSupportPaceMs = 0;  // pause between 1 KiB chunks
    bool doEcho = false;        // ask the client DO ECHO on connect
    bool willEcho = false;      // offer WILL ECHO on connect
    Faults faults;
    std::optional<Endpoint> syslog;  // send event datagrams there
    std::size_t maxUploadBytes = 256u << 20;
    int idleTimeoutMs = 600000;
};

// Applies one setting; false with a reason for an unknown key or bad value.
bool ApplyRouterSetting(RouterConfig& config, const std::string& key, const std::string& value,
                        std::string& error);

// Checks the whole record (loopback address, slot name, version text, ...).
bool CheckRouterConfig(const RouterConfig& config, std::string& error);

// Parses a fleet file's text into routers, starting from the base settings;
// false with "line N: reason".
bool ParseFleet(const std::string& text, const RouterConfig& base,
                std::vector<RouterConfig>& routers, std::string& error);

}  // namespace quellin::tarn
