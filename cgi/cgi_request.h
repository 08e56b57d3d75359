// The CGI frame of Netprov: the request parameters and the one HTML page
// (Shift_JIS) that every request gets, complete from head to foot.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quellin::netprov {

// The CGI environment, as the web server passes it.  A variable that is
// absent differs from one that is set to an empty text.
using Environment = std::map<std::string, std::string>;

std::optional<std::string> GetVariable(const Environment& environment, const std::string& name);

// A request body longer than this is not read at all; the request then has
// no parameters.  Real requests carry two short parameters.
inline constexpr std::int64_t kMaxBodySize = 64 * 1024;

// CONTENT_LENGTH as a decimal integer: leading blanks and sign, then the
// leading digits; no digits gives 0.  Saturates instead of overflowing.
std::int64_t ParseContentLength(std::string_view text);

using ParameterMap = std::map<std::string, std::string>;

// Splits "name=value&name=value" input into the map.  Runs of "&" separate
// pieces; in a piece, leading "=" are skipped, a run of "=" separates name and
// value, and anything after a further "=" is ignored.  Pieces with an empty
// name or value are dropped; a later value replaces an earlier one.  Nothing
// is decoded.  The input ends at its first NUL byte.
ParameterMap ParseInput(std::string_view input);

class CCgiRequest {
public:
    // Writes the page head.
    explicit CCgiRequest(std::ostream& output);
    // Writes the page foot, so the page is complete whatever the run did.
    ~CCgiRequest();
    CCgiRequest(const CCgiRequest&) = delete;
    CCgiRequest& operator=(const CCgiRequest&) = delete;

    // Fills the parameter map from the environment and, for methods other
    // than "GET", from the request body on input.  False when the body was
    // too long to be read; the map then stays empty.
    bool ReadInput(std::istream& input, const Environment& environment);

    // True with the value when the map holds the name; stored values are
    // never empty.
    bool GetParam(const std::string& name, std::string& value) const;

    // Writes "<p>text</p>" and a blank line, and sends it on at once so the
    // caller sees each step while the run goes on.
    void WriteParagraph(std::string_view text);

    const ParameterMap& parameters() const { return parameters_; }

private:
    // Every line feed of the page goes out as CR LF.
    void Write(std::string_view text);

    std::ostream& output_;
    ParameterMap parameters_;
};

}  // namespace quellin::netprov
