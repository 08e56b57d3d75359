#include "config_history.h"

#include "clock.h"
#include "codec.h"
#include "device_file_name.h"
#include "file_descriptor.h"
#include "file_replacement.h"
#include "git_support.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

namespace quellin::history {
namespace {

namespace fs = std::filesystem;

constexpr char kAuthor[] = "Quellin Server";
constexpr char kEmail[] = "quellin@localhost";
constexpr char kBranch[] = "main";
// Held while a store runs, so that stores of several processes take turns.
constexpr char kLockName[] = "quellin-history.lock";
// Where a new repository is made before it takes its place.
constexpr char kMakingName[] = ".quellin-new-history";

std::string PathText(const fs::path& path) {
    return cp932::FromPath(path);
}

Error FileError(const fs::path& path, int error) {
    return SystemError(error, PathText(path));
}

// libgit2's last failure, after the place it happened at.
Error GitError(const fs::path& path) {
    return {ErrorCode::kIo, PathText(path) + ": " + git::LastError()};
}

Error GitError() {
    return {ErrorCode::kIo, git::LastError()};
}

Error Prefixed(const char* prefix, Error error) {
    error.detail = cp932::Jp(prefix) + error.detail;
    return error;
}

bool Writable(const fs::path& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// Minutes east of UTC at that time, as git records it.
int UtcOffsetMinutes(std::int64_t time) {
    std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr)
        return 0;
    return static_cast<int>(local.tm_gmtoff / 60);
}

std::string TimeText(std::int64_t time) {
    std::string text = FormatLocalTime(time, "%Y/%m/%d %H:%M:%S");
    return text.empty() ? std::to_string(time) : text;
}

// Set in a test's environment, kills the process at that step of the
// history's creation, as a power cut or `kill -9` would.
void KillHereForTests(const char* step) {
    const char* at = std::getenv("QUELLIN_TEST_KILL_AT");
    if (at != nullptr && std::strcmp(at, step) == 0)
        ::raise(SIGKILL);
}

// What a creation killed part-way by an older quellin left: a .git without
// HEAD that stores nothing (no file below objects/ or refs/).  Anything
// else is a repository, however damaged, and is never taken for one.
bool HalfMade(const fs::path& gitFolder) {
    struct stat info {};
    if (::lstat(gitFolder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        ::lstat((gitFolder / "HEAD").c_str(), &info) == 0 || errno != ENOENT)
        return false;
    for (const char* part : {"objects", "refs"}) {
        std::error_code ec;
        fs::recursive_directory_iterator it(gitFolder / part, ec);
        if (ec && ec != std::errc::no_such_file_or_directory)
            return false;
        // A fresh repository holds a handful of empty folders.
        for (int entries = 0; !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            if (++entries > 64 || !it->is_directory(ec) || it->is_symlink(ec))
                return false;
        if (ec && ec != std::errc::no_such_file_or_directory)
            return false;
    }
    return true;
}

// git's own lock files that a store meets.  Stores take turns under the
// history's lock, so one found while it is held is not a store's: it is
// held by a git command of the administrator's in the folder, or was left
// by a store or git command that was killed.  git keeps a lock for as long
// as its command runs (`git commit -a` through the whole editing of the
// message, without keeping the file open, so no process in /proc names its
// holder), which leaves the lock's age to tell them apart: one older than
// this is left over.  Ten minutes is the longest one router dialogue, and so
// one device's backup, takes by default; no git command but one waiting for
// its user holds a lock that long, and a killed store holds up the backups
// after it no longer than that.
constexpr std::time_t kStaleGitLockSeconds = 10 * 60;
// How long a store waits for a live lock to go (git status takes the
// index's for moments) before it gives up, having written nothing.
constexpr int kLiveGitLockPolls = 20;
constexpr auto kLiveGitLockPoll = std::chrono::milliseconds(100);

// Removes the stale locks; the path of a live one that stays, or empty.
fs::path ClearGitLocks(const fs::path& gitFolder) {
    for (int poll = 0;; ++poll) {
        std::vector<fs::path> locks;
        for (const char* name : {"index.lock", "HEAD.lock", "packed-refs.lock"})
            locks.push_back(gitFolder / name);
        // Branch locks only in the repository's own folders, not through a link.
        std::error_code ec;
        const fs::path heads = gitFolder / "refs" / "heads";
        fs::directory_iterator entry(heads, ec);
        if (fs::is_symlink(gitFolder / "refs", ec) || fs::is_symlink(heads, ec))
            entry = {};
        // The repository has one branch; a folder of many is not this one's.
        for (int n = 0; entry != fs::directory_iterator() && n < 1000; entry.increment(ec), ++n)
            if (entry->path().extension() == ".lock")
                locks.push_back(entry->path());
        fs::path live;
        for (const fs::path& lock : locks) {
            struct stat info {};
            if (::lstat(lock.c_str(), &info) != 0)
                continue;
            if (std::time(nullptr) - info.st_mtime > kStaleGitLockSeconds)
                ::unlink(lock.c_str());
            else
                live = lock;
        }
        if (live.empty() || poll == kLiveGitLockPolls)
            return live;
        std::this_thread::sleep_for(kLiveGitLockPoll);
    }
}

// An exclusive flock on a file, released when the object goes.  The file
// is in a folder the installation's group writes, so a link planted in its
// place is never followed.  Or on a folder itself (a link to a folder is
// the administrator's to make).
class ProcessLock {
public:
    enum Kind { kFile, kFolder };
    explicit ProcessLock(const fs::path& path, Kind kind = kFile) {
        fd_ = UniqueFd(kind == kFile
                           ? ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0664)
                           : ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!fd_.valid()) {
            error_ = errno;
            return;
        }
        int result;
        do {
            result = ::flock(fd_.get(), LOCK_EX);
        } while (result != 0 && errno == EINTR);
        if (result != 0)
            error_ = errno;
    }
    bool held() const { return fd_.valid() && error_ == 0; }
    int error() const { return error_; }

private:
    UniqueFd fd_;
    int error_ = 0;
};

// Makes the repository in a folder of its own inside the history folder
// and moves its .git into place whole, so that a creation killed part-way
// leaves no .git behind, only that folder, which the next creation clears.
// Creations of several processes take turns on the history folder's lock;
// one that finds the repository made meanwhile uses it.
Result<void> CreateRepository(const fs::path& folder) {
    auto fail = [](Error error) { return Prefixed("構成定義の履歴を作成できません: ", error); };
    ProcessLock lock(folder, ProcessLock::kFolder);
    if (!lock.held())
        return fail(FileError(folder, lock.error()));
    const fs::path gitFolder = folder / ".git";
    std::error_code ec;
    const bool halfMade = HalfMade(gitFolder);
    if (fs::is_directory(gitFolder, ec) && !halfMade)
        return {};
    const fs::path making = folder / kMakingName;
    if (halfMade)
        fs::remove_all(gitFolder, ec);
    fs::remove_all(making, ec);
    if (::mkdir(making.c_str(), 0700) != 0)
        return fail(FileError(making, errno));
    git_repository_init_options options = GIT_REPOSITORY_INIT_OPTIONS_INIT;
    options.flags = GIT_REPOSITORY_INIT_MKPATH;
    // Root, the operator and the installation's group all store here.
    options.mode = GIT_REPOSITORY_INIT_SHARED_GROUP;
    options.initial_head = kBranch;
    git_repository* made = nullptr;
    if (git_repository_init_ext(&made, making.c_str(), &options) != 0)
        return fail(GitError(folder));
    git_repository_free(made);
    KillHereForTests("history-made");
    if (::rename((making / ".git").c_str(), gitFolder.c_str()) != 0)
        return fail(FileError(gitFolder, errno));
    fs::remove(making, ec);
    return {};
}

// What a commit of the device's configuration says: the device and the time.
std::string CommitMessage(const std::string& deviceName, const std::string& file,
                          std::int64_t time) {
    const std::string name = cp932::ToUtf8Lossy(deviceName);
    return name + ": " + TimeText(time) + "\n\nDevice: " + name + "\nFile: " + file +
           "\nRead at: " + TimeText(time) + "\n";
}

// The folder made when missing, both it and the repository writable, and
// the repository made when missing.
Result<void> PrepareForWriting(const fs::path& folder, bool exists) {
    std::error_code ec;
    const fs::path gitFolder = folder / ".git";
    if (!fs::is_directory(folder, ec) && ::mkdir(folder.c_str(), 0775) != 0) {
        const int reason = errno;
        if (reason != EEXIST || !fs::is_directory(folder, ec))
            return Prefixed("構成定義の履歴フォルダを作成できません: ",
                            FileError(folder, reason == EEXIST ? ENOTDIR : reason));
    }
    if (!Writable(folder) || (exists && !Writable(gitFolder)))
        return Prefixed("構成定義の履歴フォルダに書き込めません: ",
                        FileError(Writable(folder) ? gitFolder : folder, EACCES));
    if (!exists)
        return CreateRepository(folder);
    return {};
}

// Every place a store writes must take writing, not only the top, and the
// stores' lock must be there to take.
Result<void> CheckStorePlaces(const fs::path& gitFolder) {
    std::error_code ec;
    for (const char* part : {"objects", "refs/heads"}) {
        const fs::path place = gitFolder / part;
        if (fs::exists(place, ec) && !Writable(place))
            return Prefixed("構成定義の履歴フォルダに書き込めません: ", FileError(place, EACCES));
    }
    ProcessLock lock(gitFolder / kLockName);
    if (!lock.held())
        return Prefixed("構成定義の履歴フォルダに書き込めません: ",
                        FileError(gitFolder / kLockName, lock.error()));
    return {};
}

}  // namespace

struct ConfigHistory::Repository {
    git::Repository repo;

