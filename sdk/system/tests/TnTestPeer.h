// Test helper: the independent GigE Vision peer (the aravis fake camera and
// arv-tool of Debian's aravis-tools and aravis-tools-cli), run inside a
// network namespace of the test's own. Tests using the fixtures are skipped
// where namespaces or the tools are missing.
#ifndef TN_TEST_PEER_H
#define TN_TEST_PEER_H

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TnSystemInternal.h"
#include "TnTestNetwork.h"
#include "TnUdpSocket.h"

namespace tn
{
namespace test
{
using namespace tn::system;

inline constexpr uint32_t kLoopback = 0x7F000001;
inline constexpr const char *kFakeCamera = "arv-fake-gv-camera-0.8";
inline constexpr const char *kTool = "arv-tool-0.8";

inline std::string FindProgram(const char *aName)
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

// Runs a program to its end (at most aTimeoutMs) and returns what it printed.
inline std::string RunProgram(const std::vector<std::string> &aArguments, uint32_t aTimeoutMs, int *aStatus = nullptr)
{
    int lPipe[2];
    if (pipe2(lPipe, O_CLOEXEC) != 0)
    {
        return std::string();
    }
    const pid_t lChild = fork();
    if (lChild == 0)
    {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(lPipe[1], STDOUT_FILENO);
        dup2(lPipe[1], STDERR_FILENO);
        std::vector<char *> lArguments;
        for (const std::string &lArgument : aArguments)
        {
            lArguments.push_back(const_cast<char *>(lArgument.c_str()));
        }
        lArguments.push_back(nullptr);
        execv(lArguments[0], lArguments.data());
        _exit(127);
    }
    close(lPipe[1]);
    std::string lOutput;
    fcntl(lPipe[0], F_SETFL, O_NONBLOCK);
    const uint64_t lDeadline = tn::gev::MonotonicMilliseconds() + aTimeoutMs;
    int lStatus = -1;
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
        if (tn::gev::MonotonicMilliseconds() > lDeadline)
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

// The Debian version of a package, without its revision ("0.8.26").
inline std::string PackageVersion(const char *aPackage)
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

class PrivateNamespace : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string lWhy;
        if (!tn::test::EnterPrivateNetwork(&lWhy))
        {
            GTEST_SKIP() << lWhy;
        }
    }
};

class FakeCamera : public PrivateNamespace
{
protected:
    void SetUp() override
    {
        PrivateNamespace::SetUp();
        if (IsSkipped())
        {
            return;
        }
        const std::string lProgram = FindProgram(kFakeCamera);
        if (lProgram.empty())
        {
            GTEST_SKIP() << kFakeCamera << " is not installed (Debian package aravis-tools)";
        }
        mSerial = "TN" + std::to_string(getpid() % 1000000);
        mPid = fork();
        if (mPid == 0)
        {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int lNull = open("/dev/null", O_RDWR);
            dup2(lNull, STDOUT_FILENO);
            dup2(lNull, STDERR_FILENO);
            execl(lProgram.c_str(), lProgram.c_str(), "-i", "127.0.0.1", "-s", mSerial.c_str(),
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        ASSERT_GT(mPid, 0);
        // Ready once it answers a unicast discovery.
        TnGevDiscoveryOptions lProbe;
        lProbe.mUnicastAddress = kLoopback;
        lProbe.mTimeoutMs = 200;
        lProbe.mStopWhen = [](const TnGevDeviceRecord &) { return true; };
        std::vector<TnNetworkAdapterInfo> lAdapters;
        ASSERT_TRUE(ListNetworkAdapters(lAdapters).IsOK());
        for (int lAttempt = 0; lAttempt < 50; ++lAttempt)
        {
            int lStatus = 0;
            ASSERT_EQ(waitpid(mPid, &lStatus, WNOHANG), 0) << kFakeCamera << " ended early";
            std::vector<TnGevDeviceRecord> lDevices;
            if (DiscoverGevDevices(lAdapters, lProbe, lDevices).IsOK() && !lDevices.empty())
            {
                return;
            }
        }
        FAIL() << kFakeCamera << " did not answer within 10 s";
    }

    void TearDown() override
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

    pid_t mPid = -1;
    std::string mSerial;
};
} // namespace test
} // namespace tn

#endif
