// What the operator hears of without reading logs: a backup that stored a
// new version, a device that starts failing (and recovers), drift found,
// an update that became available.  Off until NEXORA.INI asks for it:
//
//   NoticeTo           recipients, comma-separated
//   NoticeOnChange     1: mail each new version with its diff
//   NoticeOnFailure    1: mail when a device starts failing and when it recovers
//   NoticeOnDrift      1: mail drift that `quellin drift` found
//   NoticeOnUpdate     1: mail an update available, once per device and image
//   NoticeDigest       1: the changes of one run in one mail
//   NoticeMaskSecrets  1: the secrets of a diff masked (MaskSecrets)
//   HookOnChange, HookOnFailure, HookOnDrift, HookOnUpdate, HookTimeoutSeconds
//
// A run gathers its notices as it ends and delivers them after its work:
// hooks first, then the mails, each bounded in time, their outcome in
// Quellin_tool's operation log.  Whether a device is failing and which
// update was told is kept per device in "notice-state.txt" beside base.db.
#pragma once

#include "config_backup.h"
#include "config_text.h"
#include "device_registry.h"
#include "inventory.h"
#include "result.h"
#include "smtp_sender.h"
#include "state_file.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quellin::console {

class Reporter;
}  // namespace quellin::console
namespace quellin {
class InstallationLayout;
}
namespace quellin::console {

enum class NoticeEvent { kChange, kFailure, kRecovery, kDrift, kUpdate };
// "change", "failure", "recovery", "drift", "update" (QUELLIN_EVENT).
std::string_view EventKey(NoticeEvent event);

// Which work a failure or recovery is about.
enum class NoticeWork { kBackup, kInventory, kCollection, kOperation };

struct Notice {
    NoticeEvent event = NoticeEvent::kChange;
    NoticeWork work = NoticeWork::kBackup;
    std::string device;  // CP932
    std::string address;
    std::string commit;  // change: the new version
    history::LineChanges changes;
    std::string diff;    // change, drift: unified diff, LF lines
    std::string reason;  // failure: why; update: the image and its version
    std::int64_t time = 0;
};

struct NoticeSettings {
    std::vector<std::string> to;
    bool onChange = false;
    bool onFailure = false;
    bool onDrift = false;
    bool onUpdate = false;
    bool digest = false;
    bool maskSecrets = false;
    std::string hookOnChange;
    std::string hookOnFailure;  // failure and recovery
    std::string hookOnDrift;
    std::string hookOnUpdate;
    std::chrono::seconds hookTimeout{60};

    bool Mails(NoticeEvent event) const;
    const std::string& Hook(NoticeEvent event) const;
    // Anything at all asked for: else a run does nothing new.
    bool any() const;
};
// Reads the keys from the installation's NEXORA.INI (absent: all off).
NoticeSettings ReadNoticeSettings(const std::filesystem::path& nexoraIni);

// One device's line of the state file.
struct NoticeDeviceState {
    bool backupFailing = false;
    bool inventoryFailing = false;
    std::string updateTold;  // the image whose update was told
    std::string driftTold;   // MD5 of the drift told
    std::int64_t lastBackupOk = 0;
    std::uint64_t changesStored = 0;
    std::uint64_t backupFailures = 0;
    bool collectionFailing = false;  // the console's scheduled log collection
    bool operationFailing = false;   // an operation at a planned time

    bool operator==(const NoticeDeviceState&) const = default;
};
using NoticeStates = std::map<std::string, NoticeDeviceState>;

inline constexpr std::size_t kMaxNoticeStateBytes = 16u << 20;
NoticeStates ParseNoticeState(std::string_view text);
std::string NoticeStateText(const NoticeStates& states);

// The state file, changed under an flock of its own lock file and
// replaced whole (0660, like base.db).
class NoticeState {
public:
    static constexpr char kFileName[] = "notice-state.txt";
    static constexpr char kLockName[] = "notice-state.lock";

