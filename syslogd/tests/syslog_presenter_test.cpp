// What the main window is told to do with a delivery, without a display.
#include "syslog_presenter.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::Sjis;

WindowItem Item(std::optional<ListRow> row, const SettingsSnapshot& settings = nullptr,
                std::string text = "", bool popup = false, AlertSound sound = AlertSound::None,
                bool mail = false) {
    if (!settings)
        return {std::move(row), std::nullopt};
    return {std::move(row), AlertOrder{settings, 0, popup, text, sound, mail, text, 0}};
}

TEST(SyslogPresenter, RowsInOrderTheLastPopupAndSoundAndEveryMail) {
    auto settings = std::make_shared<SyslogdSettings>();
    settings->wavPath = "/sounds/alert.wav";
    WindowQueue::Delivery delivery;
    delivery.items.push_back(Item(ListRow{"t", "s", "User", "Notice", "one"}));
    delivery.items.push_back(Item(std::nullopt, settings, "first", true, AlertSound::Beep, true));
    delivery.items.push_back(Item(ListRow{"t", "s", "User", "Notice", "two"}, settings, "second",
                                  true, AlertSound::WaveFile));
    delivery.items.push_back(Item(std::nullopt, settings, "quiet", false, AlertSound::None, true));
    delivery.more = true;
    SyslogPresenter presenter;
    SyslogPresenter::Turn turn = presenter.Present(std::move(delivery), 0);
    ASSERT_EQ(turn.rows.size(), 2u);
    EXPECT_EQ(turn.rows[1][4], "two");
    EXPECT_EQ(turn.popupText, "second");
    ASSERT_TRUE(turn.sound);
    EXPECT_EQ(turn.sound->kind, AlertSound::WaveFile);
    EXPECT_EQ(turn.sound->wavPath, "/sounds/alert.wav");
    ASSERT_EQ(turn.mails.size(), 2u);
    EXPECT_EQ(turn.mails[1].mailText, "quiet");
    EXPECT_TRUE(turn.more);
    EXPECT_FALSE(turn.noticeChanged);
    EXPECT_EQ(presenter.notice(), "");
}

TEST(SyslogPresenter, StatusAreaSaysWhatFailsAndWhatWasLost) {
    SyslogPresenter presenter;
    WindowQueue::Delivery delivery;
    delivery.logStatus = LogWriteStatus{true, "/var/log/s.txt", Sjis("許可がありません"), 0};
    EXPECT_TRUE(presenter.Present(std::move(delivery), 0).noticeChanged);
    EXPECT_EQ(presenter.notice(),
              Sjis("受信ログを書き込めません: /var/log/s.txt (許可がありません)"));

    delivery = {};
    delivery.logStatus = LogWriteStatus{false, "/var/log/s.txt", "", 2};
    delivery.forwardStatus = ForwardStatus{"c:514 (TCP)", true, Sjis("接続できません"), 5};
    delivery.heldBackRows = 7;
    delivery.heldBackAlerts = 26;
    presenter.SetMailFailure(true, Sjis("ログインを拒否されました"));
    presenter.Present(std::move(delivery), 3);
    const std::string counts = Sjis(
        "送信を待つメールが多すぎるため、メール 3 件を送りませんでした。  表示が追いつかず、"
        "警告 26 件と一覧の行 7 件を省きました。");
    EXPECT_EQ(presenter.notice(),
              Sjis("受信ログに書き込めなかった行 2 件  メールを送信できません: "
                   "ログインを拒否されました  転送先 c:514 (TCP) に送れません (接続できません)  "
                   "転送できなかったメッセージ 5 件  ") +
                  counts);

    // Mail going out again and forwarding switched off leave nothing to say
    // of them; what was lost stays said.
    presenter.SetMailFailure(false, "");
    delivery = {};
    delivery.forwardStatus = ForwardStatus{};
    presenter.Present(std::move(delivery), 3);
    EXPECT_EQ(presenter.notice(), Sjis("受信ログに書き込めなかった行 2 件  ") + counts);
}

}  // namespace
}  // namespace quellin::syslogd

namespace quellin::syslogd {
namespace {

TEST(SyslogPresenter, StoreFailureIsSaidUntilWritingWorksAgain) {
    SyslogPresenter presenter;
    WindowQueue::Delivery delivery;
    delivery.storeStatus = {"/q/s.db", Error{ErrorCode::kDiskFull, "disk full"}, 4, ""};
    presenter.Present(std::move(delivery), 0);
    EXPECT_EQ(presenter.notice(), Sjis("検索用データベースに書き込めません: /q/s.db (disk full)。"
                                       "後で書き込み直します。  検索用データベースに保存できな"
                                       "かったメッセージ 4 件"));
    delivery = {};
    delivery.storeStatus = {"/q/s.db", std::nullopt, 0, ""};
    presenter.Present(std::move(delivery), 0);
    EXPECT_EQ(presenter.notice(), "");
}

}  // namespace
}  // namespace quellin::syslogd
