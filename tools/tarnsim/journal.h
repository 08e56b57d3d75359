// The simulator's journal: one JSON object per line for every login,
// command, upload and restart, so that tests can see what the routers saw.
//
//   {"time":"2025-01-02T03:04:05.678","ms":1735754645678,"router":"osaka-1",
//    "address":"127.0.0.2","event":"command","peer":"127.0.0.1",
//    "text":"show system information"}
//
// Texts from the wire are CP932 bytes; they appear converted to UTF-8, with
// bytes that are not valid CP932 as U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json_line.h"
#include "net.h"

namespace quellin::tarn {

class Journal {
public:
    // An empty path keeps no journal.
    explicit Journal(const std::string& path, bool echo = false);
    bool ok() const { return path_.empty() || fd_.valid(); }
    const std::string& error() const { return error_; }

    // Writes the line with the time, router and address fields put first.
    void Write(const std::string& router, const std::string& address, std::string_view event,
               const JsonLine& fields = {});

private:
    std::string path_;
    UniqueFd fd_;
    bool echo_ = false;
    std::string error_;
};

}  // namespace quellin::tarn
