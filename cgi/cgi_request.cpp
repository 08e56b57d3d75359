#include "cgi_request.h"

#include "codec.h"
#include "leading_number.h"
#include "text_lines.h"

#include <istream>
#include <limits>
#include <ostream>
#include <vector>

namespace quellin::netprov {
namespace {

// The page head.  The style sheet is one line; its classes are part of the
// page's fixed look even where this page does not use them.  Nothing here is
// ever used as a format: the "%" stay as they are.
std::string PageHeadText() {
    std::string head =
        "HTTP/1.0 200 OK\n"
        "Status: 200 OK\n"
        "Content-Type: text/html; charset=Shift_JIS\n"
        "Pragma: no-cache\n"
        "Cache-Control: no-cache\n\n"
        "<html>\n"
        "<head>\n"
        "<META name=\"copyright\" content=\"Copyright (C) Quellin Server. All rights "
        "reserved.\">\n"
        "<STYLE type=\"text/css\">"
        "<!--"
        "BODY,TD,TH { color: #000000; background-color : #e8e8ff;}"
        "A:link { color : #000000;}"
        "A:visited {\tcolor : #000000;}"
        "A:active { color : #ff0000;}"
        "IMG { border : 0 solid #000000;}"
        "CENTER {font-weight:bold;text-align:center;font-size:large;margin-top:20pt;margin-bottom:"
        "20pt;}"
        "FORM {margin:0pt;padding:0pt;}"
        "P {\ttext-indent\t: 1em;\tmargin : 0.5em 0em;}"
        "DFN { color\t: #ff0000;}"
        "H2 { margin\t: 0px;\tpadding\t: 0px;\tdisplay\t: inline;}"
        "TABLE.Warn { margin\t: 10pt;}"
        "TABLE.Warn TD {\tcolor : #000000; background-color : #ede6d7;}"
        "TABLE.Warn2 { margin : 0pt;\tpadding\t: 0pt;}"
        "TABLE.Warn2 TH { vertical-align\t: top;\tcolor : #000000;\tbackground-color : #ede6d7;}"
        "TABLE.Warn2 TD { color : #000000; background-color : #ede6d7;}"
        "TABLE.Warn2 EM { color : #ff0000; font-style : normal;\tfont-weight : bold;}"
        ".Title { font-size : medium;\tfont-weight : bold;\tcolor : #ff00ff;}"
        ".Name {\tfont-weight : bold;\tbackground-color : #ffe8b2;}"
        ".ArrangeName { font-weight : bold;\tbackground-color\t: #ffe8b2;\twidth : 150;}"
        ".ElementName { font-weight : normal;\tbackground-color\t: #ffe8b2;}"
        ".ModifyLine { font-weight : normal;\tbackground-color\t: #ffe0ff;}"
        ".Radio { background-color\t: #ede6d7;}"
        ".Linker { width : 33%;\tfont-weight : normal;}"
        ".Linker0 { width : 33%;}"
        ".Linker2 { background-color\t: #ede6d7;}"
        ".Linker2s {\tbackground-color\t: #ffd0f0;}"
        ".Linker3 { width : 100%;}"
        ".Linker4 {}"
        "-->"
        "</STYLE>";
    head += "<title>" + cp932::Jp("ネットワーク機器自動設定") + "</title>\n";
    head += "</head>\n";
    head += "<body>\n";
    head += "<h1>" + cp932::Jp("ネットワーク機器自動設定") + "</h1>\n";
    return head;
}

constexpr std::string_view kPageFoot = "</body>\n</html>\n";

}  // namespace

std::optional<std::string> GetVariable(const Environment& environment, const std::string& name) {
    auto found = environment.find(name);
    if (found == environment.end())
        return std::nullopt;
    return found->second;
}

std::int64_t ParseContentLength(std::string_view text) {
    const LeadingNumber number = SplitLeadingNumber(text);
    constexpr std::int64_t kLimit = std::numeric_limits<std::int64_t>::max() / 10 - 1;
    std::int64_t value = 0;
    for (char c : number.digits)
        value = value >= kLimit ? kLimit : value * 10 + (c - '0');
    return number.negative ? -value : value;
}

ParameterMap ParseInput(std::string_view input) {
    input = input.substr(0, input.find('\0'));
    ParameterMap parameters;
    std::size_t pos = 0;
    while (pos < input.size()) {
        std::size_t end = input.find('&', pos);
        if (end == std::string_view::npos)
            end = input.size();
        std::string_view piece = input.substr(pos, end - pos);
        pos = end + 1;

        std::size_t at = piece.find_first_not_of('=');
        if (at == std::string_view::npos)
            continue;
        std::size_t nameEnd = std::min(piece.find('=', at), piece.size());
        std::string_view name = piece.substr(at, nameEnd - at);
        std::size_t valueStart = std::min(piece.find_first_not_of('=', nameEnd), piece.size());
        std::size_t valueEnd = std::min(piece.find('=', valueStart), piece.size());
        std::string_view value = piece.substr(valueStart, valueEnd - valueStart);
        if (name.empty() || value.empty())
            continue;
        parameters[std::string(name)] = std::string(value);
    }
    return parameters;
}

CCgiRequest::CCgiRequest(std::ostream& output) : output_(output) {
    Write(PageHeadText());
}

CCgiRequest::~CCgiRequest() {
    Write(kPageFoot);
    output_.flush();
}

bool CCgiRequest::ReadInput(std::istream& input, const Environment& environment) {
    std::int64_t length = 0;
    if (auto text = GetVariable(environment, "CONTENT_LENGTH"))
        length = ParseContentLength(*text);
    auto method = GetVariable(environment, "REQUEST_METHOD");
    if (!method)
        return true;

    if (*method == "GET") {
        if (auto query = GetVariable(environment, "QUERY_STRING"))
            parameters_ = ParseInput(*query);
        return true;
    }
    if (length <= 0)
        return true;
    if (length > kMaxBodySize)
        return false;

    std::vector<char> buffer(static_cast<std::size_t>(length));
    input.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    auto received = static_cast<std::size_t>(input.gcount());
    parameters_ = ParseInput(TextMode(std::string_view(buffer.data(), received)));
    return true;
}

bool CCgiRequest::GetParam(const std::string& name, std::string& value) const {
    auto found = parameters_.find(name);
    if (found == parameters_.end())
        return false;
    value = found->second;
    return true;
}

void CCgiRequest::WriteParagraph(std::string_view text) {
    std::string paragraph = "<p>";
    paragraph += text;
    paragraph += "</p>\n\n";
    Write(paragraph);
    output_.flush();
}

void CCgiRequest::Write(std::string_view text) {
    std::string wire;
    wire.reserve(text.size() + text.size() / 32 + 8);
    for (char c : text) {
        if (c == '\n')
            wire += '\r';
        wire += c;
    }
    output_.write(wire.data(), static_cast<std::streamsize>(wire.size()));
}

}  // namespace quellin::netprov
