// The UDP listener: one socket on all local IPv4 addresses, a receive buffer
// as large as the system allows, and every pending datagram handed on at
// each readiness event.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string_view>
#include <vector>

class QSocketNotifier;

namespace quellin::syslogd {

class SyslogReceiver final : public QObject {
    Q_OBJECT
public:
    // Called for each datagram with its bytes and the sender's dotted IPv4
    // address.
    using Handler = std::function<void(std::string_view bytes, std::string_view source)>;

    explicit SyslogReceiver(Handler handler, QObject* parent = nullptr);
    ~SyslogReceiver() override;

    // Binds exclusively to the port (0: any free port); false with the
    // reason when the port cannot be had.
    bool Bind(quint16 port, QString* error = nullptr);
    quint16 localPort() const;
    // Receive buffer size the kernel granted, in bytes.
    int receiveBufferSize() const;

private:
    void Drain();

    Handler handler_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::vector<char> buffer_;
};

}  // namespace quellin::syslogd
