#include "notices.h"

#include "clock.h"
#include "codec.h"
#include "hooks.h"
#include "installation_layout.h"
#include "mail_composer.h"
#include "md5.h"
#include "profile_file.h"
#include "report.h"
#include "secret_mask.h"
#include "settings.h"
#include "terminal_text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <thread>

namespace quellin::console {
namespace {

constexpr char kHeading[] =
    "name\tbackup_failing\tinventory_failing\tupdate_told\tdrift_told\tlast_backup_ok\t"
    "changes_stored\tbackup_failures\tcollection_failing\toperation_failing";
// Files of the first version end after backup_failures.
constexpr std::size_t kFirstFields = 8;
constexpr std::size_t kFields = 10;
constexpr std::size_t kMaxDevices = 100000;
// Mail delivery tries this often, waiting twice as long before each retry.
constexpr int kMailAttempts = 4;
constexpr std::chrono::seconds kFirstBackOff{2};
constexpr std::size_t kHooksAtOnce = 8;
// A digest of very many changes stops taking diffs here.
constexpr std::size_t kMaxDigestBytes = 4u << 20;

std::uint64_t Number(std::string_view text) {
    std::uint64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

std::string Field(std::string_view text) {
    std::string out(text.substr(0, 1024));
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n')
            c = ' ';
    return out;
}

std::string FailureText(const Outcome& outcome) {
    std::string text = outcome.message;
    if (!outcome.reason.empty())
        text += (text.empty() ? "" : " ") + outcome.reason;
    return text;
}

// A failure told once when it starts, a recovery once when it ends.
void Turn(bool failed, bool& failing, Notice notice, std::vector<Notice>& out) {
    if (failed == failing)
        return;
    failing = failed;
    notice.event = failed ? NoticeEvent::kFailure : NoticeEvent::kRecovery;
    out.push_back(std::move(notice));
}

std::string CrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\r')
            continue;
        if (c == '\n')
            out += '\r';
        out += c;
    }
    if (!out.empty() && !out.ends_with("\r\n"))
        out += "\r\n";
    return out;
}

std::string DiffText(const Notice& notice, const NoticeSettings& settings) {
    std::string diff = settings.maskSecrets ? MaskSecrets(notice.diff) : notice.diff;
    if (diff.size() > kMaxMailDiff) {
        diff = std::string(cp932::Head(diff, kMaxMailDiff));
        diff += "\n" + cp932::Jp("(差分が長いため、以下を省きました。)") + "\n";
    }
    return CrLf(diff);
}

std::string WorkText(NoticeWork work) {
    switch (work) {
        case NoticeWork::kBackup:
            return cp932::Jp("バックアップ");
        case NoticeWork::kInventory:
            return cp932::Jp("装置情報の取得");
        case NoticeWork::kCollection:
            return cp932::Jp("ログのスケジュール収集");
        case NoticeWork::kOperation:
            return cp932::Jp("予約した処理");
    }
    return {};
}

std::string Facts(const Notice& n) {
    std::string text = cp932::Jp("装置名: ") + n.device + "\r\n" + cp932::Jp("アドレス: ") +
                       n.address + "\r\n" + cp932::Jp("日時: ") +
                       FormatLocalTime(n.time, "%Y/%m/%d %H:%M:%S") + "\r\n";
    if (!n.commit.empty())
        text += cp932::Jp("版: ") + n.commit + "\r\n" + cp932::Jp("追加: ") +
                std::to_string(n.changes.added) + cp932::Jp(" 行、削除: ") +
                std::to_string(n.changes.removed) + cp932::Jp(" 行") + "\r\n";
    if (!n.reason.empty())
        text += cp932::Jp(n.event == NoticeEvent::kUpdate ? "ソフトウェア: " : "理由: ") +
                OneLine(n.reason) + "\r\n";
    return text;
}

NoticeMail MailOf(const Notice& n, const NoticeSettings& settings) {
    const std::string tag = "[Quellin] ";
    const std::string on = cp932::Jp("装置 ") + n.device + " (" + n.address + ") ";
    switch (n.event) {
        case NoticeEvent::kChange:
            return {tag + cp932::Jp("構成定義の変更: ") + n.device,
                    on + cp932::Jp("の構成定義の新しい版をバックアップしました。") + "\r\n\r\n" +
                        Facts(n) + "\r\n" + DiffText(n, settings)};
        case NoticeEvent::kFailure:
            return {
                tag + WorkText(n.work) + cp932::Jp("の失敗: ") + n.device,
                on + cp932::Jp("の") + WorkText(n.work) +
                    cp932::Jp("が失敗しました。回復するまで、この装置の失敗は再び知らせません。") +
                    "\r\n\r\n" + Facts(n)};
        case NoticeEvent::kRecovery:
            return {tag + WorkText(n.work) + cp932::Jp("の回復: ") + n.device,
                    on + cp932::Jp("の") + WorkText(n.work) + cp932::Jp("が再び成功しました。") +
                        "\r\n\r\n" + Facts(n)};
        case NoticeEvent::kDrift:
            return {tag + cp932::Jp("構成定義の相違: ") + n.device,
                    on + cp932::Jp("の動作中の構成定義が構成定義ファイルと異なります。") +
                        "\r\n\r\n" + Facts(n) + "\r\n" + DiffText(n, settings)};
        case NoticeEvent::kUpdate:
            return {tag + cp932::Jp("ソフトウェアの更新あり: ") + n.device,
                    on + cp932::Jp("に新しいソフトウェアがあります。") + "\r\n\r\n" + Facts(n)};
    }
    return {};
}

void Log(Reporter& reporter, const std::string& line) {
    reporter.Report(kToolName, line, MSG_LOG);
}

std::string HookName(const Notice& n) {
    return cp932::Jp("フック (") + std::string(EventKey(n.event)) + ", " + n.device + ") ";
}

void RunHookOf(const Notice& n, const NoticeSettings& settings, Reporter& reporter) {
    const std::string& command = settings.Hook(n.event);
    if (command.empty())
        return;
    const HookRun run = RunHook(SplitCommandWords(command), HookVariables(n), settings.hookTimeout);
    if (!run.started)
        Log(reporter, HookName(n) + cp932::Jp("を開始できませんでした。") + " " + run.error);
    else if (run.timedOut)
        Log(reporter, HookName(n) + cp932::Jp("が時間内に終わらないため停止しました。"));
    else
        Log(reporter,
            HookName(n) + cp932::Jp("が終了しました。終了コード ") + std::to_string(run.status));
    if (!run.output.empty())
        Log(reporter, HookName(n) + cp932::Jp("の出力: ") + OneLine(run.output, kMaxHookOutput));
}

}  // namespace

