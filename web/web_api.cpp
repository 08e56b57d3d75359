#include "web_api.h"

#include "clock.h"
#include "codec.h"
#include "config_file.h"
#include "config_text.h"
#include "device_file_name.h"
#include "device_json.h"
#include "fleet_state.h"
#include "installation.h"
#include "json_line.h"
#include "operation_log.h"
#include "profile_file.h"
#include "report.h"
#include "secret_mask.h"
#include "store_reader.h"
#include "store_settings.h"
#include "store_text.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <map>
#include <ostream>
#include <sstream>

extern char** environ;

namespace quellin::web {
namespace {

using console::DeviceState;

Response Json(int status, std::string body) {
    return {status, std::move(body)};
}

Response Problem(int status, std::string_view what) {
    return Json(status, JsonLine().Add("error", what).Text());
}

std::string Array(const std::vector<std::string>& objects) {
    std::string out = "[";
    for (std::size_t i = 0; i < objects.size(); ++i)
        out += (i ? ",\n" : "\n") + objects[i];
    return out + "\n]";
}

// An object's text with further fields after its own.
std::string Extended(std::string object, const JsonLine& more) {
    const std::string extra = more.Text();
    if (extra.size() <= 2)
        return object;
    object.pop_back();
    return object + "," + extra.substr(1);
}

// The last bytes of a file, or "" when it cannot be read.
std::string FileTail(const std::filesystem::path& path, std::size_t bytes) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    const off_t size = ::lseek(fd, 0, SEEK_END);
    const off_t from = size > static_cast<off_t>(bytes) ? size - static_cast<off_t>(bytes) : 0;
    std::string text(static_cast<std::size_t>(std::max<off_t>(size - from, 0)), '\0');
    const ssize_t n = size > 0 ? ::pread(fd, text.data(), text.size(), from) : 0;
    ::close(fd);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

// The operation log's last lines (CP932, without line ends), oldest first.
std::vector<std::string> LogTail(const std::string& folder, const std::string& name, int lines) {
    const std::string text =
        FileTail(cp932::ToPath(InstallationLayout(folder).Joined(InstallationLayout::kLogFolder) +
                               "/" + LogFileStem(name) + ".log"),
                 static_cast<std::size_t>(lines) * 512);
    std::vector<std::string> all;
    std::size_t start = text.find('\n') == std::string::npos ? 0 : 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            all.push_back(std::move(line));
        start = end == std::string::npos ? text.size() : end + 1;
    }
    // The first line may be cut: drop it when the file was cut.
    if (all.size() > static_cast<std::size_t>(lines))
        all.erase(all.begin(), all.end() - lines);
    return all;
}

JsonLine StateFields(const DeviceState* s) {
    static const DeviceState kNone;
    if (s == nullptr)
        s = &kNone;
    JsonLine line;
    line.Add("verdict", s->verdict)
        .Add("inventory_time", console::IsoTime(s->inventoryTime))
        .Add("model", s->model)
        .Add("version", s->version)
        .Add("image_version", s->imageVersion)
        .Add("reason", s->reason)
        .Add("backup_time", console::IsoTime(s->backupTime))
        .Add("backup_outcome", s->backupOutcome)
        .Add("backup_commit", s->backupCommit)
        .Add("drift_time", console::IsoTime(s->driftTime))
        .Add("drift", s->drift);
    return line;
}

class Fleet {
public:
    explicit Fleet(const std::string& folder)
        : folder_(folder),
          boxes_(quiet_),
          installation_(folder, console::Installation::Access::kRead, boxes_) {}

    bool Load() {
        if (!installation_.Load())
            return false;
        if (auto states = console::FleetState(folder_).Read())
            for (DeviceState& s : *states)
                states_.emplace(s.name, std::move(s));
        return true;
    }

    console::Installation& installation() { return installation_; }

    const DeviceState* State(const std::string& name) const {
        auto at = states_.find(name);
        return at == states_.end() ? nullptr : &at->second;
    }

    std::string Summary(const CBase& device) {
        const auto tail = LogTail(folder_, device.name, 1);
        return Extended(Extended(console::DeviceJson(device), StateFields(State(device.name))),
                        JsonLine().Add("last_log_line", tail.empty() ? "" : tail.back()));
    }

