#include "window_alert.h"

#include "clock.h"
#include "receive_pipeline.h"

#include <QTest>

#include <memory>
#include <vector>

namespace quellin::syslogd::testing {

WindowAlert AlertThroughWindow(const SyslogdSettings& settings, SmtpClient& client,
                               const std::string& datagram, int timeoutMs) {
    std::vector<SmtpOutcome> outcomes;
    const QMetaObject::Connection connection =
        QObject::connect(&client, &SmtpClient::sessionFinished,
                         [&](SmtpOutcome outcome) { outcomes.push_back(outcome); });
    SystemClock clock;
    WindowQueue queue;
    ReceivePipeline pipeline(clock, std::make_shared<const SyslogdSettings>(settings), queue);
    MainWindow::Services services;
    services.mail = &client;
    SyslogdSettings windowSettings = settings;  // the window holds its own to edit
    MainWindow window(windowSettings, pipeline, services);
    pipeline.Handle(datagram, "192.0.2.1");
    pipeline.EndBatch();
    window.DeliverPending();
    WindowAlert alert;
    if (QTest::qWaitFor([&] { return !outcomes.empty(); }, timeoutMs)) {
        alert.outcome = outcomes[0];
        alert.notice = window.notice().toStdString();
    }
    QObject::disconnect(connection);
    return alert;
}

}  // namespace quellin::syslogd::testing
