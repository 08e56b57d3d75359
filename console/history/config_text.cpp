#include "config_text.h"

#include "ftp_session.h"
#include "git_support.h"
#include "text_lines.h"

#include <vector>

namespace quellin::history {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

git::Patch MakePatch(std::string_view oldText, std::string_view newText, std::uint32_t context) {
    git::Initialise();
    git_diff_options options = GIT_DIFF_OPTIONS_INIT;
    // CP932 is text even where it looks like none to a guess.
    options.flags = GIT_DIFF_FORCE_TEXT;
    options.context_lines = context;
    options.interhunk_lines = 0;
    git_patch* patch = nullptr;
    if (git_patch_from_buffers(&patch, oldText.data(), oldText.size(), "old", newText.data(),
                               newText.size(), "new", &options) != 0)
        return nullptr;
    return git::Patch(patch);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end == std::string_view::npos ? text.size() : end + 1));
        text.remove_prefix(lines.back().size());
    }
    return lines;
}

std::string WholeReplacement(std::string_view oldText, std::string_view newText) {
    const auto oldLines = SplitLines(oldText);
    const auto newLines = SplitLines(newText);
    std::string hunk = "@@ -" + std::to_string(oldLines.empty() ? 0 : 1) + "," +
                       std::to_string(oldLines.size()) + " +" +
                       std::to_string(newLines.empty() ? 0 : 1) + "," +
                       std::to_string(newLines.size()) + " @@\n";
    auto add = [&](char mark, std::string_view line) {
        hunk += mark;
        hunk.append(line);
        if (!line.ends_with('\n'))
            hunk += "\n\\ No newline at end of file\n";
    };
    for (auto line : oldLines)
        add('-', line);
    for (auto line : newLines)
        add('+', line);
    return hunk;
}

}  // namespace

std::optional<std::string> ShownConfiguration(std::string_view output) {
    std::string_view text = output;
    if (text.ends_with(kLineEnd)) {
        // The last line is the prompt with the echoed "exit" after it.
        const std::size_t before = text.rfind(kLineEnd, text.size() - kLineEnd.size() - 1);
        const std::size_t start = before == std::string_view::npos ? 0 : before + kLineEnd.size();
        const std::string_view last = text.substr(start, text.size() - kLineEnd.size() - start);
        if (before == std::string_view::npos || last.size() <= 4 || !last.ends_with("exit"))
            return std::nullopt;
        text = text.substr(0, start);
    } else {
        // The prompt line closes the output.
        const std::size_t before = text.rfind(kLineEnd);
        if (before == std::string_view::npos)
            return std::nullopt;
        text = text.substr(0, before + kLineEnd.size());
    }
    // The echoed command line.
    const std::size_t echoEnd = text.find(kLineEnd);
    if (echoEnd == std::string_view::npos)
        return std::nullopt;
    return TextMode(text.substr(echoEnd + kLineEnd.size()));
}

std::string UnifiedDiff(std::string_view oldText, std::string_view newText,
                        std::string_view oldLabel, std::string_view newLabel) {
    if (oldText == newText)
        return {};
    git::Patch patch = MakePatch(oldText, newText, 3);
    git_buf buffer = GIT_BUF_INIT;
    if (!patch || git_patch_num_hunks(patch.get()) == 0 ||
        git_patch_to_buf(&buffer, patch.get()) != 0) {
        git_buf_dispose(&buffer);
        // Texts that differ always give a hunk; should libgit2 fail, one
        // hunk replaces the whole text.
        return "--- " + std::string(oldLabel) + "\n+++ " + std::string(newLabel) + "\n" +
               WholeReplacement(oldText, newText);
    }
    std::string_view whole(buffer.ptr, buffer.size);
    // libgit2's own header names the paths its way; the hunks follow it.
    std::size_t hunks = 0;
    if (!whole.starts_with("@@ ")) {
        hunks = whole.find("\n@@ ");
        hunks = hunks == std::string_view::npos ? whole.size() : hunks + 1;
    }
    std::string diff = "--- " + std::string(oldLabel) + "\n+++ " + std::string(newLabel) + "\n";
    // Hunk headers as diff -u writes them, without git's guess of the
    // section a hunk is in.
    std::string_view rest = whole.substr(hunks);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        std::string_view line =
            rest.substr(0, end == std::string_view::npos ? rest.size() : end + 1);
        rest.remove_prefix(line.size());
        if (line.starts_with("@@ ")) {
            const std::size_t close = line.find(" @@", 3);
            if (close != std::string_view::npos) {
                diff.append(line.substr(0, close + 3));
                diff += '\n';
                continue;
            }
        }
        diff.append(line);
    }
    git_buf_dispose(&buffer);
    return diff;
}

LineChanges CountLineChanges(std::string_view oldText, std::string_view newText) {
    if (oldText == newText)
        return {};
    git::Patch patch = MakePatch(oldText, newText, 0);
    std::size_t context = 0;
    LineChanges changes;
    if (!patch ||
        git_patch_line_stats(&context, &changes.added, &changes.removed, patch.get()) != 0)
        return {};
    return changes;
}

Drift CompareWithRegistered(std::string_view running, std::string_view registeredFile,
                            std::string_view registeredLabel, std::string_view runningLabel) {
    const std::string registered = ConvertNewlinesText(registeredFile);
    const std::string runs = ConvertNewlinesText(running);
    Drift drift;
    drift.same = registered == runs;
    if (!drift.same)
        drift.diff = UnifiedDiff(registered, runs, registeredLabel, runningLabel);
    return drift;
}

}  // namespace quellin::history
