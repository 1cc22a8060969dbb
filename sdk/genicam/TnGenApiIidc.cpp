// The nodes of IIDC cameras.
#include <ctype.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "TnByteOrder.h"
#include "TnGenApiIidc.h"
#include "TnGenApiNodeMap.h"
#include "TnGenApiPort.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
const size_t kQuadlet = 4;
// Bounds the walk of a directory or leaf whose header is garbage.
const uint32_t kMaximumQuadlets = 1024;

// Hexadecimal digits, with dashes, braces and a 0x prefix allowed, into at
// most aMaximum big-endian bytes; false for anything else.
bool ParseHexBytes(const std::string &aText, size_t aMaximum, uint8_t *aBytes, size_t &aLength)
{
    std::string lDigits;
    for (size_t lIndex = 0; lIndex < aText.size(); ++lIndex)
    {
        const char lChar = aText[lIndex];
        if (lChar == '0' && lIndex + 1 < aText.size() && (aText[lIndex + 1] == 'x' || aText[lIndex + 1] == 'X') &&
            lDigits.empty())
        {
            ++lIndex;
        }
        else if (isxdigit(static_cast<unsigned char>(lChar)))
        {
            lDigits += lChar;
        }
        else if (lChar != '-' && lChar != '{' && lChar != '}' && !isspace(static_cast<unsigned char>(lChar)))
        {
            return false;
        }
    }
    if (lDigits.empty() || lDigits.size() > 2 * aMaximum)
    {
        return false;
    }
    if (lDigits.size() % 2 != 0)
    {
        lDigits.insert(lDigits.begin(), '0');
    }
    aLength = lDigits.size() / 2;
    for (size_t lIndex = 0; lIndex < aLength; ++lIndex)
    {
        aBytes[lIndex] = static_cast<uint8_t>(std::stoi(lDigits.substr(2 * lIndex, 2), nullptr, 16));
    }
    return true;
}
} // namespace

// --- Integers ---------------------------------------------------------------------

IidcIntegerNode::IidcIntegerNode(INodeMap &aMap, NodeKind aKind, const std::string &aName)
    : WithRegister(aMap, aKind, aName)
{
    const bool lWritable = aKind == NodeKind::AdvFeatureLock || aKind == NodeKind::DcamLock;
    mRegister.SetDefaults(aKind == NodeKind::AdvFeatureLock ? 8 : int64_t(kQuadlet),
                          lWritable ? Access::RW : Access::RO);
    mRegister.SetCachable(TnGenCacheNone);
}

bool IidcIntegerNode::ApplyElement(const Element &aElement)
{
    const std::string &lName = aElement.mName;
    if (aElement.Is("Mask") || aElement.Is("Key") || aElement.Is("Timeout"))
    {
        const int64_t lValue = ParseInteger(aElement);
        const int64_t lLimit = aElement.Is("Key") ? 0xFF : (aElement.Is("Timeout") ? 0xFFFF : 0xFFFFFFFF);
        if (lValue < 0 || lValue > lLimit || (aElement.Is("Mask") && lValue == 0))
        {
            FailDefinition(Describe() + ": " + lName + " " + std::to_string(lValue) + " is out of range");
        }
        if (aElement.Is("Mask"))
        {
            mMask = static_cast<uint32_t>(lValue);
        }
        else if (aElement.Is("Key"))
        {
            mHasKey = true;
            mKey = static_cast<uint32_t>(lValue);
        }
        else
        {
            mTimeout = static_cast<uint16_t>(lValue);
        }
        return true;
    }
    if (aElement.Is("FeatureID"))
    {
        const size_t lMaximum = GetKind() == NodeKind::SmartFeature ? 16 : 6;
        if (!ParseHexBytes(aElement.mText, lMaximum, mFeatureId, mFeatureIdLength))
        {
            FailDefinition(Describe() + ": FeatureID '" + aElement.mText + "' is no hexadecimal number of at most " +
                           std::to_string(8 * lMaximum) + " bits");
        }
        mHasFeatureId = true;
        return true;
    }
    return WithRegister::ApplyElement(aElement);
}

void IidcIntegerNode::Validate()
{
    mRegister.Validate(*this, 1, 16);
    if (GetKind() == NodeKind::IntKey && !mHasKey)
    {
        FailDefinition(Describe() + " has no Key");
    }
    if ((GetKind() == NodeKind::AdvFeatureLock || GetKind() == NodeKind::SmartFeature) && !mHasFeatureId)
    {
        FailDefinition(Describe() + " has no FeatureID");
    }
}

uint32_t IidcIntegerNode::ReadQuadlet(uint64_t aOffset)
{
    uint8_t lBytes[kQuadlet];
    mRegister.ReadAt(*this, aOffset, lBytes, kQuadlet);
    return tn::GetU32(lBytes);
}

