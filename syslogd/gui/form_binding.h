// Ties a text box to the CP932 value a form keeps for it.
#pragma once

#include "qt_text.h"

#include <QLineEdit>

#include <string>

namespace quellin::syslogd {

// Shows the value and keeps it up to date as the box is edited; the value
// must outlive the box.
inline void BindText(QLineEdit* edit, std::string& value) {
    edit->setText(FromCp932(value));
    QObject::connect(edit, &QLineEdit::textChanged, edit,
                     [&value](const QString& text) { value = ToCp932Lossy(text); });
}

}  // namespace quellin::syslogd
