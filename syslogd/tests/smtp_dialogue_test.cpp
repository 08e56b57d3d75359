#include "smtp_dialogue.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;
using State = SmtpDialogue::State;

TEST(SmtpReplyReaderTest, MultiLineReplyIsOneReplyAtItsLastLine) {
    SmtpReplyReader reader;
    reader.Feed("220-first\r\n220-second\r\n220 last\r\n");
    auto reply = reader.Next();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->code, 220);
    EXPECT_EQ(reply->lastLine, "220 last");
    EXPECT_FALSE(reader.Next());
}

TEST(SmtpReplyReaderTest, ConsumesEveryCompleteLineAndKeepsThePartialOne) {
    SmtpReplyReader reader;
    reader.Feed("250 ok\r\n354 go");
    EXPECT_EQ(reader.Next()->code, 250);
    EXPECT_FALSE(reader.Next());
    reader.Feed(" ahead\r\n");
    EXPECT_EQ(reader.Next()->code, 354);
}

TEST(SmtpReplyReaderTest, LineSplitAcrossArrivalsAndBareLineFeed) {
    SmtpReplyReader reader;
    reader.Feed("2");
    EXPECT_FALSE(reader.Next());
    reader.Feed("21\r");
    EXPECT_FALSE(reader.Next());
    reader.Feed("\n250\n");
    EXPECT_EQ(reader.Next()->code, 221);
    EXPECT_EQ(reader.Next()->code, 250);
}

struct BadRow {
    std::string name;
    std::string bytes;
};

class SmtpReplyReaderBadTest : public ::testing::TestWithParam<BadRow> {};

TEST_P(SmtpReplyReaderBadTest, IsMalformed) {
    SmtpReplyReader reader;
    reader.Feed(GetParam().bytes);
    EXPECT_FALSE(reader.Next());
    EXPECT_EQ(reader.error(), SmtpReplyError::Malformed);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpReplyReaderBadTest,
    ::testing::Values(BadRow{"two_digits", "22\r\n"}, BadRow{"letters", "abc ok\r\n"},
                      BadRow{"no_separator", "220ok\r\n"},
                      BadRow{"continuation_changes_code", "220-a\r\n250 b\r\n"},
                      BadRow{"empty_line", "\r\n"}),
    quellin::testing::RowName());

TEST(SmtpReplyReaderTest, EndlessLineIsRefused) {
    SmtpReplyReader reader;
    reader.Feed(std::string(SmtpReplyReader::kMaxPending, 'x'));
    EXPECT_EQ(reader.error(), SmtpReplyError::None);
    reader.Feed("x");
    EXPECT_EQ(reader.error(), SmtpReplyError::TooLong);
    EXPECT_FALSE(reader.Next());
}

// Runs the dialogue through the happy path, returning everything it sent.
std::string Converse(SmtpDialogue& dialogue, const std::vector<std::string>& replies) {
    std::string sent;
    for (const std::string& reply : replies) {
        SmtpStep step = dialogue.OnReceived(reply);
        sent += step.send;
        if (step.close)
            break;
    }
    return sent;
}

TEST(SmtpDialogueTest, SendsEachStepAndEndsAfterQuit) {
    SmtpDialogue dialogue("me@x", "a@x,b@x", "Subject: s\r\n\r\nbody\r\n");
    std::string sent =
        Converse(dialogue, {"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n",
                            "354 go\r\n", "250 ok\r\n", "221 bye\r\n"});
    EXPECT_EQ(sent,
              "HELO localhost\r\n"
              "MAIL FROM:<me@x>\r\n"
              "RCPT TO:<a@x>\r\n"
              "RCPT TO:<b@x>\r\n"
              "DATA\r\n"
              "Subject: s\r\n\r\nbody\r\n\r\n.\r\n"
              "QUIT\r\n");
    EXPECT_EQ(dialogue.outcome(), SmtpOutcome::Sent);
    EXPECT_EQ(dialogue.state(), State::Done);
}

// Mails of one server in one session: RSET and MAIL FROM start each next
// one, and one the server refuses keeps none of the others back.
TEST(SmtpDialogueTest, MailsOfOneServerGoInOneSession) {
    SmtpDialogue dialogue("me@x", "a@x", "one\r\n");
    dialogue.Add("b@x", "two\r\n");
    const std::string sent =
        Converse(dialogue, {"220\r\n", "250\r\n", "250\r\n", "550 no such user\r\n", "250\r\n",
                            "250\r\n", "250\r\n", "354\r\n", "250\r\n", "221\r\n"});
    EXPECT_EQ(sent,
              "HELO localhost\r\nMAIL FROM:<me@x>\r\nRCPT TO:<a@x>\r\nRSET\r\nMAIL FROM:<me@x>\r\n"
              "RCPT TO:<b@x>\r\nDATA\r\ntwo\r\n\r\n.\r\nQUIT\r\n");
    EXPECT_EQ(dialogue.outcome(), SmtpOutcome::UnexpectedReply);
    EXPECT_EQ(dialogue.lastLine(), "550 no such user");
}

