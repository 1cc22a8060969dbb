// Test support: programs run beside a test, such as the independent peers of
// the Debian aravis tools.
#ifndef TN_TEST_PROCESS_H
#define TN_TEST_PROCESS_H

#include <stdint.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace tn
{
namespace test
{
/// The path of an executable program found on PATH; empty when none is.
std::string FindProgram(const char *aName);

/// Runs a program (its path first, then its arguments) to its end, at most
/// aTimeoutMs before it is killed, and returns what it printed on standard
/// output and standard error. aStatus, when given, receives its wait status
/// (-1 when it could not be run).
std::string RunProgram(const std::vector<std::string> &aArguments, uint32_t aTimeoutMs, int *aStatus = nullptr);

/// The Debian version of an installed package without its epoch and revision
/// ("0.8.26"); empty when it is not installed.
std::string PackageVersion(const char *aPackage);

/// A program running beside the test, its output discarded. It ends with its
/// object (SIGTERM, SIGKILL after two seconds), and is killed when the test
/// program dies first.
class ChildProcess
{
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    /// Starts the program (its path first, then its arguments); false when no
    /// process could be made. A process started before is stopped first.
    bool Start(const std::vector<std::string> &aArguments);

    /// Whether the process has ended (or was never started).
    bool HasEnded();

    void Stop();
    /// Ends the process at once (SIGKILL), as a crash or a pulled cable would.
    void Kill();

private:
    pid_t mPid = -1;
};
} // namespace test
} // namespace tn

#endif
