#include "httpd_conf_patcher.h"

#include "file_descriptor.h"
#include "file_replacement.h"
#include "leading_number.h"
#include "text_lines.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace quellin::webcfgpatch {
namespace {

bool Contains(const std::string& line, std::string_view marker) {
    return line.find(marker) != std::string::npos;
}

}  // namespace

std::uint16_t ParsePort(std::string_view text) {
    return ParseWrapping<std::uint16_t>(text);
}

std::string PatchLine(const std::string& line, const std::string& folder, std::uint16_t port) {
    // A comment never changes, even when it holds a marker or a Listen.
    if (!line.empty() && line.front() == '#')
        return line;
    // Deliberately a prefix test: ListenBacklog lines are rewritten as well.
    if (line.compare(0, 6, "Listen") == 0)
        return "Listen " + std::to_string(port);
    if (Contains(line, "*ServerRoot*"))
        return "ServerRoot \"" + folder + "/httpd\"";
    if (Contains(line, "*ScriptAlias*"))
        return "ScriptAlias /cgi-bin/ \"" + folder + "/httpd/cgi-bin/\"";
    if (Contains(line, "*cgiDir*"))
        return "<Directory \"" + folder + "/httpd/cgi-bin\">";
    if (Contains(line, "*DocumentRoot*"))
        return "DocumentRoot \"" + folder + "/httpd/htdocs\"";
    return line;
}

std::string PatchText(std::string_view text, const std::string& folder, std::uint16_t port) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 64);
    while (auto line = NextLine(text)) {
        out += PatchLine(std::string(*line), folder, port);
        out += "\r\n";
    }
    return out;
}

int PatchFile(const std::string& configPath, const std::string& folder, std::uint16_t port) {
    UniqueFd in(::open(configPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!in.valid())
        return kCannotOpen;
    struct stat info {};
    // A folder opens for reading here but is no configuration file.
    if (::fstat(in.get(), &info) != 0 || S_ISDIR(info.st_mode))
        return kCannotOpen;
    std::string text;
    if (!ReadAll(in.get(), text))
        return kCannotOpen;
    in.Close();

    // The patched text goes through "<file>.tmp", which stays holding it
    // when it cannot take the configuration's place; an incomplete one never
    // does, so a failed write leaves the configuration as it was.
    FileReplacement replacement(configPath, configPath + ".tmp");
    if (!replacement.valid())
        return kCannotOpen;
    const std::string patched = PatchText(text, folder, port);
    if (!WriteAll(replacement.fd(), patched) || !replacement.Finish() || !replacement.Replace())
        return kCannotReplace;
    return kPatched;
}

int Run(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3)
        return kUsage;
    return PatchFile(arguments[0], arguments[1], ParsePort(arguments[2]));
}

}  // namespace quellin::webcfgpatch