std::string_view EventKey(NoticeEvent event) {
    static constexpr std::array<std::string_view, 5> kKeys{"change", "failure", "recovery", "drift",
                                                           "update"};
    return kKeys[static_cast<std::size_t>(event)];
}

bool NoticeSettings::Mails(NoticeEvent event) const {
    if (to.empty())
        return false;
    switch (event) {
        case NoticeEvent::kChange:
            return onChange;
        case NoticeEvent::kFailure:
        case NoticeEvent::kRecovery:
            return onFailure;
        case NoticeEvent::kDrift:
            return onDrift;
        case NoticeEvent::kUpdate:
            return onUpdate;
    }
    return false;
}

const std::string& NoticeSettings::Hook(NoticeEvent event) const {
    switch (event) {
        case NoticeEvent::kChange:
            return hookOnChange;
        case NoticeEvent::kFailure:
        case NoticeEvent::kRecovery:
            return hookOnFailure;
        case NoticeEvent::kDrift:
            return hookOnDrift;
        case NoticeEvent::kUpdate:
            break;
    }
    return hookOnUpdate;
}

bool NoticeSettings::any() const {
    for (NoticeEvent e :
         {NoticeEvent::kChange, NoticeEvent::kFailure, NoticeEvent::kDrift, NoticeEvent::kUpdate})
        if (Mails(e) || !Hook(e).empty())
            return true;
    return false;
}

