#include "ftp_session.h"

#include "codec.h"
#include "file_descriptor.h"
#include "file_replacement.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

namespace quellin {

namespace {

// ---------------------------------------------------------------- helpers

std::string ErrnoText(int error) {
    return std::strerror(error);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// ---------------------------------------------------------------- curl

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Every byte outside the unreserved set is escaped, so that libcurl's URL
// decoding hands the name to STOR exactly as given ("%41" stays "%41").
std::string EscapeForUrl(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : name) {
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

bool IsHostText(std::string_view address) {
    if (address.empty())
        return false;
    for (unsigned char c : address) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '.' || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

// A CR or LF in a command argument would let it smuggle in further FTP
// commands.
bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool HasControlByte(std::string_view text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

FtpErrorCode Classify(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            return FtpErrorCode::kConnect;
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_FTP_ACCEPT_TIMEOUT:
            return FtpErrorCode::kTimeout;
        case CURLE_LOGIN_DENIED:
        case CURLE_FTP_WEIRD_PASS_REPLY:
            return FtpErrorCode::kLogin;
        case CURLE_UPLOAD_FAILED:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_REMOTE_DISK_FULL:
        case CURLE_REMOTE_FILE_NOT_FOUND:
            return FtpErrorCode::kRefused;
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_FTP_PORT_FAILED:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_WEIRD_227_FORMAT:
        case CURLE_FTP_CANT_GET_HOST:
            return FtpErrorCode::kDataConnection;
        case CURLE_READ_ERROR:
            return FtpErrorCode::kLocalFile;
        case CURLE_OUT_OF_MEMORY:
        case CURLE_FAILED_INIT:
        case CURLE_UNKNOWN_OPTION:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return FtpErrorCode::kSetup;
        default:
            return FtpErrorCode::kTransfer;
    }
}

struct LocalReader {
    std::FILE* file = nullptr;
    int error = 0;
};

std::size_t ReadLocalFile(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* reader = static_cast<LocalReader*>(user);
    std::size_t n = std::fread(buffer, 1, size * count, reader->file);
    if (n == 0 && std::ferror(reader->file)) {
        reader->error = errno != 0 ? errno : EIO;
        return CURL_READFUNC_ABORT;
    }
    return n;
}

long ToCurlSeconds(std::chrono::seconds value) {
    return static_cast<long>(value.count() > 0 ? value.count() : 1);
}

}  // namespace

std::string_view ToString(FtpErrorCode code) {
    switch (code) {
        case FtpErrorCode::kNone:
            return "none";
        case FtpErrorCode::kBadArgument:
            return "bad argument";
        case FtpErrorCode::kLocalFile:
            return "local file";
        case FtpErrorCode::kConnect:
            return "connect";
        case FtpErrorCode::kTimeout:
            return "time-out";
        case FtpErrorCode::kLogin:
            return "login refused";
        case FtpErrorCode::kRefused:
            return "store refused";
        case FtpErrorCode::kDataConnection:
            return "data connection";
        case FtpErrorCode::kTransfer:
            return "transfer";
        case FtpErrorCode::kSetup:
            return "setup";
    }
    return "unknown";
}

// ---------------------------------------------------------------- CFtpSession

struct CFtpSession::Handle {
    CURL* curl = nullptr;
    Handle() : curl(curl_easy_init()) {}
    ~Handle() {
        if (curl != nullptr)
            curl_easy_cleanup(curl);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

CFtpSession::CFtpSession(FtpTimeouts timeouts) : timeouts_(timeouts) {
    InitCurlOnce();
    handle_ = std::make_unique<Handle>();
}

CFtpSession::~CFtpSession() = default;

bool CFtpSession::Fail(FtpErrorCode code, std::string message) {
    lastError_ = FtpError{code, std::move(message)};
    return false;
}

bool CFtpSession::PutFile(const std::string& address, int port, const std::string& user,
                          const std::string& password, const std::string& localPath,
                          const std::string& remoteName, bool passive) {
    lastError_ = {};
    if (!IsHostText(address))
        return Fail(FtpErrorCode::kBadArgument, "bad address: " + address);
    if (port < 1 || port > 65535) {
        return Fail(FtpErrorCode::kBadArgument, "bad port: " + std::to_string(port));
    }
    if (HasLineBreakOrNul(user) || HasLineBreakOrNul(password)) {
        return Fail(FtpErrorCode::kBadArgument, "user or password holds a line break");
    }
    if (remoteName.empty() || HasControlByte(remoteName)) {
        return Fail(FtpErrorCode::kBadArgument, "bad remote name");
    }

    // The local file is opened first, so that a missing file never reaches
    // the router (which would otherwise be left with an empty slot).
    UniqueFile file(std::fopen(cp932::ToPath(localPath).c_str(), "rb"));
    if (!file) {
        return Fail(FtpErrorCode::kLocalFile, "cannot open " + localPath + ": " + ErrnoText(errno));
    }
    struct stat info {};
    if (::fstat(fileno(file.get()), &info) != 0) {
        return Fail(FtpErrorCode::kLocalFile, "cannot stat " + localPath + ": " + ErrnoText(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return Fail(FtpErrorCode::kLocalFile, localPath + " is not a regular file");
    }

    CURL* curl = handle_->curl;
    if (curl == nullptr)
        return Fail(FtpErrorCode::kSetup, "cannot create the FTP client");
    curl_easy_reset(curl);

    const std::string url =
        "ftp://" + address + ":" + std::to_string(port) + "/" + EscapeForUrl(remoteName);
    std::array<char, CURL_ERROR_SIZE> detail{};
    LocalReader reader{file.get(), 0};
    const long connectMs = static_cast<long>(timeouts_.connect.count());

    CURLcode rc = CURLE_OK;
    auto set = [&rc](CURLcode result) {
        if (rc == CURLE_OK)
            rc = result;
    };
    set(curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail.data()));
    set(curl_easy_setopt(curl, CURLOPT_URL, url.c_str()));
    set(curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp"));
    set(curl_easy_setopt(curl, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4)));
    // Routers sit on the LAN; a proxy from the environment must not
    // intercept them.
    set(curl_easy_setopt(curl, CURLOPT_PROXY, ""));
    set(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));
    set(curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L));
    set(curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str()));
    set(curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str()));
    set(curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L));
    set(curl_easy_setopt(curl, CURLOPT_READFUNCTION, &ReadLocalFile));
    set(curl_easy_setopt(curl, CURLOPT_READDATA, &reader));
    set(curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(info.st_size)));
    set(curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, 0L));
    // The name is the router's slot name, stored as is without directory
    // changes.
    set(curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD)));
    set(curl_easy_setopt(curl, CURLOPT_FTP_CREATE_MISSING_DIRS, 0L));
    set(curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connectMs));
    set(curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, connectMs));
    set(curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, ToCurlSeconds(timeouts_.stall)));
    set(curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, ToCurlSeconds(timeouts_.stall)));
    // The routers speak plain IPv4 FTP: PASV for passive, PORT for active.
    set(curl_easy_setopt(curl, CURLOPT_FTP_USE_EPSV, 0L));
    set(curl_easy_setopt(curl, CURLOPT_FTP_USE_EPRT, 0L));
    set(curl_easy_setopt(curl, CURLOPT_FTPPORT, passive ? nullptr : "-"));
    if (rc != CURLE_OK) {
        return Fail(FtpErrorCode::kSetup,
                    std::string("cannot set up the FTP client: ") + curl_easy_strerror(rc));
    }

    rc = curl_easy_perform(curl);
    if (rc == CURLE_OK)
        return true;

    std::string message = curl_easy_strerror(rc);
    if (detail[0] != '\0')
        message += std::string(": ") + detail.data();
    long reply = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply) == CURLE_OK && reply != 0) {
        message += " (last reply " + std::to_string(reply) + ")";
    }
    if (reader.error != 0) {
        return Fail(FtpErrorCode::kLocalFile,
                    "cannot read " + localPath + ": " + ErrnoText(reader.error));
    }
    return Fail(Classify(rc), std::move(message));
}

