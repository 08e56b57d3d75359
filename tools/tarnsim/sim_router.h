// One simulated router: its telnet and FTP listeners on its own loopback
// address, the connections it serves, its stored files and its restarts.
// Everything runs on the event loop's thread.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "event_loop.h"
#include "journal.h"
#include "net.h"
#include "router_config.h"
#include "router_shell.h"

namespace quellin::tarn {

class SimRouter;

// A telnet or FTP connection owned by its router.  Close() releases the
// sockets at once; the object itself is destroyed after the current round
// of the loop, so a handler may close the connection it runs for.
class Connection {
public:
    explicit Connection(SimRouter& router) : router_(router) {}
    virtual ~Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    virtual void Start() = 0;
    virtual void Close() = 0;
    bool closed() const { return closed_; }
    EventLoop::Clock::time_point lastActivity() const { return lastActivity_; }

protected:
    void Touch() { lastActivity_ = EventLoop::Clock::now(); }
    SimRouter& router_;
    bool closed_ = false;
    EventLoop::Clock::time_point lastActivity_ = EventLoop::Clock::now();
};

class SimRouter {
public:
    SimRouter(RouterConfig config, EventLoop& loop, Journal& journal,
              const std::filesystem::path& stateRoot);
    ~SimRouter();
    SimRouter(const SimRouter&) = delete;
    SimRouter& operator=(const SimRouter&) = delete;

    // Creates the router's folder and opens its listeners.
    bool Start(std::string& error);
    // Closes every connection and listener.
    void Stop();
    // Runs planned restarts that are due and drops idle connections; called
    // about once a second.
    void Tick();

    const RouterConfig& config() const { return config_; }
    RouterState& state() { return state_; }
    EventLoop& loop() { return loop_; }
    const std::string& name() const { return name_; }
    in_addr address() const { return address_; }
    std::uint16_t telnetPort() const { return telnetPort_; }
    std::uint16_t ftpPort() const { return ftpPort_; }
    bool up() const { return up_; }
    // The folder holding the files stored by FTP ("config1", "config2",
    // "firmware").
    const std::filesystem::path& folder() const { return folder_; }

    void Record(std::string_view event, const JsonLine& fields = {});
    // Restarts now: every connection closes, the listeners go away, and
    // after the reset delay the router comes back from the slot (empty: the
    // current one) with the software of a firmware file stored since.
    void Reset(const std::string& slot, bool planned);
    void Plan(const PlannedRestart& plan);
    void Uploaded(const std::string& slot, std::size_t bytes);
    // Sends a syslog datagram to the configured target, if any.
    void Notify(int severity, const std::string& text);
    // Drops the closed connections after the current round.
    void ConnectionClosed();

private:
    bool OpenListeners(std::string& error);
    void CloseListeners();
    void OnTelnetAccept();
    void OnFtpAccept();
    void Boot(const std::string& slot);
    void ApplyStoredFirmware();
    void Adopt(std::unique_ptr<Connection> connection);

    RouterConfig config_;
    EventLoop& loop_;
    Journal& journal_;
    std::string name_;
    in_addr address_{};
    std::filesystem::path folder_;
    RouterState state_;
    UniqueFd telnetListener_;
    UniqueFd ftpListener_;
    std::uint16_t telnetPort_ = 0;
    std::uint16_t ftpPort_ = 0;
    bool up_ = false;
    bool firmwareStored_ = false;
    bool reapPosted_ = false;
    EventLoop::TimerId bootTimer_ = 0;
    std::vector<PlannedRestart> plans_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace quellin::tarn
