#include "instance_activation.h"
#include "qt_message_boxes.h"
#include "qt_text.h"

#include "test_support.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace quellin {
namespace {

using testing::Sjis;

TEST(QtText, ConvertsCp932BothWays) {
    EXPECT_EQ(FromCp932(Sjis("装置名")), QString::fromUtf8("装置名"));
    EXPECT_EQ(FromCp932("a\x81"), QString::fromUtf8("a\xEF\xBF\xBD"));
    EXPECT_EQ(ToCp932(QString::fromUtf8("ｱ装置")),
              std::optional<std::string>("\xB1" + Sjis("装置")));
    EXPECT_EQ(ToCp932(QString::fromUtf8("😀")), std::nullopt);
}

class ActivationTest : public testing::TempDirTest {};

TEST_F(ActivationTest, SecondInstanceReachesTheFirst) {
    const QString path = QString::fromStdString((dir / "tool.activate").string());
    EXPECT_FALSE(RequestActivation(path, 200)) << "nobody listens yet";
    ActivationServer server(path);
    QSignalSpy requested(&server, &ActivationServer::activationRequested);
    EXPECT_TRUE(RequestActivation(path));
    EXPECT_TRUE(requested.wait(5000));
}

TEST_F(ActivationTest, StaleSocketFileIsReplaced) {
    const QString path = QString::fromStdString((dir / "tool.activate").string());
    testing::WriteFile(dir / "tool.activate", "");
    ActivationServer server(path);
    QSignalSpy requested(&server, &ActivationServer::activationRequested);
    EXPECT_TRUE(RequestActivation(path));
    EXPECT_TRUE(requested.wait(5000));
}

// Presses a button of the message box that is about to open.
void AnswerNextBox(QMessageBox::StandardButton button, QString* text, QString* title,
                   QMessageBox::Icon* icon, QAbstractButton** defaultButton) {
    QTimer::singleShot(0, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *text = box->text();
        *title = box->windowTitle();
        *icon = box->icon();
        *defaultButton = box->defaultButton();
        box->button(button)->click();
    });
}

TEST(QtMessageBoxesTest, ShowsCaptionTextIconAndDefault) {
    QtMessageBoxes boxes;
    QString text, title;
    QMessageBox::Icon icon{};
    QAbstractButton* defaultButton = nullptr;
    AnswerNextBox(QMessageBox::Yes, &text, &title, &icon, &defaultButton);
    MsgAnswer answer = boxes.Show({"Quellin Server", Sjis("削除しますか？"), MsgIcon::Question,
                                   MsgButtons::YesNo, MsgAnswer::No});
    EXPECT_EQ(answer, MsgAnswer::Yes);
    EXPECT_EQ(text, QString::fromUtf8("削除しますか？"));
    EXPECT_EQ(title, QStringLiteral("Quellin Server"));
    EXPECT_EQ(icon, QMessageBox::Question);
    ASSERT_NE(defaultButton, nullptr);
    EXPECT_EQ(defaultButton->text().remove(QLatin1Char('&')), QStringLiteral("No"));

    AnswerNextBox(QMessageBox::Cancel, &text, &title, &icon, &defaultButton);
    EXPECT_EQ(boxes.Show({"c", "t", MsgIcon::Exclamation, MsgButtons::OkCancel, MsgAnswer::Cancel}),
              MsgAnswer::Cancel);
    EXPECT_EQ(icon, QMessageBox::Warning);
}

}  // namespace
}  // namespace quellin
