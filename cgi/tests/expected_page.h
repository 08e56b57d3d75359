// The page bytes as a caller receives them, written out independently of the
// program so that any change to the wire format shows.
#pragma once

#include "test_support.h"

#include <string>

namespace quellin::netprov::testing {

inline std::string ExpectedHead() {
    const std::string title = quellin::testing::Sjis("ネットワーク機器自動設定");
    return "HTTP/1.0 200 OK\r\n"
           "Status: 200 OK\r\n"
           "Content-Type: text/html; charset=Shift_JIS\r\n"
           "Pragma: no-cache\r\n"
           "Cache-Control: no-cache\r\n"
           "\r\n"
           "<html>\r\n"
           "<head>\r\n"
           "<META name=\"copyright\" content=\"Copyright (C) Quellin Server. All rights "
           "reserved.\">\r\n"
           "<STYLE type=\"text/css\"><!--BODY,TD,TH { color: #000000; background-color : "
           "#e8e8ff;}A:link { color : #000000;}A:visited {\tcolor : #000000;}A:active { color : "
           "#ff0000;}IMG { border : 0 solid #000000;}CENTER "
           "{font-weight:bold;text-align:center;font-size:large;margin-top:20pt;margin-bottom:"
           "20pt;}FORM {margin:0pt;padding:0pt;}P {\ttext-indent\t: 1em;\tmargin : 0.5em 0em;}DFN "
           "{ color\t: #ff0000;}H2 { margin\t: 0px;\tpadding\t: 0px;\tdisplay\t: "
           "inline;}TABLE.Warn "
           "{ margin\t: 10pt;}TABLE.Warn TD {\tcolor : #000000; background-color : "
           "#ede6d7;}TABLE.Warn2 { margin : 0pt;\tpadding\t: 0pt;}TABLE.Warn2 TH { "
           "vertical-align\t: top;\tcolor : #000000;\tbackground-color : #ede6d7;}TABLE.Warn2 TD { "
           "color : #000000; background-color : #ede6d7;}TABLE.Warn2 EM { color : #ff0000; "
           "font-style : normal;\tfont-weight : bold;}.Title { font-size : medium;\tfont-weight : "
           "bold;\tcolor : #ff00ff;}.Name {\tfont-weight : bold;\tbackground-color : "
           "#ffe8b2;}.ArrangeName { font-weight : bold;\tbackground-color\t: #ffe8b2;\twidth : "
           "150;}.ElementName { font-weight : normal;\tbackground-color\t: #ffe8b2;}.ModifyLine { "
           "font-weight : normal;\tbackground-color\t: #ffe0ff;}.Radio { background-color\t: "
           "#ede6d7;}.Linker { width : 33%;\tfont-weight : normal;}.Linker0 { width : "
           "33%;}.Linker2 { background-color\t: #ede6d7;}.Linker2s {\tbackground-color\t: "
           "#ffd0f0;}.Linker3 { width : 100%;}.Linker4 {}--></STYLE><title>" +
           title +
           "</title>\r\n"
           "</head>\r\n"
           "<body>\r\n"
           "<h1>" +
           title + "</h1>\r\n";
}

inline std::string ExpectedFoot() {
    return "</body>\r\n</html>\r\n";
}

inline std::string ExpectedParagraph(const std::string& utf8) {
    return "<p>" + quellin::testing::Sjis(utf8) + "</p>\r\n\r\n";
}

// A whole page with the given messages (UTF-8) as its paragraphs.
inline std::string ExpectedPage(std::initializer_list<std::string> messages = {}) {
    std::string page = ExpectedHead();
    for (const auto& message : messages)
        page += ExpectedParagraph(message);
    return page + ExpectedFoot();
}

}  // namespace quellin::netprov::testing
