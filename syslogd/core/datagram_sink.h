// Where a receiver hands what it reads: one message at a time, and the end
// of each batch read together.  The receive pipeline is the one sink; every
// way of receiving (the UDP listener today) feeds it through this.
#pragma once

#include <string_view>

namespace quellin::syslogd {

class DatagramSink {
public:
    virtual ~DatagramSink() = default;
    // One datagram with the sender's dotted IPv4 address.
    virtual void Handle(std::string_view bytes, std::string_view source) = 0;
    // The datagrams read together are all handled.
    virtual void EndBatch() = 0;
    // Reception has stopped.
    virtual void Finish() {}
};

}  // namespace quellin::syslogd
