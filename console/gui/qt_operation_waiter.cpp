#include "qt_operation_waiter.h"

#include "qt_text.h"
#include "wait_dialogs.h"

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <thread>

namespace quellin::console {

namespace {

// Runs the operation on a worker thread behind the wait window that `show`
// opens and `close` closes, processing the user-interface events meanwhile.
template <typename Show, typename Close>
void RunBehind(Show show, Close close, const std::function<void()>& operation) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    show();
    QEventLoop loop;
    std::thread worker([&] {
        operation();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    close();
    QApplication::restoreOverrideCursor();
}

}  // namespace

void QtOperationWaiter::Run(const std::function<void()>& operation) {
    QWidget* owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : owner_;
    RunBehind([owner] { ShowWaitDialog(owner); }, CloseWaitDialog, operation);
}

void QtOperationWaiter::RunForDevice(const std::string& deviceName, const std::string& message,
                                     const std::function<void()>& operation) {
    RunBehind([&] { ShowDeviceWaitDialog(owner_, FromCp932(deviceName), FromCp932(message)); },
              CloseDeviceWaitDialog, operation);
}

}  // namespace quellin::console
