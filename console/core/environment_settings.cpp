#include "environment_settings.h"

#include "codec.h"

namespace quellin::console {

bool EnvironmentSettingsLogic::Apply(const std::string& firmDir, const std::string& logDir) {
    changed_ = false;
    if (firmDir.empty()) {
        reporter_.Report("", cp932::Jp("ソフトウェア格納フォルダ名が指定されていません。"),
                         MSG_BOX);
        return false;
    }
    if (logDir.empty()) {
        reporter_.Report("", cp932::Jp("ログ格納フォルダ名が指定されていません。"), MSG_BOX);
        return false;
    }
    auto store = [this](std::string& folder, const std::string& typed) {
        changed_ = changed_ || folder != typed;
        folder = typed;
    };
    store(settings_.firmDir, firmDir);
    store(settings_.logDir, logDir);
    if (changed_)
        WriteConsoleSettings(programFolder_, settings_);
    return true;
}

bool EnvironmentSettingsLogic::Ok(const std::string& firmDir, const std::string& logDir) {
    if (!Apply(firmDir, logDir))
        return false;
    if (changed_)
        reporter_.Report(kToolName, cp932::Jp("環境情報を設定しました。"), MSG_LOG);
    return true;
}

}  // namespace quellin::console