    std::string Details(const CBase& device) {
        std::vector<std::string> lines;
        for (const std::string& line : LogTail(folder_, device.name, kLogTailLines))
            lines.push_back(JsonString(line));
        std::string object =
            Extended(Summary(device), JsonLine()
                                          .Add("config_file", device.configFile)
                                          .Add("stored_drift", StoredDrift(device)));
        object.pop_back();
        std::string log = "[";
        for (std::size_t i = 0; i < lines.size(); ++i)
            log += (i ? "," : "") + lines[i];
        return object + ",\"log_tail\":" + log + "]}";
    }

private:
    // The newest stored configuration held against the registered file, so
    // the page shows drift without asking the router.
    std::string StoredDrift(const CBase& device) {
        if (device.configFile.empty())
            return {};
        const auto stored = ReadWholeFile(cp932::ToPath(installation_.layout().historyFolder()) /
                                          cp932::ToPath(history::DeviceFileName(device.name)));
        auto registered = history::ReadConfigFile(device.configFile);
        if (!stored || !registered)
            return {};
        return console::MaskSecrets(
            history::CompareWithRegistered(*stored, *registered, device.configFile, "stored").diff);
    }

    class Quiet final : public MessageBoxes {
    public:
        MsgAnswer Show(const MessageBoxRequest&) override { return MsgAnswer::Ok; }
    };

    std::string folder_;
    Quiet quiet_;
    MessageBoxes& boxes_;
    console::Installation installation_;
    std::map<std::string, DeviceState> states_;
};

bool IsRevision(const std::string& text) {
    return text.size() >= 4 && text.size() <= 40 && std::ranges::all_of(text, [](char c) {
               return std::isxdigit(static_cast<unsigned char>(c));
           });
}

std::optional<std::int64_t> Number(const std::string& text, std::int64_t low, std::int64_t high) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
        return std::nullopt;
    return value;
}

Response DeviceAnswer(Fleet& fleet, const std::vector<std::string>& path,
                      const std::map<std::string, std::string>& query) {
    const auto name = cp932::FromUtf8(path[2]);
    CBase* device = name ? fleet.installation().Find(*name) : nullptr;
    if (device == nullptr)
        return Problem(404, "no such device");
    if (path.size() == 3)
        return Json(200, fleet.Details(*device));
    if (path.size() != 4 || (path[3] != "history" && path[3] != "diff"))
        return Problem(404, "not found");
    auto store = fleet.installation().OpenHistory(history::ConfigHistory::Access::kRead);
    if (!store && store.error().code == ErrorCode::kNotFound)
        return path[3] == "history" ? Json(200, "[]") : Problem(404, "no stored version");
    if (!store)
        return Problem(500, "the history cannot be read");
    if (path[3] == "history") {
        auto versions = (*store)->History(device->name);
        if (!versions)
            return Problem(500, "the history cannot be read");
        std::vector<std::string> objects;
        for (const auto& version : *versions)
            objects.push_back(console::VersionJson(device->name, version));
        return Json(200, Array(objects));
    }
    std::vector<std::string> revisions;
    for (const char* key : {"from", "to"}) {
        auto at = query.find(key);
        if (at == query.end() || at->second.empty())
            break;
        if (!IsRevision(at->second))
            return Problem(400, std::string(key) + " must be a version's commit id");
        revisions.push_back(at->second);
    }
    if (revisions.empty() && query.contains("to"))
        return Problem(400, "to needs from");
    auto diff = (*store)->Diff(device->name, revisions);
    if (!diff)
        return Problem(diff.error().code == ErrorCode::kNotFound ? 404 : 400, "no such version");
    revisions.resize(2);
    return Json(200, console::DiffJson(device->name, revisions[0], revisions[1],
                                       console::MaskSecrets(*diff)));
}

// Read as Syslogd reads it: a relative StorePath is taken from Syslogd.ini's
// folder, never from the web server's working folder.
std::filesystem::path SyslogStorePath(const std::string& folder) {
    const auto settings = syslogstore::ReadStoreSettings(
        cp932::ToPath(InstallationLayout(folder).Path("syslog/Syslogd.ini")));
    return settings ? settings->path : syslogstore::ParseStoreSettings(std::nullopt).path;
}

