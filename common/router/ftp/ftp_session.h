// FTP uploads to a router's file slots ("config1", "config2", "firmware") and
// the preparation of configuration files before they are pushed.
//
// The routers take a configuration only with LF line ends and a final "eof"
// line, so every configuration file is rewritten in place with
// ConvertNewlines before it is uploaded.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace quellin {

// Why an upload failed, for callers that want to log more than "failed".
enum class FtpErrorCode {
    kNone,
    kBadArgument,     // address, port, names or password unusable
    kLocalFile,       // the local file cannot be opened or read
    kConnect,         // the router refused or could not be reached
    kTimeout,         // no answer within a time-out
    kLogin,           // user or password refused
    kRefused,         // the router refused to store the file
    kDataConnection,  // the data connection could not be set up
    kTransfer,        // the transfer broke off or ended unconfirmed
    kSetup,           // the FTP client could not be set up
};

struct FtpError {
    FtpErrorCode code = FtpErrorCode::kNone;
    std::string message;  // ASCII detail for the operation log
};

std::string_view ToString(FtpErrorCode code);

struct FtpTimeouts {
    // Connecting, logging in, and in active mode the router's connection
    // back to us.
    std::chrono::milliseconds connect{30000};
    // Longest silence of the router while a command or the data is under
    // way, so that a router that stops answering cannot block its caller
    // for ever.
    std::chrono::seconds stall{60};
};

// One FTP client session; every PutFile opens its own control connection and
// closes it before returning, so nothing stays open between calls.
class CFtpSession {
public:
    explicit CFtpSession(FtpTimeouts timeouts = {});
    ~CFtpSession();
    CFtpSession(const CFtpSession&) = delete;
    CFtpSession& operator=(const CFtpSession&) = delete;

    // Stores the local file under remoteName in binary mode.  True only when
    // the router confirmed the whole file.  address, user, password and the
    // names are CP932; an empty password stands for none.  passive selects
    // who opens the data connection: we (passive) or the router (active).
    bool PutFile(const std::string& address, int port, const std::string& user,
                 const std::string& password, const std::string& localPath,
                 const std::string& remoteName, bool passive);

    const FtpError& LastError() const { return lastError_; }

private:
    bool Fail(FtpErrorCode code, std::string message);

    struct Handle;
    std::unique_ptr<Handle> handle_;
    FtpTimeouts timeouts_;
    FtpError lastError_;
};

// The upload used by the console (passive) and Netprov (active): true when
// the router accepted the whole file, false on every failure, with the reason
// in *error when error is given.  The local file is only read.
bool UploadByFtp(const std::string& address, const std::string& user, const std::string& password,
                 const std::string& localPath, const std::string& remoteName, int port,
                 bool passive, FtpError* error = nullptr, FtpTimeouts timeouts = {});

// Rewrites text for the router: CR LF and lone CR become LF, the text ends
// in LF, and the last non-empty line is "eof" (added when it is not).  Fed in
// pieces of any size, it gives the same bytes as for the whole text at once.
class NewlineConverter {
public:
    void Feed(std::string_view input, std::string& output);
    void Finish(std::string& output);

private:
    void EndLine();

    bool afterCr_ = false;
    bool wroteAny_ = false;
    bool lastWrittenLf_ = false;
    std::size_t lineLength_ = 0;  // bytes of the line being read
    bool lineIsEof_ = false;      // those bytes so far are a prefix of "eof"
    bool lastLineIsEof_ = false;  // the last non-empty line was "eof"
};

// The whole conversion in memory.
std::string ConvertNewlinesText(std::string_view text);

enum class ConvertErrorCode {
    kNone,
    kRead,           // the file cannot be opened or read
    kTemporaryFile,  // the file for the converted text cannot be created
    kWrite,          // writing the converted text failed
    kReplace,        // the converted file could not take the file's place
};

struct ConvertError {
    ConvertErrorCode code = ConvertErrorCode::kNone;
    std::string message;
};

// Converts the file (CP932 path) in place through a temporary file of its
// own beside it (see FileReplacement): 0 when the file was rewritten, -1
// otherwise.  On failure the file is left as it was and the temporary file
// is removed.  Conversions of one file at the same time all succeed.
int ConvertNewlines(const std::string& path, ConvertError* error = nullptr);

}  // namespace quellin
