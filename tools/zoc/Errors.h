#pragma once
// The two ways a zoc command fails. Each carries the one-line message shown
// after "zoc: " and the exit code: 2 when the command line asks for something
// wrong, 1 when a file cannot be read or written.

#include <stdexcept>
#include <string>

namespace zoc::tool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitIo = 1;
inline constexpr int kExitUsage = 2;

class Failure : public std::runtime_error {
public:
    Failure(int exitCode, const std::string& message) : std::runtime_error(message), exitCode_(exitCode) {}
    int ExitCode() const { return exitCode_; }

private:
    int exitCode_;
};

inline Failure UsageError(const std::string& message) { return Failure(kExitUsage, message); }
inline Failure IoError(const std::string& message) { return Failure(kExitIo, message); }

} // namespace zoc::tool