    // The commit HEAD names; null with `unborn` set in a repository without
    // commits, null without it on failure.
    git::Commit Head(bool& unborn) const {
        unborn = false;
        git_reference* head = nullptr;
        int result = git_repository_head(&head, repo.get());
        if (result == GIT_EUNBORNBRANCH || result == GIT_ENOTFOUND) {
            unborn = true;
            return nullptr;
        }
        if (result != 0)
            return nullptr;
        git::Reference owned(head);
        git_object* peeled = nullptr;
        if (git_reference_peel(&peeled, head, GIT_OBJECT_COMMIT) != 0)
            return nullptr;
        return git::Commit(reinterpret_cast<git_commit*>(peeled));
    }

    git::Tree TreeOf(const git_commit* commit) const {
        git_tree* tree = nullptr;
        if (commit == nullptr || git_commit_tree(&tree, commit) != 0)
            return nullptr;
        return git::Tree(tree);
    }

    // The file's blob id in the tree; false when the tree has no such file.
    static bool FileId(const git_tree* tree, const std::string& file, git_oid& id) {
        if (tree == nullptr)
            return false;
        git_tree_entry* entry = nullptr;
        if (git_tree_entry_bypath(&entry, tree, file.c_str()) != 0)
            return false;
        git::TreeEntry owned(entry);
        if (git_tree_entry_type(entry) != GIT_OBJECT_BLOB)
            return false;
        git_oid_cpy(&id, git_tree_entry_id(entry));
        return true;
    }

