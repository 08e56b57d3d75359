// Failures as values: what went wrong (a code callers branch on) and the
// detail a person reads, handed upward instead of out-parameters or texts
// left on objects.  The functions whose return codes are fixed (0/-1, a
// bool) stay as they are, over functions that return a Result.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace quellin {

enum class ErrorCode {
    kBadArgument,        // an argument no call could work with (an address, a port, a name)
    kNotFound,           // a file, folder or stored version that is not there
    kIo,                 // reading or writing a local file or folder failed
    kFormat,             // bytes that are not what they should be (no image, an answer
                         // without its values)
    kTooLong,            // more than a limit allows (an answer, a file, a directory)
    kDiskFull,           // no room left on the file system: worth retrying later
    kDamaged,            // a file of the right kind that is broken (a database's pages)
    kConnectionRefused,  // the peer could not be reached or refused the connection
    kTimeout,            // the peer stayed silent too long, or a deadline passed
    kLoginRefused,       // the peer refused the user or the password
    kRefused,            // the peer refused what it was asked to do (store a file)
    kProtocol,           // the peer broke off or answered against the dialogue
    kCancelled,          // given up on request
    kBusy,               // someone else holds what is needed (a lock)
    kInternal,           // the program could not go on (no thread, no memory, a library)
};

// A few English words: "not found", "login refused", ...
std::string_view ToString(ErrorCode code);

struct Error {
    ErrorCode code = ErrorCode::kInternal;
    std::string detail;  // CP932, may hold line ends; never a password

    bool operator==(const Error&) const = default;
};

// The code for an errno value, and "context: strerror(error)".
ErrorCode CodeOfErrno(int error);
Error SystemError(int error, const std::string& context);

// The detail on one line, as a log line or a terminal line takes it: line
// ends, tabs and other control bytes written as "\r", "\n", "\t", "\xNN",
// cut after maxBytes (never inside a character) with "..." after the cut.
std::string OneLineDetail(const Error& error, std::size_t maxBytes = 300);

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : error_(std::move(error)) {}

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }

    const Error& error() const { return *error_; }

private:
    std::optional<Error> error_;
};

}  // namespace quellin
