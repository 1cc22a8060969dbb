#include "TnTestProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace tn
{
namespace test
{
namespace
{
uint64_t Milliseconds()
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

// In the child: runs the program, or ends with 127.
[[noreturn]] void Execute(const std::vector<std::string> &aArguments)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::vector<char *> lArguments;
    for (const std::string &lArgument : aArguments)
    {
        lArguments.push_back(const_cast<char *>(lArgument.c_str()));
    }
    lArguments.push_back(nullptr);
    execv(lArguments[0], lArguments.data());
    _exit(127);
}
} // namespace

std::string FindProgram(const char *aName)
{
    const char *lPath = getenv("PATH");
    std::string lDirectories = lPath != nullptr && lPath[0] != '\0' ? lPath : "/usr/local/bin:/usr/bin:/bin";
    size_t lStart = 0;
    while (lStart <= lDirectories.size())
    {
        size_t lEnd = lDirectories.find(':', lStart);
        if (lEnd == std::string::npos)
        {
            lEnd = lDirectories.size();
        }
        const std::string lCandidate = lDirectories.substr(lStart, lEnd - lStart) + "/" + aName;
        if (access(lCandidate.c_str(), X_OK) == 0)
        {
            return lCandidate;
        }
        lStart = lEnd + 1;
    }
    return std::string();
}

std::string RunProgram(const std::vector<std::string> &aArguments, uint32_t aTimeoutMs, int *aStatus)
{
    int lStatus = -1;
    std::string lOutput;
    int lPipe[2];
    if (aArguments.empty() || pipe2(lPipe, O_CLOEXEC) != 0)
    {
        if (aStatus != nullptr)
        {
            *aStatus = lStatus;
        }
        return lOutput;
    }
    const pid_t lChild = fork();
    if (lChild == 0)
    {
        dup2(lPipe[1], STDOUT_FILENO);
        dup2(lPipe[1], STDERR_FILENO);
        Execute(aArguments);
    }
    close(lPipe[1]);
    fcntl(lPipe[0], F_SETFL, O_NONBLOCK);
    const uint64_t lDeadline = Milliseconds() + aTimeoutMs;
    bool lExited = false;
    while (lChild > 0)
    {
        char lChunk[4096];
        const ssize_t lRead = read(lPipe[0], lChunk, sizeof(lChunk));
        if (lRead > 0)
        {
            lOutput.append(lChunk, static_cast<size_t>(lRead));
            continue;
        }
        if (!lExited && waitpid(lChild, &lStatus, WNOHANG) == lChild)
        {
            lExited = true;
            continue; // read what is left
        }
        if (lExited && lRead <= 0)
        {
            break;
        }
        if (Milliseconds() > lDeadline)
        {
            kill(lChild, SIGKILL);
            waitpid(lChild, &lStatus, 0);
            lOutput += "\n[killed after the time limit]";
            break;
        }
        usleep(10000);
    }
    close(lPipe[0]);
    if (aStatus != nullptr)
    {
        *aStatus = lStatus;
    }
    return lOutput;
}

std::string PackageVersion(const char *aPackage)
{
    const std::string lQuery = FindProgram("dpkg-query");
    if (lQuery.empty())
    {
        return std::string();
    }
    std::string lVersion = RunProgram({lQuery, "-W", "-f=${Version}", aPackage}, 5000);
    const size_t lRevision = lVersion.find('-');
    if (lRevision != std::string::npos)
    {
        lVersion.erase(lRevision);
    }
    const size_t lEpoch = lVersion.find(':');
    if (lEpoch != std::string::npos)
    {
        lVersion.erase(0, lEpoch + 1);
    }
    return lVersion;
}

ChildProcess::~ChildProcess()
{
    Stop();
}

bool ChildProcess::Start(const std::vector<std::string> &aArguments)
{
    Stop();
    if (aArguments.empty())
    {
        return false;
    }
    mPid = fork();
    if (mPid == 0)
    {
        const int lNull = open("/dev/null", O_RDWR);
        dup2(lNull, STDOUT_FILENO);
        dup2(lNull, STDERR_FILENO);
        Execute(aArguments);
    }
    return mPid > 0;
}

bool ChildProcess::HasEnded()
{
    if (mPid <= 0)
    {
        return true;
    }
    if (waitpid(mPid, nullptr, WNOHANG) == mPid)
    {
        mPid = -1;
        return true;
    }
    return false;
}

void ChildProcess::Stop()
{
    if (mPid <= 0)
    {
        return;
    }
    kill(mPid, SIGTERM);
    for (int lWait = 0; lWait < 200; ++lWait)
    {
        if (waitpid(mPid, nullptr, WNOHANG) == mPid)
        {
            mPid = -1;
            return;
        }
        usleep(10000);
    }
    kill(mPid, SIGKILL);
    waitpid(mPid, nullptr, 0);
    mPid = -1;
}

void ChildProcess::Kill()
{
    if (mPid <= 0)
    {
        return;
    }
    kill(mPid, SIGKILL);
    waitpid(mPid, nullptr, 0);
    mPid = -1;
}
} // namespace test
} // namespace tn
