#include "command.h"

#include "codec.h"
#include "fleet_state.h"
#include "metrics.h"
#include "timing_options.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <ostream>

namespace quellin::cli {
namespace {

std::optional<long long> Number(const std::string& text, long long low, long long high) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const long long value = std::stoll(text);
    return value < low || value > high ? std::nullopt : std::optional(value);
}

}  // namespace

CommandContext::CommandContext(const Command& command, std::string defaultHome, std::ostream& out,
                               std::ostream& err)
    : command_(command),
      defaultHome_(std::move(defaultHome)),
      out_(out),
      err_(err),
      boxes_(std::make_unique<console::StreamMessageBoxes>(err)) {}

CommandContext::~CommandContext() = default;

bool CommandContext::Parse(const std::vector<std::string>& args) {
    auto timing = [](const std::string& name) {
        return std::ranges::any_of(console::TimingOptions(),
                                   [&](const auto& option) { return name == option.name; });
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 3 || !arg.starts_with("--")) {
            if (arg == "--" && !optionsEnded)
                optionsEnded = true;
            else
                operands_.push_back(arg);
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> value;
        if (auto equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (command_.flags.contains(name) && !value) {
            flags_.insert(name);
            continue;
        }
        if (!command_.options.contains(name) && !(command_.toRouters && timing(name)))
            return Refuse(Usage(std::string(command_.name) + " takes no option --" + name));
        if (!value && i + 1 >= args.size())
            return Refuse(Usage("--" + name + " needs a value"));
        options_.emplace(name, value ? *value : args[++i]);
    }
    return true;
}

bool CommandContext::Refuse(int status) {
    status_ = status;
    return false;
}

std::optional<std::string> CommandContext::Option(const std::string& name) const {
    auto [first, end] = options_.equal_range(name);
    return first == end ? std::nullopt : std::optional(std::prev(end)->second);
}

std::vector<std::string> CommandContext::Values(const std::string& name) const {
    std::vector<std::string> values;
    for (auto [first, end] = options_.equal_range(name); first != end; ++first)
        values.push_back(first->second);
    return values;
}

int CommandContext::Usage(const std::string& problem) {
    err_ << "quellin: " << problem << "\n";
    return kExitUsage;
}

int CommandContext::Fail(const std::string& problem) {
    err_ << "quellin: " << problem << "\n";
    return kExitFailed;
}

std::string CommandContext::Home() const {
    auto home = Option("home");
    if (!home)
        return defaultHome_;
    std::string folder = cp932::FromPath(std::filesystem::path(*home));
    return folder.empty() || folder.back() != '/' ? folder + '/' : folder;
}

std::optional<std::string> CommandContext::Cp932(const std::string& what, const std::string& utf8) {
    auto text = cp932::FromUtf8(utf8);
    if (!text)
        Usage(what + " has characters without a Shift-JIS form: " + utf8);
    return text;
}

std::optional<console::RouterTimings> CommandContext::Timings() {
    console::RouterTimings timings;
    for (const console::TimingOption& option : console::TimingOptions()) {
        auto text = Option(option.name);
        auto value = text ? Number(*text, option.low, option.high) : std::nullopt;
        if (text && (!value || !console::ApplyTimingOption(timings, option.name, *value))) {
            Usage(std::string("--") + option.name + " needs a number from " +
                  std::to_string(option.low) + " to " + std::to_string(option.high));
            return std::nullopt;
        }
    }
    return timings;
}

bool CommandContext::Start(console::Installation::Access access, Devices devices) {
    if (command_.toRouters) {
        auto timings = Timings();
        auto jobs = Option("jobs") ? Number(*Option("jobs"), 1, 256) : std::optional(1LL);
        if (!jobs)
            Usage("--jobs needs a number from 1 to 256");
        if (!timings || !jobs)
            return Refuse(kExitUsage);
        timings_ = *timings;
        jobs_ = static_cast<int>(*jobs);
    }
    // Names or --all, never both, never neither.
    const bool takesAll = command_.flags.contains("all");
    const bool both = Flag("all") && !operands_.empty();
    if (devices == Devices::kNamed && (both || (!Flag("all") && operands_.empty())))
        return Refuse(Usage(std::string(command_.name) +
                            (takesAll ? " takes device names or --all" : " needs a device name")));
    const std::string home = Home();
    installation_ = std::make_unique<console::Installation>(home, access, *boxes_);
    if (installation_->state() == console::Installation::State::kBusy) {
        err_ << "quellin: Quellin_tool or another quellin is working on "
             << cp932::ToUtf8Lossy(home) << "; run this again when it has finished.\n";
        return Refuse(kExitBusy);
    }
    if (installation_->state() == console::Installation::State::kLockFailed)
        return Refuse(Fail("cannot lock the installation folder " + cp932::ToUtf8Lossy(home) +
                           ": " + installation_->reason()));
    if (!installation_->Load())
        return Refuse(
            Fail("cannot read " + cp932::ToUtf8Lossy(installation_->layout().registry())));
    if (devices == Devices::kEvery || (devices == Devices::kNamed && Flag("all"))) {
        devices_ = installation_->Registered();
        return true;
    }
    const std::size_t named = devices == Devices::kNamed ? operands_.size()
                              : devices == Devices::kFirst
                                  ? std::min<std::size_t>(1, operands_.size())
                                  : 0;
    for (std::size_t i = 0; i < named; ++i) {
        auto name = Cp932("the device name", operands_[i]);
        CBase* device = name ? installation_->Find(*name) : nullptr;
        if (device == nullptr)
            return Refuse(name ? Usage("no device named " + operands_[i]) : kExitUsage);
        if (std::ranges::find(devices_, device) == devices_.end())
            devices_.push_back(device);
    }
    return true;
}

std::unique_ptr<history::ConfigHistory> CommandContext::OpenHistory(
    history::ConfigHistory::Access access) {
    auto store = installation_->OpenHistory(access);
    if (!store) {
        status_ = Fail(cp932::ToUtf8Lossy(store.error().detail));
        return nullptr;
    }
    return std::move(*store);
}

void CommandContext::PrintEnd(const console::DeviceResult& result, const std::string& json,
                              const std::string& text) {
    if (this->json())
        out_ << json << "\n";
    else
        out_ << "[" << result.finished << "/" << result.total << "] " << Cell(result.device.name)
             << ": " << text << "\n";
    out_.flush();
}

void CommandContext::Tell(
    const std::function<std::vector<console::Notice>(console::NoticeStates&)>& find,
    const std::function<void(std::vector<console::Notice>&)>& complete) {
    const InstallationLayout& layout = installation().layout();
    const auto metrics = Option("prometheus");
    if (!metrics && !console::ReadNoticeSettings(cp932::ToPath(layout.settingsFile())).any())
        return;
    const auto kept = console::TellRun(layout, find, complete, installation().reporter());
    if (!kept) {
        err() << "quellin: the notices were not sent: "
              << cp932::ToUtf8Lossy(OneLineDetail(kept.error())) << "\n";
        return;
    }
    if (!metrics)
        return;
    const auto fleet = console::FleetState(Home()).Read();
    const auto written =
        fleet ? console::WriteMetrics(
                    *metrics, console::FleetMetrics(installation().Registered(), *fleet, *kept))
              : Result<void>(fleet.error());
    if (!written)
        err() << "quellin: the metrics were not written: "
              << cp932::ToUtf8Lossy(OneLineDetail(written.error())) << "\n";
}

}  // namespace quellin::cli
