// How Setup names a system error in its message boxes: a description, a
// blank and the error number, the description in Japanese for the errors
// an installation meets.
#pragma once

#include <string>

namespace quellin::setup {

// "description number" in CP932.  Errors without a Japanese description
// keep the system's own (English) one.
std::string DescribeError(int error);

// The desktop shortcut cannot be placed without a home folder.
inline constexpr const char* kHomeNotSet =
    "環境変数 HOME が設定されていないため、デスクトップにショートカットを作成できません。";

}  // namespace quellin::setup
