#include "fleet_state.h"

#include "codec.h"

#include <array>
#include <charconv>
#include <map>

namespace quellin::console {
namespace {

constexpr std::size_t kFields = 13;
constexpr char kHeading[] =
    "name\tinventory_time\tverdict\tmodel\tversion\timage_version\treason\tbackup_time\t"
    "backup_outcome\tbackup_commit\tdrift_time\tdrift\t-";

std::string Field(std::string_view text) {
    std::string out(text.substr(0, 4096));
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return out;
}

std::int64_t Number(std::string_view text) {
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

}  // namespace

std::vector<DeviceState> ParseFleetState(std::string_view text) {
    text = text.substr(0, kMaxStateFileBytes);
    std::map<std::string, std::size_t> places;
    std::vector<DeviceState> devices;
    while (!text.empty() && devices.size() < kMaxStateDevices) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::array<std::string_view, kFields> f{};
        std::size_t count = 0;
        for (std::size_t start = 0; count < kFields; ++count) {
            const std::size_t tab = line.find('\t', start);
            f[count] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
            if (tab == std::string_view::npos) {
                ++count;
                break;
            }
            start = tab + 1;
        }
        if (count < kFields - 1 || f[0].empty() || line == kHeading)
            continue;
        DeviceState d{std::string(f[0]), Number(f[1]),      std::string(f[2]), std::string(f[3]),
                      std::string(f[4]), std::string(f[5]), std::string(f[6]), Number(f[7]),
                      std::string(f[8]), std::string(f[9]), Number(f[10]),     std::string(f[11])};
        auto [at, added] = places.try_emplace(d.name, devices.size());
        if (added)
            devices.push_back(std::move(d));
        else
            devices[at->second] = std::move(d);
    }
    return devices;
}

std::string FleetStateText(const std::vector<DeviceState>& devices) {
    std::string text = std::string(kHeading) + "\r\n";
    for (const DeviceState& d : devices) {
        for (const std::string& field :
             {Field(d.name), std::to_string(d.inventoryTime), Field(d.verdict), Field(d.model),
              Field(d.version), Field(d.imageVersion), Field(d.reason),
              std::to_string(d.backupTime), Field(d.backupOutcome), Field(d.backupCommit),
              std::to_string(d.driftTime), Field(d.drift)})
            text += field + "\t";
        text += "-\r\n";
    }
    return text;
}

FleetState::FleetState(const std::string& installationFolder)
    : state_(installationFolder, kFileName, kLockName, kMaxStateFileBytes) {}

Result<std::vector<DeviceState>> FleetState::Read() const {
    auto text = state_.Read();
    if (!text)
        return text.error();
    return ParseFleetState(*text);
}

template <class Change>
Result<void> FleetState::Update(Change change) {
    return state_.Update([&](std::string_view text) {
        std::vector<DeviceState> devices = ParseFleetState(text);
        std::map<std::string, std::size_t> places;
        for (std::size_t i = 0; i < devices.size(); ++i)
            places[devices[i].name] = i;
        auto find = [&](const std::string& name) -> DeviceState& {
            auto [at, added] = places.try_emplace(name, devices.size());
            if (added)
                devices.push_back(DeviceState{.name = name});
            return devices[at->second];
        };
        change(find);
        return FleetStateText(devices);
    });
}

Result<void> FleetState::RecordInventory(const std::vector<InventoryRow>& rows, std::int64_t time) {
    return Update([&](auto find) {
        for (const InventoryRow& row : rows) {
            if (row.verdict == InventoryVerdict::kNotAsked || row.name.empty())
                continue;
            DeviceState& d = find(row.name);
            d.inventoryTime = time;
            d.verdict = VerdictKey(row.verdict);
            d.model = row.model;
            d.version = row.version;
            d.imageVersion = row.imageVersion;
            d.reason = row.reason;
        }
    });
}

Result<void> FleetState::RecordBackups(const std::vector<CBase*>& devices,
                                       const std::vector<BackupResult>& results,
                                       std::int64_t time) {
    return Update([&](auto find) {
        for (std::size_t i = 0; i < devices.size() && i < results.size(); ++i) {
            DeviceState& d = find(devices[i]->name);
            d.backupTime = time;
            d.backupOutcome = ToString(results[i].outcome.kind);
            if (results[i].stored)
                d.backupCommit = results[i].commit;
        }
    });
}

Result<void> FleetState::RecordDrifts(const std::vector<CBase*>& devices,
                                      const std::vector<DriftResult>& results, std::int64_t time) {
    return Update([&](auto find) {
        for (std::size_t i = 0; i < devices.size() && i < results.size(); ++i) {
            const DriftResult& result = results[i];
            if (result.outcome.kind == OutcomeKind::kNothingToDo)
                continue;
            DeviceState& d = find(devices[i]->name);
            d.driftTime = time;
            d.drift = !result.outcome.done() ? "failed" : result.same ? "same" : "differs";
        }
    });
}

}  // namespace quellin::console