NoticeSettings ReadNoticeSettings(const std::filesystem::path& nexoraIni) {
    const ProfileFile ini(nexoraIni);
    NoticeSettings s;
    const std::string to = ini.GetString(kSettingsSection, "NoticeTo", "");
    for (std::size_t start = 0; start <= to.size();) {
        const std::size_t comma = std::min(to.find(',', start), to.size());
        std::string one = to.substr(start, comma - start);
        one.erase(0, std::min(one.size(), one.find_first_not_of(" \t\r\n")));
        one.erase(one.find_last_not_of(" \t\r\n") + 1);
        if (!one.empty())
            s.to.push_back(std::move(one));
        start = comma + 1;
    }
    const auto flag = [&](const char* key) { return ini.GetInt(kSettingsSection, key, 0) == 1; };
    s.onChange = flag("NoticeOnChange");
    s.onFailure = flag("NoticeOnFailure");
    s.onDrift = flag("NoticeOnDrift");
    s.onUpdate = flag("NoticeOnUpdate");
    s.digest = flag("NoticeDigest");
    s.maskSecrets = flag("NoticeMaskSecrets");
    s.hookOnChange = ini.GetString(kSettingsSection, "HookOnChange", "");
    s.hookOnFailure = ini.GetString(kSettingsSection, "HookOnFailure", "");
    s.hookOnDrift = ini.GetString(kSettingsSection, "HookOnDrift", "");
    s.hookOnUpdate = ini.GetString(kSettingsSection, "HookOnUpdate", "");
    const int timeout = ini.GetInt(kSettingsSection, "HookTimeoutSeconds", 60);
    s.hookTimeout = std::chrono::seconds(timeout > 0 ? std::min(timeout, 86400) : 60);
    return s;
}

NoticeStates ParseNoticeState(std::string_view text) {
    text = text.substr(0, kMaxNoticeStateBytes);
    NoticeStates states;
    while (!text.empty() && states.size() < kMaxDevices) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        std::array<std::string_view, kFields> f{};
        std::size_t count = 0;
        for (std::size_t start = 0; count < kFields && start <= line.size(); ++count) {
            const std::size_t tab = std::min(line.find('\t', start), line.size());
            f[count] = line.substr(start, tab - start);
            start = tab + 1;
        }
        if (count < kFirstFields || f[0].empty() || f[0] == "name")
            continue;
        states[std::string(f[0])] = {f[1] == "1",
                                     f[2] == "1",
                                     std::string(f[3]),
                                     std::string(f[4]),
                                     static_cast<std::int64_t>(Number(f[5])),
                                     Number(f[6]),
                                     Number(f[7]),
                                     f[8] == "1",
                                     f[9] == "1"};
    }
    return states;
}

std::string NoticeStateText(const NoticeStates& states) {
    std::string text = std::string(kHeading) + "\r\n";
    for (const auto& [name, s] : states)
        text += Field(name) + "\t" + (s.backupFailing ? "1" : "0") + "\t" +
                (s.inventoryFailing ? "1" : "0") + "\t" + Field(s.updateTold) + "\t" +
                Field(s.driftTold) + "\t" + std::to_string(s.lastBackupOk) + "\t" +
                std::to_string(s.changesStored) + "\t" + std::to_string(s.backupFailures) + "\t" +
                (s.collectionFailing ? "1" : "0") + "\t" + (s.operationFailing ? "1" : "0") +
                "\r\n";
    return text;
}

NoticeState::NoticeState(const std::string& installationFolder)
    : state_(installationFolder, kFileName, kLockName, kMaxNoticeStateBytes) {}

