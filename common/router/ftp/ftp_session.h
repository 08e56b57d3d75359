// FTP uploads to a router's file slots ("config1", "config2", "firmware") and
// the preparation of configuration files before they are pushed.
//
// The routers take a configuration only with LF line ends and a final "eof"
// line, so every configuration file is rewritten in place with
// ConvertNewlines before it is uploaded.
#pragma once

#include "result.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

namespace quellin {

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

    // Stores the local file under remoteName in binary mode; done only when
    // the router confirmed the whole file.  address, user, password and the
    // names are CP932; an empty password stands for none.  passive selects
    // who opens the data connection: we (passive) or the router (active).
    // A failure's detail begins "FTP <what failed>: ".
    Result<void> PutFile(const std::string& address, int port, const std::string& user,
                         const std::string& password, const std::string& localPath,
                         const std::string& remoteName, bool passive);

private:
    struct Handle;
    std::unique_ptr<Handle> handle_;
    FtpTimeouts timeouts_;
};

// One upload in a session of its own, as the console (passive) and Netprov
// (active) make it.  The local file is only read.
Result<void> UploadFile(const std::string& address, const std::string& user,
                        const std::string& password, const std::string& localPath,
                        const std::string& remoteName, int port, bool passive,
                        FtpTimeouts timeouts = {});

// The same as the routers' callers have always called it: true when the
// router accepted the whole file, false on every failure.
bool UploadByFtp(const std::string& address, const std::string& user, const std::string& password,
                 const std::string& localPath, const std::string& remoteName, int port,
                 bool passive, FtpTimeouts timeouts = {});

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

// Converts the file (CP932 path) in place through a temporary file of its
// own beside it (see FileReplacement).  On failure the file is left as it
// was and the temporary file is removed.  Conversions of one file at the
// same time all succeed.
Result<void> ConvertNewlinesInPlace(const std::string& path);

// The same as the routers' callers have always called it: 0 when the file
// was rewritten, -1 otherwise.
int ConvertNewlines(const std::string& path);

}  // namespace quellin