    std::optional<std::string> BlobText(const git_oid& id) const {
        git_blob* blob = nullptr;
        if (git_blob_lookup(&blob, repo.get(), &id) != 0)
            return std::nullopt;
        git::Blob owned(blob);
        const auto* bytes = static_cast<const char*>(git_blob_rawcontent(blob));
        return std::string(bytes, static_cast<std::size_t>(git_blob_rawsize(blob)));
    }

    // The file's text in the commit: empty when the commit has no such
    // file (present reports which); nullopt when it cannot be read.
    std::optional<std::string> TextIn(const git_commit* commit, const std::string& file,
                                      bool& present) const {
        git::Tree tree = TreeOf(commit);
        git_oid id;
        present = FileId(tree.get(), file, id);
        if (!present)
            return std::string();
        return BlobText(id);
    }

    // The parent's tree with the file holding the text.
    Result<git::Tree> TreeWith(const git_tree* parentTree, const std::string& file,
                               std::string_view text, const fs::path& folder) const {
        git_oid blobId;
        if (git_blob_create_from_buffer(&blobId, repo.get(), text.data(), text.size()) != 0)
            return GitError(folder);
        git_treebuilder* rawBuilder = nullptr;
        if (git_treebuilder_new(&rawBuilder, repo.get(), parentTree) != 0)
            return GitError();
        std::unique_ptr<git_treebuilder, git::Deleter<git_treebuilder, git_treebuilder_free>>
            builder(rawBuilder);
        git_oid treeId;
        if (git_treebuilder_insert(nullptr, rawBuilder, file.c_str(), &blobId, GIT_FILEMODE_BLOB) !=
                0 ||
            git_treebuilder_write(&treeId, rawBuilder) != 0)
            return GitError(folder);
        git_tree* rawTree = nullptr;
        if (git_tree_lookup(&rawTree, repo.get(), &treeId) != 0)
            return GitError();
        return git::Tree(rawTree);
    }

