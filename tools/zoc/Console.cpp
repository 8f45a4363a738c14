// zoc console: runs one of the library's console commands.

#include <sstream>

#include "platform/core/CommandRegistry.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

namespace {

/// The command's answer on one line, for an error message.
std::string OneLine(const std::string& text)
{
    std::string line;
    bool space = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r' || c == '\t') {
            space = !line.empty();
            continue;
        }
        if (space)
            line += ' ';
        space = false;
        line += c;
    }
    return line;
}

/// At most `limit` bytes of text the user typed, marked when cut, so a huge
/// argument is not echoed back whole.
std::string Excerpt(const std::string& text, std::size_t limit = 80)
{
    if (text.size() <= limit)
        return text;
    std::size_t keep = limit;
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0) == 0x80)
        --keep; // whole UTF-8 characters only
    return text.substr(0, keep) + "... (" + std::to_string(text.size()) + " bytes)";
}

} // namespace

int RunConsole(const Words& words, Context& context)
{
    std::string commandLine;
    for (const std::string& word : words) {
        if (!commandLine.empty())
            commandLine += ' ';
        commandLine += word;
    }
    if (commandLine.find_first_not_of(" \t") == std::string::npos) {
        const auto names = core::console::CommandRegistry::Instance().CommandNames();
        std::string known;
        for (const std::string& name : names)
            known += (known.empty() ? "" : ", ") + name;
        throw UsageError("console needs a command, e.g. zoc console \"NAME ARGS\" (commands: " + known + ")");
    }
    std::ostringstream answer;
    if (!core::console::CommandRegistry::Instance().Execute(commandLine, answer)) {
        const std::string reason = OneLine(answer.str());
        throw UsageError("console: " + (reason.empty() ? "'" + Excerpt(commandLine) + "' was refused"
                                                       : Excerpt(reason, 200)));
    }
    const std::string text = answer.str();
    context.out << text;
    if (!text.empty() && text.back() != '\n')
        context.out << '\n';
    return kExitOk;
}

} // namespace zoc::tool
