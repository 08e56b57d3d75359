#include "httpd_conf_patcher.h"

#include "file_descriptor.h"
#include "leading_number.h"
#include "text_lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

    const std::string tempPath = configPath + ".tmp";
    UniqueFd out(
        ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 0666));
    if (!out.valid())
        return kCannotOpen;

    std::string text;
    if (!ReadAll(in.get(), text)) {
        out.Close();
        ::unlink(tempPath.c_str());
        return kCannotOpen;
    }
    in.Close();

    // An incomplete temporary file must never take the configuration's
    // place: a failed write leaves the configuration as it was.
    bool written = WriteAll(out.get(), PatchText(text, folder, port)) && ::fsync(out.get()) == 0;
    if (!out.Close() || !written) {
        ::unlink(tempPath.c_str());
        return kCannotReplace;
    }
    // rename replaces the file in one step, so there is no moment without a
    // configuration; when it fails the patched text stays in the .tmp file.
    if (::rename(tempPath.c_str(), configPath.c_str()) != 0)
        return kCannotReplace;
    return kPatched;
}

int Run(const std::vector<std::string>& arguments) {
    if (arguments.size() != 3)
        return kUsage;
    return PatchFile(arguments[0], arguments[1], ParsePort(arguments[2]));
}

}  // namespace quellin::webcfgpatch