Result<NoticeStates> NoticeState::Read() const {
    auto text = state_.Read();
    if (!text)
        return text.error();
    return ParseNoticeState(*text);
}

Result<NoticeStates> NoticeState::UpdateWith(const std::function<void(NoticeStates&)>& change) {
    NoticeStates states;
    auto written = state_.Update([&](std::string_view text) {
        states = ParseNoticeState(text);
        change(states);
        return NoticeStateText(states);
    });
    if (!written)
        return written.error();
    return states;
}

std::vector<Notice> BackupNotices(const std::vector<CBase*>& devices,
                                  const std::vector<BackupResult>& results, NoticeStates& states,
                                  std::int64_t time) {
    std::vector<Notice> notices;
    for (std::size_t i = 0; i < devices.size() && i < results.size(); ++i) {
        const BackupResult& r = results[i];
        NoticeDeviceState& s = states[devices[i]->name];
        Notice n{.work = NoticeWork::kBackup,
                 .device = devices[i]->name,
                 .address = devices[i]->address,
                 .time = time};
        const bool failed = r.outcome.kind == OutcomeKind::kFailed;
        if (failed) {
            ++s.backupFailures;
            n.reason = FailureText(r.outcome);
        } else if (r.outcome.done()) {
            s.lastBackupOk = time;
        }
        Turn(failed, s.backupFailing, n, notices);
        if (r.stored) {
            ++s.changesStored;
            n.event = NoticeEvent::kChange;
            n.commit = r.commit;
            n.changes = r.changes;
            notices.push_back(std::move(n));
        }
    }
    return notices;
}

std::vector<Notice> WorkNotices(NoticeWork work, const CBase& device, const Outcome& outcome,
                                NoticeStates& states, std::int64_t time) {
    std::vector<Notice> notices;
    if (outcome.kind == OutcomeKind::kNothingToDo || outcome.kind == OutcomeKind::kDeclined)
        return notices;
    NoticeDeviceState& s = states[device.name];
    const bool failed = outcome.kind == OutcomeKind::kFailed;
    Notice n{.work = work, .device = device.name, .address = device.address, .time = time};
    if (failed)
        n.reason = FailureText(outcome);
    Turn(failed, work == NoticeWork::kCollection ? s.collectionFailing : s.operationFailing, n,
         notices);
    return notices;
}

std::vector<Notice> InventoryNotices(const std::vector<InventoryRow>& rows, NoticeStates& states,
                                     std::int64_t time) {
    std::vector<Notice> notices;
    for (const InventoryRow& row : rows) {
        if (row.verdict == InventoryVerdict::kNotAsked || row.name.empty())
            continue;
        NoticeDeviceState& s = states[row.name];
        Notice n{.work = NoticeWork::kInventory,
                 .device = row.name,
                 .address = row.address,
                 .time = time};
        const bool failed = row.verdict == InventoryVerdict::kUnreachable ||
                            row.verdict == InventoryVerdict::kLoginFailed;
        if (failed)
            n.reason = VerdictText(row.verdict) + (row.reason.empty() ? "" : " " + row.reason);
        Turn(failed, s.inventoryFailing, n, notices);
        if (row.verdict == InventoryVerdict::kUpdateAvailable) {
            const std::string image = row.image + " " + row.imageVersion;
            if (s.updateTold != image) {
                s.updateTold = image;
                n.event = NoticeEvent::kUpdate;
                n.reason = image;
                notices.push_back(std::move(n));
            }
        }
    }
    return notices;
}

