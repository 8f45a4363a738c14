#pragma once
// The zoc command's entry point, callable in-process by the tests.

#include <ostream>
#include <string>
#include <vector>

namespace zoc::tool {

/// Exit codes: 0 success, 1 input/output error, 2 usage error.
int Run(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace zoc::tool