    explicit NoticeState(const std::string& installationFolder);
    Result<NoticeStates> Read() const;
    template <class Change>
    Result<NoticeStates> Update(Change change);

private:
    Result<NoticeStates> UpdateWith(const std::function<void(NoticeStates&)>& change);
    StateFile state_;
};

template <class Change>
Result<NoticeStates> NoticeState::Update(Change change) {
    return UpdateWith(std::function<void(NoticeStates&)>(change));
}

// What the runs found, turned into notices against the kept state (which
// they change): a failure only when a device starts failing, a recovery
// when it stops, an update once per image, drift once per difference.
std::vector<Notice> BackupNotices(const std::vector<CBase*>& devices,
                                  const std::vector<BackupResult>& results, NoticeStates& states,
                                  std::int64_t time);
// A scheduled log collection's or a planned operation's end (kCollection
// or kOperation): a failure when the device starts failing at that work, a
// recovery when it stops.
std::vector<Notice> WorkNotices(NoticeWork work, const CBase& device, const Outcome& outcome,
                                NoticeStates& states, std::int64_t time);
std::vector<Notice> InventoryNotices(const std::vector<InventoryRow>& rows, NoticeStates& states,
                                     std::int64_t time);
std::vector<Notice> DriftNotices(const std::vector<CBase*>& devices,
                                 const std::vector<DriftResult>& results, NoticeStates& states,
                                 std::int64_t time);

// A notice mail before its encoding: subject and body, CP932, CR LF lines.
struct NoticeMail {
    std::string subject;
    std::string body;
};
// The mails of the notices the settings ask to mail: one per notice, the
// changes in one digest with NoticeDigest=1.  A diff longer than
// kMaxMailDiff is cut.
inline constexpr std::size_t kMaxMailDiff = 256 * 1024;
std::vector<NoticeMail> NoticeMails(const std::vector<Notice>& notices,
                                    const NoticeSettings& settings);

// The hook's environment: QUELLIN_DEVICE, QUELLIN_ADDRESS, QUELLIN_EVENT,
// QUELLIN_COMMIT, QUELLIN_REASON, QUELLIN_TIME (local, ISO 8601).
std::vector<std::pair<std::string, std::string>> HookVariables(const Notice& notice);

// Where the mails go: the SMTP sender, or a fake.
class NoticeMailer {
public:
    virtual ~NoticeMailer() = default;
    // Sends the mails in one session; the reason when it failed (never
    // holding a password).
    virtual Result<void> Send(const std::vector<NoticeMail>& mails) = 0;
};

// The mail server of the notices.  The installation's Syslogd.ini names it
// for Syslogd's alerts (SMTPServer, SMTPPort, SMTPSecurity, SMTPAuthFlag,
// SMTPUser, SMTPPassword, SMTPCAFile, ClientMailAddress), so the operator
// types it once; NEXORA.INI's NoticeServer, when not empty, wins, and the
// whole server is then read from NoticePort, NoticeSecurity,
// NoticeAuthFlag, NoticeUser, NoticePassword and NoticeCAFile.  NoticeFrom,
// when not empty, is the sender either way.
mail::MailServer ReadNoticeMailServer(const std::filesystem::path& nexoraIni,
                                      const std::filesystem::path& syslogdIni);

// The notices' mails over SMTP, each with its own Date and Message-ID.
class SmtpNoticeMailer final : public NoticeMailer {
public:
    SmtpNoticeMailer(mail::MailServer server, std::vector<std::string> to,
                     std::chrono::milliseconds timeout = std::chrono::seconds(60))
        : server_(std::move(server)), to_(std::move(to)), timeout_(timeout) {}
    Result<void> Send(const std::vector<NoticeMail>& mails) override;

private:
    mail::MailServer server_;
    std::vector<std::string> to_;
    std::chrono::milliseconds timeout_;
};

// Runs the hooks of the notices (a few at once), then mails them (retried
// with back-off a few times), logging each outcome under Quellin_tool.
// Returns when all is done or the time is up.
void DeliverNotices(const std::vector<Notice>& notices, const NoticeSettings& settings,
                    NoticeMailer* mailer, Reporter& reporter);

// Runs a front end's notices on a thread of its own, one after the other,
// so that the console's window and its schedule never wait for a mail
// server; what is queued when it goes is still sent.
class NoticeQueue {
public:
    NoticeQueue();
    ~NoticeQueue();
    NoticeQueue(const NoticeQueue&) = delete;
    NoticeQueue& operator=(const NoticeQueue&) = delete;
    void Post(std::function<void()> tell);

private:
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queued_;
    bool ending_ = false;
    std::thread worker_;
};

// The end of a run, for every front end: `find` turns what the run found
// into notices against the kept state (which it changes), `complete` adds
// what only the caller has (the diffs), and with any notice key set they
// go out through the hooks and the mail server that NEXORA.INI (or
// Syslogd.ini) names.  The kept state afterwards.
Result<NoticeStates> TellRun(const InstallationLayout& layout,
                             const std::function<std::vector<Notice>(NoticeStates&)>& find,
                             const std::function<void(std::vector<Notice>&)>& complete,
                             Reporter& reporter);

}  // namespace quellin::console
