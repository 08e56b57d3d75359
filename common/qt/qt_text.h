// CP932 text to and from Qt's Unicode strings, for the windowed programs.
#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>

namespace quellin {

// Bytes that are not valid CP932 show as U+FFFD.
QString FromCp932(std::string_view cp932);

// nullopt when the text has a character without a CP932 form.
std::optional<std::string> ToCp932(const QString& text);

// As a text box hands it over: characters without a CP932 form become "?".
std::string ToCp932Lossy(const QString& text);

// A UTF-8 literal of the program's own as a QString.
inline QString Tr(const char* utf8) {
    return QString::fromUtf8(utf8);
}

}  // namespace quellin
