// syslog: the messages Syslogd keeps in its store, searched read-only beside
// the Syslogd that writes them.
#include "clock.h"
#include "codec.h"
#include "command.h"
#include "json_line.h"
#include "store_reader.h"
#include "store_settings.h"
#include "store_text.h"

#include <ctime>
#include <ostream>

namespace quellin::cli {
namespace {

namespace store = syslogstore;

enum class Form { kText, kJson, kCsv };

// The store the command line names: --store, or the one the installation's
// Syslogd.ini names.  nullopt after saying why.
std::optional<std::filesystem::path> StorePath(CommandContext& c) {
    if (auto path = c.Option("store"))
        return std::filesystem::path(*path);
    const InstallationLayout layout(c.Home());
    const auto ini =
        cp932::ToPath(layout.syslogProgram()).parent_path() / store::kSyslogdSettingsFile;
    auto settings = store::ReadStoreSettings(ini);
    if (!settings) {
        c.Fail("cannot read the store's settings: " + OneLine(settings.error().detail));
        return std::nullopt;
    }
    return settings->path;
}

// The routers of --router, by address or by the device name in base.db;
// nullopt after saying why, with the exit status in the context.
std::optional<std::vector<std::uint32_t>> Routers(CommandContext& c) {
    std::vector<std::uint32_t> sources;
    bool opened = false;
    for (const std::string& router : c.Values("router")) {
        auto address = store::ParseIPv4Address(router);
        if (!address) {
            if (!opened &&
                !c.Start(console::Installation::Access::kRead, CommandContext::Devices::kNone))
                return std::nullopt;
            opened = true;
            auto name = c.Cp932("the router", router);
            const CBase* device = name ? c.installation().Find(*name) : nullptr;
            if (device == nullptr) {
                if (name)
                    c.Usage("no device named " + router);
                return std::nullopt;
            }
            address = store::ParseIPv4Address(device->address);
            if (!address) {
                c.Usage(router + " has no IPv4 address: " + Cell(device->address));
                return std::nullopt;
            }
        }
        sources.push_back(*address);
    }
    return sources;
}

// The query of the command line; nullopt after saying why.
std::optional<store::Query> QueryOf(CommandContext& c) {
    store::Query query;
    query.descending = false;  // oldest first, as a log reads
    for (auto [name, bound] : {std::pair{"since", &query.since}, {"until", &query.until}}) {
        if (auto text = c.Option(name)) {
            *bound = store::ParseTimePoint(*text, CurrentClock());
            if (!*bound) {
                c.Usage("--" + std::string(name) + " is not a time: " + *text);
                return std::nullopt;
            }
        }
    }
    if (auto level = c.Option("level")) {
        auto levels = store::ParseLevelMask(*level);
        if (!levels) {
            c.Usage("--level is not a level: " + *level);
            return std::nullopt;
        }
        query.levels = *levels;
    }
    if (c.Option("grep") && c.Option("text")) {
        c.Usage("syslog takes --grep or --text, not both");
        return std::nullopt;
    }
    query.text = c.Option("grep").value_or(c.Option("text").value_or(""));
    query.match = c.Option("grep") ? store::TextMatch::kRegex : store::TextMatch::kSubstring;
    return query;
}

std::string UtcIsoTime(std::int64_t time) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm utc{};
    char text[32] = "";
    if (gmtime_r(&t, &utc) != nullptr)
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string FacilityText(int facility) {
    const std::string_view name = store::FacilityName(facility);
    return name.empty() ? std::to_string(facility) : std::string(name);
}

// The fields as one line: tab-separated for the terminal (the fields
// already escaped), or CSV with every field quoted and quotes doubled, so
// that a text from a router cannot end its field or its line.
std::string LineOf(Form form, const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) {
        if (form == Form::kText) {
            line += (line.empty() ? "" : "\t") + field;
            continue;
        }
        line += line.empty() ? "\"" : ",\"";
        for (char c : field)
            line += c == '"' ? std::string("\"\"") : std::string(1, c);
        line += '"';
    }
    return line + (form == Form::kText ? "\n" : "\r\n");
}

// One message: a line of time (local, with the date), address, facility,
// level and text; a JSON object; or a CSV line in CP932 like every file
// the system writes.
std::string MessageOut(Form form, const store::StoredMessage& m) {
    const std::string text = cp932::FromUtf8Lossy(m.text);
    const std::string level(store::LevelName(m.level));
    if (form == Form::kJson)
        return JsonLine()
                   .Add("time", UtcIsoTime(m.receivedAt))
                   .Add("address", m.source)
                   .Add("facility", FacilityText(m.facility))
                   .Add("level", level)
                   .Add("text", text)
                   .Text() +
               "\n";
    return LineOf(form, {TimeText(m.receivedAt), m.source, FacilityText(m.facility), level,
                         form == Form::kText ? Cell(text) : text});
}

// One bucket of --count-by: its local start, the total and the count of
// each level, Emergency to Debug; or the heading of such lines.
std::string BucketOut(Form form, const store::CountBucket* b) {
    if (form == Form::kJson && b != nullptr) {
        JsonLine line;
        line.Add("time", UtcIsoTime(b->start)).Add("total", static_cast<std::int64_t>(b->Total()));
        for (int level = 0; level < 8; ++level)
            line.Add(store::LevelName(level), static_cast<std::int64_t>(b->levels[level]));
        return line.Text() + "\n";
    }
    if (form == Form::kJson)
        return "";
    std::vector<std::string> fields = {b ? TimeText(b->start) : "time",
                                       b ? std::to_string(b->Total()) : "total"};
    for (int level = 0; level < 8; ++level)
        fields.push_back(b ? std::to_string(b->levels[level])
                           : std::string(store::LevelName(level)));
    return LineOf(form, fields);
}

// A failed search: a pattern or list the store refuses is the command
// line's fault.
int Failed(CommandContext& c, const Error& error) {
    if (error.code == ErrorCode::kBadArgument)
        return c.Usage("the store refuses the search: " + OneLine(error.detail));
    return c.Fail("cannot search the store: " + OneLine(error.detail));
}

int Syslog(CommandContext& c) {
    if (!c.operands().empty())
        return c.Usage("syslog takes no operands");
    if (c.json() && c.Flag("csv"))
        return c.Usage("syslog takes --json or --csv, not both");
    const Form form = c.json() ? Form::kJson : c.Flag("csv") ? Form::kCsv : Form::kText;
    const auto unit = c.Option("count-by");
    if (unit && *unit != "minute" && *unit != "hour" && *unit != "day")
        return c.Usage("--count-by takes minute, hour or day");
    std::optional<long long> limit;
    if (auto text = c.Option("limit")) {
        const bool number = !text->empty() && text->size() <= 12 &&
                            text->find_first_not_of("0123456789") == std::string::npos;
        limit = number ? std::stoll(*text) : 0;
        if (*limit < 1)
            return c.Usage("--limit needs a number from 1 on");
    }
    auto query = QueryOf(c);
    if (!query)
        return kExitUsage;
    auto sources = Routers(c);
    if (!sources)
        return c.status() != kExitOk ? c.status() : kExitUsage;
    query->sources = std::move(*sources);
    const auto path = StorePath(c);
    if (!path)
        return kExitFailed;
    auto reader = store::SyslogStoreReader::Open(*path);
    if (!reader && reader.error().code == ErrorCode::kNotFound)
        return c.Fail("no syslog store at " + path->string() +
                      " (Syslogd keeps one with StoreFlag=1 in its Syslogd.ini)");
    if (!reader)
        return c.Fail("cannot open the syslog store " + path->string() + ": " +
                      OneLine(reader.error().detail));

    if (unit) {
        auto buckets = reader->CountBy(*query, *unit == "minute" ? store::BucketUnit::kMinute
                                               : *unit == "hour" ? store::BucketUnit::kHour
                                                                 : store::BucketUnit::kDay);
        if (!buckets)
            return Failed(c, buckets.error());
        if (buckets->empty())
            return kExitFailed;
        c.out() << BucketOut(form, nullptr);
        for (const store::CountBucket& bucket : *buckets)
            c.out() << BucketOut(form, &bucket);
        return kExitOk;
    }
    // Page after page, each written as it comes.
    long long printed = 0;
    std::optional<store::PageCursor> cursor;
    do {
        const long long left = limit ? *limit - printed : store::kMaxPageRows;
        auto page = reader->Search(*query, cursor, static_cast<std::size_t>(left));
        if (!page)
            return Failed(c, page.error());
        if (printed == 0 && !page->rows.empty() && form != Form::kJson)
            c.out() << LineOf(form, {"time", "address", "facility", "level", "text"});
        for (const store::StoredMessage& message : page->rows)
            c.out() << MessageOut(form, message);
        printed += static_cast<long long>(page->rows.size());
        cursor = page->next;
        c.out().flush();
    } while (cursor && (!limit || printed < *limit));
    return printed > 0 ? kExitOk : kExitFailed;
}

}  // namespace

