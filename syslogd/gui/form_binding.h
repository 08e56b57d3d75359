// Ties a text box to the CP932 value a form keeps for it.
#pragma once

#include "qt_text.h"

#include <QLineEdit>
#include <QPlainTextEdit>

#include <string>

namespace quellin::syslogd {

// Shows the value and keeps it up to date as the box is edited; the value
// must outlive the box.
inline void BindText(QLineEdit* edit, std::string& value) {
    edit->setText(FromCp932(value));
    QObject::connect(edit, &QLineEdit::textChanged, edit,
                     [&value](const QString& text) { value = ToCp932Lossy(text); });
}

// A box of several lines: the value keeps each line break as CR LF, the box
// shows it as one line break.
inline void BindText(QPlainTextEdit* edit, std::string& value) {
    QString shown = FromCp932(value);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    edit->setPlainText(shown);
    QObject::connect(edit, &QPlainTextEdit::textChanged, edit, [edit, &value] {
        QString text = edit->toPlainText();
        text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        value = ToCp932Lossy(text);
    });
}

}  // namespace quellin::syslogd
