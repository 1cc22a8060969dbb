// Test support: a network namespace of the test program's own, with only the
// loopback interface, up. Nothing a test sends there reaches the host's real
// network; tests that discover, connect or stream run there or are skipped.
#ifndef TN_TEST_NETWORK_H
#define TN_TEST_NETWORK_H

#include <gtest/gtest.h>

#include <string>

namespace tn
{
namespace test
{
/// Moves the calling process into a fresh network namespace with loopback up.
/// False (with the reason) when the system does not allow it.
bool EnterPrivateNetwork(std::string *aWhy = nullptr);

/// Lets the loopback interface carry multicast (for multicast streams in the
/// private network); false when the system refuses.
bool EnableLoopbackMulticast();

/// Moves the process into a private network the first time it is called;
/// later calls answer as the first one did, without entering another.
bool UsePrivateNetwork(std::string *aWhy = nullptr);

/// Sets the loopback interface's MTU (a test that shrinks it puts it back).
bool SetLoopbackMtu(int aMtu);

/// Whether the process may open a packet ring on the loopback interface (it
/// needs CAP_NET_RAW); the reason when not.
bool HavePacketRing(std::string *aWhy = nullptr);

/// In a test that needs packet rings: skips where they cannot be opened, and
/// fails there under CI (CI=true), which runs as root and must test them.
#define REQUIRE_PACKET_RING()                                                                                          \
    do                                                                                                                 \
    {                                                                                                                  \
        std::string lRingWhyNot;                                                                                       \
        if (!tn::test::HavePacketRing(&lRingWhyNot))                                                                   \
        {                                                                                                              \
            if (tn::test::UnderCI())                                                                                   \
            {                                                                                                          \
                GTEST_FAIL() << lRingWhyNot;                                                                           \
            }                                                                                                          \
            GTEST_SKIP() << lRingWhyNot;                                                                               \
        }                                                                                                              \
    } while (false)

/// Whether the tests run under CI (CI=true), where nothing may be skipped.
bool UnderCI();

/// Enters the program's private network (UsePrivateNetwork) before its first
/// test: register it with ::testing::AddGlobalTestEnvironment. Tests that need
/// the namespace ask UsePrivateNetwork whether they have it.
class PrivateNetworkEnvironment : public ::testing::Environment
{
public:
    void SetUp() override;
};

/// Fixture: the test runs in the program's private network, or is skipped.
class PrivateNetworkTest : public ::testing::Test
{
protected:
    void SetUp() override;
};

/// Fixture: each test runs in a fresh network namespace of its own, or is
/// skipped; nothing a test leaves behind there reaches the next one.
class FreshNetworkTest : public ::testing::Test
{
protected:
    void SetUp() override;
};
} // namespace test
} // namespace tn

#endif
