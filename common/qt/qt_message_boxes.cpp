#include "qt_message_boxes.h"

#include "qt_text.h"

#include <QApplication>
#include <QMessageBox>

namespace quellin {
namespace {

QMessageBox::Icon ToQt(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Information:
            return QMessageBox::Information;
        case MsgIcon::Error:
            return QMessageBox::Critical;
        case MsgIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton ToQt(MsgAnswer answer) {
    switch (answer) {
        case MsgAnswer::Ok:
            return QMessageBox::Ok;
        case MsgAnswer::Cancel:
            return QMessageBox::Cancel;
        case MsgAnswer::Yes:
            return QMessageBox::Yes;
        case MsgAnswer::No:
            return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

}  // namespace

MsgAnswer QtMessageBoxes::Show(const MessageBoxRequest& request) {
    QMessageBox box(ToQt(request.icon), FromCp932(request.caption), FromCp932(request.text),
                    QMessageBox::NoButton, QApplication::activeWindow());
    MsgAnswer escape = MsgAnswer::Ok;
    switch (request.buttons) {
        case MsgButtons::Ok:
            box.setStandardButtons(QMessageBox::Ok);
            escape = MsgAnswer::Ok;
            break;
        case MsgButtons::OkCancel:
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            escape = MsgAnswer::Cancel;
            break;
        case MsgButtons::YesNo:
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            escape = MsgAnswer::No;
            break;
    }
    box.setDefaultButton(ToQt(request.defaultButton));
    box.setEscapeButton(ToQt(escape));
    switch (box.exec()) {
        case QMessageBox::Ok:
            return MsgAnswer::Ok;
        case QMessageBox::Cancel:
            return MsgAnswer::Cancel;
        case QMessageBox::Yes:
            return MsgAnswer::Yes;
        case QMessageBox::No:
            return MsgAnswer::No;
        default:
            return escape;
    }
}

}  // namespace quellin
