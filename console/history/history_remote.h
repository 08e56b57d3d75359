// One central history for many sites: after a run has stored its changes,
// the history's branch is pushed to a remote repository with libgit2.  Each
// site pushes to a branch of its own (by default named after the host), so
// two sites' devices of the same name never meet: one bare repository holds
// every site's history side by side.  A push that fails leaves every local
// commit where it is; the next run pushes them all.
#pragma once

#include "result.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace quellin::history {

struct HistoryRemote {
    std::string url;         // file:///srv/history.git, ssh://user@host:port/path; empty: none
    std::string keyFile;     // the ssh private key (else ssh-agent)
    std::string knownHosts;  // the ssh host's keys as ssh-keyscan prints them
    std::string branch;      // the site's branch in the remote
};

// The NEXORA.INI keys HistoryRemote, HistoryRemoteKey,
// HistoryRemoteKnownHosts and HistoryRemoteBranch (absent: no remote; no
// branch: this host's name).
HistoryRemote ReadHistoryRemote(const std::filesystem::path& nexoraIni);

// Pushes the history in `folder` to the remote's branch.  Over ssh the host
// must show a key that the known-hosts file lists for it: configurations
// hold passwords, and they go to no host that could be another.
Result<void> PushHistory(const std::filesystem::path& folder, const HistoryRemote& remote);

// Whether a known-hosts text ("HOSTS KEYTYPE BASE64KEY [COMMENT]" lines as
// ssh-keyscan prints them; HOSTS a comma list of names and [name]:port)
// lists `base64Key` for `host`.
bool KnownHostsList(std::string_view text, std::string_view host, std::string_view base64Key);

}  // namespace quellin::history