    // The new commit of the tree on HEAD, made at `time`; its full id.
    Result<std::string> Commit(const git_commit* parent, const git_tree* tree,
                               const std::string& message, std::int64_t time,
                               const fs::path& folder) const {
        git_signature* rawSignature = nullptr;
        if (git_signature_new(&rawSignature, kAuthor, kEmail, time, UtcOffsetMinutes(time)) != 0)
            return GitError();
        git::Signature signature(rawSignature);
        const git_commit* parents[] = {parent};
        git_oid commitId;
        if (git_commit_create(&commitId, repo.get(), "HEAD", signature.get(), signature.get(),
                              nullptr, message.c_str(), tree, parent != nullptr ? 1 : 0,
                              parents) != 0)
            return GitError(folder);
        return git::Hex(commitId);
    }

    // The commit of one of the device's versions that the revision names.
    Result<git::Commit> StoredVersion(const std::string& revision, const std::string& deviceName,
                                      const std::vector<ConfigHistory::Version>& versions) const {
        int code = 0;
        git::Commit commit = Resolve(revision, code);
        const std::string named = cp932::FromUtf8Lossy(revision);
        const bool hex = !revision.empty() &&
                         revision.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        if (code == GIT_EAMBIGUOUS || (!commit && hex && revision.size() < GIT_OID_MINPREFIXLEN))
            return Error{ErrorCode::kBadArgument,
                         named + " is too short to name one version; give more of it"};
        if (!commit)
            return Error{ErrorCode::kNotFound, cp932::Jp("そのような版はありません: ") + named};
        const std::string id = git::Hex(*git_commit_id(commit.get()));
        if (std::ranges::none_of(versions, [&](const auto& v) { return v.commit == id; }))
            return Error{ErrorCode::kNotFound, named + " is not a stored version of " + deviceName};
        return commit;
    }