TEST(SmtpDialogueTest, RecipientsAreNotTrimmed) {
    SmtpDialogue dialogue("me@x", "a@x, b@x,", "m");
    EXPECT_EQ(dialogue.recipients(), (std::vector<std::string>{"a@x", " b@x", ""}));
    std::string sent = Converse(dialogue, {"220\r\n", "250\r\n", "250\r\n", "250\r\n", "250\r\n"});
    EXPECT_NE(sent.find("RCPT TO:< b@x>\r\n"), std::string::npos);
    EXPECT_NE(sent.find("RCPT TO:<>\r\n"), std::string::npos);
}

TEST(SmtpDialogueTest, LineBreaksSeparateRecipientsAndNeverReachACommand) {
    SmtpDialogue dialogue("me@x", "a@x\r\nb@x\r\n\r\nc@x, d@x\r\n", "m");
    EXPECT_EQ(dialogue.recipients(), (std::vector<std::string>{"a@x", "b@x", "c@x", " d@x"}));
    std::string sent =
        Converse(dialogue, {"220\r\n", "250\r\n", "250\r\n", "250\r\n", "250\r\n", "250\r\n"});
    EXPECT_NE(sent.find("RCPT TO:<a@x>\r\nRCPT TO:<b@x>\r\nRCPT TO:<c@x>\r\nRCPT TO:< d@x>\r\n"),
              std::string::npos)
        << sent;
}

TEST(SmtpDialogueTest, TwoLineGreetingInOnePacketStartsOnce) {
    SmtpDialogue dialogue("me@x", "a@x", "m");
    SmtpStep step = dialogue.OnReceived("220-mail.example ESMTP\r\n220 welcome\r\n");
    EXPECT_EQ(step.send, "HELO localhost\r\n");
    EXPECT_FALSE(step.close);
    EXPECT_EQ(dialogue.state(), State::Helo);
}

TEST(SmtpDialogueTest, ForwardingRecipientIsAccepted) {
    SmtpDialogue dialogue("me@x", "a@x,b@x", "m");
    std::string sent = Converse(dialogue, {"220\r\n", "250\r\n", "250\r\n", "251 will forward\r\n",
                                           "251 will forward\r\n"});
    EXPECT_TRUE(sent.ends_with("RCPT TO:<b@x>\r\nDATA\r\n"));
    EXPECT_EQ(dialogue.state(), State::Data);
}

TEST(SmtpDialogueTest, ForwardingCodeDoesNotAnswerMailFrom) {
    SmtpDialogue dialogue("me@x", "a@x", "m");
    Converse(dialogue, {"220\r\n", "250\r\n"});
    SmtpStep step = dialogue.OnReceived("251 odd\r\n");
    EXPECT_TRUE(step.close);
    EXPECT_EQ(step.send, "");
}

struct FailRow {
    std::string name;
    int answered;  // replies answered as expected before the bad one
    std::string badReply;
    SmtpOutcome outcome;
};

class SmtpDialogueFailTest : public ::testing::TestWithParam<FailRow> {};

