// SIGTERM (and SIGINT) delivered as a Qt signal on the window thread, so a
// program can end the way its own exit command does.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace quellin {

class TerminationSignal final : public QObject {
    Q_OBJECT
public:
    // Only one instance per process.
    explicit TerminationSignal(QObject* parent = nullptr);
    ~TerminationSignal() override;

signals:
    void received();

private:
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quellin
