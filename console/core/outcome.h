// How one maintenance operation on one device ended: its kind, the message
// the operator is told (the operation log's line), and the reason the layer
// below gave (the telnet dialogue's phase and event, the FTP server's reply,
// why no image fitted), which the command line prints after the message.
#pragma once

#include "result.h"

#include <string>
#include <string_view>

namespace quellin::console {

enum class OutcomeKind {
    kDone,
    kNothingToDo,  // a firmware update that found no image to give
    kDeclined,     // the update question was answered no
    kFailed,
};

// "done", "nothing-to-do", "declined", "failed".
std::string_view ToString(OutcomeKind kind);

struct Outcome {
    OutcomeKind kind = OutcomeKind::kDone;
    std::string message;  // CP932, as logged and shown; empty for kDone
    std::string reason;   // CP932, from the layer below; may be empty, may hold line ends

    bool done() const { return kind == OutcomeKind::kDone; }
    // What makes a run over several devices end as failed: no image to give
    // does not, a declined update does (the device was not brought up to
    // date as asked).
    bool failsRun() const { return kind == OutcomeKind::kFailed || kind == OutcomeKind::kDeclined; }

    // message is a UTF-8 literal of the program's own.
    static Outcome Failed(std::string_view message);
    // The one way a failure from below becomes an outcome: the message, and
    // the error's detail as the reason.
    static Outcome Failed(std::string_view message, const Error& error);
};

}  // namespace quellin::console
