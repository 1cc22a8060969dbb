// Test helper: a GigE Vision device whose bootstrap block is the one given,
// read-only, served by our own responder.
#ifndef TN_TEST_RESPONDER_H
#define TN_TEST_RESPONDER_H

#include <string.h>

#include <vector>

#include "TnGvcpServer.h"

namespace tn
{
namespace test
{
class BootstrapDevice : public tn::gev::TnGvcpRegisterHandler
{
public:
    explicit BootstrapDevice(const tn::gev::TnGvcpDeviceInfo &aInfo) : mBlock(tn::gev::EncodeDeviceInfo(aInfo)) {}

    uint16_t ReadMemory(const tn::gev::TnGvcpPeer &, uint32_t aAddress, uint8_t *aData, size_t aSize) override
    {
        if (aAddress + aSize > mBlock.size())
        {
            return tn::gev::kGvcpStatusInvalidAddress;
        }
        memcpy(aData, mBlock.data() + aAddress, aSize);
        return tn::gev::kGvcpStatusSuccess;
    }

    uint16_t WriteMemory(const tn::gev::TnGvcpPeer &, uint32_t, const uint8_t *, size_t) override
    {
        return tn::gev::kGvcpStatusWriteProtect;
    }

private:
    std::vector<uint8_t> mBlock;
};
} // namespace test
} // namespace tn

#endif
