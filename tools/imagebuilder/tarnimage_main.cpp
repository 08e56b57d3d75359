// tarnimage: writes a router firmware image file, or tells what image files
// hold.
//
//   tarnimage --model Tarn-90 --version V10.02 [--ptf P] [--date D]
//             [--format coff|elf] [variant options] OUT
//   tarnimage --identify FILE...
#include "firmware_image.h"
#include "profile_file.h"
#include "tarn_image.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kUsage =
    "usage: tarnimage --model MODEL --version VERSION [--ptf PTF] [--date DATE]\n"
    "                 [--format coff|elf] [--header TEXT] [--crlf-header]\n"
    "                 [--entry NAME] [--bare] [--elf64] [--relocatable]\n"
    "                 [--payload BYTES] [--executable FILE] [--truncate BYTES] OUT\n"
    "       tarnimage --identify FILE...\n"
    "\n"
    "  --header TEXT      header line text (an LF is added)\n"
    "  --crlf-header      end the header line with CR LF\n"
    "  --entry NAME       name of the directory entry holding the executable\n"
    "                     (anything but \"firm\" leaves the directory without it)\n"
    "  --bare             no directory: the executable follows the header line\n"
    "  --elf64            mark the ELF image as 64-bit (class byte 2)\n"
    "  --relocatable      make the ELF image relocatable (type 1)\n"
    "  --payload BYTES    size of the program text (default 256)\n"
    "  --executable FILE  place this executable in the image instead\n"
    "  --truncate BYTES   cut the finished file to this size\n";

std::optional<std::size_t> ParseSize(std::string_view text) {
    if (text.empty() || text.size() > 12)
        return std::nullopt;
    std::size_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    return value;
}

int Identify(const std::vector<std::string>& files) {
    int failures = 0;
    for (const auto& file : files) {
        const auto identity = quellin::ExamineFirmwareImage(file);
        if (identity) {
            std::printf("%s: %s %s %s %s\n", file.c_str(), identity->model.c_str(),
                        quellin::FormatVersion(identity->major, identity->minor).c_str(),
                        identity->ptf.c_str(), identity->date.c_str());
        } else {
            std::printf("%s: not an image (%s)\n", file.c_str(), identity.error().detail.c_str());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}

int Usage(const char* problem) {
    if (problem != nullptr)
        std::fprintf(stderr, "tarnimage: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--identify") {
        if (args.size() < 2)
            return Usage("--identify needs at least one file");
        return Identify({args.begin() + 1, args.end()});
    }

    quellin::tarn::ImageOptions options;
    std::string header = "TARN FIRMWARE IMAGE";
    bool crlf = false;
    bool haveModel = false;
    bool haveVersion = false;
    std::string out;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        auto needValue = [&](std::string& target) {
            auto v = value();
            if (!v)
                return false;
            target = *v;
            return true;
        };
        auto needSize = [&](std::optional<std::size_t>& target) {
            auto v = value();
            if (!v)
                return false;
            target = ParseSize(*v);
            return target.has_value();
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--model") {
            if (!needValue(options.model))
                return Usage("--model needs a value");
            haveModel = true;
        } else if (arg == "--version") {
            if (!needValue(options.version))
                return Usage("--version needs a value");
            haveVersion = true;
        } else if (arg == "--ptf") {
            if (!needValue(options.ptf))
                return Usage("--ptf needs a value");
        } else if (arg == "--date") {
            if (!needValue(options.date))
                return Usage("--date needs a value");
        } else if (arg == "--format") {
            std::string format;
            if (!needValue(format))
                return Usage("--format needs a value");
            if (format == "coff") {
                options.format = quellin::tarn::ImageFormat::kCoff;
            } else if (format == "elf") {
                options.format = quellin::tarn::ImageFormat::kElf;
            } else {
                return Usage("--format is coff or elf");
            }
        } else if (arg == "--header") {
            if (!needValue(header))
                return Usage("--header needs a value");
        } else if (arg == "--crlf-header") {
            crlf = true;
        } else if (arg == "--entry") {
            if (!needValue(options.firmEntryName))
                return Usage("--entry needs a value");
        } else if (arg == "--bare") {
            options.layout = quellin::tarn::ImageLayout::kImageAfterHeader;
        } else if (arg == "--elf64") {
            options.elf64 = true;
        } else if (arg == "--relocatable") {
            options.relocatable = true;
        } else if (arg == "--payload") {
            std::optional<std::size_t> size;
            if (!needSize(size))
                return Usage("--payload needs a size");
            options.payloadSize = *size;
        } else if (arg == "--truncate") {
            if (!needSize(options.truncateTo))
                return Usage("--truncate needs a size");
        } else if (arg == "--executable") {
            std::string file;
            if (!needValue(file))
                return Usage("--executable needs a file");
            auto bytes = quellin::ReadWholeFile(file);
            if (!bytes) {
                std::fprintf(stderr, "tarnimage: cannot read %s\n", file.c_str());
                return 1;
            }
            options.executable = *bytes;
        } else if (!arg.empty() && arg[0] == '-') {
            return Usage(("unknown option " + arg).c_str());
        } else if (out.empty()) {
            out = arg;
        } else {
            return Usage("only one output file");
        }
    }
    if (!haveModel || !haveVersion)
        return Usage("--model and --version are required");
    if (out.empty())
        return Usage("no output file");
    options.headerLine = header + (crlf ? "\r\n" : "\n");

    std::string error;
    if (!quellin::tarn::WriteImage(out, options, error)) {
        std::fprintf(stderr, "tarnimage: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
