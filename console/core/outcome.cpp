#include "outcome.h"

#include "codec.h"

#include <cstring>

namespace quellin::console {

std::string_view ToString(OutcomeKind kind) {
    switch (kind) {
        case OutcomeKind::kDone:
            return "done";
        case OutcomeKind::kNothingToDo:
            return "nothing-to-do";
        case OutcomeKind::kDeclined:
            return "declined";
        case OutcomeKind::kFailed:
            return "failed";
    }
    return "failed";
}

Outcome Outcome::Failed(std::string_view message, std::string reason) {
    return {OutcomeKind::kFailed, cp932::Jp(message), std::move(reason)};
}

std::string FileReason(const std::string& path, int error) {
    return path + ": " + std::strerror(error);
}

}  // namespace quellin::console
