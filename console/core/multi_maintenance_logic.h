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
    MultiMaintenanceLogic(std::vector<CBase*> devices, const MaintenanceRunner& runner,
                          Questions& questions, Reporter& reporter, BusyFlag& busy,
                          std::function<void()> saveAndRefresh);

    // One operation button; false when the operator said No or the console
    // was busy.  The summary tells how the run went.
    bool Run(Operation operation, const std::string& scheduleTime = {});
    void RegisterSchedule(const std::string& intervalText, const std::string& countText);
    void DeleteSchedule();

private:
    bool Confirm(const char* question);

    std::vector<CBase*> devices_;
    MaintenanceTools tools_;
};

}  // namespace quellin::console
