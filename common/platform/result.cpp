#include "result.h"

#include "codec.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quellin {

std::string_view ToString(ErrorCode code) {
    switch (code) {
        case ErrorCode::kBadArgument:
            return "bad argument";
        case ErrorCode::kNotFound:
            return "not found";
        case ErrorCode::kIo:
            return "input/output";
        case ErrorCode::kFormat:
            return "bad format";
        case ErrorCode::kTooLong:
            return "too long";
        case ErrorCode::kDiskFull:
            return "disk full";
        case ErrorCode::kDamaged:
            return "damaged";
        case ErrorCode::kConnectionRefused:
            return "connection refused";
        case ErrorCode::kTimeout:
            return "time-out";
        case ErrorCode::kLoginRefused:
            return "login refused";
        case ErrorCode::kRefused:
            return "refused";
        case ErrorCode::kProtocol:
            return "protocol";
        case ErrorCode::kCancelled:
            return "cancelled";
        case ErrorCode::kBusy:
            return "busy";
        case ErrorCode::kInternal:
            return "internal";
    }
    return "unknown";
}

ErrorCode CodeOfErrno(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return ErrorCode::kNotFound;
        case ETIMEDOUT:
            return ErrorCode::kTimeout;
        case ECONNREFUSED:
        case EHOSTUNREACH:
        case ENETUNREACH:
            return ErrorCode::kConnectionRefused;
        case ECANCELED:
            return ErrorCode::kCancelled;
        case EFBIG:
        case ENAMETOOLONG:
            return ErrorCode::kTooLong;
        case EWOULDBLOCK:
            return ErrorCode::kBusy;
        case ENOMEM:
        case EMFILE:
        case ENFILE:
            return ErrorCode::kInternal;
        default:
            return ErrorCode::kIo;
    }
}

Error SystemError(int error, const std::string& context) {
    return {CodeOfErrno(error), context + ": " + std::strerror(error)};
}

std::string OneLineDetail(const Error& error, std::size_t maxBytes) {
    const std::string_view kept = cp932::Head(error.detail, maxBytes);
    std::string line;
    // Control bytes are never part of a two-byte character, so they can be
    // replaced one by one.
    for (const char c : kept) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            line += c;
            continue;
        }
        char escape[8];
        if (c == '\r' || c == '\n' || c == '\t')
            std::snprintf(escape, sizeof escape, "\\%c", c == '\r' ? 'r' : c == '\n' ? 'n' : 't');
        else
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
        line += escape;
    }
    if (kept.size() < error.detail.size())
        line += "...";
    return line;
}

}  // namespace quellin
