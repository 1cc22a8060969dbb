// String, StringReg and Register nodes.
#include <ctype.h>
#include <string.h>

#include "TnGenApiString.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
const size_t kMaxStringValue = 4096;
} // namespace

// --- String -------------------------------------------------------------------

bool StringNode::ApplyElement(const Element &aElement)
{
    if (aElement.Is("Value"))
    {
        mHasValue = true;
        mValue = aElement.mText;
        return true;
    }
    if (aElement.Is("pValue"))
    {
        SetRef(mValueRef, aElement);
        return true;
    }
    return INode::ApplyElement(aElement);
}

INode *StringNode::GetValueTarget()
{
    return mValueRef.mNode;
}

std::string StringNode::GetString()
{
    CheckReadable();
    if (mValueRef.mNode != nullptr)
    {
        DepthGuard lGuard(mMap);
        return mValueRef.mNode->GetString();
    }
    return mValue;
}

void StringNode::SetString(const std::string &aValue)
{
    CheckWritable();
    if (mValueRef.mNode != nullptr)
    {
        DepthGuard lGuard(mMap);
        mValueRef.mNode->SetString(aValue);
    }
    else
    {
        if (aValue.size() > kMaxStringValue)
        {
            Fail(Describe() + ": the text is longer than " + std::to_string(kMaxStringValue) + " bytes");
        }
        mValue = aValue;
        mMap.NodeChanged(*this);
    }
    FinishWrite(aValue);
}

int64_t StringNode::GetMaxLength()
{
    if (mValueRef.mNode != nullptr)
    {
        DepthGuard lGuard(mMap);
        return mValueRef.mNode->GetMaxLength();
    }
    return static_cast<int64_t>(kMaxStringValue);
}

void StringNode::CollectReferences(std::vector<NodeRef *> &aReferences)
{
    if (mValueRef.IsSet())
    {
        aReferences.push_back(&mValueRef);
    }
    INode::CollectReferences(aReferences);
}

void StringNode::Validate()
{
    if (!mHasValue && !mValueRef.IsSet())
    {
        FailDefinition(Describe() + " has neither Value nor pValue");
    }
    CheckInterface(mValueRef, "pValue", {InterfaceKind::String});
}

std::string StringRegNode::GetString()
{
    CheckReadable();
    const size_t lLength = mRegister.GetLength(*this);
    std::vector<uint8_t> lData(lLength);
    mRegister.Read(*this, lData.data(), lLength);
    const uint8_t *lEnd = static_cast<const uint8_t *>(memchr(lData.data(), 0, lLength));
    return std::string(reinterpret_cast<const char *>(lData.data()), lEnd != nullptr ? lEnd - lData.data() : lLength);
}

void StringRegNode::SetString(const std::string &aValue)
{
    CheckWritable();
    const size_t lLength = mRegister.GetLength(*this);
    if (aValue.size() > lLength)
    {
        Fail(Describe() + ": the text takes " + std::to_string(aValue.size()) + " bytes, the register only " +
             std::to_string(lLength));
    }
    std::vector<uint8_t> lData(lLength, 0);
    memcpy(lData.data(), aValue.data(), aValue.size());
    mRegister.Write(*this, lData.data(), lLength);
}

int64_t StringRegNode::GetMaxLength()
{
    return static_cast<int64_t>(mRegister.GetLength(*this));
}

void StringRegNode::Validate()
{
    mRegister.Validate(*this, 1, int64_t(1) << 26);
}

// --- Register -----------------------------------------------------------------

int64_t RegisterNode::GetLength()
{
    return static_cast<int64_t>(mRegister.GetLength(*this));
}

void RegisterNode::GetBytes(uint8_t *aData, size_t aLength)
{
    CheckReadable();
    const size_t lLength = mRegister.GetLength(*this);
    if (aLength > lLength)
    {
        throw GenApiError(TN_INVALID_PARAMETER,
                          Describe() + " holds " + std::to_string(lLength) + " bytes, not " + std::to_string(aLength));
    }
    std::vector<uint8_t> lData(lLength);
    mRegister.Read(*this, lData.data(), lLength);
    if (aLength > 0) // no memory at all is given for no bytes
    {
        memcpy(aData, lData.data(), aLength);
    }
}

void RegisterNode::SetBytes(const uint8_t *aData, size_t aLength)
{
    CheckWritable();
    const size_t lLength = mRegister.GetLength(*this);
    if (aLength > lLength)
    {
        throw GenApiError(TN_INVALID_PARAMETER,
                          Describe() + " holds " + std::to_string(lLength) + " bytes, not " + std::to_string(aLength));
    }
    mRegister.Write(*this, aData, aLength);
}

std::string RegisterNode::ToString()
{
    const size_t lLength = mRegister.GetLength(*this);
    std::vector<uint8_t> lData(lLength);
    GetBytes(lData.data(), lLength);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string lText;
    for (uint8_t lByte : lData)
    {
        lText += kDigits[lByte >> 4];
        lText += kDigits[lByte & 0xF];
    }
    return lText;
}

void RegisterNode::FromString(const std::string &aValue)
{
    std::string lText = tn::genicam::Trim(aValue);
    if (lText.size() >= 2 && lText[0] == '0' && (lText[1] == 'x' || lText[1] == 'X'))
    {
        lText = lText.substr(2);
    }
    if (lText.size() % 2 != 0)
    {
        Fail(Describe() + ": '" + aValue + "' is no sequence of hexadecimal bytes");
    }
    std::vector<uint8_t> lData;
    for (size_t lIndex = 0; lIndex < lText.size(); lIndex += 2)
    {
        if (!isxdigit(static_cast<unsigned char>(lText[lIndex])) ||
            !isxdigit(static_cast<unsigned char>(lText[lIndex + 1])))
        {
            Fail(Describe() + ": '" + aValue + "' is no sequence of hexadecimal bytes");
        }
        lData.push_back(static_cast<uint8_t>(std::stoi(lText.substr(lIndex, 2), nullptr, 16)));
    }
    if (lData.size() > mRegister.GetLength(*this))
    {
        Fail(Describe() + ": " + std::to_string(lData.size()) + " bytes do not fit into the register");
    }
    SetBytes(lData.data(), lData.size());
}

void RegisterNode::Validate()
{
    mRegister.Validate(*this, 1, int64_t(1) << 26);
}

} // namespace TN_GENAPI_NS
