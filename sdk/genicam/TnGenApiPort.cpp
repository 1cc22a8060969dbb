// Port nodes.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "TnGenApiNodeMap.h"
#include "TnGenApiPort.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

// --- PortNode -----------------------------------------------------------------

bool PortNode::ApplyElement(const Element &aElement)
{
    if (aElement.mName == "ChunkID")
    {
        // Chunk IDs are hexadecimal, with or without 0x.
        std::string lText = aElement.mText;
        if (lText.size() > 2 && lText[0] == '0' && (lText[1] == 'x' || lText[1] == 'X'))
        {
            lText = lText.substr(2);
        }
        char *lEnd = nullptr;
        errno = 0;
        const unsigned long long lId = lText.empty() ? 0 : strtoull(lText.c_str(), &lEnd, 16);
        if (lText.empty() || *lEnd != '\0' || errno == ERANGE || lId > 0xFFFFFFFFull || !isxdigit(static_cast<unsigned char>(lText[0])))
        {
            FailDefinition(Describe() + ": ChunkID '" + aElement.mText + "' is no 32-bit hexadecimal number");
        }
        mHasChunkId = true;
        mChunkId = static_cast<uint32_t>(lId);
        return true;
    }
    return INode::ApplyElement(aElement);
}

Access PortNode::GetBaseAccess()
{
    if (mHasChunkId)
    {
        return mMap.GetChunk(mChunkId) != nullptr ? Access::RO : Access::NA;
    }
    if (!mPort)
    {
        return Access::NA;
    }
    TnGenAccessMode lMode = TnGenAccessModeNotAvailable;
    try
    {
        lMode = mPort->GetAccessMode();
    }
    catch (...)
    {
        lMode = TnGenAccessModeNotAvailable;
    }
    switch (lMode)
    {
    case TnGenAccessModeReadWrite:
        return Access::RW;
    case TnGenAccessModeReadOnly:
        return Access::RO;
    case TnGenAccessModeWriteOnly:
        return Access::WO;
    case TnGenAccessModeNotImplemented:
        return Access::NI;
    default:
        return Access::NA;
    }
}

namespace
{
[[noreturn]] void FailPort(const std::string &aWhat, const TnResult &aResult)
{
    std::string lMessage = aWhat + " failed (" + aResult.GetCodeString().GetAscii() + ")";
    if (aResult.HasDescription() && aResult.GetDescription().GetAscii() != nullptr &&
        aResult.GetDescription().GetLength() > 0)
    {
        lMessage += ": " + std::string(aResult.GetDescription().GetAscii());
    }
    throw GenApiError(aResult.GetCode() == TN_OK ? TN_GENERIC_ERROR : aResult.GetCode(), lMessage);
}

// Runs aCall, a read or write of aPort, and fails with its result unless it
// succeeds; a port that throws fails with TN_GENERIC_ERROR.
template <typename Call> void CallPort(const std::string &aWhat, const std::shared_ptr<tn::genicam::IPort> &aPort, Call aCall)
{
    if (!aPort)
    {
        Fail(aWhat + " failed: the port is not connected");
    }
    TnResult lResult;
    try
    {
        lResult = aCall(*aPort);
    }
    catch (...)
    {
        lResult = TnResult(TN_GENERIC_ERROR, TnString("the port threw an exception"));
    }
    if (!lResult.IsOK())
    {
        FailPort(aWhat, lResult);
    }
}
} // namespace

void PortNode::Read(uint64_t aAddress, uint8_t *aData, size_t aLength)
{
    const std::string lWhat = Describe() + ": reading " + std::to_string(aLength) + " bytes at " + tn::genicam::FormatHex(aAddress);
    if (mHasChunkId)
    {
        if (!mMap.AreChunksAttached())
        {
            Fail(lWhat + " failed: no chunk data is attached");
        }
        const std::vector<uint8_t> *lChunk = mMap.GetChunk(mChunkId);
        if (lChunk == nullptr)
        {
            Fail(lWhat + " failed: the attached data has no chunk " + tn::genicam::FormatHex(mChunkId));
        }
        if (aAddress > lChunk->size() || aLength > lChunk->size() - aAddress)
        {
            Fail(lWhat + " failed: chunk " + tn::genicam::FormatHex(mChunkId) + " holds only " + std::to_string(lChunk->size()) + " bytes");
        }
        memcpy(aData, lChunk->data() + aAddress, aLength);
        return;
    }
    CallPort(lWhat, mPort, [&](tn::genicam::IPort &aPort) { return aPort.Read(aAddress, aData, aLength); });
}

void PortNode::Write(uint64_t aAddress, const uint8_t *aData, size_t aLength)
{
    const std::string lWhat = Describe() + ": writing " + std::to_string(aLength) + " bytes at " + tn::genicam::FormatHex(aAddress);
    if (mHasChunkId)
    {
        Fail(lWhat + " failed: chunk data is read-only");
    }
    CallPort(lWhat, mPort, [&](tn::genicam::IPort &aPort) { return aPort.Write(aAddress, aData, aLength); });
}

bool PortNode::FindCached(uint64_t aAddress, uint8_t *aData, size_t aLength) const
{
    const auto lFound = mCache.find(std::make_pair(aAddress, aLength));
    if (lFound == mCache.end())
    {
        return false;
    }
    memcpy(aData, lFound->second.data(), aLength);
    return true;
}

bool PortNode::HasCached(uint64_t aAddress, size_t aLength) const
{
    return mCache.count(std::make_pair(aAddress, aLength)) != 0;
}

void PortNode::StoreCached(uint64_t aAddress, const uint8_t *aData, size_t aLength)
{
    mCache[std::make_pair(aAddress, aLength)].assign(aData, aData + aLength);
    mLongestCached = std::max(mLongestCached, aLength);
}

void PortNode::EraseCached(uint64_t aAddress, size_t aLength)
{
    if (mCache.empty() || aLength == 0)
    {
        return;
    }
    // Entries that start up to the longest cached length before the range
    // may reach into it.
    const uint64_t lFirst = aAddress >= mLongestCached ? aAddress - mLongestCached + 1 : 0;
    const uint64_t lEnd = aAddress + aLength < aAddress ? UINT64_MAX : aAddress + aLength;
    for (auto lEntry = mCache.lower_bound(std::make_pair(lFirst, size_t(0))); lEntry != mCache.end() && lEntry->first.first < lEnd;)
    {
        const uint64_t lEntryEnd = lEntry->first.first + lEntry->first.second;
        if (lEntryEnd > aAddress || lEntryEnd < lEntry->first.first)
        {
            lEntry = mCache.erase(lEntry);
        }
        else
        {
            ++lEntry;
        }
    }
}

} // namespace TN_GENAPI_NS