int IidcIntegerNode::GetMaskShift() const
{
    int lShift = 0;
    while (((mMask >> lShift) & 1) == 0)
    {
        ++lShift;
    }
    return lShift;
}

int64_t IidcIntegerNode::GetInt()
{
    CheckReadable();
    switch (GetKind())
    {
    case NodeKind::IntKey:
    {
        const uint32_t lEntries = ReadQuadlet(0) >> 16;
        for (uint32_t lEntry = 1; lEntry <= lEntries && lEntry <= kMaximumQuadlets; ++lEntry)
        {
            const uint32_t lQuadlet = ReadQuadlet(kQuadlet * lEntry);
            if ((lQuadlet >> 24) == mKey)
            {
                return lQuadlet & 0xFFFFFF;
            }
        }
        Fail(Describe() + ": the directory has no entry with the key " + tn::genicam::FormatHex(mKey));
    }
    case NodeKind::AdvFeatureLock:
    {
        uint8_t lBytes[8];
        mRegister.ReadAt(*this, 0, lBytes, sizeof(lBytes));
        uint8_t lExpected[6] = {0};
        memcpy(lExpected + sizeof(lExpected) - mFeatureIdLength, mFeatureId, mFeatureIdLength);
        return memcmp(lBytes, lExpected, sizeof(lExpected)) == 0 ? 1 : 0;
    }
    case NodeKind::SmartFeature:
    {
        uint8_t lGuid[16] = {0};
        memcpy(lGuid + sizeof(lGuid) - mFeatureIdLength, mFeatureId, mFeatureIdLength);
        mRegister.WriteAt(*this, 0, lGuid, sizeof(lGuid));
        return ReadQuadlet(sizeof(lGuid));
    }
    default:
        return (ReadQuadlet(0) & mMask) >> GetMaskShift();
    }
}

void IidcIntegerNode::SetInt(int64_t aValue)
{
    CheckWrite(aValue);
    if (GetKind() == NodeKind::AdvFeatureLock)
    {
        uint8_t lBytes[8] = {0};
        if (aValue != 0)
        {
            memcpy(lBytes + 6 - mFeatureIdLength, mFeatureId, mFeatureIdLength);
            tn::PutU16(lBytes + 6, mTimeout);
        }
        mRegister.WriteAt(*this, 0, lBytes, sizeof(lBytes));
    }
    else
    {
        uint8_t lBytes[kQuadlet];
        const uint32_t lOld = mRegister.GetAccess() == Access::RW ? ReadQuadlet(0) : 0;
        tn::PutU32(lBytes, (lOld & ~mMask) | ((static_cast<uint32_t>(aValue) << GetMaskShift()) & mMask));
        mRegister.WriteAt(*this, 0, lBytes, kQuadlet);
    }
    mMap.NodeChanged(*this);
}

int64_t IidcIntegerNode::GetIntMin()
{
    return 0;
}

int64_t IidcIntegerNode::GetIntMax()
{
    switch (GetKind())
    {
    case NodeKind::IntKey:
        return 0xFFFFFF;
    case NodeKind::AdvFeatureLock:
        return 1;
    case NodeKind::SmartFeature:
        return 0xFFFFFFFF;
    default:
        return mMask >> GetMaskShift();
    }
}

// --- TextDesc -------------------------------------------------------------------------

TextDescNode::TextDescNode(INodeMap &aMap, const std::string &aName) : WithRegister(aMap, NodeKind::TextDesc, aName)
{
    mRegister.SetDefaults(int64_t(kQuadlet), Access::RO);
    mRegister.SetCachable(TnGenCacheNone);
}

std::string TextDescNode::GetString()
{
    CheckReadable();
    uint8_t lHeader[kQuadlet];
    mRegister.ReadAt(*this, 0, lHeader, kQuadlet);
    const uint32_t lQuadlets = tn::GetU32(lHeader) >> 16;
    if (lQuadlets <= 2)
    {
        return std::string();
    }
    const size_t lLength = kQuadlet * (std::min(lQuadlets, kMaximumQuadlets) - 2);
    std::vector<uint8_t> lText(lLength);
    // After the header, the specifier and the language.
    mRegister.ReadAt(*this, 3 * kQuadlet, lText.data(), lLength);
    const void *lEnd = memchr(lText.data(), 0, lLength);
    return std::string(reinterpret_cast<const char *>(lText.data()),
                       lEnd != nullptr ? static_cast<const uint8_t *>(lEnd) - lText.data() : lLength);
}

int64_t TextDescNode::GetMaxLength()
{
    return int64_t(kQuadlet) * (kMaximumQuadlets - 2);
}

void TextDescNode::Validate()
{
    mRegister.Validate(*this, 1, 16);
}

} // namespace TN_GENAPI_NS