std::vector<Notice> DriftNotices(const std::vector<CBase*>& devices,
                                 const std::vector<DriftResult>& results, NoticeStates& states,
                                 std::int64_t time) {
    std::vector<Notice> notices;
    for (std::size_t i = 0; i < devices.size() && i < results.size(); ++i) {
        const DriftResult& r = results[i];
        if (!r.outcome.done())
            continue;
        NoticeDeviceState& s = states[devices[i]->name];
        const std::string told = r.same ? "" : Md5Hex(r.diff);
        if (told == s.driftTold)
            continue;
        s.driftTold = told;
        if (!r.same)
            notices.push_back({.event = NoticeEvent::kDrift,
                               .device = devices[i]->name,
                               .address = devices[i]->address,
                               .diff = r.diff,
                               .time = time});
    }
    return notices;
}

std::vector<NoticeMail> NoticeMails(const std::vector<Notice>& notices,
                                    const NoticeSettings& settings) {
    std::vector<NoticeMail> mails;
    std::vector<const Notice*> changes;
    for (const Notice& n : notices) {
        if (!settings.Mails(n.event))
            continue;
        if (settings.digest && n.event == NoticeEvent::kChange)
            changes.push_back(&n);
        else
            mails.push_back(MailOf(n, settings));
    }
    if (changes.size() == 1)
        mails.push_back(MailOf(*changes.front(), settings));
    if (changes.size() > 1) {
        NoticeMail digest{"[Quellin] " + cp932::Jp("構成定義の変更: ") +
                              std::to_string(changes.size()) + cp932::Jp(" 台"),
                          std::to_string(changes.size()) +
                              cp932::Jp(" 台の装置の構成定義の新しい版をバックアップしました。") +
                              "\r\n"};
        for (const Notice* n : changes)
            digest.body += "\r\n" + std::string(60, '-') + "\r\n" + Facts(*n) + "\r\n" +
                           (digest.body.size() < kMaxDigestBytes
                                ? DiffText(*n, settings)
                                : cp932::Jp("(差分が長いため、省きました。)") + "\r\n");
        mails.push_back(std::move(digest));
    }
    return mails;
}

std::vector<std::pair<std::string, std::string>> HookVariables(const Notice& n) {
    return {{"QUELLIN_DEVICE", n.device},
            {"QUELLIN_ADDRESS", n.address},
            {"QUELLIN_EVENT", std::string(EventKey(n.event))},
            {"QUELLIN_COMMIT", n.commit},
            {"QUELLIN_REASON", OneLine(n.reason)},
            {"QUELLIN_TIME", FormatLocalTime(n.time, "%Y-%m-%dT%H:%M:%S%z")}};
}

mail::MailServer ReadNoticeMailServer(const std::filesystem::path& nexoraIni,
                                      const std::filesystem::path& syslogdIni) {
    const ProfileFile nexora(nexoraIni);
    const bool own = !nexora.GetString(kSettingsSection, "NoticeServer", "").empty();
    const ProfileFile ini(own ? nexoraIni : syslogdIni);
    const std::string section = own ? kSettingsSection : "SETUP";
    const auto key = [&](const char* notice, const char* syslogd) {
        return own ? notice : syslogd;
    };
    // Syslogd reads its values into buffers of 255 bytes.
    const auto text = [&](const char* notice, const char* syslogd) {
        return ini.GetString(section, key(notice, syslogd), "", own ? 4096 : 255);
    };
    mail::MailServer server;
    server.host = text("NoticeServer", "SMTPServer");
    server.port = ini.GetInt(section, key("NoticePort", "SMTPPort"), 25);
    const int security = ini.GetInt(section, key("NoticeSecurity", "SMTPSecurity"), 0);
    server.security = security == 1   ? mail::SmtpSecurity::StartTls
                      : security == 2 ? mail::SmtpSecurity::ImplicitTls
                                      : mail::SmtpSecurity::None;
    server.authenticate = ini.GetInt(section, key("NoticeAuthFlag", "SMTPAuthFlag"), 0) == 1;
    server.user = text("NoticeUser", "SMTPUser");
    server.password = text("NoticePassword", "SMTPPassword");
    server.caFile = text("NoticeCAFile", "SMTPCAFile");
    server.from = nexora.GetString(kSettingsSection, "NoticeFrom", "");
    if (server.from.empty())
        server.from = ProfileFile(syslogdIni).GetString("SETUP", "ClientMailAddress", "", 255);
    return server;
}

