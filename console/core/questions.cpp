#include "questions.h"

#include "codec.h"
#include "firmware_policy.h"

namespace quellin::console {

std::string FirmwareUpdateText(const FirmwareUpdateQuestion& question) {
    return FirmwareUpdateMessage(kConsoleFirmwareRules, question.current, question.next,
                                 question.downgrade);
}

Answer MessageBoxQuestions::ConfirmFirmwareUpdate(const FirmwareUpdateQuestion& question) {
    return {reporter_.Ask(FirmwareUpdateText(question) + cp932::Jp("よろしいですか？"),
                          MsgButtons::YesNo, MsgAnswer::No) == MsgAnswer::Yes};
}

Answer MessageBoxQuestions::ConfirmDeletion(Deletion what, const std::string&) {
    if (what == Deletion::kDevice) {
        return {reporter_.Ask(cp932::Jp("装置名が未入力です。装置設定を削除します。"),
                              MsgButtons::OkCancel, MsgAnswer::Cancel) == MsgAnswer::Ok};
    }
    return {reporter_.Ask(cp932::Jp("ログ採取のスケジュールを削除します。よろしいですか？"),
                          MsgButtons::YesNo, MsgAnswer::No) == MsgAnswer::Yes};
}

Answer AnsweredQuestions::ConfirmFirmwareUpdate(const FirmwareUpdateQuestion& question) {
    if (!question.downgrade || allowDowngrade_)
        return {true};
    return {false, question.current + " to " + question.next +
                       " would be a downgrade; run again with --yes to allow it"};
}

}  // namespace quellin::console
