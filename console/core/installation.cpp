#include "installation.h"

#include "codec.h"
#include "questions.h"

namespace quellin::console {
namespace {

Installation::State StateOf(const FolderLock* lock) {
    if (lock == nullptr)
        return Installation::State::kOpen;
    switch (lock->state()) {
        case FolderLock::State::kAcquired:
            return Installation::State::kOpen;
        case FolderLock::State::kHeldElsewhere:
            return Installation::State::kBusy;
        case FolderLock::State::kFailed:
            break;
    }
    return Installation::State::kLockFailed;
}

}  // namespace

Installation::Installation(const std::string& folder, Access access, MessageBoxes& boxes,
                           ConsoleApp::StartLog startLog)
    : access_(access),
      lock_(access == Access::kWrite ? std::make_unique<FolderLock>(folder) : nullptr),
      state_(StateOf(lock_.get())),
      app_(folder, state_ == State::kBusy ? ConsoleApp::StartLog::Skip : startLog),
      reporter_(app_.programFolder(), boxes),
      book_(app_.registryPath(), app_.settings().maxRows) {}

bool Installation::Load() {
    if (access_ == Access::kWrite) {
        book_.Load(reporter_, app_.maxRowsOverLimit());
        return true;
    }
    return book_.LoadAsItStands();
}

std::vector<CBase*> Installation::Registered() {
    std::vector<CBase*> devices;
    for (CBase& device : book_.devices())
        if (!device.name.empty())
            devices.push_back(&device);
    return devices;
}

CBase* Installation::Find(const std::string& name) {
    if (name.empty())
        return nullptr;
    const auto index = book_.Find(name);
    return index ? &book_.device(*index) : nullptr;
}

Result<int> Installation::Register(const DeviceFields& fields) {
    if (Find(fields.name))
        return Error{ErrorCode::kBadArgument,
                     "a device named " + fields.name + " is already registered"};
    auto free = book_.FirstFree();
    if (!free)
        return Error{ErrorCode::kTooLong, "base.db has no free row (MAXROWS " +
                                              std::to_string(app_.settings().maxRows) + ")"};
    CBase& device = book_.device(*free);
    if (auto refusal = book_.Check(fields, device.row))
        return Error{ErrorCode::kBadArgument, *refusal};
    DeviceBook::Store(device, fields);
    if (!Save())
        return Error{ErrorCode::kIo, "cannot write " + app_.registryPath()};
    DeviceBook::LogRegistered(reporter_, device.name);
    DeviceBook::LogSettingsChanged(reporter_, device.name);
    return device.row;
}

Result<void> Installation::Unregister(std::string name) {
    CBase* device = Find(name);
    if (device == nullptr)
        return Error{ErrorCode::kNotFound, "no device named " + name};
    AnsweredQuestions named(false);
    DeviceBook::Unregister(*device, named);
    if (!Save())
        return Error{ErrorCode::kIo, "cannot write " + app_.registryPath()};
    DeviceBook::LogUnregistered(reporter_, name);
    return {};
}

Result<std::unique_ptr<history::ConfigHistory>> Installation::OpenHistory(
    history::ConfigHistory::Access access) const {
    return history::ConfigHistory::Open(cp932::ToPath(layout().historyFolder()), access);
}

}  // namespace quellin::console
