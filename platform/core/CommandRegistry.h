#pragma once
// Console commands: named, with a help text, created by a factory and run
// with an argument text, answering on an output stream.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace zoc::core::console {

class Command {
public:
    virtual ~Command() = default;
    /// Runs the command; returns false when the arguments were not accepted
    /// (the command has written why to `output`).
    virtual bool Execute(std::string_view arguments, std::ostream& output) = 0;
};

using CommandFactory = std::function<std::unique_ptr<Command>()>;

class CommandRegistry {
public:
    static CommandRegistry& Instance();

    /// Registers (or replaces) a command.
    void RegisterCommand(std::string name, std::string helpText, CommandFactory factory);
    void UnregisterCommand(std::string_view name);
    bool HasCommand(std::string_view name) const;
    std::string HelpText(std::string_view name) const;
    std::vector<std::string> CommandNames() const;

    /// Runs "NAME ARGS": the first word names the command, the rest is its
    /// argument text. An unknown name writes an error to `output` and
    /// returns false.
    bool Execute(std::string_view commandLine, std::ostream& output) const;

private:
    struct Entry {
        std::string help;
        CommandFactory factory;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Entry, std::less<>> commands_;
};

} // namespace zoc::core::console
