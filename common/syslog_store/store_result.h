// Errors as values for the syslog store: a code that callers branch on and
// a detail for people (CP932, like every text of the cores).  Shaped like the
// shared library's coming result type, so that moving to it is a rename.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quellin::syslogstore {

enum class StoreErrorCode {
    kNotFound,    // no store at the path
    kCannotOpen,  // the path cannot be opened or created: no folder, no permission
    kNotAStore,   // an SQLite file of something else, or a layout newer than this program
    kDamaged,     // not a database any more, or a broken page
    kLocked,      // another process holds the database
    kDiskFull,
    kIo,         // any other failure of the file system or the database
    kBadQuery,   // a search that cannot run: a bad pattern, too many routers
    kCancelled,  // Cancel() from another thread
    kTimedOut,   // the query's time limit passed
};

// The code's name ("disk full", "locked", ...), for logs and the status area.
const char* ToString(StoreErrorCode code);

struct StoreError {
    StoreErrorCode code = StoreErrorCode::kIo;
    std::string detail;

    bool operator==(const StoreError&) const = default;
};

// "<code>: <detail>".
std::string Describe(const StoreError& error);

template <class T>
class StoreResult {
public:
    StoreResult(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    StoreResult(StoreError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const StoreError& error() const { return std::get<1>(state_); }

private:
    std::variant<T, StoreError> state_;
};

template <>
class StoreResult<void> {
public:
    StoreResult() = default;
    StoreResult(StoreError error) : error_(std::move(error)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const StoreError& error() const { return error_; }

private:
    StoreError error_;
    bool failed_ = false;
};

}  // namespace quellin::syslogstore
