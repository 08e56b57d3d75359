// The second half of single-instance behaviour: the first instance listens
// on a local socket, and a second instance asks it to come to the front
// before ending.
#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

namespace quellin {

class ActivationServer final : public QObject {
    Q_OBJECT
public:
    explicit ActivationServer(const QString& socketPath, QObject* parent = nullptr);

signals:
    void activationRequested();

private:
    QLocalServer* server_;
};

// Asks the running instance to come to the front; false when none answered.
bool RequestActivation(const QString& socketPath, int timeoutMs = 1000);

}  // namespace quellin
