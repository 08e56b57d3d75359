// What the multi-device maintenance dialog does: one operation on every
// selected device in turn, unattended, with one summary; and the same log
// schedule registered on or deleted from all of them.
#pragma once

#include "maintenance_dialog_logic.h"

#include <vector>

namespace quellin::console {

class MultiMaintenanceLogic {
public:
    // devices: the selected devices in list order.  saveAndRefresh redraws
    // the selected rows and writes base.db.
    MultiMaintenanceLogic(std::vector<CBase*> devices, Maintenance& maintenance, Reporter& reporter,
                          OperationWaiter& waiter, BusyFlag& busy,
                          std::function<void()> saveAndRefresh);

    // One operation button; false when the operator said No or the console
    // was busy.  The summary tells how the run went.
    bool Run(MaintenanceAction action, const std::string& scheduleTime = {});
    void RegisterSchedule(const std::string& intervalText, const std::string& countText);
    void DeleteSchedule();

private:
    std::vector<CBase*> devices_;
    Maintenance& maintenance_;
    Reporter& reporter_;
    OperationWaiter& waiter_;
    BusyFlag& busy_;
    std::function<void()> saveAndRefresh_;
};

}  // namespace quellin::console
