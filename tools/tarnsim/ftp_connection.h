// The router's FTP service: enough of the protocol for an FTP client to log
// in as "ftp-admin" and store one file into the slots "config1", "config2"
// or "firmware", over a passive (PASV/EPSV) or active (PORT/EPRT) data
// connection.
#pragma once

#include <filesystem>
#include <string>

#include "sim_router.h"

namespace quellin::tarn {

// "127,0,0,1,200,10" (PORT) or "|1|127.0.0.1|51210|" (EPRT) to an endpoint;
// nullopt when malformed or not IPv4.
std::optional<Endpoint> ParsePortArgument(const std::string& text);
std::optional<Endpoint> ParseEprtArgument(const std::string& text);

class FtpConnection final : public Connection {
public:
    static constexpr const char* kUser = "ftp-admin";

    FtpConnection(SimRouter& router, UniqueFd socket);
    ~FtpConnection() override;

    void Start() override;
    void Close() override;

private:
    enum class DataMode { kNone, kPassive, kActive };

    void OnControl(short revents);
    void OnCommand(const std::string& line);
    void Reply(const std::string& text);
    void Flush();
    void UpdateWatch();
    void Store(const std::string& argument);
    void OnPassiveAccept();
    void OnActiveConnect(short revents);
    void BeginReceive();
    void OnData(short revents);
    // True when the slot was stored.
    bool FinishTransfer(bool ok, const std::string& reason);
    std::filesystem::path PartPath() const;
    void ResetData();

    UniqueFd control_;
    std::string peer_;
    in_addr peerAddress_{};
    std::string in_;
    std::string out_;
    bool quitting_ = false;
    std::string user_;
    bool loggedIn_ = false;
    char type_ = 'A';

    DataMode mode_ = DataMode::kNone;
    UniqueFd passive_;
    Endpoint activeTarget_{};
    UniqueFd data_;
    bool dataConnected_ = false;

    bool storing_ = false;
    std::string slot_;
    UniqueFd file_;
    std::size_t received_ = 0;
    EventLoop::TimerId dataTimer_ = 0;
    const unsigned serial_ = NextSerial();

    static unsigned NextSerial() {
        static unsigned next = 0;
        return ++next;
    }
};

}  // namespace quellin::tarn
