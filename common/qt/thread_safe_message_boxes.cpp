#include "thread_safe_message_boxes.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace quellin {

MsgAnswer ThreadSafeMessageBoxes::Show(const MessageBoxRequest& request) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread())
        return inner_.Show(request);
    MsgAnswer answer = MsgAnswer::Cancel;
    QMetaObject::invokeMethod(
        app, [&] { answer = inner_.Show(request); }, Qt::BlockingQueuedConnection);
    return answer;
}

}  // namespace quellin
