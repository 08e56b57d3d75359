#include "syslog_presenter.h"

#include "codec.h"

#include <utility>

namespace quellin::syslogd {
namespace {

// Two texts of one source side by side, as the status area separates them.
void Join(std::string& text, const std::string& more) {
    if (more.empty())
        return;
    if (!text.empty())
        text += "  ";
    text += more;
}

}  // namespace

SyslogPresenter::Turn SyslogPresenter::Present(WindowQueue::Delivery delivery,
                                               std::uint64_t mailsHeldBack) {
    Turn turn;
    for (WindowItem& item : delivery.items) {
        if (item.row)
            turn.rows.push_back(std::move(*item.row));
        if (!item.alert)
            continue;
        AlertOrder& alert = *item.alert;
        if (alert.showPopup)
            turn.popupText = std::move(alert.popupText);
        if (alert.sound != AlertSound::None)
            turn.sound = Sound{alert.sound, alert.settings->wavPath};
        if (alert.sendMail)
            turn.mails.push_back(std::move(alert));
    }
    turn.more = delivery.more;

    if (delivery.logStatus) {
        OnLogStatus(*delivery.logStatus);
        turn.noticeChanged = true;
    }
    if (delivery.forwardStatus) {
        OnForwardStatus(*delivery.forwardStatus);
        turn.noticeChanged = true;
    }
    if (delivery.storeStatus) {
        OnStoreStatus(*delivery.storeStatus);
        turn.noticeChanged = true;
    }
    if (mailsHeldBack != heldBackMails_) {
        heldBackMails_ = mailsHeldBack;
        turn.noticeChanged = true;
    }
    if (delivery.heldBackRows != 0 || delivery.heldBackAlerts != 0) {
        heldBackRows_ += delivery.heldBackRows;
        heldBackAlerts_ += delivery.heldBackAlerts;
        turn.noticeChanged = true;
    }
    if (turn.noticeChanged)
        UpdateNotice();
    return turn;
}

void SyslogPresenter::OnLogStatus(const LogWriteStatus& status) {
    logNotice_.clear();
    if (status.failing) {
        logNotice_ = cp932::Jp("受信ログを書き込めません: ") + status.path;
        if (!status.reason.empty())
            logNotice_ += " (" + status.reason + ")";
    }
    // Lost lines stay said after the log is written again: the file lacks
    // them for good.
    if (status.lostLines != 0) {
        Join(logNotice_, cp932::Jp("受信ログに書き込めなかった行 ") +
                             std::to_string(status.lostLines) + cp932::Jp(" 件"));
    }
}

void SyslogPresenter::OnForwardStatus(const ForwardStatus& status) {
    forwardNotice_.clear();
    // Forwarding switched off: nothing more to say about it.
    if (status.target.empty())
        return;
    if (status.failing) {
        forwardNotice_ = cp932::Jp("転送先 ") + status.target + cp932::Jp(" に送れません (") +
                         status.reason + ")";
    }
    if (status.dropped != 0) {
        Join(forwardNotice_, cp932::Jp("転送できなかったメッセージ ") +
                                 std::to_string(status.dropped) + cp932::Jp(" 件"));
    }
}

void SyslogPresenter::OnStoreStatus(const syslogstore::StoreWriteStatus& status) {
    storeNotice_.clear();
    if (status.failure) {
        storeNotice_ = cp932::Jp("検索用データベースに書き込めません: ") + status.path + " (" +
                       status.failure->detail + cp932::Jp(")。後で書き込み直します。");
    }
    if (status.dropped != 0) {
        Join(storeNotice_, cp932::Jp("検索用データベースに保存できなかったメッセージ ") +
                               std::to_string(status.dropped) + cp932::Jp(" 件"));
    }
    if (!status.movedAside.empty()) {
        storeMovedAside_ = cp932::Jp("壊れた検索用データベースを ") + status.movedAside +
                           cp932::Jp(" に移し、新しく作りました。");
    }
}

void SyslogPresenter::SetReceptionNotice(const std::string& text) {
    receptionNotice_ = text;
    UpdateNotice();
}

void SyslogPresenter::SetMailFailure(bool failing, const std::string& reason) {
    mailNotice_ = failing ? cp932::Jp("メールを送信できません: ") + reason : std::string();
    UpdateNotice();
}

void SyslogPresenter::UpdateNotice() {
    notice_.clear();
    Join(notice_, logNotice_);
    Join(notice_, mailNotice_);
    Join(notice_, forwardNotice_);
    Join(notice_, storeNotice_);
    Join(notice_, receptionNotice_);
    Join(notice_, storeMovedAside_);
    if (heldBackMails_ != 0) {
        Join(notice_, cp932::Jp("送信を待つメールが多すぎるため、メール ") +
                          std::to_string(heldBackMails_) + cp932::Jp(" 件を送りませんでした。"));
    }
    if (heldBackAlerts_ != 0 || heldBackRows_ != 0) {
        // The window fell so far behind that the hand-over from reception
        // was full; the log has every message all the same.
        Join(notice_, cp932::Jp("表示が追いつかず、警告 ") + std::to_string(heldBackAlerts_) +
                          cp932::Jp(" 件と一覧の行 ") + std::to_string(heldBackRows_) +
                          cp932::Jp(" 件を省きました。"));
    }
}

}  // namespace quellin::syslogd
