#include "device_settings.h"

namespace quellin::console {

DeviceSettingsLogic::DeviceSettingsLogic(CBase& device, const DeviceBook& book, Reporter& reporter,
                                         Questions& questions, std::function<void()> saveAndRefresh)
    : device_(device),
      book_(book),
      reporter_(reporter),
      questions_(questions),
      saveAndRefresh_(std::move(saveAndRefresh)) {}

DeviceFields DeviceSettingsLogic::initialFields() const {
    return {device_.name,     device_.address,        device_.password,
            device_.accessId, device_.accessPassword, device_.configFile};
}

bool DeviceSettingsLogic::Check(const DeviceFields& fields) {
    if (auto refusal = book_.Check(fields, device_.row)) {
        reporter_.Report("", *refusal, MSG_BOX);
        return false;
    }
    return true;
}

bool DeviceSettingsLogic::Apply(const DeviceFields& fields) {
    changed_ = false;
    if (!Check(fields))
        return false;
    const bool registering = device_.name.empty();
    changed_ = DeviceBook::Store(device_, fields);
    if (changed_)
        saveAndRefresh_();
    if (changed_ && registering)
        DeviceBook::LogRegistered(reporter_, device_.name);
    return true;
}

DeviceSettingsLogic::OkResult DeviceSettingsLogic::Ok(DeviceFields& fields) {
    if (fields.name.empty()) {
        // Asked before anything is stored, so that cancelling the deletion
        // leaves the registered device whole.
        changed_ = false;
        const std::string name = device_.name;
        if (!Check(fields) || !DeviceBook::Unregister(device_, questions_))
            return OkResult::StayOpen;
        fields = {};
        saveAndRefresh_();
        DeviceBook::LogUnregistered(reporter_, name);
        return OkResult::Close;
    }
    if (!Apply(fields))
        return OkResult::StayOpen;
    if (changed_)
        DeviceBook::LogSettingsChanged(reporter_, device_.name);
    return OkResult::Close;
}

}  // namespace quellin::console
