// One running instance per program and user: a lock file in the runtime
// folder held with flock, which the operating system releases when the
// process dies, however it dies.
#pragma once

#include <filesystem>
#include <string>

namespace quellin {

// The folder for locks and local sockets: $XDG_RUNTIME_DIR when set, else
// /tmp/quellin-<uid> (created with mode 0700).
std::filesystem::path RuntimeFolder();

class SingleInstanceLock {
public:
    // Tries to take the lock named after the program ("Quellin_tool").
    explicit SingleInstanceLock(const std::string& name);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // False when another process holds the lock.
    bool acquired() const { return acquired_; }
    // Where the first instance listens for "come to the front" requests.
    std::string ActivationSocketPath() const;

private:
    std::string name_;
    int fd_ = -1;
    bool acquired_ = false;
};

}  // namespace quellin
