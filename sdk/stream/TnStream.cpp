#include "TnStream.h"

#include <mutex>
#include <new>
#include <set>
#include <string>

#include "TnGevAddress.h"
#include "TnStreamCore.h"
#include "TnStreamGEV.h"
#include "TnStreamLog.h"
#include "TnStreamU3V.h"

TnStream::TnStream(tn::stream::StreamCore *aCore) : mCore(aCore)
{
    mCore->Bind(*this);
}

TnStream::~TnStream()
{
    if (mCore->IsInherited())
    {
        return; // the parent's: its threads are not in this process (TnFork.h)
    }
    mCore->Shutdown();
    delete mCore;
}

namespace
{
// The streams CreateAndOpen made and Free has not freed yet (never
// destroyed: streams may be freed at exit).
std::mutex &MadeMutex()
{
    static std::mutex *sMutex = new std::mutex();
    return *sMutex;
}

std::set<const TnStream *> &Made()
{
    static std::set<const TnStream *> *sMade = new std::set<const TnStream *>();
    return *sMade;
}

void SetResult(TnResult *aResult, const TnResult &aValue)
{
    if (aResult != nullptr)
    {
        *aResult = aValue;
    }
}

// Opens a new stream of a kind; null (and the failure in aResult) when it
// does not open.
template <typename Stream, typename Info> TnStream *OpenNew(const Info &aInfo, TnResult *aResult)
{
    Stream *lStream = new (std::nothrow) Stream();
    if (lStream == nullptr)
    {
        SetResult(aResult, TnResult(TN_NOT_ENOUGH_MEMORY, TnString("CreateAndOpen: no memory for the stream")));
        return nullptr;
    }
    const TnResult lResult = lStream->Open(aInfo);
    SetResult(aResult, lResult);
    if (!lResult.IsOK())
    {
        delete lStream;
        return nullptr;
    }
    std::lock_guard<std::mutex> lLock(MadeMutex());
    Made().insert(lStream);
    return lStream;
}
} // namespace

TnStream *TnStream::CreateAndOpen(const TnDeviceInfo *aDeviceInfo, TnResult *aResult)
{
    if (aDeviceInfo == nullptr)
    {
        SetResult(aResult, TnResult(TN_INVALID_PARAMETER, TnString("CreateAndOpen: no device information")));
        return nullptr;
    }
    switch (aDeviceInfo->GetType())
    {
    case TnDeviceInfoTypeGEV:
        return OpenNew<TnStreamGEV>(aDeviceInfo, aResult);
    case TnDeviceInfoTypeU3V:
        return OpenNew<TnStreamU3V>(aDeviceInfo, aResult);
    default:
        SetResult(aResult, TnResult(TN_NOT_SUPPORTED, TnString("CreateAndOpen: the device has no stream this SDK "
                                                               "receives")));
        return nullptr;
    }
}

TnStream *TnStream::CreateAndOpen(const TnString &aInfo, TnResult *aResult)
{
    const char *lText = aInfo.GetAscii();
    uint32_t lAddress = 0;
    if (lText != nullptr && tn::gev::ParseIPv4(lText, lAddress))
    {
        return OpenNew<TnStreamGEV>(aInfo, aResult);
    }
    if (lText == nullptr || *lText == '\0')
    {
        SetResult(aResult, TnResult(TN_INVALID_PARAMETER, TnString("CreateAndOpen: no device address or GUID")));
        return nullptr;
    }
    // Anything else names a USB3 Vision device by its GUID.
    return OpenNew<TnStreamU3V>(aInfo, aResult);
}

void TnStream::Free(TnStream *aStream)
{
    if (aStream == nullptr)
    {
        return;
    }
    {
        // Looked up before it is touched: a stream freed already, or one
        // that belongs to someone else, stays as it is.
        std::lock_guard<std::mutex> lLock(MadeMutex());
        if (Made().erase(aStream) == 0)
        {
            tn::stream::LogWarning("TnStream::Free: the stream was not made by CreateAndOpen, or is freed already");
            return;
        }
    }
    delete aStream;
}

TnResult TnStream::Close()
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnStream::Close");
    }
    return mCore->CloseStream();
}

bool TnStream::IsOpen() const
{
    if (mCore->IsInherited())
    {
        return false;
    }
    return mCore->IsOpen();
}

uint16_t TnStream::GetChannel()
{
    if (mCore->IsInherited())
    {
        return 0;
    }
    return mCore->GetChannel();
}

TnResult TnStream::QueueBuffer(TnBuffer *aBuffer)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnStream::QueueBuffer");
    }
    return mCore->Queue(aBuffer, nullptr);
}

TnResult TnStream::RetrieveBuffer(TnBuffer **aBuffer, TnResult *aOperationResult, uint32_t aTimeout)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnStream::RetrieveBuffer");
    }
    return mCore->Retrieve(aBuffer, aOperationResult, aTimeout, nullptr, true);
}

TnResult TnStream::AbortQueuedBuffers()
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnStream::AbortQueuedBuffers");
    }
    return mCore->Abort();
}

uint32_t TnStream::GetQueuedBufferCount() const
{
    if (mCore->IsInherited())
    {
        return 0;
    }
    return mCore->GetQueuedCount();
}

uint32_t TnStream::GetQueuedBufferMaximum() const
{
    if (mCore->IsInherited())
    {
        return 0;
    }
    return mCore->GetCapacity();
}

TnResult TnStream::RegisterEventSink(TnStreamEventSink *aEventSink)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnStream::RegisterEventSink");
    }
    return mCore->RegisterEventSink(aEventSink);
}

TnResult TnStream::UnregisterEventSink(TnStreamEventSink *aEventSink)
{
    if (mCore->IsInherited())
    {
        return tn::InheritedFailure("TnStream::UnregisterEventSink");
    }
    return mCore->UnregisterEventSink(aEventSink);
}

TnGenParameterArray *TnStream::GetParameters()
{
    if (mCore->IsInherited())
    {
        return nullptr;
    }
    return mCore->GetParameters();
}

TnStreamEventSink::TnStreamEventSink() = default;
TnStreamEventSink::~TnStreamEventSink() = default;

void TnStreamEventSink::OnBufferReady(TnStream *, TnBuffer *)
{
}

void TnStreamEventSink::OnClose(TnStream *)
{
}
