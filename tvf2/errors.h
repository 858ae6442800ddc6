// The two ways a tvf2 run fails, as exceptions that carry their exit status.
//
// Every failure is reported by main() as one line "tvf2: <message>" on stderr, so a
// message is one sentence without a trailing newline and without the "tvf2: " prefix.
// Usage errors (bad command line, parameters out of range) exit with 2; everything that
// goes wrong while running (files, formats, the module) exits with 1.
#ifndef TVF2_TOOL_ERRORS_H
#define TVF2_TOOL_ERRORS_H

#include <stdexcept>
#include <string>

namespace tvf2 {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

class Error : public std::runtime_error {
public:
    Error(int exitStatus, const std::string& message)
        : std::runtime_error(message), exitStatus_(exitStatus) {}
    int ExitStatus() const { return exitStatus_; }

private:
    int exitStatus_;
};

// The command line is wrong: unknown option, malformed or out-of-range value.
class UsageError : public Error {
public:
    explicit UsageError(const std::string& message) : Error(kExitUsage, message) {}
};

// Something failed while running: input, output, module or device.
class Failure : public Error {
public:
    explicit Failure(const std::string& message) : Error(kExitFailure, message) {}
};

}  // namespace tvf2

#endif
