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