    // The commit a revision names; nullptr with git's error code in `code`.
    git::Commit Resolve(const std::string& revision, int& code) const {
        git_object* object = nullptr;
        code = git_revparse_single(&object, repo.get(), revision.c_str());
        if (code != 0)
            return nullptr;
        git::Object owned(object);
        git_object* peeled = nullptr;
        if (git_object_peel(&peeled, object, GIT_OBJECT_COMMIT) != 0)
            return nullptr;
        return git::Commit(reinterpret_cast<git_commit*>(peeled));
    }
};

std::string ShortCommit(const std::string& commit) {
    return commit.substr(0, 12);
}

ConfigHistory::ConfigHistory(fs::path folder, std::unique_ptr<Repository> repository)
    : folder_(std::move(folder)), repository_(std::move(repository)) {}

ConfigHistory::~ConfigHistory() = default;

Result<std::unique_ptr<ConfigHistory>> ConfigHistory::Open(const fs::path& folder, Access access) {
    git::Initialise();
    const fs::path gitFolder = folder / ".git";
    std::error_code ec;
    // A half-made .git holds no history: it is made anew.
    const bool exists = fs::is_directory(gitFolder, ec) && !HalfMade(gitFolder);
    if (access == Access::kRead && !exists)
        return Error{ErrorCode::kNotFound,
                     cp932::Jp("構成定義の履歴はまだありません: ") + PathText(folder)};
    if (access == Access::kWrite) {
        if (Result<void> prepared = PrepareForWriting(folder, exists); !prepared)
            return prepared.error();
    }
    git_repository* repo = nullptr;
    if (git_repository_open_ext(&repo, folder.c_str(), GIT_REPOSITORY_OPEN_NO_SEARCH, nullptr) != 0)
        return GitError(folder);
    auto repository = std::make_unique<Repository>();
    repository->repo.reset(repo);
    if (access == Access::kWrite) {
        if (Result<void> writable = CheckStorePlaces(gitFolder); !writable)
            return writable.error();
    }
    return std::unique_ptr<ConfigHistory>(new ConfigHistory(folder, std::move(repository)));
}

Result<ConfigHistory::Stored> ConfigHistory::Store(const std::string& deviceName,
                                                   std::string_view text, std::int64_t time) {
    std::lock_guard guard(mutex_);
    if (deviceName.empty())
        return Error{ErrorCode::kBadArgument, cp932::Jp("装置名がありません。")};
    const std::string file = DeviceFileName(deviceName);
    const fs::path workingFile = folder_ / file;
    // A name longer than the folder can take would be committed but never
    // written out, and would then pass for unchanged.
    if (file.size() > NAME_MAX)
        return Error{ErrorCode::kTooLong,
                     std::string(std::strerror(ENAMETOOLONG)) + ": " + PathText(workingFile)};

    ProcessLock lock(folder_ / ".git" / kLockName);
    if (!lock.held())
        return FileError(folder_ / ".git" / kLockName, lock.error());

    bool unborn = false;
    git::Commit parent = repository_->Head(unborn);
    if (!parent && !unborn)
        return GitError(folder_);
    git::Tree parentTree = repository_->TreeOf(parent.get());

    git_oid blobId;
    if (git_odb_hash(&blobId, text.data(), text.size(), GIT_OBJECT_BLOB) != 0)
        return GitError();
    git_oid storedId;
    if (Repository::FileId(parentTree.get(), file, storedId) && git_oid_equal(&storedId, &blobId)) {
        // The working file is only a copy for the administrator: one that
        // cannot be written back leaves the history whole.
        std::error_code ec;
        if (!fs::exists(workingFile, ec))
            static_cast<void>(ReplaceFile(workingFile, text));
        return Stored{};
    }

    if (const fs::path live = ClearGitLocks(folder_ / ".git"); !live.empty())
        return Error{ErrorCode::kBusy,
                     cp932::Jp("構成定義の履歴を git が使用中です: ") + PathText(live)};
    Result<git::Tree> tree = repository_->TreeWith(parentTree.get(), file, text, folder_);
    if (!tree)
        return tree.error();
    Result<std::string> commit = repository_->Commit(
        parent.get(), tree->get(), CommitMessage(deviceName, file, time), time, folder_);
    if (!commit)
        return commit.error();

    // The working folder and its index follow the new commit, so that git
    // finds the folder clean.
    if (!ReplaceFile(workingFile, text))
        return FileError(workingFile, errno);
    git_index* rawIndex = nullptr;
    if (git_repository_index(&rawIndex, repository_->repo.get()) == 0) {
        git::Index index(rawIndex);
        if (git_index_read_tree(rawIndex, tree->get()) != 0 || git_index_write(rawIndex) != 0)
            return GitError(folder_);
    }
    return Stored{true, std::move(*commit)};
}

Result<std::vector<ConfigHistory::Version>> ConfigHistory::History(const std::string& deviceName) {
    std::lock_guard guard(mutex_);
    git_repository* repo = repository_->repo.get();
    const std::string file = DeviceFileName(deviceName);
    std::vector<Version> versions;

    git_revwalk* rawWalk = nullptr;
    if (git_revwalk_new(&rawWalk, repo) != 0)
        return GitError();
    git::RevisionWalk walk(rawWalk);
    git_revwalk_sorting(rawWalk, GIT_SORT_TOPOLOGICAL | GIT_SORT_TIME);
    const int pushed = git_revwalk_push_head(rawWalk);
    if (pushed == GIT_EUNBORNBRANCH || pushed == GIT_ENOTFOUND)
        return versions;
    if (pushed != 0)
        return GitError();
    git_oid id;
    while (git_revwalk_next(&id, rawWalk) == 0) {
        git_commit* rawCommit = nullptr;
        if (git_commit_lookup(&rawCommit, repo, &id) != 0)
            return GitError();
        git::Commit commit(rawCommit);
        git::Tree tree = repository_->TreeOf(rawCommit);
        git_oid fileId;
        if (!Repository::FileId(tree.get(), file, fileId))
            continue;
        git::Commit parent;
        if (git_commit_parentcount(rawCommit) > 0) {
            git_commit* rawParent = nullptr;
            if (git_commit_parent(&rawParent, rawCommit, 0) == 0)
                parent.reset(rawParent);
        }
        git::Tree parentTree = repository_->TreeOf(parent.get());
        git_oid before;
        const bool existed = Repository::FileId(parentTree.get(), file, before);
        if (existed && git_oid_equal(&before, &fileId))
            continue;
        auto now = repository_->BlobText(fileId);
        auto was = existed ? repository_->BlobText(before) : std::optional<std::string>("");
        if (!now || !was)
            return GitError();
        Version version;
        version.time = git_commit_time(rawCommit);
        version.commit = git::Hex(id);
        version.changes = CountLineChanges(*was, *now);
        versions.push_back(std::move(version));
    }
    return versions;
}

Result<std::string> ConfigHistory::Diff(const std::string& deviceName,
                                        const std::vector<std::string>& revisions) {
    if (revisions.size() > 2)
        return Error{ErrorCode::kBadArgument, "at most two versions"};
    // Every end is one of the device's own versions: another device's
    // commit (or "HEAD~1", which may be one) would show that device's change.
    Result<std::vector<Version>> versions = History(deviceName);
    if (!versions)
        return versions.error();
    if (versions->empty())
        return Error{ErrorCode::kNotFound,
                     cp932::Jp("保存された構成定義がありません: ") + deviceName};
    std::vector<std::string> ends = revisions;
    if (ends.empty()) {
        // The last change: from the version before the newest.
        ends.push_back(versions->size() > 1 ? (*versions)[1].commit : std::string());
        ends.push_back((*versions)[0].commit);
    } else if (ends.size() == 1) {
        ends.push_back((*versions)[0].commit);
    }

    std::lock_guard guard(mutex_);
    const std::string file = DeviceFileName(deviceName);
    std::string texts[2];
    std::string labels[2];
    for (int i = 0; i < 2; ++i) {
        if (ends[i].empty()) {
            labels[i] = deviceName + " (" + cp932::Jp("なし") + ")";
            continue;
        }
        Result<git::Commit> commit = repository_->StoredVersion(ends[i], deviceName, *versions);
        if (!commit)
            return commit.error();
        bool present = false;
        auto text = repository_->TextIn(commit->get(), file, present);
        if (!text)
            return GitError();
        texts[i] = std::move(*text);
        labels[i] = deviceName + " " + ShortCommit(git::Hex(*git_commit_id(commit->get()))) + " " +
                    TimeText(git_commit_time(commit->get())) +
                    (present ? std::string() : " (" + cp932::Jp("なし") + ")");
    }
    return UnifiedDiff(texts[0], texts[1], labels[0], labels[1]);
}

}  // namespace quellin::history