bool UploadByFtp(const std::string& address, const std::string& user, const std::string& password,
                 const std::string& localPath, const std::string& remoteName, int port,
                 bool passive, FtpError* error, FtpTimeouts timeouts) {
    CFtpSession session(timeouts);
    bool ok = session.PutFile(address, port, user, password, localPath, remoteName, passive);
    if (error != nullptr)
        *error = session.LastError();
    return ok;
}

// ---------------------------------------------------------------- newlines

void NewlineConverter::EndLine() {
    if (lineLength_ > 0)
        lastLineIsEof_ = lineIsEof_ && lineLength_ == 3;
    lineLength_ = 0;
    lineIsEof_ = false;
}

void NewlineConverter::Feed(std::string_view input, std::string& output) {
    static constexpr std::string_view kEof = "eof";
    output.reserve(output.size() + input.size());
    for (char c : input) {
        if (c == '\n' && afterCr_) {
            // The LF of a CR LF pair: the CR already ended the line.
            afterCr_ = false;
            continue;
        }
        afterCr_ = c == '\r';
        wroteAny_ = true;
        if (c == '\r' || c == '\n') {
            output += '\n';
            lastWrittenLf_ = true;
            EndLine();
            continue;
        }
        output += c;
        lastWrittenLf_ = false;
        lineIsEof_ =
            lineLength_ < kEof.size() && (lineLength_ == 0 || lineIsEof_) && c == kEof[lineLength_];
        ++lineLength_;
    }
}

