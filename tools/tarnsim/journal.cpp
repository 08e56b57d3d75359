#include "journal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace quellin::tarn {

Journal::Journal(const std::string& path, bool echo) : path_(path), echo_(echo) {
    if (path_.empty())
        return;
    fd_ = UniqueFd(::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd_.valid())
        error_ = path_ + ": " + std::strerror(errno);
}

void Journal::Write(const std::string& router, const std::string& address, std::string_view event,
                    const JsonLine& fields) {
    auto now = std::chrono::system_clock::now();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
    char withMs[48];
    std::snprintf(withMs, sizeof withMs, "%s.%03d", stamp, static_cast<int>(ms % 1000));

    JsonLine head;
    head.Add("time", withMs).Add("ms", static_cast<std::int64_t>(ms));
    if (!router.empty())
        head.Add("router", router).Add("address", address);
    head.Add("event", event);
    std::string line = head.Text();
    std::string rest = fields.Text();
    if (rest.size() > 2) {
        line.pop_back();
        line += "," + rest.substr(1);
    }
    line += "\n";
    if (fd_.valid()) {
        // One write per line: with O_APPEND readers never see half a line.
        [[maybe_unused]] ssize_t n = ::write(fd_.get(), line.data(), line.size());
    }
    if (echo_) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
}

}  // namespace quellin::tarn
