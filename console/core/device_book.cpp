#include "device_book.h"

#include "codec.h"
#include "file_replacement.h"
#include "settings.h"

#include <algorithm>
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

bool HasControlCharacter(const std::string& text) {
    return std::ranges::any_of(text, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

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

DeviceBook::DeviceBook(std::string registryPath, int rows)
    : registryPath_(std::move(registryPath)), rows_(rows) {}

bool DeviceBook::LoadAsItStands() {
    devices_.clear();
    rowsBeyond_.clear();
    return LoadDevices(cp932::ToPath(registryPath_), devices_, rows_, &rowsBeyond_);
}

void DeviceBook::Load(Reporter& reporter, bool maxRowsOverLimit) {
    const auto path = cp932::ToPath(registryPath_);
    devices_.clear();
    rowsBeyond_.clear();
    // What a save killed half-way left beside the registry.
    RemoveStaleReplacements(path);
    EnsureRowCount(path, rows_);
    LoadDevices(path, devices_, rows_, &rowsBeyond_);
    // A registry that could not be read or written still gives a full list,
    // so every row can be shown and registered.
    while (rowCount() < rows_) {
        CBase empty;
        empty.row = rowCount() + 1;
        devices_.push_back(empty);
    }
    if (maxRowsOverLimit) {
        const std::string limit = std::to_string(kMaxRowsLimit);
        reporter.Report(kToolName,
                        cp932::Jp("最大装置数(MAXROWS)が上限の") + limit +
                            cp932::Jp("を超えているため、") + limit + cp932::Jp("として扱います。"),
                        MSG_LOG | MSG_BOX);
    }
    if (!rowsBeyond_.empty()) {
        reporter.Report(kToolName,
                        cp932::Jp("最大装置数(MAXROWS)を超える行に登録された装置が") +
                            std::to_string(rowsBeyond_.size()) +
                            cp932::Jp("台あります。これらの装置は表示されませんが、"
                                      "登録は保持されます。"),
                        MSG_LOG | MSG_BOX);
    }
}

bool DeviceBook::Save() {
    return SaveDevices(cp932::ToPath(registryPath_), devices_, rows_, rowsBeyond_);
}

std::optional<int> DeviceBook::Find(const std::string& name) const {
    for (int i = 0; i < rowCount(); ++i)
        if (devices_[static_cast<std::size_t>(i)].name == name)
            return i;
    return std::nullopt;
}

std::optional<int> DeviceBook::FirstFree() const {
    return Find(std::string());
}

std::optional<std::string> DeviceBook::Check(const DeviceFields& f, int ownRow) const {
    auto refuse = [](const char* message) { return std::optional(cp932::Jp(message)); };
    if (f.name.size() > kMaxFieldBytes)
        return refuse("装置名は全角32桁(半角64桁)以下にしてください。");
    if (HasAnyOf(f.name, kForbiddenInName))
        return refuse("装置名に次の文字は使用できません。\n, \\ / : * ? \" < > |");
    // A line break would end base.db's row; no typed text holds one.
    if (std::ranges::any_of(std::array{&f.name, &f.address, &f.password, &f.accessId,
                                       &f.accessPassword, &f.configFile},
                            [](const std::string* text) { return HasControlCharacter(*text); }))
        return refuse("改行などの制御文字は使用できません。");
    if (f.password.size() > kMaxFieldBytes)
        return refuse("装置のパスワードは64桁以下にしてください。");
    if (HasComma(f.password))
        return refuse("装置のパスワードにカンマは使用できません。");
    if (f.accessId.size() > kMaxFieldBytes)
        return refuse("アクセスIDは64桁以下にしてください。");
    if (HasComma(f.accessId))
        return refuse("アクセスIDにカンマは使用できません。");
    if (!IsAccessIdUnique(cp932::ToPath(registryPath_), f.accessId, ownRow))
        return refuse("入力されたアクセスIDはすでに使用されています。");
    if (f.accessPassword.size() > kMaxFieldBytes)
        return refuse("アクセスパスワードは64桁以下にしてください。");
    if (HasComma(f.accessPassword))
        return refuse("アクセスパスワードにカンマは使用できません。");
    if (HasComma(f.configFile))
        return refuse("構成定義ファイル名にカンマは使用できません。");
    return std::nullopt;
}

bool DeviceBook::Store(CBase& device, const DeviceFields& fields) {
    bool changed = false;
    auto store = [&changed](std::string& field, const std::string& value) {
        if (field == value)
            return;
        field = value;
        changed = true;
    };
    store(device.name, fields.name);
    store(device.address, fields.address == "0.0.0.0" ? std::string() : fields.address);
    store(device.password, fields.password);
    store(device.accessId, fields.accessId);
    store(device.accessPassword, fields.accessPassword);
    store(device.configFile, fields.configFile);
    return changed;
}

void DeviceBook::LogSettingsChanged(Reporter& reporter, const std::string& name) {
    reporter.Report(kToolName, cp932::Jp("装置情報を設定しました。装置名：") + name, MSG_LOG);
}

namespace {

void LogOnBothSides(Reporter& reporter, const std::string& name, const char* message) {
    reporter.Report(name, cp932::Jp(message), MSG_LOG);
    reporter.Report(kToolName, cp932::Jp(message) + cp932::Jp("装置名：") + name, MSG_LOG);
}

}  // namespace

void DeviceBook::LogRegistered(Reporter& reporter, const std::string& name) {
    LogOnBothSides(reporter, name, "装置を登録しました。");
}

void DeviceBook::LogUnregistered(Reporter& reporter, const std::string& name) {
    LogOnBothSides(reporter, name, "装置の登録を削除しました。");
}

bool DeviceBook::Unregister(CBase& device, Questions& questions) {
    if (!questions.ConfirmDeletion(Deletion::kDevice, device.name).yes)
        return false;
    Store(device, DeviceFields{});
    return true;
}

void DeviceBook::SetLogSchedule(CBase& device, std::int64_t now, int intervalSeconds, int count) {
    device.nextLogCollection = now + intervalSeconds;
    device.logInterval = intervalSeconds;
    device.logRepeatCount = count;
}

void DeviceBook::ClearLogSchedule(CBase& device) {
    device.nextLogCollection = 0;
    device.logInterval = 0;
    device.logRepeatCount = 0;
}

void DeviceBook::AdvanceLogSchedule(CBase& device, std::int64_t now) {
    device.lastLogCollection = now;
    if (device.logRepeatCount == 1) {
        device.logInterval = 0;
        device.nextLogCollection = 0;
    } else {
        device.nextLogCollection += device.logInterval;
    }
    device.logRepeatCount -= 1;
}

bool DeviceBook::DropExpiredLogSchedules(std::int64_t now) {
    bool changed = false;
    for (CBase& device : devices_) {
        if (!HasLogSchedule(device) || now < device.nextLogCollection)
            continue;
        ClearLogSchedule(device);
        changed = true;
    }
    return changed;
}

std::vector<CBase*> DeviceBook::DueLogCollections(std::int64_t now) {
    std::vector<CBase*> due;
    for (CBase& device : devices_) {
        if (HasLogSchedule(device) && now >= device.nextLogCollection)
            due.push_back(&device);
    }
    std::stable_sort(due.begin(), due.end(), [](const CBase* a, const CBase* b) {
        if (a->nextLogCollection != b->nextLogCollection)
            return a->nextLogCollection < b->nextLogCollection;
        return a->row < b->row;
    });
    return due;
}

}  // namespace quellin::console
