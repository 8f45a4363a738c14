#pragma once
// The zoc commands. Each takes the words after its name and returns the exit
// code; failures are thrown as Failure (see Errors.h).

#include <string>
#include <vector>

#include "tools/zoc/Cli.h"

namespace zoc::tool {

using Words = std::vector<std::string>;

int RunList(const Words& words, Context& context);
int RunInfo(const Words& words, Context& context);
int RunApply(const Words& words, Context& context);
int RunConsole(const Words& words, Context& context);
int RunDemo(const Words& words, Context& context);
int RunCurve(const Words& words, Context& context);
int RunGenerate(const Words& words, Context& context);

/// The usage text printed by `zoc --help`.
const char* UsageText();
/// The commands zoc knows.
const std::vector<std::string>& CommandNames();
/// The usage lines and sections of UsageText that concern `command`; usage
/// error for an unknown command.
std::string CommandHelp(const std::string& command);

} // namespace zoc::tool
