#include "tool_table.h"

#include <filesystem>
#include <utility>

#include "core/util/text.h"

namespace corvidale::updater {

const ToolTable& toolTable(TargetSystem system) {
    static const ToolTable mac{
        {"/usr/bin/hdiutil", {"attach", "{image}", "-nobrowse", "-readonly", "-noautoopen", "-mountpoint", "{mount}"}},
        {"/usr/bin/codesign", {"--verify", "--deep", "--strict", "{app}"}},
        {"/usr/bin/codesign", {"-dv", "--verbose=2", "{app}"}, 60},
        {"/usr/sbin/spctl", {"--assess", "--type", "execute", "{app}"}, 300},
        {"/usr/bin/ditto", {"{app}", "{staging}"}},
        {"/usr/bin/hdiutil", {"detach", "{mount}", "-force"}},
    };
    // Linux has no system tools for images and signatures: the installed
    // app's own helpers stand in, never those of the download. An app that
    // cannot even print its version within 10 s is refused; it runs only
    // once its seal has verified.
    static const ToolTable linux{
        {"{helpers}/corvidale-image", {"attach", "{image}", "{mount}"}},
        {"{helpers}/corvidale-codesign", {"--verify", "--deep", "--strict", "{app}"}},
        {"{helpers}/corvidale-codesign", {"-dv", "--verbose=2", "{app}"}, 60},
        {"{app}/Contents/MacOS/corvidale", {"--version"}, 10},
        {"/usr/bin/cp", {"-a", "-T", "--", "{app}", "{staging}"}},
        {"{helpers}/corvidale-image", {"detach", "{mount}"}},
        {"{helpers}/corvidale-image", {"rebuild", "{image}", "{installed}", "{mount}"}},
        "TeamIdentifier=",
        true,
    };
    return system == TargetSystem::Mac ? mac : linux;
}

ToolCommand commandFor(const ToolRow& row, const ToolPaths& paths) {
    const std::pair<std::string_view, const std::string*> marks[] = {
        {"{image}", &paths.image},   {"{mount}", &paths.mount},       {"{app}", &paths.app},
        {"{staging}", &paths.staging}, {"{installed}", &paths.installed}};
    const auto expand = [](std::string text, std::string_view mark, const std::string& path) {
        return text.starts_with(mark) ? path + text.substr(mark.size()) : text;
    };
    ToolCommand command{expand(row.executable, "{helpers}", paths.helpers), {}, row.seconds};
    for (const auto& [mark, path] : marks) command.executable = expand(std::move(command.executable), mark, *path);
    for (std::string argument : row.arguments) {
        for (const auto& [mark, path] : marks) argument = expand(std::move(argument), mark, *path);
        command.arguments.push_back(std::move(argument));
    }
    return command;
}

ToolResult runRow(const ToolRow& row, const ToolPaths& paths, ToolOptions options) {
    const auto command = commandFor(row, paths);
    options.seconds = command.seconds;
    return runTool(command.executable, command.arguments, options);
}

bool signedByPins(std::string_view detailsOutput, const ToolTable& table, const std::optional<SigningPins>& pins) {
    if (!pins) return false;
    // A line that only contains the text, or a second line naming a team,
    // may have been written by the bundle through a name it controls.
    int teamLines = 0;
    std::string_view team;
    while (!detailsOutput.empty()) {
        const std::size_t end = detailsOutput.find('\n');
        const std::string_view line = detailsOutput.substr(0, end);
        if (line.starts_with(table.teamLinePrefix)) {
            ++teamLines;
            team = line.substr(table.teamLinePrefix.size());
        }
        detailsOutput = end == std::string_view::npos ? std::string_view() : detailsOutput.substr(end + 1);
    }
    if (teamLines != 1) return false;
    std::vector<std::string> signers;
    while (table.teamLineListsKeys) {
        const std::size_t comma = team.find(',');
        // One id that is not well-formed fails them all.
        if (!isKeyId(team.substr(0, comma))) return false;
        signers.emplace_back(team.substr(0, comma));
        if (comma == std::string_view::npos) break;
        team.remove_prefix(comma + 1);
    }
    if (!table.teamLineListsKeys) signers.emplace_back(team);
    return pinnedAmong(*pins, signers) >= pins->threshold;
}

std::string toolMessage(const ToolResult& result, const ToolRow& row) {
    std::string_view output = result.output;
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.remove_suffix(1);
    std::string_view line = output.substr(output.rfind('\n') == std::string_view::npos ? 0 : output.rfind('\n') + 1);
    const std::string executable = row.executable, name = std::filesystem::path(executable).filename().string();
    bool named = false;
    for (const auto& prefix : {executable + ": ", name + ": "}) {
        if (!named && !name.empty() && line.starts_with(prefix)) {
            line.remove_prefix(prefix.size());
            named = true;
        }
    }
    if (!named) return {};
    std::string text;
    // Cut between characters: one cut in two would read as a wrong one.
    for (const char c : line.substr(0, utf8PrefixLength(line, 300))) {
        text += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
    }
    return text;
}

}  // namespace corvidale::updater