Response SyslogAnswer(const std::string& folder, const std::map<std::string, std::string>& query,
                      std::int64_t now) {
    syslogstore::Query q;
    q.timeLimit = std::chrono::seconds(20);
    q.since = now - 86400;
    std::size_t limit = kDefaultSyslogRows;
    std::optional<syslogstore::PageCursor> after;
    syslogstore::BucketUnit unit = syslogstore::BucketUnit::kHour;
    for (const auto& [key, value] : query) {
        std::optional<std::int64_t> n;
        if (key == "since" || key == "until") {
            if (!(n = Number(value, 0, std::int64_t{1} << 40)))
                return Problem(400, key + " must be seconds since 1970");
            (key == "since" ? q.since : q.until) = *n;
        } else if (key == "limit") {
            if (!(n = Number(value, 1, kMaxSyslogRows)))
                return Problem(400, "limit must be 1 to 1000");
            limit = static_cast<std::size_t>(*n);
        } else if (key == "after") {
            // The "next" of the page before: newest first, so older ones.
            if (!(n = Number(value, 1, std::numeric_limits<std::int64_t>::max())))
                return Problem(400, "after must be the next of the page before");
            after = syslogstore::PageCursor{.id = *n};
        } else if (key == "text") {
            if (value.size() > kMaxSyslogText || !cp932::ByteLength(value))
                return Problem(400, "text must be UTF-8 of at most 256 bytes");
            q.text = value;
            q.ignoreCase = true;
        } else if (key == "level") {
            if (!(n = Number(value, 0, 7)))
                return Problem(400, "level must be 0 to 7");
            // The level and every more urgent one.
            q.levels = static_cast<std::uint8_t>((1u << (*n + 1)) - 1);
        } else if (key == "router") {
            std::istringstream list(value);
            for (std::string address; std::getline(list, address, ',');) {
                in_addr parsed{};
                if (q.sources.size() == kMaxRouters ||
                    ::inet_pton(AF_INET, address.c_str(), &parsed) != 1)
                    return Problem(400, "router must be up to 16 IPv4 addresses");
                q.sources.push_back(ntohl(parsed.s_addr));
            }
        } else if (key == "unit") {
            if (value == "minute")
                unit = syslogstore::BucketUnit::kMinute;
            else if (value == "day")
                unit = syslogstore::BucketUnit::kDay;
            else if (value != "hour")
                return Problem(400, "unit must be minute, hour or day");
        } else {
            return Problem(400, "unknown parameter " + key);
        }
    }
    std::vector<std::string> messages;
    std::vector<std::string> counts;
    std::string next = "null";
    auto reader = syslogstore::SyslogStoreReader::Open(SyslogStorePath(folder));
    if (reader) {
        auto page = reader->Search(q, after, limit);
        auto buckets = reader->CountBy(q, unit);
        if (!page || !buckets)
            return Problem(503, "the syslog store cannot be searched now");
        if (page->next)
            next = std::to_string(page->next->id);
        for (const auto& m : page->rows)
            messages.push_back(JsonLine()
                                   .Add("time", console::IsoTime(m.receivedAt))
                                   .Add("source", m.source)
                                   .Add("facility", m.facility)
                                   .Add("level", m.level)
                                   .Add("text", cp932::FromUtf8Lossy(m.text))
                                   .Text());
        for (const auto& b : buckets.value()) {
            std::string levels;
            for (std::uint64_t c : b.levels)
                levels += (levels.empty() ? "" : ",") + std::to_string(c);
            counts.push_back("{\"start\":" + JsonString(console::IsoTime(b.start)) +
                             ",\"levels\":[" + levels + "]}");
        }
    }
    return Json(200, "{\"messages\":" + Array(messages) + ",\"next\":" + next +
                         ",\"counts\":" + Array(counts) + "}");
}

const char* Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 503:
            return "Service Unavailable";
        default:
            return "Internal Server Error";
    }
}

}  // namespace

Response Answer(const Request& request, const std::string& folder, std::int64_t now) {
    if (request.method != "GET" && request.method != "HEAD")
        return Problem(405, "read-only: GET only");
    const auto& path = request.path;
    if (path.empty() || path[0] != "api")
        return Problem(404, "not found");
    if (path.size() == 2 && path[1] == "syslog")
        return SyslogAnswer(folder, request.query, now);
    if (path.size() < 2 || path[1] != "devices")
        return Problem(404, "not found");
    Fleet fleet(folder);
    if (!fleet.Load())
        return Problem(500, "base.db cannot be read");
    if (path.size() == 2) {
        std::vector<std::string> objects;
        for (CBase* device : fleet.installation().Registered())
            objects.push_back(fleet.Summary(*device));
        return Json(200, Array(objects));
    }
    return DeviceAnswer(fleet, path, request.query);
}

int run(std::ostream& output, const Environment& environment, const std::string& folder) {
    auto get = [&](const char* name) {
        auto at = environment.find(name);
        return at == environment.end() ? std::string() : at->second;
    };
    const std::string method = get("REQUEST_METHOD");
    const auto request = ParseRequest(method, get("REQUEST_URI"));
    const Response response = request ? Answer(*request, folder, CurrentClock().Now())
                                      : Problem(400, "bad request target");
    output << "Status: " << response.status << " " << Reason(response.status) << "\r\n";
    if (response.status == 405)
        output << "Allow: GET, HEAD\r\n";
    output << "Content-Type: application/json; charset=utf-8\r\n"
              "Content-Security-Policy: default-src 'self'; frame-ancestors 'none'\r\n"
              "X-Frame-Options: DENY\r\n"
              "X-Content-Type-Options: nosniff\r\n"
              "Cache-Control: no-store\r\n"
              "\r\n";
    if (method != "HEAD")
        output << response.body << "\n";
    output.flush();
    return 0;
}

Environment ProcessEnvironment() {
    Environment environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::size_t equals = text.find('=');
        if (equals != std::string_view::npos)
            environment.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return environment;
}

}  // namespace quellin::web
