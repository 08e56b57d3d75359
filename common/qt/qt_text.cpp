#include "qt_text.h"

#include "codec.h"

namespace quellin {

QString FromCp932(std::string_view cp932) {
    return QString::fromStdString(cp932::ToUtf8Lossy(cp932));
}

std::optional<std::string> ToCp932(const QString& text) {
    return cp932::FromUtf8(text.toStdString());
}

}  // namespace quellin

namespace quellin {

std::string ToCp932Lossy(const QString& text) {
    return cp932::FromUtf8Lossy(text.toStdString());
}

}  // namespace quellin
