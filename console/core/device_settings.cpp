#include "device_settings.h"

#include "codec.h"

#include <array>

namespace quellin::console {
namespace {

bool HasComma(const std::string& text) {
    return text.find(',') != std::string::npos;
}

// A forbidden character found byte by byte must not be the second byte of a
// two-byte character ("表" is 95 5C, whose second byte is a backslash).
bool HasAnyOf(const std::string& text, const std::string& characters) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (cp932::IsLeadByte(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        if (characters.find(text[i]) != std::string::npos)
            return true;
    }
    return false;
}

const std::string kForbiddenInName = ",\\/:*?\"<>|";

}  // namespace

std::string IpControlText(const std::string& typed) {
    std::array<int, 4> parts{0, 0, 0, 0};
    std::size_t part = 0;
    for (char c : typed) {
        if (c == '.') {
            if (++part == parts.size())
                break;
        } else if (c >= '0' && c <= '9') {
            parts[part] = std::min(parts[part] * 10 + (c - '0'), 255);
        }
    }
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
           std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}

DeviceSettingsLogic::DeviceSettingsLogic(CBase& device, Reporter& reporter,
                                         std::string registryPath,
                                         std::function<void()> saveAndRefresh)
    : device_(device),
      reporter_(reporter),
      registryPath_(std::move(registryPath)),
      saveAndRefresh_(std::move(saveAndRefresh)) {}

DeviceSettingsFields DeviceSettingsLogic::initialFields() const {
    return {device_.name,     device_.address,        device_.password,
            device_.accessId, device_.accessPassword, device_.configFile};
}

bool DeviceSettingsLogic::Validate(const DeviceSettingsFields& f) {
    auto fail = [this](const char* message) {
        reporter_.Report("", cp932::Jp(message), MSG_BOX);
        return false;
    };
    if (f.name.size() > kMaxFieldBytes)
        return fail("装置名は全角32桁(半角64桁)以下にしてください。");
    if (HasAnyOf(f.name, kForbiddenInName))
        return fail("装置名に次の文字は使用できません。\n, \\ / : * ? \" < > |");
    if (f.password.size() > kMaxFieldBytes)
        return fail("装置のパスワードは64桁以下にしてください。");
    if (HasComma(f.password))
        return fail("装置のパスワードにカンマは使用できません。");
    if (f.accessId.size() > kMaxFieldBytes)
        return fail("アクセスIDは64桁以下にしてください。");
    if (HasComma(f.accessId))
        return fail("アクセスIDにカンマは使用できません。");
    if (!IsAccessIdUnique(cp932::ToPath(registryPath_), f.accessId, device_.row))
        return fail("入力されたアクセスIDはすでに使用されています。");
    if (f.accessPassword.size() > kMaxFieldBytes)
        return fail("アクセスパスワードは64桁以下にしてください。");
    if (HasComma(f.accessPassword))
        return fail("アクセスパスワードにカンマは使用できません。");
    if (HasComma(f.configFile))
        return fail("構成定義ファイル名にカンマは使用できません。");
    return true;
}

bool DeviceSettingsLogic::Apply(const DeviceSettingsFields& fields) {
    changed_ = false;
    if (!Validate(fields))
        return false;
    std::string address = fields.address == "0.0.0.0" ? std::string() : fields.address;
    auto store = [this](std::string& field, const std::string& value) {
        if (field == value)
            return;
        field = value;
        changed_ = true;
    };
    store(device_.name, fields.name);
    store(device_.address, address);
    store(device_.password, fields.password);
    store(device_.accessId, fields.accessId);
    store(device_.accessPassword, fields.accessPassword);
    store(device_.configFile, fields.configFile);
    if (changed_)
        saveAndRefresh_();
    return true;
}

void DeviceSettingsLogic::Delete(DeviceSettingsFields& fields) {
    fields = {};
    device_.name.clear();
    device_.address.clear();
    device_.password.clear();
    device_.configFile.clear();
    device_.accessId.clear();
    device_.accessPassword.clear();
    saveAndRefresh_();
    changed_ = false;
}

DeviceSettingsLogic::OkResult DeviceSettingsLogic::Ok(DeviceSettingsFields& fields) {
    if (fields.name.empty()) {
        // Asked before anything is stored, so that cancelling the deletion
        // leaves the registered device whole.
        changed_ = false;
        if (!Validate(fields))
            return OkResult::StayOpen;
        MsgAnswer answer = reporter_.Ask(cp932::Jp("装置名が未入力です。装置設定を削除します。"),
                                         MsgButtons::OkCancel, MsgAnswer::Cancel);
        if (answer != MsgAnswer::Ok)
            return OkResult::StayOpen;
        Delete(fields);
        return OkResult::Close;
    }
    if (!Apply(fields))
        return OkResult::StayOpen;
    if (changed_) {
        reporter_.Report(kToolName, cp932::Jp("装置情報を設定しました。装置名：") + device_.name,
                         MSG_LOG);
    }
    return OkResult::Close;
}

}  // namespace quellin::console
