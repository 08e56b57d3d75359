// One installation folder as the console and quellin open it: the folder
// lock of those that write base.db, the settings and conversion table, the
// operation log and the device book.
#pragma once

#include "config_history.h"
#include "console_app.h"
#include "device_book.h"
#include "folder_lock.h"
#include "message_box.h"
#include "report.h"
#include "result.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quellin::console {

class Installation {
public:
    enum class Access {
        kRead,   // base.db read as it stands, nothing written, no lock: beside the console
        kWrite,  // the folder lock taken first; base.db padded and saved whole
    };
    enum class State {
        kOpen,
        kBusy,        // kWrite: the console or another quellin holds the folder
        kLockFailed,  // kWrite: the lock file cannot be made or locked (reason())
    };

    // folder ends in "/" and is CP932.  The start line is logged only for an
    // installation that is not busy.
    Installation(const std::string& folder, Access access, MessageBoxes& boxes,
                 ConsoleApp::StartLog startLog = ConsoleApp::StartLog::Skip);

    // kWrite: pads base.db and loads it, telling the operator about the rows
    // MAXROWS leaves out (always true).  kRead: loads base.db as it stands;
    // false when it cannot be read.
    bool Load();
    bool Save() { return book_.Save(); }

    State state() const { return state_; }
    // Why the lock failed (ASCII); empty otherwise.
    const std::string& reason() const { return lock_ ? lock_->reason() : kNoReason; }

    ConsoleApp& app() { return app_; }
    const ConsoleApp& app() const { return app_; }
    const InstallationLayout& layout() const { return app_.layout(); }
    Reporter& reporter() { return reporter_; }
    DeviceBook& book() { return book_; }

    // The registered devices (those with a name), in row order.
    std::vector<CBase*> Registered();
    // The registered device of that name (CP932), or nullptr.
    CBase* Find(const std::string& name);

    // kWrite.  Registers a device in the first free row with the device
    // settings dialog's checks (its refusal the detail), saves base.db and
    // logs it; the row.  Unregisters the device of that name likewise.
    Result<int> Register(const DeviceFields& fields);
    Result<void> Unregister(std::string name);

    // The configuration history in the installation's history folder.
    Result<std::unique_ptr<history::ConfigHistory>> OpenHistory(
        history::ConfigHistory::Access access) const;

private:
    static inline const std::string kNoReason;

    Access access_;
    std::unique_ptr<FolderLock> lock_;
    State state_;
    ConsoleApp app_;
    Reporter reporter_;
    DeviceBook book_;
};

}  // namespace quellin::console
