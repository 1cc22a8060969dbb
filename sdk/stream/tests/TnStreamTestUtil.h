// What the stream tests share: the private network (with multicast on
// loopback), device information for a device on loopback, and buffers.
#ifndef TN_STREAM_TEST_UTIL_H
#define TN_STREAM_TEST_UTIL_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TnBuffer.h"
#include "TnDeviceInfo.h"
#include "TnStream.h"

namespace tn
{
namespace test
{
constexpr uint32_t kLoopback = 0x7F000001;

/// Whether the program runs in its private network (entered before the
/// first test); the reason when not.
bool HaveStreamNetwork(std::string *aWhy);

#define REQUIRE_STREAM_NETWORK() \
    do \
    { \
        std::string lWhyNot; \
        if (!tn::test::HaveStreamNetwork(&lWhyNot)) \
        { \
            GTEST_SKIP() << lWhyNot; \
        } \
    } while (false)

/// Information of a GigE Vision device at 127.0.0.1 whose control port is
/// aControlPort.
std::unique_ptr<TnDeviceInfoGEV> LoopbackDevice(uint16_t aControlPort);

/// aCount buffers of aSize bytes each.
std::vector<std::unique_ptr<TnBuffer>> MakeBuffers(size_t aCount, uint32_t aSize);

/// Queues every buffer; false when one is refused.
bool QueueAll(TnStream &aStream, std::vector<std::unique_ptr<TnBuffer>> &aBuffers);

/// Whether a buffer holds the test pattern of its block (every byte).
bool HoldsPattern(TnBuffer &aBuffer, uint32_t aWidth);
} // namespace test
} // namespace tn

#endif
