// The console's main window shown offscreen over a folder of the test's
// own: its session runs on the fakes of the seams (message boxes, file
// dialogs, processes, services), with the syslog and web service waits cut
// short.
#pragma once

#include "console_session.h"
#include "fake_file_dialogs.h"
#include "fake_message_boxes.h"
#include "fake_processes.h"
#include "fake_service_manager.h"
#include "main_window.h"
#include "operation_waiter.h"
#include "test_support.h"

#include <chrono>
#include <memory>
#include <optional>

namespace quellin::console {

class ConsoleWindowTest : public quellin::testing::TempDirTest {
protected:
    // Starts the session on `dir`, as the test has filled it, and shows the
    // main window.
    void OpenConsole(const RouterTimings& timings = {}) {
        session_.emplace(dir.folder(), ConsoleSeams{boxes_, waiter_, processes_, services_},
                         timings);
        session_->syslog().setSleep([](std::chrono::milliseconds) {});
        session_->webService().setSleep([](std::chrono::milliseconds) {});
        session_->Start();
        window_ = std::make_unique<CNEXORADlg>(*session_, files_);
        window_->show();
    }

    FakeMessageBoxes boxes_;
    FakeFileDialogs files_;
    OperationWaiter waiter_;
    FakeProcessControl processes_;
    FakeServiceManager services_;
    std::optional<ConsoleSession> session_;
    std::unique_ptr<CNEXORADlg> window_;
};

}  // namespace quellin::console
