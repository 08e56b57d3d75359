// What the device settings dialog "装置設定" does: checks the typed texts,
// stores what changed into the device's record, saves base.db, and deletes
// the device when it is confirmed with an empty name.
#pragma once

#include "device_book.h"
#include "questions.h"
#include "report.h"

#include <functional>
#include <string>

namespace quellin::console {

class DeviceSettingsLogic {
public:
    // saveAndRefresh redraws the device's row and writes base.db.
    DeviceSettingsLogic(CBase& device, const DeviceBook& book, Reporter& reporter,
                        Questions& questions, std::function<void()> saveAndRefresh);

    // The texts the dialog opens with (an empty address leaves the control
    // blank).
    DeviceFields initialFields() const;

    // 適用: checks in order and stores the changed fields.  The first failed
    // check shows its message and stores nothing.
    bool Apply(const DeviceFields& fields);

    enum class OkResult { Close, StayOpen };
    // OK: Apply, then the empty-name deletion question, then the log line.
    // On a confirmed deletion `fields` are emptied for the dialog to show.
    OkResult Ok(DeviceFields& fields);

private:
    bool Check(const DeviceFields& fields);

    CBase& device_;
    const DeviceBook& book_;
    Reporter& reporter_;
    Questions& questions_;
    std::function<void()> saveAndRefresh_;
    bool changed_ = false;
};

}  // namespace quellin::console
