// The receive handler: every datagram goes through the rate check, the
// decoder and then, in this fixed order, the display, alert and log stages.
#pragma once

#include "clock.h"
#include "display_filter.h"
#include "received_message.h"
#include "syslogd_settings.h"

#include <string_view>

namespace quellin::syslogd {

// The three stages a decoded message is handed to.
class MessageStages {
public:
    virtual ~MessageStages() = default;
    // Adds the message's row when the display filter lets it through; true
    // when a row was added.
    virtual bool AddRow(const ReceivedMessage& message) = 0;
    virtual void Alert(const ReceivedMessage& message) = 0;
    virtual void WriteLog(const ReceivedMessage& message) = 0;
};

class ReceiveHandler {
public:
    // The settings are read anew for every datagram, so changes apply to the
    // next one.  Clock, stages and settings must outlive the handler.
    ReceiveHandler(const Clock& clock, MessageStages& stages, const SyslogdSettings& settings)
        : clock_(clock), stages_(stages), settings_(settings) {}

    // 表示停止 / 表示再開: while stopped no rows are added; alerts and the
    // log go on.
    void SetDisplayRunning(bool running) { displayRunning_ = running; }
    bool displayRunning() const { return displayRunning_; }

    // Handles one datagram from `source` (dotted IPv4).  Malformed datagrams
    // leave no trace.  A failing stage does not keep the later ones from running.
    void Handle(std::string_view datagram, std::string_view source);

private:
    const Clock& clock_;
    MessageStages& stages_;
    const SyslogdSettings& settings_;
    DisplayRateLimit rate_;
    bool displayRunning_ = true;
};

}  // namespace quellin::syslogd
