#include "error_text.h"

#include "codec.h"

#include <cerrno>
#include <cstring>

namespace quellin::setup {
namespace {

const char* JapaneseDescription(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return "アクセスが拒否されました。";
        case ENOSPC:
        case EDQUOT:
            return "ディスクに十分な空き領域がありません。";
        case ENOENT:
            return "指定されたファイルまたはフォルダが見つかりません。";
        case ENOTDIR:
            return "パスの途中にフォルダではないファイルがあります。";
        case EROFS:
            return "読み取り専用のファイルシステムには書き込めません。";
        case EEXIST:
            return "同じ名前のファイルが既に存在します。";
        case EISDIR:
            return "ファイルではなくフォルダです。";
        case ENAMETOOLONG:
            return "ファイル名またはパスが長すぎます。";
        case ELOOP:
            return "シンボリックリンクの参照が多すぎます。";
        case ETXTBSY:
            return "ファイルは実行中のため書き換えられません。";
        case EBUSY:
            return "ファイルまたはフォルダは使用中です。";
        case EINVAL:
            return "パラメーターが間違っています。";
        case EIO:
            return "入出力エラーが発生しました。";
        case EMFILE:
        case ENFILE:
            return "開いているファイルが多すぎます。";
        case ENOMEM:
            return "メモリが不足しています。";
        default:
            return nullptr;
    }
}

}  // namespace

std::string DescribeError(int error) {
    const char* japanese = JapaneseDescription(error);
    const std::string description =
        japanese != nullptr ? cp932::Jp(japanese) : std::string(std::strerror(error));
    return description + " " + std::to_string(error);
}

}  // namespace quellin::setup
