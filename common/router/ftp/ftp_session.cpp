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

ErrorCode Classify(CURLcode code) {
    switch (code) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
            return ErrorCode::kConnectionRefused;
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_FTP_ACCEPT_TIMEOUT:
            return ErrorCode::kTimeout;
        case CURLE_LOGIN_DENIED:
        case CURLE_FTP_WEIRD_PASS_REPLY:
            return ErrorCode::kLoginRefused;
        case CURLE_UPLOAD_FAILED:
        case CURLE_REMOTE_ACCESS_DENIED:
        case CURLE_REMOTE_DISK_FULL:
        case CURLE_REMOTE_FILE_NOT_FOUND:
            return ErrorCode::kRefused;
        case CURLE_READ_ERROR:
            return ErrorCode::kIo;
        case CURLE_OUT_OF_MEMORY:
        case CURLE_FAILED_INIT:
        case CURLE_UNKNOWN_OPTION:
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return ErrorCode::kInternal;
        default:
            // The data connection or the transfer itself broke off.
            return ErrorCode::kProtocol;
    }
}

// libcurl's words for a failed transfer, with its detail and the router's
// last reply.
std::string TransferFailure(CURL* curl, CURLcode rc, const char* detail) {
    std::string message = curl_easy_strerror(rc);
    if (detail[0] != '\0')
        message += std::string(": ") + detail;
    long reply = 0;
    if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply) == CURLE_OK && reply != 0)
        message += " (last reply " + std::to_string(reply) + ")";
    return message;
}

// What the operation log and the command line show of a failed upload.
Error Fail(ErrorCode code, const std::string& message) {
    return {code, "FTP " + std::string(ToString(code)) + ": " + message};
}

Error FailOnFile(const char* what, const std::string& path, int error) {
    return Fail(CodeOfErrno(error), what + path + ": " + ErrnoText(error));
}

// Only what can reach the router as meant: no name lookup, no command
// smuggled in through a line break.
Result<void> CheckArguments(const std::string& address, int port, const std::string& user,
                            const std::string& password, const std::string& remoteName) {
    if (!IsHostText(address))
        return Fail(ErrorCode::kBadArgument, "bad address: " + address);
    if (port < 1 || port > 65535)
        return Fail(ErrorCode::kBadArgument, "bad port: " + std::to_string(port));
    if (HasLineBreakOrNul(user) || HasLineBreakOrNul(password))
        return Fail(ErrorCode::kBadArgument, "user or password holds a line break");
    if (remoteName.empty() || HasControlByte(remoteName))
        return Fail(ErrorCode::kBadArgument, "bad remote name");
    return {};
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

Result<void> CFtpSession::PutFile(const std::string& address, int port, const std::string& user,
                                  const std::string& password, const std::string& localPath,
                                  const std::string& remoteName, bool passive) {
    if (Result<void> usable = CheckArguments(address, port, user, password, remoteName); !usable)
        return usable;

    // The local file is opened first, so that a missing file never reaches
    // the router (which would otherwise be left with an empty slot).
    UniqueFile file(std::fopen(cp932::ToPath(localPath).c_str(), "rb"));
    if (!file)
        return FailOnFile("cannot open ", localPath, errno);
    struct stat info {};
    if (::fstat(fileno(file.get()), &info) != 0)
        return FailOnFile("cannot stat ", localPath, errno);
    if (!S_ISREG(info.st_mode))
        return Fail(ErrorCode::kIo, localPath + " is not a regular file");

    CURL* curl = handle_->curl;
    if (curl == nullptr)
        return Fail(ErrorCode::kInternal, "cannot create the FTP client");
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
    if (rc != CURLE_OK)
        return Fail(ErrorCode::kInternal,
                    std::string("cannot set up the FTP client: ") + curl_easy_strerror(rc));

    rc = curl_easy_perform(curl);
    if (rc == CURLE_OK)
        return {};

    if (reader.error != 0)
        return FailOnFile("cannot read ", localPath, reader.error);
    return Fail(Classify(rc), TransferFailure(curl, rc, detail.data()));
}

Result<void> UploadFile(const std::string& address, const std::string& user,
                        const std::string& password, const std::string& localPath,
                        const std::string& remoteName, int port, bool passive,
                        FtpTimeouts timeouts) {
    return CFtpSession(timeouts).PutFile(address, port, user, password, localPath, remoteName,
                                         passive);
}

bool UploadByFtp(const std::string& address, const std::string& user, const std::string& password,
                 const std::string& localPath, const std::string& remoteName, int port,
                 bool passive, FtpTimeouts timeouts) {
    return UploadFile(address, user, password, localPath, remoteName, port, passive, timeouts).ok();
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

Result<void> ConvertNewlinesInPlace(const std::string& path) {
    const std::filesystem::path source = cp932::ToPath(path);

    UniqueFd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0)
        return SystemError(errno, "cannot open " + path);
    struct stat info {};
    if (::fstat(in.get(), &info) != 0)
        return SystemError(errno, "cannot stat " + path);
    if (!S_ISREG(info.st_mode))
        return Error{ErrorCode::kIo, path + " is not a regular file"};

    // Each conversion writes a file of its own beside the original, so that
    // conversions of one file at the same time (devices sharing it, calling
    // Netprov together) do not write into each other's output.  The new file
    // keeps the permissions of the one it replaces.
    FileReplacement out(source);
    if (!out.valid())
        return SystemError(errno, "cannot create a temporary file beside " + path);

    const std::string writeFailure = "cannot write the conversion of " + path;
    NewlineConverter converter;
    std::string converted;
    std::array<char, 65536> buffer{};
    for (;;) {
        ssize_t n = ::read(in.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return SystemError(errno, "cannot read " + path);
        if (n == 0)
            break;
        converted.clear();
        converter.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)), converted);
        if (!WriteAll(out.fd(), converted))
            return SystemError(errno, writeFailure);
    }
    converted.clear();
    converter.Finish(converted);
    if (!WriteAll(out.fd(), converted) || !out.Finish())
        return SystemError(errno, writeFailure);
    in.Close();

    // The rename replaces the file in one step, so the file is never missing
    // and is still the old one when the replacement fails.
    if (!out.Replace())
        return SystemError(errno, "cannot replace " + path);
    return {};
}

int ConvertNewlines(const std::string& path) {
    return ConvertNewlinesInPlace(path) ? 0 : -1;
}

}  // namespace quellin
