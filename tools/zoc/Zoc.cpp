#include "tools/zoc/Zoc.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <new>

#include "framework/Library.h"
#include "tools/zoc/Cli.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

namespace {

/// Keeps the library initialized while a command runs.
class LibraryScope {
public:
    LibraryScope() { zoc::Initialize(); }
    ~LibraryScope() { zoc::Terminate(); }
    LibraryScope(const LibraryScope&) = delete;
    LibraryScope& operator=(const LibraryScope&) = delete;
};

/// One line of error text: line breaks in file names or messages become spaces.
std::string OneLine(std::string text)
{
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

int Dispatch(const std::vector<std::string>& arguments, Context& context)
{
    if (arguments.empty()) {
        context.out << UsageText();
        throw UsageError("no command given; run 'zoc --help'");
    }
    const std::string& command = arguments[0];
    const Words words(arguments.begin() + 1, arguments.end());
    if (command == "--help" || command == "-h" || command == "help") {
        // zoc help COMMAND: that command's part of the text.
        if (command == "help" && words.size() == 1)
            context.out << CommandHelp(words[0]);
        else if (command == "help" && words.size() > 1)
            throw UsageError("help takes one command, got also '" + words[1] + "'");
        else
            context.out << UsageText();
        return kExitOk;
    }
    if (command == "--version" || command == "version") {
        context.out << "zoc " << zoc::Version() << "\n";
        return kExitOk;
    }
    if (std::find(words.begin(), words.end(), "--help") != words.end()) {
        const bool known = std::find(CommandNames().begin(), CommandNames().end(), command) != CommandNames().end();
        context.out << (known ? CommandHelp(command) : UsageText());
        return kExitOk;
    }
    LibraryScope library;
    if (command == "list")
        return RunList(words, context);
    if (command == "info")
        return RunInfo(words, context);
    if (command == "apply")
        return RunApply(words, context);
    if (command == "console")
        return RunConsole(words, context);
    if (command == "demo")
        return RunDemo(words, context);
    if (command == "curve")
        return RunCurve(words, context);
    if (command == "generate")
        return RunGenerate(words, context);
    throw UsageError("unknown command '" + command + "'" +
                     SuggestionText(command, CommandNames()));
}

} // namespace

int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err)
{
    // A progress bar only makes sense on the real terminal.
    Context context{out, err, &err == &std::cerr && ::isatty(STDERR_FILENO) == 1};
    try {
        return Dispatch(arguments, context);
    } catch (const Failure& failure) {
        err << "zoc: " << OneLine(failure.what()) << std::endl;
        return failure.ExitCode();
    } catch (const Error& error) {
        err << "zoc: " << OneLine(error.what()) << std::endl;
        return AsFailure(error).ExitCode();
    } catch (const std::bad_alloc&) {
        err << "zoc: out of memory" << std::endl;
        return kExitIo;
    } catch (const std::exception& exception) {
        err << "zoc: " << OneLine(exception.what()) << std::endl;
        return kExitIo;
    }
}

} // namespace zoc::tool
