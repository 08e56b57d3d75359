// Qt's own texts in the windows: with Qt's Japanese translation installed,
// the standard buttons of a question and of the file pickers read Japanese,
// whatever the desktop's language.
#include "message_box.h"
#include "qt_message_boxes.h"
#include "qt_translations.h"

#include "test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

namespace quellin {
namespace {

// A caption as the user reads it: "はい(&Y)" reads はい.
QString Shown(QString caption) {
    caption.remove(QRegularExpression(QStringLiteral("\\(&.\\)$")));
    caption.remove(QLatin1Char('&'));
    return caption;
}

class QtTranslationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The desktop's language must not matter.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        installed_ = InstallQtJapaneseTranslation();
    }
    void SetUp() override {
        const std::filesystem::path file =
            QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString() + "/qtbase_ja.qm";
        if (!std::filesystem::exists(file)) {
            EXPECT_FALSE(installed_) << "nothing to install, so nothing installed";
            GTEST_SKIP() << file << " is missing (Debian package qt6-translations-l10n)";
        }
        ASSERT_TRUE(installed_);
    }

    static bool installed_;
};

bool QtTranslationTest::installed_ = false;

TEST_F(QtTranslationTest, QuestionBoxButtonsReadJapanese) {
    QStringList captions;
    QString defaultCaption;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        for (QAbstractButton* button : box->buttons())
            captions << Shown(button->text());
        defaultCaption = Shown(box->defaultButton()->text());
        box->button(QMessageBox::No)->click();
    });
    QtMessageBoxes boxes;
    EXPECT_EQ(
        boxes.Show({"Quellin Server", "?", MsgIcon::Question, MsgButtons::YesNo, MsgAnswer::No}),
        MsgAnswer::No);
    captions.sort();
    QStringList expected = {QString::fromUtf8("はい"), QString::fromUtf8("いいえ")};
    expected.sort();
    EXPECT_EQ(captions, expected);
    EXPECT_EQ(defaultCaption, QString::fromUtf8("いいえ"));

    captions.clear();
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        captions << Shown(box->button(QMessageBox::Cancel)->text());
        box->button(QMessageBox::Cancel)->click();
    });
    EXPECT_EQ(boxes.Show({"Quellin Server", "?", MsgIcon::Exclamation, MsgButtons::OkCancel,
                          MsgAnswer::Ok}),
              MsgAnswer::Cancel);
    EXPECT_EQ(captions, QStringList{QString::fromUtf8("キャンセル")});
}

TEST_F(QtTranslationTest, FilePickerButtonsReadJapanese) {
    QFileDialog dialog(nullptr, QStringLiteral("t"), QDir::tempPath());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    ASSERT_NE(buttons, nullptr);
    ASSERT_NE(buttons->button(QDialogButtonBox::Cancel), nullptr);
    EXPECT_EQ(Shown(buttons->button(QDialogButtonBox::Cancel)->text()),
              QString::fromUtf8("キャンセル"));
}

}  // namespace
}  // namespace quellin
