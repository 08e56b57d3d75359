#include "outcome.h"

#include "codec.h"

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

Outcome Outcome::Failed(std::string_view message) {
    return {OutcomeKind::kFailed, cp932::Jp(message), {}};
}

Outcome Outcome::Failed(std::string_view message, const Error& error) {
    return {OutcomeKind::kFailed, cp932::Jp(message), error.detail};
}

}  // namespace quellin::console
