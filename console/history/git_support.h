// What the history's modules share about libgit2: its one-time set-up,
// owners for its objects, and its error text.
#pragma once

#include <git2.h>

#include <memory>
#include <string>
#include <string_view>

namespace quellin::history::git {

// Sets libgit2 up once per process.  The repository belongs to the
// installation, which root, the operator and the web server's group share,
// so its owner is not checked; and no user's or system's git configuration
// is read, so that nothing outside the installation changes what is stored.
void Initialise();

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

using Repository = Owned<git_repository, git_repository_free>;
using Index = Owned<git_index, git_index_free>;
using Tree = Owned<git_tree, git_tree_free>;
using TreeEntry = Owned<git_tree_entry, git_tree_entry_free>;
using Commit = Owned<git_commit, git_commit_free>;
using Reference = Owned<git_reference, git_reference_free>;
using Signature = Owned<git_signature, git_signature_free>;
using Blob = Owned<git_blob, git_blob_free>;
using Object = Owned<git_object, git_object_free>;
using RevisionWalk = Owned<git_revwalk, git_revwalk_free>;
using Patch = Owned<git_patch, git_patch_free>;

// libgit2's text for the last failure on this thread (CP932; its paths and
// messages are UTF-8 or ASCII).
std::string LastError();

// The full hexadecimal commit id.
std::string Hex(const git_oid& id);

}  // namespace quellin::history::git
