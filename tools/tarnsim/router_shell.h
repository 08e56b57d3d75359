// The command interpreter of a simulated router: what it prints for each
// command line and what the line makes the router do.  No sockets here, so
// outputs and effects can be tested on their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "router_config.h"

namespace quellin::tarn {

struct Software {
    std::int32_t major = 0;
    std::int32_t minor = 0;
    std::string ptf;
    std::string date;
};

// What the router is and runs at the moment.
struct RouterState {
    std::string model;
    Software bank[2];     // software in Firmware1 and Firmware2
    int runningBank = 0;  // index into bank
    std::string startup = "config1";
    std::int64_t slotSaved[2] = {0, 0};  // when config1 / config2 were last written
    // What config1 / config2 hold, and the configuration the router runs:
    // the start-up slot's content at the last restart.  LF lines, as the
    // files are stored.
    std::string slotConfig[2];
    std::string runningConfig;
    std::int64_t bootTime = 0;

    const Software& running() const { return bank[runningBank]; }
};

RouterState InitialState(const RouterConfig& config, std::int64_t now);

// A piece of output, sent after a pause.
struct OutputPiece {
    std::string bytes;
    int delayMs = 0;
};

// A restart handed to the router's scheduler with "addact".
struct PlannedRestart {
    std::string at;    // ten digits YYMMDDHHMM, local time
    std::string slot;  // empty: the current start-up slot
    std::int64_t due = 0;
};

struct ShellReply {
    enum class Then { kPrompt, kClose, kReset };
    std::vector<OutputPiece> output;
    Then then = Then::kPrompt;
    std::string resetSlot;  // for kReset; empty keeps the start-up slot
    std::optional<PlannedRestart> plan;
};

class RouterShell {
public:
    RouterShell(const RouterConfig& config, RouterState& state) : config_(config), state_(state) {}

    // One command line, without its line end.
    ShellReply Run(const std::string& line, std::int64_t now);

    bool configuring() const { return configuring_; }

private:
    const RouterConfig& config_;
    RouterState& state_;
    bool configuring_ = false;
};

// The outputs, each as CR LF lines.
std::string SystemInformation(const RouterConfig& config, const RouterState& state,
                              std::int64_t now);
std::string IdInfo(const RouterState& state);
std::string TechSupport(const RouterConfig& config, const RouterState& state, std::int64_t now);
// "show config": the running configuration as CR LF lines.
std::string ShownConfiguration(const RouterState& state);

// The configuration both slots hold before anything was uploaded: made
// from the router's name, model and address only, so that it reads the
// same on every start.
std::string DefaultConfiguration(const RouterConfig& config);

// The 24-byte time stamp of "Startup-config : " ("Thu Jan 26 13:08:04 2006").
std::string StartupStamp(std::int64_t time);

// "YYMMDDHHMM" (local time) to seconds; nullopt when not a valid time.
std::optional<std::int64_t> ParsePlanTime(const std::string& digits);

// Splits the output in the middle with a pause there.
std::vector<OutputPiece> InsertSilence(std::vector<OutputPiece> pieces, int delayMs);

}  // namespace quellin::tarn