std::vector<Command> SyslogCommands() {
    // clang-format off
    return {
        {"syslog",
         "usage: quellin syslog [--since T] [--until T] [--router NAME|ADDRESS]... [--level L]\n"
         "         [--grep RE | --text S] [--limit N] [--json | --csv]\n"
         "         [--count-by minute|hour|day] [--home DIR | --store PATH]\n"
         "The messages Syslogd keeps in its store (StoreFlag=1 in syslog/Syslogd.ini), oldest\n"
         "first: local time, address, facility, level, text.  Read-only, beside a running\n"
         "Syslogd.  T: now, today, yesterday, -15m, -2h, -7d, 2025-01-31, 2025-01-31 08:00\n"
         "(local, or with Z or +09:00), @SECONDS; --since from T on, --until before T.\n"
         "--router may be given more than once; a NAME is a device of base.db.  L: Error,\n"
         "err, 3, Emergency-Error, 0-3, Warning,Error.  --grep: a POSIX extended regular\n"
         "expression; --text: a substring as typed.  --limit N: the first N matches.\n"
         "--json objects: time (UTC), address, facility, level, text.  --csv: Shift-JIS.\n"
         "--count-by: messages per local minute, hour or day, in total and per level (--json\n"
         "objects: time (UTC start), total, Emergency ... Debug).\n"
         "Exit 1 when nothing matched, 2 for a bad time, level or pattern or an unknown\n"
         "router name.\n",
         {"home", "store", "since", "until", "router", "level", "grep", "text", "limit",
          "count-by"},
         {"json", "csv"}, false, Syslog},
    };
    // clang-format on
}

}  // namespace quellin::cli
