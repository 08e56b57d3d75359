#include "system_error_text.h"

#include "codec.h"

#include <cerrno>

namespace quellin::syslogd {

std::string SystemErrorText(int error) {
    const char* text = nullptr;
    switch (error) {
        case ECONNREFUSED:
            text = "接続を拒否されました";
            break;
        case ETIMEDOUT:
            text = "応答がありません";
            break;
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
            text = "相手に到達できません";
            break;
        case ECONNRESET:
        case ECONNABORTED:
            text = "接続が切断されました";
            break;
        case EPIPE:
            text = "接続が閉じられています";
            break;
        case ENOSPC:
            text = "ディスクの空きがありません";
            break;
        case EDQUOT:
            text = "ディスクの使用量の上限に達しました";
            break;
        case EFBIG:
            text = "ファイルが大きすぎます";
            break;
        case EACCES:
        case EPERM:
            text = "アクセス権がありません";
            break;
        case ENOENT:
        case ENOTDIR:
            text = "フォルダまたはファイルがありません";
            break;
        case EROFS:
            text = "読み取り専用のファイルシステムです";
            break;
        case EIO:
            text = "入出力エラーです";
            break;
        case ENOMEM:
        case ENOBUFS:
            text = "メモリが足りません";
            break;
        case EMFILE:
        case ENFILE:
            text = "開いているファイルが多すぎます";
            break;
        default:
            return cp932::Jp("システムエラー ") + std::to_string(error);
    }
    return cp932::Jp(text);
}

}  // namespace quellin::syslogd