Result<void> SmtpNoticeMailer::Send(const std::vector<NoticeMail>& mails) {
    std::string to;
    for (const std::string& one : to_)
        to += (to.empty() ? "" : ",") + one;
    std::vector<mail::OutgoingMail> outgoing;
    for (const NoticeMail& m : mails)
        outgoing.push_back({to, mail::StampHeader(CurrentClock().Now(), server_.from, "quellin") +
                                    mail::ComposeMessage(
                                        {m.subject, "Quellin Server", server_.from, to}, m.body)});
    return mail::SendMails(server_, outgoing, timeout_);
}

void DeliverNotices(const std::vector<Notice>& notices, const NoticeSettings& settings,
                    NoticeMailer* mailer, Reporter& reporter) {
    // A few hooks at once, so that slow ones hold the end of a run of many
    // changes for a few timeouts, not one per device.
    std::atomic<std::size_t> next{0};
    {
        std::vector<std::jthread> workers;
        for (std::size_t i = 0; i < std::min(kHooksAtOnce, notices.size()); ++i)
            workers.emplace_back([&] {
                for (std::size_t at; (at = next++) < notices.size();)
                    RunHookOf(notices[at], settings, reporter);
            });
    }
    const std::vector<NoticeMail> mails = NoticeMails(notices, settings);
    if (mails.empty() || mailer == nullptr)
        return;
    auto backOff = kFirstBackOff;
    for (int attempt = 1;; ++attempt) {
        const Result<void> sent = mailer->Send(mails);
        if (sent) {
            Log(reporter, cp932::Jp("通知メールを送信しました。") + "(" +
                              std::to_string(mails.size()) + cp932::Jp(" 通)"));
            return;
        }
        Log(reporter, cp932::Jp("通知メールの送信に失敗しました。") + " " +
                          OneLineDetail(sent.error()) + " (" + std::to_string(attempt) + "/" +
                          std::to_string(kMailAttempts) + ")");
        if (attempt == kMailAttempts)
            return;
        std::this_thread::sleep_for(backOff);
        backOff *= 2;
    }
}

Result<NoticeStates> TellRun(const InstallationLayout& layout,
                             const std::function<std::vector<Notice>(NoticeStates&)>& find,
                             const std::function<void(std::vector<Notice>&)>& complete,
                             Reporter& reporter) {
    const std::filesystem::path nexoraIni = cp932::ToPath(layout.settingsFile());
    const NoticeSettings settings = ReadNoticeSettings(nexoraIni);
    std::vector<Notice> notices;
    auto kept =
        NoticeState(layout.folder()).Update([&](NoticeStates& states) { notices = find(states); });
    if (!kept || !settings.any())
        return kept;
    if (complete)
        complete(notices);
    SmtpNoticeMailer mailer(
        ReadNoticeMailServer(nexoraIni,
                             cp932::ToPath(layout.syslogProgram()).parent_path() / "Syslogd.ini"),
        settings.to);
    DeliverNotices(notices, settings, &mailer, reporter);
    return kept;
}

NoticeQueue::NoticeQueue()
    : worker_([this] {
          std::unique_lock guard(lock_);
          for (;;) {
              wake_.wait(guard, [this] { return ending_ || !queued_.empty(); });
              if (queued_.empty())
                  return;
              auto tell = std::move(queued_.front());
              queued_.pop_front();
              guard.unlock();
              tell();
              guard.lock();
          }
      }) {}

NoticeQueue::~NoticeQueue() {
    {
        std::lock_guard guard(lock_);
        ending_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

void NoticeQueue::Post(std::function<void()> tell) {
    {
        std::lock_guard guard(lock_);
        queued_.push_back(std::move(tell));
    }
    wake_.notify_one();
}

}  // namespace quellin::console
