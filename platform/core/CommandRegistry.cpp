#include "platform/core/CommandRegistry.h"

namespace zoc::core::console {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view TrimLeft(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    return text.substr(i);
}

} // namespace

CommandRegistry& CommandRegistry::Instance()
{
    static CommandRegistry instance;
    return instance;
}

void CommandRegistry::RegisterCommand(std::string name, std::string helpText, CommandFactory factory)
{
    std::lock_guard lock(mutex_);
    commands_.insert_or_assign(std::move(name), Entry{std::move(helpText), std::move(factory)});
}

void CommandRegistry::UnregisterCommand(std::string_view name)
{
    std::lock_guard lock(mutex_);
    const auto found = commands_.find(name);
    if (found != commands_.end())
        commands_.erase(found);
}

bool CommandRegistry::HasCommand(std::string_view name) const
{
    std::lock_guard lock(mutex_);
    return commands_.find(name) != commands_.end();
}

std::string CommandRegistry::HelpText(std::string_view name) const
{
    std::lock_guard lock(mutex_);
    const auto found = commands_.find(name);
    return found != commands_.end() ? found->second.help : std::string();
}

std::vector<std::string> CommandRegistry::CommandNames() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    names.reserve(commands_.size());
    for (const auto& [name, entry] : commands_)
        names.push_back(name);
    return names;
}

bool CommandRegistry::Execute(std::string_view commandLine, std::ostream& output) const
{
    const std::string_view line = TrimLeft(commandLine);
    std::size_t nameEnd = 0;
    while (nameEnd < line.size() && !IsSpace(line[nameEnd]))
        ++nameEnd;
    const std::string_view name = line.substr(0, nameEnd);
    const std::string_view arguments = TrimLeft(line.substr(nameEnd));
    if (name.empty()) {
        output << "No command given\n";
        return false;
    }

    // Copy the factory so the command runs without the lock held: it may
    // well register or run other commands itself.
    CommandFactory factory;
    {
        std::lock_guard lock(mutex_);
        const auto found = commands_.find(name);
        if (found != commands_.end())
            factory = found->second.factory;
    }
    if (!factory) {
        output << "Unknown command: " << name << '\n';
        return false;
    }
    const std::unique_ptr<Command> command = factory();
    if (!command) {
        output << "Command could not be created: " << name << '\n';
        return false;
    }
    return command->Execute(arguments, output);
}

} // namespace zoc::core::console