void NewlineConverter::Finish(std::string& output) {
    EndLine();
    // An empty file gets just the "eof" line, without a blank line before.
    if (wroteAny_ && !lastWrittenLf_)
        output += '\n';
    if (!lastLineIsEof_)
        output += "eof\n";
}

std::string ConvertNewlinesText(std::string_view text) {
    NewlineConverter converter;
    std::string output;
    converter.Feed(text, output);
    converter.Finish(output);
    return output;
}

int ConvertNewlines(const std::string& path, ConvertError* error) {
    auto fail = [error](ConvertErrorCode code, std::string message) {
        if (error != nullptr)
            *error = ConvertError{code, std::move(message)};
        return -1;
    };
    if (error != nullptr)
        *error = {};

    const std::filesystem::path source = cp932::ToPath(path);

    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return fail(ConvertErrorCode::kRead, "cannot open " + path + ": " + ErrnoText(errno));
    struct stat info {};
    if (::fstat(in.get(), &info) != 0) {
        return fail(ConvertErrorCode::kRead, "cannot stat " + path + ": " + ErrnoText(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return fail(ConvertErrorCode::kRead, path + " is not a regular file");
    }

    // Each conversion writes a file of its own beside the original, so that
    // conversions of one file at the same time (devices sharing it, calling
    // Netprov together) do not write into each other's output.  The new file
    // keeps the permissions of the one it replaces.
    FileReplacement out(source);
    if (!out.valid()) {
        return fail(ConvertErrorCode::kTemporaryFile,
                    "cannot create a temporary file beside " + path + ": " + ErrnoText(errno));
    }

    NewlineConverter converter;
    std::string converted;
    std::array<char, 65536> buffer{};
    for (;;) {
        ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail(ConvertErrorCode::kRead, "cannot read " + path + ": " + ErrnoText(errno));
        if (n == 0)
            break;
        converted.clear();
        converter.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), converted);
        if (!WriteAll(out.fd(), converted)) {
            return fail(ConvertErrorCode::kWrite,
                        "cannot write the conversion of " + path + ": " + ErrnoText(errno));
        }
    }
    converted.clear();
    converter.Finish(converted);
    if (!WriteAll(out.fd(), converted) || !out.Finish()) {
        return fail(ConvertErrorCode::kWrite,
                    "cannot write the conversion of " + path + ": " + ErrnoText(errno));
    }
    in.Close();

    // The rename replaces the file in one step, so the file is never missing
    // and is still the old one when the replacement fails.
    if (!out.Replace()) {
        return fail(ConvertErrorCode::kReplace, "cannot replace " + path + ": " + ErrnoText(errno));
    }
    return 0;
}

}  // namespace quellin
