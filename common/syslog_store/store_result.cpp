#include "store_result.h"

namespace quellin::syslogstore {

const char* ToString(StoreErrorCode code) {
    switch (code) {
        case StoreErrorCode::kNotFound:
            return "no store";
        case StoreErrorCode::kCannotOpen:
            return "cannot open";
        case StoreErrorCode::kNotAStore:
            return "not a syslog store";
        case StoreErrorCode::kDamaged:
            return "damaged";
        case StoreErrorCode::kLocked:
            return "locked";
        case StoreErrorCode::kDiskFull:
            return "disk full";
        case StoreErrorCode::kIo:
            return "input/output error";
        case StoreErrorCode::kBadQuery:
            return "bad query";
        case StoreErrorCode::kCancelled:
            return "cancelled";
        case StoreErrorCode::kTimedOut:
            return "timed out";
    }
    return "unknown";
}

std::string Describe(const StoreError& error) {
    std::string text = ToString(error.code);
    if (!error.detail.empty())
        text += ": " + error.detail;
    return text;
}

}  // namespace quellin::syslogstore
