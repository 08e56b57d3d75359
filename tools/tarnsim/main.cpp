// tarnsim: plays one or many Tarn routers on loopback addresses, for tests,
// benchmarks and demonstrations.
#include <signal.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codec.h"
#include "event_loop.h"
#include "file_replacement.h"
#include "http_call.h"
#include "journal.h"
#include "profile_file.h"
#include "router_config.h"
#include "sim_router.h"
#include "syslog_sender.h"

namespace {

using namespace quellin::tarn;
using quellin::JsonLine;
using quellin::UniqueFd;

constexpr const char* kUsage =
    "usage: tarnsim [--state DIR] [--journal FILE] [--echo-journal] [--fleet FILE]\n"
    "               [--SETTING VALUE ...]\n"
    "       tarnsim syslog --from ADDRESS --to ADDRESS:PORT [--pri N]\n"
    "               [--stamp \"Mmm dd hh:mm:ss\" | --no-stamp] [--count N]\n"
    "               [--interval-ms N] [--raw] TEXT...\n"
    "       tarnsim provision --from ADDRESS --url http://127.0.0.1:PORT/cgi-bin/Netprov\n"
    "               --access-id ID --access-password PASSWORD [--post]\n"
    "               [--state DIR] [--journal FILE] [--name NAME] [--timeout-ms N]\n"
    "\n"
    "Plays one router (settings on the command line) or a fleet (one router per\n"
    "line of the fleet file; command-line settings are the fleet's defaults).\n"
    "Each router listens on its own loopback address.  Files stored over FTP go\n"
    "to STATE/<name>/; the journal (one JSON line per event) to\n"
    "STATE/journal.jsonl unless --journal says otherwise.  When every router\n"
    "listens, one line per router is printed:\n"
    "  ready NAME ADDRESS telnet=PORT ftp=PORT\n"
    "followed by \"ready all N\".  SIGTERM or SIGINT stops it.\n"
    "\n"
    "Settings (as --name value, or name=value in a fleet file):\n"
    "  name, address (127.0.0.2), model (Tarn-90), version (V10.02), ptf, date,\n"
    "  startup (config1|config2), firmware-form (plain|running|both),\n"
    "  second-version, user (empty: any), password, telnet-port (23),\n"
    "  ftp-port (21; 0 picks a free port), reset-delay-ms (3000),\n"
    "  tech-support-bytes (16384), tech-support-pace-ms (0, per 1 KiB),\n"
    "  telnet-options (do-echo,will-echo), syslog (ADDRESS:PORT),\n"
    "  fault (no-banner, wrong-password, no-prompt, refuse-ftp-login,\n"
    "         close-after-command[:TEXT], silence[:MS]; answers without end:\n"
    "         flood, trickle[:MS] (a line every MS, 4000), long-line[:BYTES]\n"
    "         (BYTES without a line end, 50 MiB)),\n"
    "  fault-command (the commands given an answer without end; empty: all),\n"
    "  max-upload-bytes, idle-timeout-ms\n"
    "\n"
    "Fleet file lines:  defaults KEY=VALUE...  |  router KEY=VALUE... [count=N]\n"
    "\n"
    "provision: the router at ADDRESS asks the provisioning page for its update\n"
    "(GET, or POST with --post) with its access ID and the MD5 digest of its\n"
    "access password, and reads the page to the end (default limit 120000 ms).\n"
    "The page is printed, kept whole in STATE/NAME/provision-page (NAME: the\n"
    "address unless --name) and journalled as an \"http-call\" line with its\n"
    "status and body.  Exit status 0 when the page came with status 200.\n";

int Usage(const std::string& problem) {
    if (!problem.empty())
        std::fprintf(stderr, "tarnsim: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}

// Makes room for many routers' sockets.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int SendSyslogCommand(const std::vector<std::string>& args) {
    std::string from = "127.0.0.2";
    std::string to;
    int pri = 134;
    std::string stamp;
    bool noStamp = false;
    int count = 1;
    int intervalMs = 0;
    bool raw = false;
    std::string text;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto next = [&](std::string& target) {
            if (i + 1 >= args.size())
                return false;
            target = args[++i];
            return true;
        };
        auto number = [&](int& target, int low, int high) {
            std::string value;
            if (!next(value) || value.empty() || value.size() > 9 ||
                value.find_first_not_of("0123456789") != std::string::npos)
                return false;
            target = std::stoi(value);
            return target >= low && target <= high;
        };
        if (arg == "--from") {
            if (!next(from))
                return Usage("--from needs an address");
        } else if (arg == "--to") {
            if (!next(to))
                return Usage("--to needs ADDRESS:PORT");
        } else if (arg == "--pri") {
            if (!number(pri, 0, 191))
                return Usage("--pri needs 0 to 191");
        } else if (arg == "--stamp") {
            if (!next(stamp))
                return Usage("--stamp needs a time stamp");
        } else if (arg == "--no-stamp") {
            noStamp = true;
        } else if (arg == "--count") {
            if (!number(count, 1, 1000000))
                return Usage("--count needs 1 to 1000000");
        } else if (arg == "--interval-ms") {
            if (!number(intervalMs, 0, 60000))
                return Usage("--interval-ms needs 0 to 60000");
        } else if (arg == "--raw") {
            raw = true;
        } else {
            text += (text.empty() ? "" : " ") + arg;
        }
    }
    auto source = ParseIpv4(from);
    auto target = ParseEndpoint(to);
    if (!source)
        return Usage("--from needs a dotted address");
    if (!target)
        return Usage("--to needs ADDRESS:PORT");
    // The command line speaks UTF-8; routers send CP932.
    if (!raw) {
        auto converted = quellin::cp932::FromUtf8(text);
        if (!converted)
            return Usage("the text has characters without a CP932 form (use --raw)");
        text = *converted;
    }
    for (int i = 0; i < count; ++i) {
        if (i > 0 && intervalMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        std::string when = noStamp ? "" : stamp.empty() ? SyslogStamp(std::time(nullptr)) : stamp;
        std::string error;
        if (!SendSyslog(*source, *target, FormatSyslog(pri, when, text), error)) {
            std::fprintf(stderr, "tarnsim: %s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}

int ProvisionCommand(const std::vector<std::string>& args) {
    std::string from = "127.0.0.2";
    std::string urlText;
    ProvisionCall call;
    bool haveId = false;
    bool havePassword = false;
    std::string state = "tarnsim-state";
    std::string journalPath;
    std::string name;
    int timeoutMs = 120000;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--post") {
            call.post = true;
            continue;
        }
        if (i + 1 >= args.size())
            return Usage(arg + " needs a value");
        const std::string& value = args[++i];
        if (arg == "--from") {
            from = value;
        } else if (arg == "--url") {
            urlText = value;
        } else if (arg == "--access-id") {
            call.accessId = value;
            haveId = true;
        } else if (arg == "--access-password") {
            call.accessPassword = value;
            havePassword = true;
        } else if (arg == "--state") {
            state = value;
        } else if (arg == "--journal") {
            journalPath = value;
        } else if (arg == "--name") {
            name = value;
        } else if (arg == "--timeout-ms") {
            if (value.empty() || value.size() > 7 ||
                value.find_first_not_of("0123456789") != std::string::npos || std::stoi(value) < 1)
                return Usage("--timeout-ms needs 1 to 9999999");
            timeoutMs = std::stoi(value);
        } else {
            return Usage("provision: unexpected " + arg);
        }
    }
    auto source = ParseIpv4(from);
    if (!source || !IsLoopback(*source))
        return Usage("--from needs a dotted loopback address");
    std::string error;
    auto url = ParseHttpUrl(urlText, error);
    if (!url)
        return Usage("--url: " + error);
    if (!haveId || !havePassword)
        return Usage("provision needs --access-id and --access-password");
    // The command line speaks UTF-8; the router's settings are CP932.
    for (std::string* text : {&call.accessId, &call.accessPassword}) {
        auto converted = quellin::cp932::FromUtf8(*text);
        if (!converted)
            return Usage("the access ID and password must have a CP932 form");
        *text = *converted;
    }
    call.url = *url;
    if (name.empty())
        name = from;

    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(state) / name;
    std::filesystem::create_directories(folder, ec);
    if (ec)
        return Usage(folder.string() + ": " + ec.message());
    if (journalPath.empty())
        journalPath = (std::filesystem::path(state) / "journal.jsonl").string();
    Journal journal(journalPath);
    if (!journal.ok())
        return Usage(journal.error());

    const std::string method = call.post ? "POST" : "GET";
    journal.Write(name, from, "http-request", JsonLine().Add("method", method).Add("url", urlText));
    auto failedCall = [&](std::size_t received) {
        journal.Write(name, from, "http-call",
                      JsonLine()
                          .Add("method", method)
                          .Add("url", urlText)
                          .Add("ok", false)
                          .Add("error", error)
                          .Add("received", received));
        std::fprintf(stderr, "tarnsim: %s\n", error.c_str());
        return 1;
    };
    std::string partial;
    auto answer = Exchange(*source, url->server, BuildProvisionRequest(call),
                           std::chrono::milliseconds(timeoutMs), error, &partial);
    if (!answer)
        return failedCall(partial.size());
    if (!quellin::ReplaceFile(folder / "provision-page", *answer))
        std::fprintf(stderr, "tarnsim: cannot write %s\n", (folder / "provision-page").c_str());
    auto response = ParseHttpResponse(*answer, error);
    if (!response)
        return failedCall(answer->size());
    journal.Write(name, from, "http-call",
                  JsonLine()
                      .Add("method", method)
                      .Add("url", urlText)
                      .Add("ok", response->status == 200)
                      .Add("status", response->status)
                      .Add("body", response->body));
    std::printf("%s\n%s", response->statusLine.c_str(),
                quellin::cp932::ToUtf8Lossy(response->body).c_str());
    if (!response->body.empty() && response->body.back() != '\n')
        std::printf("\n");
    return response->status == 200 ? 0 : 1;
}

int RunRouters(const std::vector<std::string>& args) {
    RouterConfig base;
    std::string state = "tarnsim-state";
    std::string journalPath;
    std::string fleetPath;
    bool echo = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--echo-journal") {
            echo = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0 || arg.size() < 3)
            return Usage("unexpected " + arg);
        if (i + 1 >= args.size())
            return Usage(arg + " needs a value");
        const std::string key = arg.substr(2);
        const std::string& value = args[++i];
        if (key == "state") {
            state = value;
        } else if (key == "journal") {
            journalPath = value;
        } else if (key == "fleet") {
            fleetPath = value;
        } else {
            std::string error;
            if (!ApplyRouterSetting(base, key, value, error))
                return Usage(error);
        }
    }

    std::vector<RouterConfig> configs;
    std::string error;
    if (fleetPath.empty()) {
        if (!CheckRouterConfig(base, error))
            return Usage(error);
        configs.push_back(base);
    } else {
        auto text = quellin::ReadWholeFile(fleetPath);
        if (!text)
            return Usage("cannot read " + fleetPath);
        if (!ParseFleet(*text, base, configs, error))
            return Usage(fleetPath + ": " + error);
        if (configs.empty())
            return Usage(fleetPath + ": no routers");
    }

    std::error_code ec;
    std::filesystem::create_directories(state, ec);
    if (ec)
        return Usage(state + ": " + ec.message());
    if (journalPath.empty())
        journalPath = (std::filesystem::path(state) / "journal.jsonl").string();
    Journal journal(journalPath, echo);
    if (!journal.ok())
        return Usage(journal.error());

    ::signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    UniqueFd signals(::signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals.valid())
        return Usage("signalfd failed");
    RaiseDescriptorLimit();

    EventLoop loop;
    std::vector<std::unique_ptr<SimRouter>> routers;
    for (auto& config : configs) {
        auto router = std::make_unique<SimRouter>(config, loop, journal, state);
        if (!router->Start(error)) {
            std::fprintf(stderr, "tarnsim: %s: %s\n", router->name().c_str(), error.c_str());
            return 1;
        }
        routers.push_back(std::move(router));
    }
    for (const auto& router : routers) {
        std::printf("ready %s %s telnet=%u ftp=%u\n", router->name().c_str(),
                    router->config().address.c_str(), unsigned{router->telnetPort()},
                    unsigned{router->ftpPort()});
    }
    std::printf("ready all %zu\n", routers.size());
    std::fflush(stdout);

    loop.Watch(signals.get(), POLLIN, [&](short) {
        signalfd_siginfo info{};
        [[maybe_unused]] ssize_t n = ::read(signals.get(), &info, sizeof info);
        loop.Stop();
    });
    std::function<void()> tick = [&] {
        for (auto& router : routers)
            router->Tick();
        loop.After(std::chrono::milliseconds(1000), tick);
    };
    loop.After(std::chrono::milliseconds(1000), tick);

    bool ok = loop.Run();
    for (auto& router : routers)
        router->Stop();
    journal.Write("", "", "stop");
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "syslog")
        return SendSyslogCommand({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "provision")
        return ProvisionCommand({args.begin() + 1, args.end()});
    return RunRouters(args);
}