TEST_P(SmtpDialogueFailTest, ClosesWithoutSendingMore) {
    const std::vector<std::string> good = {"220\r\n", "250\r\n", "250\r\n", "250\r\n",
                                           "354\r\n", "250\r\n", "221\r\n"};
    SmtpDialogue dialogue("me@x", "a@x", "m");
    for (int i = 0; i < GetParam().answered; ++i)
        ASSERT_FALSE(dialogue.OnReceived(good[static_cast<std::size_t>(i)]).close);
    SmtpStep step = dialogue.OnReceived(GetParam().badReply);
    EXPECT_TRUE(step.close);
    EXPECT_EQ(step.send, "");
    EXPECT_EQ(dialogue.outcome(), GetParam().outcome);
    // Nothing more is sent once the dialogue is over.
    EXPECT_EQ(dialogue.OnReceived("250\r\n").send, "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpDialogueFailTest,
    ::testing::Values(
        FailRow{"greeting_554", 0, "554 go away\r\n", SmtpOutcome::UnexpectedReply},
        FailRow{"helo_500", 1, "500 no\r\n", SmtpOutcome::UnexpectedReply},
        FailRow{"mail_from_550", 2, "550 no\r\n", SmtpOutcome::UnexpectedReply},
        FailRow{"recipient_refused", 3, "550 no such user\r\n", SmtpOutcome::UnexpectedReply},
        FailRow{"data_refused", 4, "451 later\r\n", SmtpOutcome::UnexpectedReply},
        FailRow{"message_refused", 5, "552 too big\r\n", SmtpOutcome::UnexpectedReply},
        FailRow{"garbage", 1, "hello\r\n", SmtpOutcome::BadReply}),
    quellin::testing::RowName());

TEST(SmtpDialogueTest, NewDialogueStartsFromFirstRecipient) {
    SmtpDialogue aborted("me@x", "a@x,b@x", "m");
    Converse(aborted, {"220\r\n", "250\r\n", "250\r\n", "550\r\n"});
    SmtpDialogue next("me@x", "a@x,b@x", "m");
    std::string sent = Converse(next, {"220\r\n", "250\r\n", "250\r\n"});
    EXPECT_TRUE(sent.ends_with("RCPT TO:<a@x>\r\n"));
}

// EHLO reply of a submission server before TLS and after it.
const std::string kBeforeTls = "250-mail.example\r\n250-PIPELINING\r\n250 STARTTLS\r\n";
const std::string kAfterTls = "250-mail.example\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n";

SmtpTransport Login(SmtpSecurity security) {
    return SmtpTransport{security, true, "ops", "s3cret"};
}

TEST(SmtpSecureDialogueTest, StartTlsThenLoginThenTheSameMessage) {
    const std::string message = "Subject: s\r\n\r\n.body\r\n";
    SmtpDialogue dialogue("me@x", "a@x", message, Login(SmtpSecurity::StartTls));
    EXPECT_EQ(dialogue.OnReceived("220 hi\r\n").send, "EHLO localhost\r\n");
    SmtpStep step = dialogue.OnReceived(kBeforeTls);
    EXPECT_EQ(step.send, "STARTTLS\r\n");
    EXPECT_FALSE(step.startTls);
    step = dialogue.OnReceived("220 go ahead\r\n");
    EXPECT_EQ(step.send, "");
    EXPECT_TRUE(step.startTls);
    EXPECT_FALSE(step.close);
    EXPECT_FALSE(dialogue.encrypted());

    // Over TLS the greeting is repeated, and only then the password goes.
    std::string sent = dialogue.OnTlsReady().send;
    EXPECT_TRUE(dialogue.encrypted());
    sent += Converse(
        dialogue, {kAfterTls, "235 ok\r\n", "250\r\n", "250\r\n", "354\r\n", "250\r\n", "221\r\n"});
    SmtpDialogue plain("me@x", "a@x", message);
    const std::string plainSent = Converse(
        plain, {"220\r\n", "250\r\n", "250\r\n", "250\r\n", "354\r\n", "250\r\n", "221\r\n"});
    EXPECT_EQ(sent,
              "EHLO localhost\r\n"
              "AUTH PLAIN AG9wcwBzM2NyZXQ=\r\n" +
                  plainSent.substr(plainSent.find("MAIL FROM:")));
    EXPECT_EQ(dialogue.outcome(), SmtpOutcome::Sent);
}

TEST(SmtpSecureDialogueTest, NoStartTlsOfferedEndsBeforeAnythingIsSaid) {
    SmtpDialogue dialogue("me@x", "a@x", "m", Login(SmtpSecurity::StartTls));
    std::string sent = Converse(dialogue, {"220 hi\r\n", "250-mail.example\r\n250 AUTH PLAIN\r\n"});
    EXPECT_EQ(sent, "EHLO localhost\r\n");
    EXPECT_EQ(dialogue.outcome(), SmtpOutcome::TlsNotOffered);
    EXPECT_EQ(dialogue.state(), State::Done);
}

TEST(SmtpSecureDialogueTest, ClearTextAfterTheGoAheadIsRefused) {
    SmtpDialogue dialogue("me@x", "a@x", "m", Login(SmtpSecurity::StartTls));
    Converse(dialogue, {"220 hi\r\n", kBeforeTls});
    // A reply slipped in behind the 220 would be read as said over TLS.
    SmtpStep step = dialogue.OnReceived("220 go ahead\r\n250-x\r\n250 AUTH PLAIN\r\n");
    EXPECT_TRUE(step.close);
    EXPECT_FALSE(step.startTls);
    EXPECT_EQ(dialogue.outcome(), SmtpOutcome::TlsFailed);

    SmtpDialogue later("me@x", "a@x", "m", Login(SmtpSecurity::StartTls));
    Converse(later, {"220 hi\r\n", kBeforeTls, "220 go ahead\r\n"});
    EXPECT_TRUE(later.OnReceived("250 ok\r\n").close);
    EXPECT_EQ(later.outcome(), SmtpOutcome::TlsFailed);
}

TEST(SmtpSecureDialogueTest, RefusedStartTlsFails) {
    SmtpDialogue dialogue("me@x", "a@x", "m", Login(SmtpSecurity::StartTls));
    Converse(dialogue, {"220 hi\r\n", kBeforeTls});
    EXPECT_TRUE(dialogue.OnReceived("454 TLS not available\r\n").close);
    EXPECT_EQ(dialogue.outcome(), SmtpOutcome::TlsFailed);
    EXPECT_EQ(dialogue.lastLine(), "454 TLS not available");
}

TEST(SmtpSecureDialogueTest, LoginWhenOnlyLoginIsOffered) {
    SmtpDialogue dialogue("me@x", "a@x", "m", Login(SmtpSecurity::ImplicitTls));
    std::string sent =
        Converse(dialogue, {"220 hi\r\n", "250-x\r\n250 AUTH=LOGIN\r\n", "334 VXNlcm5hbWU6\r\n",
                            "334 UGFzc3dvcmQ6\r\n", "235 ok\r\n"});
    EXPECT_EQ(sent, "EHLO localhost\r\nAUTH LOGIN\r\nb3Bz\r\nczNjcmV0\r\nMAIL FROM:<me@x>\r\n");
}

TEST(SmtpSecureDialogueTest, ImplicitTlsWithoutLoginGoesStraightToTheMail) {
    SmtpDialogue dialogue("me@x", "a@x", "m", SmtpTransport{SmtpSecurity::ImplicitTls});
    EXPECT_TRUE(dialogue.encrypted());
    std::string sent = Converse(dialogue, {"220 hi\r\n", kAfterTls});
    EXPECT_EQ(sent, "EHLO localhost\r\nMAIL FROM:<me@x>\r\n");
}

TEST(SmtpSecureDialogueTest, LoginFailures) {
    {
        SmtpDialogue dialogue("me@x", "a@x", "m", Login(SmtpSecurity::ImplicitTls));
        std::string sent =
            Converse(dialogue, {"220 hi\r\n", kAfterTls, "535 5.7.8 bad credentials\r\n"});
        EXPECT_EQ(dialogue.outcome(), SmtpOutcome::AuthFailed);
        EXPECT_EQ(dialogue.lastLine(), "535 5.7.8 bad credentials");
        EXPECT_EQ(sent.find("MAIL FROM"), std::string::npos);
    }
    {
        SmtpDialogue dialogue("me@x", "a@x", "m", Login(SmtpSecurity::ImplicitTls));
        Converse(dialogue, {"220 hi\r\n", "250-x\r\n250 AUTH CRAM-MD5\r\n"});
        EXPECT_EQ(dialogue.outcome(), SmtpOutcome::AuthNotOffered);
    }
    {
        // A login asked for on plain SMTP: not a byte is said.
        SmtpDialogue dialogue("me@x", "a@x", "m", Login(SmtpSecurity::None));
        SmtpStep step = dialogue.OnReceived("220 hi\r\n");
        EXPECT_EQ(step.send, "");
        EXPECT_TRUE(step.close);
        EXPECT_EQ(dialogue.outcome(), SmtpOutcome::AuthNeedsTls);
    }
}

TEST(SmtpSecureDialogueTest, ExtensionsAreReadFromEveryLineButTheFirst) {
    SmtpReplyReader reader;
    reader.Feed("250-starttls.example\r\n250-auth=login plain\r\n250-Starttls\r\n250 SIZE 1\r\n");
    auto reply = reader.Next();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->lines.size(), 4u);
    SmtpExtensions offered = ParseExtensions(*reply);
    EXPECT_TRUE(offered.startTls);
    EXPECT_TRUE(offered.authPlain);
    EXPECT_TRUE(offered.authLogin);

    reader.Feed("250 STARTTLS\r\n");
    EXPECT_FALSE(ParseExtensions(*reader.Next()).startTls);
}

TEST(SmtpReplyReaderTest, EndlessMultiLineReplyIsRefused) {
    SmtpReplyReader reader;
    const std::string line = "250-" + std::string(1000, 'x') + "\r\n";
    for (int i = 0; i < 70 && reader.error() == SmtpReplyError::None; ++i) {
        reader.Feed(line);
        EXPECT_FALSE(reader.Next());
    }
    EXPECT_EQ(reader.error(), SmtpReplyError::TooLong);
}

}  // namespace
}  // namespace quellin::syslogd
