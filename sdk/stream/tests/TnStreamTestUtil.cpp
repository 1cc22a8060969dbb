#include "TnStreamTestUtil.h"

#include "TnGvspTool.h"
#include "TnTestNetwork.h"

namespace tn
{
namespace test
{
namespace
{
bool gHave = false;
std::string gWhy;

class StreamNetwork : public ::testing::Environment
{
public:
    void SetUp() override
    {
        gHave = UsePrivateNetwork(&gWhy);
        if (!gHave)
        {
            return;
        }
        // Multicast on the loopback interface, for the multicast cases.
        test::EnableLoopbackMulticast();
    }
};

const ::testing::Environment *gEnvironment = ::testing::AddGlobalTestEnvironment(new StreamNetwork);
} // namespace

bool HaveStreamNetwork(std::string *aWhy)
{
    if (aWhy != nullptr)
    {
        *aWhy = gWhy;
    }
    return gHave;
}

std::unique_ptr<TnDeviceInfoGEV> LoopbackDevice(uint16_t aControlPort)
{
    std::unique_ptr<TnDeviceInfoGEV> lInfo(new TnDeviceInfoGEV());
    lInfo->mIPAddress = kLoopback;
    lInfo->mSubnetMask = 0xFF000000u;
    lInfo->mLocalAddress = kLoopback;
    lInfo->mControlPort = aControlPort;
    lInfo->mModelName = "Stream";
    return lInfo;
}

std::vector<std::unique_ptr<TnBuffer>> MakeBuffers(size_t aCount, uint32_t aSize)
{
    std::vector<std::unique_ptr<TnBuffer>> lBuffers;
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        lBuffers.emplace_back(new TnBuffer(TnPayloadTypeImage));
        EXPECT_TRUE(lBuffers.back()->Alloc(aSize).IsOK());
    }
    return lBuffers;
}

bool QueueAll(TnStream &aStream, std::vector<std::unique_ptr<TnBuffer>> &aBuffers)
{
    for (std::unique_ptr<TnBuffer> &lBuffer : aBuffers)
    {
        if (aStream.QueueBuffer(lBuffer.get()).GetCode() != TN_PENDING)
        {
            return false;
        }
    }
    return true;
}

bool HoldsPattern(TnBuffer &aBuffer, uint32_t aWidth)
{
    TnImage *lImage = aBuffer.GetImage();
    if (lImage == nullptr || lImage->GetWidth() != aWidth)
    {
        return false;
    }
    const size_t lSize = size_t(lImage->GetWidth()) * lImage->GetHeight();
    return lSize != 0 && aBuffer.GetPayloadSize() == lSize &&
           tool::PatternOk(aBuffer.GetDataPointer(), lSize, aWidth, aBuffer.GetBlockID(), true);
}
} // namespace test
} // namespace tn
