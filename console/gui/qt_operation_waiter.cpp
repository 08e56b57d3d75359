#include "qt_operation_waiter.h"

#include "qt_text.h"
#include "wait_dialogs.h"

#include <QApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <thread>

namespace quellin::console {

void RunOffThread(const std::function<void()>& operation) {
    QEventLoop loop;
    std::thread worker([&] {
        operation();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
}

void QtOperationWaiter::Run(const std::function<void()>& operation) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ShowWaitDialog(QApplication::activeModalWidget() ? QApplication::activeModalWidget() : owner_);
    RunOffThread(operation);
    CloseWaitDialog();
    QApplication::restoreOverrideCursor();
}

void QtOperationWaiter::RunForDevice(const std::string& deviceName, const std::string& message,
                                     const std::function<void()>& operation) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    ShowDeviceWaitDialog(owner_, FromCp932(deviceName), FromCp932(message));
    RunOffThread(operation);
    CloseDeviceWaitDialog();
    QApplication::restoreOverrideCursor();
}

}  // namespace quellin::console
