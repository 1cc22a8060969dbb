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

namespace
{
// A hexadecimal ID of at most aBits bits, with or without 0x.
bool ParseHexId(const std::string &aText, int aBits, uint64_t &aId)
{
    std::string lText = aText;
    if (lText.size() > 2 && lText[0] == '0' && (lText[1] == 'x' || lText[1] == 'X'))
    {
        lText = lText.substr(2);
    }
    if (lText.empty() || lText.size() > static_cast<size_t>(aBits / 4))
    {
        return false;
    }
    uint64_t lId = 0;
    for (char lDigit : lText)
    {
        if (!isxdigit(static_cast<unsigned char>(lDigit)))
        {
            return false;
        }
        lId = (lId << 4) |
              static_cast<uint64_t>(isdigit(static_cast<unsigned char>(lDigit)) ? lDigit - '0'
                                                                                : (tolower(lDigit) - 'a' + 10));
    }
    aId = lId;
    return true;
}
} // namespace

bool PortNode::ApplyElement(const Element &aElement)
{
    // Chunk IDs take 32 bits, event IDs up to 64; both are hexadecimal.
    const bool lChunk = aElement.Is("ChunkID");
    if (lChunk || aElement.Is("EventID"))
    {
        uint64_t lId = 0;
        if (!ParseHexId(aElement.mText, lChunk ? 32 : 64, lId))
        {
            FailDefinition(Describe() + ": " + aElement.mName + " '" + aElement.mText + "' is no " +
                           (lChunk ? "32" : "64") + "-bit hexadecimal number");
        }
        mSource = lChunk ? Source::Chunk : Source::Event;
        mId = lId;
        return true;
    }
    return INode::ApplyElement(aElement);
}

const std::vector<uint8_t> *PortNode::GetData() const
{
    return mSource == Source::Chunk ? mMap.GetChunk(GetChunkId()) : mMap.GetEventData(mId);
}

void PortNode::ScanAccess(AccessScan &aScan)
{
    aScan.Value(GetPortAccess());
}

bool PortNode::AccessChanged()
{
    const Access lSeen = mSeenAccess;
    return GetPortAccess() != lSeen;
}

Access PortNode::GetPortAccess()
{
    mSeenAccess = ReadPortAccess();
    return mSeenAccess;
}

Access PortNode::ReadPortAccess()
{
    // Chunk data that is not attached is not available; an event port
    // serves nothing at all before its first event.
    if (mSource != Source::Device)
    {
        return GetData() != nullptr ? Access::RO : mSource == Source::Chunk ? Access::NA : Access::NI;
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
template <typename What, typename Call>
void CallPort(const What &aWhat, const std::shared_ptr<tn::genicam::IPort> &aPort, Call aCall)
{
    if (!aPort)
    {
        Fail(aWhat() + " failed: the port is not connected");
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
        FailPort(aWhat(), lResult);
    }
}
} // namespace

void PortNode::Read(uint64_t aAddress, uint8_t *aData, size_t aLength)
{
    const auto lWhat = [&]() {
        return Describe() + ": reading " + std::to_string(aLength) + " bytes at " + tn::genicam::FormatHex(aAddress);
    };
    if (mSource == Source::Device)
    {
        CallPort(lWhat, mPort, [&](tn::genicam::IPort &aPort) { return aPort.Read(aAddress, aData, aLength); });
        return;
    }
    const std::string lSource = (mSource == Source::Chunk ? "chunk " : "event ") + tn::genicam::FormatHex(mId);
    const std::vector<uint8_t> *lData = GetData();
    if (lData == nullptr)
    {
        if (mSource == Source::Chunk && !mMap.AreChunksAttached())
        {
            Fail(lWhat() + " failed: no chunk data is attached");
        }
        Fail(lWhat() + " failed: " +
             (mSource == Source::Chunk ? "the attached data has no " + lSource : "no " + lSource + " has arrived"));
    }
    if (aAddress > lData->size() || aLength > lData->size() - aAddress)
    {
        Fail(lWhat() + " failed: " + lSource + " holds only " + std::to_string(lData->size()) + " bytes");
    }
    if (aLength > 0)
    {
        memcpy(aData, lData->data() + aAddress, aLength);
    }
}

void PortNode::Write(uint64_t aAddress, const uint8_t *aData, size_t aLength)
{
    const auto lWhat = [&]() {
        return Describe() + ": writing " + std::to_string(aLength) + " bytes at " + tn::genicam::FormatHex(aAddress);
    };
    if (mSource != Source::Device)
    {
        Fail(lWhat() + " failed: " + (mSource == Source::Chunk ? "chunk" : "event") + " data is read-only");
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
    for (auto lEntry = mCache.lower_bound(std::make_pair(lFirst, size_t(0)));
         lEntry != mCache.end() && lEntry->first.first < lEnd;)
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
