#include "auto_config.h"

#include "codec.h"
#include "device_registry.h"
#include "md5.h"
#include "operation_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quellin::netprov {
namespace {

// True when the path names a file that can be opened for reading; a folder
// opens on this platform but is no file.
bool CanOpenFile(const std::string& path) {
    int fd = ::open(cp932::ToPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool isFile = ::fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
    ::close(fd);
    return isFile;
}

}  // namespace

bool DigestsEqual(std::string_view expected, std::string_view given) {
    // Every byte of the expected digest is looked at whatever the given
    // text holds; only its length (chosen by the caller) shows.
    unsigned difference = expected.size() == given.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        unsigned char other = i < given.size() ? static_cast<unsigned char>(given[i]) : 0u;
        difference |= static_cast<unsigned char>(expected[i]) ^ other;
    }
    return difference == 0;
}

CAutoConfig::CAutoConfig(CCgiRequest& request, const Environment& environment,
                         std::string baseFolder)
    : request_(request), environment_(environment), baseFolder_(std::move(baseFolder)) {}

void CAutoConfig::Message(const std::string& text, unsigned flags) {
    if (flags & MSG_LOG)
        WriteOperationLog(deviceName_, baseFolder_, text);
    if (flags & MSG_PAGE)
        request_.WriteParagraph(text);
}

bool CAutoConfig::Run() {
    return CheckRequest();
}

bool CAutoConfig::CheckRequest() {
    // The checks answer on the page only: nothing reaches a device's log
    // before the request has proved to come from it.
    const std::string invalidParameter = cp932::Jp("パラメタが不正です。");
    if (!request_.GetParam("accessid", accessId_)) {
        Message(invalidParameter, MSG_PAGE);
        return false;
    }
    if (!request_.GetParam("accesspass", accessPassword_)) {
        Message(invalidParameter, MSG_PAGE);
        return false;
    }
    remoteAddress_ = GetVariable(environment_, "REMOTE_ADDR").value_or("");
    if (remoteAddress_.empty()) {
        Message(invalidParameter, MSG_PAGE);
        return false;
    }

    const std::string registry = baseFolder_ + "/" + "./base.db";
    // An unreadable registry is not the caller's wrong access ID: say so.
    if (!CanOpenFile(registry)) {
        Message(cp932::Jp("装置登録ファイル(base.db)を読み込めません。"), MSG_PAGE);
        return false;
    }
    CBase device;
    if (!FindDeviceByAccessId(cp932::ToPath(registry), accessId_, device)) {
        Message(cp932::Jp("アクセスIDに誤りがあります。"), MSG_PAGE);
        return false;
    }
    deviceName_ = device.name;

    // The stored password is a C string to the digest: it ends at a NUL.
    const std::string expected = Md5Hex(std::string_view(device.accessPassword.c_str()));
    if (!DigestsEqual(expected, accessPassword_)) {
        Message(cp932::Jp("パスワードに誤りがあります。"), MSG_PAGE);
        return false;
    }

    if (!CanOpenFile(device.configFile)) {
        Message(cp932::Jp("構成定義ファイルが見つかりません。"), MSG_PAGE);
        return false;
    }
    configFile_ = device.configFile;
    return true;
}

}  // namespace quellin::netprov
