#include "history_remote.h"

#include "codec.h"
#include "git_support.h"
#include "profile_file.h"
#include "settings.h"
#include "text_lines.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <climits>

namespace quellin::history {
namespace {

using Remote = git::Owned<git_remote, git_remote_free>;

struct PushState {
    const HistoryRemote* remote;
    int credentialsAsked = 0;
    std::string refused;  // the remote's word on a reference it did not take
};

std::string Base64(const unsigned char* bytes, std::size_t size) {
    std::string text(4 * ((size + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes,
                                  static_cast<int>(size));
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

// Whether a known-hosts line's host field ("name", "[name]:port", a comma
// list of them) names the host.
bool NamesHost(std::string_view field, std::string_view host) {
    while (!field.empty()) {
        const std::size_t comma = field.find(',');
        std::string_view one = field.substr(0, comma);
        field.remove_prefix(comma == std::string_view::npos ? field.size() : comma + 1);
        if (one.starts_with('[') && one.find("]:") != std::string_view::npos)
            one = one.substr(1, one.find("]:") - 1);
        if (one == host)
            return true;
    }
    return false;
}

int CheckHostKey(git_cert* cert, int valid, const char* host, void* payload) {
    if (cert->cert_type != GIT_CERT_HOSTKEY_LIBSSH2)
        return valid ? 0 : GIT_ECERTIFICATE;
    const auto* hostKey = reinterpret_cast<const git_cert_hostkey*>(cert);
    const auto& remote = *static_cast<PushState*>(payload)->remote;
    if (!(hostKey->type & GIT_CERT_SSH_RAW) || remote.knownHosts.empty())
        return GIT_ECERTIFICATE;
    const std::string shown =
        Base64(reinterpret_cast<const unsigned char*>(hostKey->hostkey), hostKey->hostkey_len);
    const auto text = ReadFileItself(cp932::ToPath(remote.knownHosts), 1u << 20);
    if (text && KnownHostsList(*text, host, shown))
        return 0;
    return GIT_ECERTIFICATE;
}

int Credentials(git_credential** out, const char*, const char* user, unsigned int allowed,
                void* payload) {
    auto& state = *static_cast<PushState*>(payload);
    // libgit2 asks again after a refusal: once is an answer, not a loop.
    if (++state.credentialsAsked > 1 || !(allowed & GIT_CREDENTIAL_SSH_KEY))
        return GIT_EAUTH;
    const char* name = user != nullptr ? user : "git";
    if (state.remote->keyFile.empty())
        return git_credential_ssh_key_from_agent(out, name);
    const std::string key = cp932::ToPath(state.remote->keyFile).string();
    return git_credential_ssh_key_new(out, name, nullptr, key.c_str(), nullptr);
}

int Refused(const char* reference, const char* status, void* payload) {
    if (status != nullptr)
        static_cast<PushState*>(payload)->refused =
            std::string(reference) + ": " + cp932::FromUtf8Lossy(status);
    return 0;
}

std::string HostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "site";
    std::string text(name);
    return text.substr(0, text.find('.'));
}

}  // namespace

bool KnownHostsList(std::string_view text, std::string_view host, std::string_view base64Key) {
    while (auto line = NextLine(text)) {
        const std::size_t first = line->find(' ');
        if (line->starts_with('#') || first == std::string_view::npos)
            continue;
        const std::size_t second = line->find(' ', first + 1);
        if (second == std::string_view::npos)
            continue;
        const std::string_view key =
            line->substr(second + 1, line->find(' ', second + 1) - second - 1);
        if (!key.empty() && key == base64Key && NamesHost(line->substr(0, first), host))
            return true;
    }
    return false;
}

HistoryRemote ReadHistoryRemote(const std::filesystem::path& nexoraIni) {
    const ProfileFile ini(nexoraIni);
    HistoryRemote remote{
        .url = ini.GetString(kSettingsSection, "HistoryRemote", ""),
        .keyFile = ini.GetString(kSettingsSection, "HistoryRemoteKey", ""),
        .knownHosts = ini.GetString(kSettingsSection, "HistoryRemoteKnownHosts", ""),
        .branch = ini.GetString(kSettingsSection, "HistoryRemoteBranch", ""),
    };
    if (remote.branch.empty())
        remote.branch = HostName();
    return remote;
}

Result<void> PushHistory(const std::filesystem::path& folder, const HistoryRemote& remote) {
    git::Initialise();
    const std::string target = "refs/heads/" + remote.branch;
    if (git_reference_is_valid_name(target.c_str()) != 1)
        return Error{ErrorCode::kBadArgument, "HistoryRemoteBranch " + remote.branch};
    git_repository* opened = nullptr;
    if (git_repository_open_ext(&opened, folder.c_str(), GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr) !=
        0)
        return Error{ErrorCode::kNotFound, git::LastError()};
    const git::Repository repository(opened);
    git_reference* head = nullptr;
    const int found = git_repository_head(&head, repository.get());
    if (found == GIT_EUNBORNBRANCH || found == GIT_ENOTFOUND)
        return {};  // nothing stored yet: nothing to push
    if (found != 0)
        return Error{ErrorCode::kIo, git::LastError()};
    const git::Reference headReference(head);
    const std::string refspec = std::string(git_reference_name(head)) + ":" + target;

    git_remote* made = nullptr;
    if (git_remote_create_anonymous(&made, repository.get(), remote.url.c_str()) != 0)
        return Error{ErrorCode::kBadArgument, remote.url + ": " + git::LastError()};
    const Remote origin(made);
    PushState state{.remote = &remote};
    git_push_options options = GIT_PUSH_OPTIONS_INIT;
    options.callbacks.payload = &state;
    options.callbacks.credentials = Credentials;
    options.callbacks.certificate_check = CheckHostKey;
    options.callbacks.push_update_reference = Refused;
    char* spec = const_cast<char*>(refspec.c_str());
    const git_strarray specs{&spec, 1};
    if (git_remote_push(origin.get(), &specs, &options) != 0) {
        const git_error* error = git_error_last();
        const bool key = error != nullptr && error->klass == GIT_ERROR_SSH;
        return Error{state.credentialsAsked > 1 ? ErrorCode::kLoginRefused
                     : key                      ? ErrorCode::kRefused
                                                : ErrorCode::kConnectionRefused,
                     remote.url + ": " + git::LastError()};
    }
    if (!state.refused.empty())
        return Error{ErrorCode::kRefused, remote.url + ": " + state.refused};
    return {};
}

}  // namespace quellin::history
