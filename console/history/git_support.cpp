#include "git_support.h"

#include "codec.h"

#include <mutex>

namespace quellin::history::git {

void Initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        git_libgit2_init();
        git_libgit2_opts(GIT_OPT_SET_OWNER_VALIDATION, 0);
        for (int level : {GIT_CONFIG_LEVEL_SYSTEM, GIT_CONFIG_LEVEL_XDG, GIT_CONFIG_LEVEL_GLOBAL,
                          GIT_CONFIG_LEVEL_PROGRAMDATA})
            git_libgit2_opts(GIT_OPT_SET_SEARCH_PATH, level, "");
    });
}

std::string LastError() {
    const git_error* error = git_error_last();
    if (error == nullptr || error->message == nullptr)
        return "unknown libgit2 error";
    return cp932::FromUtf8Lossy(error->message);
}

std::string Hex(const git_oid& id) {
    char text[GIT_OID_HEXSZ + 1] = {};
    git_oid_tostr(text, sizeof text, &id);
    return text;
}

}  // namespace quellin::history::git
