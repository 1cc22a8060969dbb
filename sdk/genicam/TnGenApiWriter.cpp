// Writing GenICam XML.
#include "TnGenApiWriter.h"

#include <ctype.h>
#include <math.h>
#include <stdio.h>

#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

#include "TnGenICamInternal.h"
#include "TnGenParameterArray.h"
#include "TnText.h"

namespace tn
{
namespace genicam
{
namespace
{
const char kNamespace[] = "http://www.genicam.org/GenApi/Version_1_1";
const char kSchemaLocation[] =
    "http://www.genicam.org/GenApi/Version_1_1 http://www.genicam.org/GenApi/GenApiSchema_Version_1_1.xsd";
const char kDevicePort[] = "Device";
// Event data features count their offsets from the end of the event header
// (event id, stream channel, block id, timestamp) when asked to.
const uint32_t kEventHeaderSize = 16;

/// A fault of the description, named after the feature at fault.
class DescriptionError : public std::runtime_error
{
public:
    DescriptionError(const std::string &aFeature, const std::string &aMessage)
        : std::runtime_error("feature '" + aFeature + "': " + aMessage)
    {
    }
};

std::string Hex(uint64_t aValue, int aDigits = 0)
{
    char lText[32];
    snprintf(lText, sizeof(lText), "%0*llX", aDigits, static_cast<unsigned long long>(aValue));
    return lText;
}

std::string Number(double aValue)
{
    char lText[40];
    snprintf(lText, sizeof(lText), "%.17g", aValue);
    return lText;
}

const char *AccessText(bool aReadable, bool aWritable)
{
    return aReadable && aWritable ? "RW" : aWritable ? "WO" : "RO";
}

/// Words of a camel-case name with blanks between them.
std::string SplitWords(const std::string &aName)
{
    std::string lText;
    for (size_t lIndex = 0; lIndex < aName.size(); ++lIndex)
    {
        const unsigned char lC = static_cast<unsigned char>(aName[lIndex]);
        if (lC == '_')
        {
            if (!lText.empty() && lText.back() != ' ')
            {
                lText += ' ';
            }
            continue;
        }
        if (lIndex > 0 && isupper(lC) && !lText.empty() && lText.back() != ' ')
        {
            const unsigned char lPrevious = static_cast<unsigned char>(aName[lIndex - 1]);
            const bool lNextLower = lIndex + 1 < aName.size() && islower(static_cast<unsigned char>(aName[lIndex + 1]));
            if (islower(lPrevious) || isdigit(lPrevious) || (isupper(lPrevious) && lNextLower))
            {
                lText += ' ';
            }
        }
        lText += static_cast<char>(lC);
    }
    return lText;
}

std::string FirstWord(const std::string &aName)
{
    size_t lEnd = 1;
    while (lEnd < aName.size() && !isupper(static_cast<unsigned char>(aName[lEnd])) && aName[lEnd] != '_')
    {
        ++lEnd;
    }
    return aName.substr(0, lEnd);
}

/// A feature as the description holds it: one per name, made by one or more
/// owners (sources, or the device as a whole).
struct Merged
{
    FeatureSpec mSpec;                       // the first part, with the changes applied
    std::vector<FeatureSpec> mParts;         // one per owner
    std::vector<int> mOwners;                // ascending; -1 alone for the whole device
    std::vector<std::string> mSelected;      // features this one selects (pSelected)
    std::vector<EnumEntrySpec> mEntries;     // the union of the owners' entries
    std::vector<std::vector<int>> mEntryOwners;
};

class Builder
{
public:
    Builder(const std::vector<FeatureSpec> &aFeatures, const std::vector<FeatureChange> &aChanges,
            const DescriptionInfo &aInfo)
        : mInfo(aInfo)
    {
        Merge(aFeatures);
        ApplyChanges(aChanges);
        CheckReferences();
    }

    ~Builder()
    {
        if (mDocument != nullptr)
        {
            xmlFreeDoc(mDocument);
        }
    }

    std::string Write()
    {
        mDocument = xmlNewDoc(BAD_CAST "1.0");
        mRoot = xmlNewNode(nullptr, BAD_CAST "RegisterDescription");
        xmlDocSetRootElement(mDocument, mRoot);
        mNamespace = xmlNewNs(mRoot, BAD_CAST kNamespace, nullptr);
        xmlSetNs(mRoot, mNamespace);
        xmlNsPtr lXsi = xmlNewNs(mRoot, BAD_CAST "http://www.w3.org/2001/XMLSchema-instance", BAD_CAST "xsi");
        const std::pair<const char *, std::string> lAttributes[] = {
            {"ModelName", mInfo.mModelName},
            {"VendorName", mInfo.mVendorName},
            {"ToolTip", mInfo.mToolTip},
            {"StandardNameSpace", "GEV"},
            {"SchemaMajorVersion", "1"},
            {"SchemaMinorVersion", "1"},
            {"SchemaSubMinorVersion", "0"},
            {"MajorVersion", std::to_string(mInfo.mMajorVersion)},
            {"MinorVersion", std::to_string(mInfo.mMinorVersion)},
            {"SubMinorVersion", std::to_string(mInfo.mSubMinorVersion)},
            {"ProductGuid", mInfo.mProductGuid},
            {"VersionGuid", mInfo.mVersionGuid}};
        for (const auto &lAttribute : lAttributes)
        {
            xmlNewProp(mRoot, BAD_CAST lAttribute.first, BAD_CAST lAttribute.second.c_str());
        }
        xmlNewNsProp(mRoot, lXsi, BAD_CAST "schemaLocation", BAD_CAST kSchemaLocation);

        ReserveNames();
        WriteCategories();
        for (Merged &lFeature : mFeatures)
        {
            WriteFeature(lFeature);
        }
        WritePorts();

        xmlChar *lMemory = nullptr;
        int lSize = 0;
        xmlDocDumpFormatMemoryEnc(mDocument, &lMemory, &lSize, "UTF-8", 1);
        std::string lXml(reinterpret_cast<const char *>(lMemory), static_cast<size_t>(lSize));
        xmlFree(lMemory);
        return lXml;
    }

    /// The feature a node of the description was made for.
    std::string OwnerOfNode(const std::string &aNode) const
    {
        const auto lFound = mNodeOwners.find(aNode);
        return lFound != mNodeOwners.end() ? lFound->second : std::string();
    }

    const std::map<std::string, std::string> &GetNodeOwners() const { return mNodeOwners; }

private:
    // --- Merging -------------------------------------------------------------

    void Merge(const std::vector<FeatureSpec> &aFeatures)
    {
        for (const FeatureSpec &lSpec : aFeatures)
        {
            if (!IsFeatureName(lSpec.mName))
            {
                throw DescriptionError(lSpec.mName, "the name is no GenICam name");
            }
            const auto lFound = mIndex.find(lSpec.mName);
            if (lFound == mIndex.end())
            {
                mIndex[lSpec.mName] = mFeatures.size();
                Merged lMerged;
                lMerged.mSpec = lSpec;
                lMerged.mParts.push_back(lSpec);
                lMerged.mOwners.push_back(lSpec.mOwner);
                mFeatures.push_back(lMerged);
                continue;
            }
            Merged &lMerged = mFeatures[lFound->second];
            if (lSpec.mKind != lMerged.mSpec.mKind)
            {
                throw DescriptionError(lSpec.mName, std::string("two features of this name are of different kinds (") +
                                                        KindName(lMerged.mSpec.mKind) + " and " +
                                                        KindName(lSpec.mKind) + ")");
            }
            if (lSpec.mOwner < 0 || lMerged.mOwners.front() < 0 ||
                std::find(lMerged.mOwners.begin(), lMerged.mOwners.end(), lSpec.mOwner) != lMerged.mOwners.end())
            {
                throw DescriptionError(lSpec.mName,
                                       "it is created twice" + (lSpec.mOwner >= 0
                                                                    ? " by source " + std::to_string(lSpec.mOwner)
                                                                    : std::string()));
            }
            lMerged.mParts.push_back(lSpec);
            lMerged.mOwners.push_back(lSpec.mOwner);
        }
        for (Merged &lMerged : mFeatures)
        {
            MergeEntries(lMerged);
        }
    }

    void MergeEntries(Merged &aMerged)
    {
        for (size_t lPart = 0; lPart < aMerged.mParts.size(); ++lPart)
        {
            for (const EnumEntrySpec &lEntry : aMerged.mParts[lPart].mEntries)
            {
                size_t lIndex = 0;
                while (lIndex < aMerged.mEntries.size() && aMerged.mEntries[lIndex].mName != lEntry.mName)
                {
                    ++lIndex;
                }
                if (lIndex == aMerged.mEntries.size())
                {
                    aMerged.mEntries.push_back(lEntry);
                    aMerged.mEntryOwners.emplace_back();
                }
                else if (aMerged.mEntries[lIndex].mValue != lEntry.mValue)
                {
                    throw DescriptionError(aMerged.mSpec.mName, "the entry '" + lEntry.mName + "' has the values " +
                                                                    std::to_string(aMerged.mEntries[lIndex].mValue) +
                                                                    " and " + std::to_string(lEntry.mValue));
                }
                aMerged.mEntryOwners[lIndex].push_back(aMerged.mOwners[lPart]);
            }
        }
    }

    Merged *Find(const std::string &aName)
    {
        const auto lFound = mIndex.find(aName);
        return lFound != mIndex.end() ? &mFeatures[lFound->second] : nullptr;
    }

    Merged &Require(const std::string &aName, const std::string &aWhy)
    {
        Merged *lMerged = Find(aName);
        if (lMerged == nullptr)
        {
            throw DescriptionError(aName, aWhy + ", but the description does not define it");
        }
        return *lMerged;
    }

    void ApplyChanges(const std::vector<FeatureChange> &aChanges)
    {
        for (const FeatureChange &lChange : aChanges)
        {
            const std::string lWhy = "a change of the device's features names it";
            FeatureSpec &lSpec = Require(lChange.mTarget, lWhy).mSpec;
            switch (lChange.mKind)
            {
            case FeatureChange::AddInvalidator:
                lSpec.mInvalidators.push_back(lChange.mArgument);
                break;
            case FeatureChange::AddSelected:
                Require(lChange.mArgument, lWhy).mSpec.mSelectors.push_back(lChange.mTarget);
                break;
            case FeatureChange::SetPIsAvailable:
                lSpec.mPIsAvailable = lChange.mArgument;
                break;
            case FeatureChange::SetPIsAvailableForEntry:
            {
                Merged &lMerged = *Find(lChange.mTarget);
                auto lEntry = std::find_if(lMerged.mEntries.begin(), lMerged.mEntries.end(),
                                           [&](const EnumEntrySpec &aEntry) { return aEntry.mName == lChange.mEntry; });
                if (lEntry == lMerged.mEntries.end())
                {
                    throw DescriptionError(lChange.mTarget, "it has no entry '" + lChange.mEntry + "'");
                }
                lEntry->mIsAvailable = lChange.mArgument;
                break;
            }
            case FeatureChange::SetPIsLocked:
                lSpec.mPIsLocked = lChange.mArgument;
                break;
            case FeatureChange::SetPValue:
            {
                Merged &lMerged = *Find(lChange.mTarget);
                lSpec.mPValue = lChange.mArgument;
                lSpec.mHasRegister = lSpec.mHasChunk = lSpec.mHasEvent = false;
                for (FeatureSpec &lPart : lMerged.mParts)
                {
                    lPart.mPValue = lChange.mArgument;
                    lPart.mHasRegister = lPart.mHasChunk = lPart.mHasEvent = false;
                }
                break;
            }
            case FeatureChange::SetPMin:
                lSpec.mPMin = lChange.mArgument;
                break;
            case FeatureChange::SetPMax:
                lSpec.mPMax = lChange.mArgument;
                break;
            case FeatureChange::SetPInc:
                lSpec.mPInc = lChange.mArgument;
                break;
            }
        }
        for (Merged &lMerged : mFeatures)
        {
            for (const std::string &lSelector : lMerged.mSpec.mSelectors)
            {
                Merged *lFound = Find(lSelector);
                if (lFound != nullptr && std::find(lFound->mSelected.begin(), lFound->mSelected.end(),
                                                   lMerged.mSpec.mName) == lFound->mSelected.end())
                {
                    lFound->mSelected.push_back(lMerged.mSpec.mName);
                }
            }
        }
    }

    void CheckReference(const Merged &aFeature, const std::string &aName, const char *aAs)
    {
        if (!aName.empty() && Find(aName) == nullptr)
        {
            throw DescriptionError(aFeature.mSpec.mName, std::string("its ") + aAs + " names '" + aName +
                                                             "', which the description does not define");
        }
    }

    void CheckReferences()
    {
        for (const Merged &lFeature : mFeatures)
        {
            const FeatureSpec &lSpec = lFeature.mSpec;
            CheckReference(lFeature, lSpec.mPValue, "pValue");
            CheckReference(lFeature, lSpec.mPIsAvailable, "pIsAvailable");
            CheckReference(lFeature, lSpec.mPIsLocked, "pIsLocked");
            CheckReference(lFeature, lSpec.mPMin, "pMin");
            CheckReference(lFeature, lSpec.mPMax, "pMax");
            CheckReference(lFeature, lSpec.mPInc, "pInc");
            CheckReference(lFeature, lSpec.mValueFeature, "converted feature");
            for (const std::string &lName : lSpec.mSelectors)
            {
                CheckReference(lFeature, lName, "selector");
                const FeatureKind lKind = Find(lName)->mSpec.mKind;
                if (lKind != FeatureKind::Integer && lKind != FeatureKind::Enumeration && lKind != FeatureKind::Boolean)
                {
                    throw DescriptionError(lSpec.mName, "its selector '" + lName + "' is a " + KindName(lKind) +
                                                            ", but only integers, enumerations and booleans select");
                }
            }
            for (const std::string &lName : lSpec.mInvalidators)
            {
                CheckReference(lFeature, lName, "invalidator");
            }
            for (const std::string &lName : lSpec.mVariables)
            {
                CheckReference(lFeature, lName, "formula variable");
            }
            for (const EnumEntrySpec &lEntry : lFeature.mEntries)
            {
                CheckReference(lFeature, lEntry.mIsAvailable, ("entry " + lEntry.mName + "'s pIsAvailable").c_str());
            }
            if (lSpec.mTLLocked && Find(mInfo.mTLParamsLocked) == nullptr)
            {
                throw DescriptionError(lSpec.mName, "it is locked while streaming, but the description has no " +
                                                        mInfo.mTLParamsLocked);
            }
            if (!IsWholeDevice(lFeature) && mInfo.mSourceCount > 1 && Find(mInfo.mSourceSelector) == nullptr)
            {
                throw DescriptionError(lSpec.mName,
                                       "it belongs to sources, but the description has no " + mInfo.mSourceSelector);
            }
            CheckPartsAgree(lFeature);
        }
    }

    /// Bindings of the owners' parts: the same kind, and the same but for
    /// the register's address.
    void CheckPartsAgree(const Merged &aFeature)
    {
        const FeatureSpec &lFirst = aFeature.mParts.front();
        for (const FeatureSpec &lPart : aFeature.mParts)
        {
            const bool lSame = lPart.mHasRegister == lFirst.mHasRegister && lPart.mHasChunk == lFirst.mHasChunk &&
                               lPart.mHasEvent == lFirst.mHasEvent && lPart.mPValue == lFirst.mPValue &&
                               lPart.mFormula == lFirst.mFormula && lPart.mToFormula == lFirst.mToFormula &&
                               lPart.mValueFeature == lFirst.mValueFeature &&
                               (!lPart.mHasChunk || (lPart.mChunk.mId == lFirst.mChunk.mId &&
                                                     lPart.mChunk.mOffset == lFirst.mChunk.mOffset &&
                                                     lPart.mChunk.mLength == lFirst.mChunk.mLength)) &&
                               (!lPart.mHasEvent || (lPart.mEvent.mId == lFirst.mEvent.mId &&
                                                     lPart.mEvent.mOffset == lFirst.mEvent.mOffset &&
                                                     lPart.mEvent.mLength == lFirst.mEvent.mLength)) &&
                               (!lPart.mHasRegister || (lPart.mRegister.mLength == lFirst.mRegister.mLength &&
                                                        lPart.mRegister.mLowBit == lFirst.mRegister.mLowBit &&
                                                        lPart.mRegister.mHighBit == lFirst.mRegister.mHighBit));
            if (!lSame)
            {
                throw DescriptionError(lFirst.mName, "sources " + std::to_string(aFeature.mOwners.front()) + " and " +
                                                         std::to_string(lPart.mOwner) +
                                                         " give it different values (registers, mappings or formulas)");
            }
        }
    }

    // --- References by kind ------------------------------------------------------

    /// What a reference element needs of the node it names, as the GenApi
    /// schema's keys say: an integer node (pIndex), any number (pValue of
    /// integers, booleans, commands and enumerations, limits of integers,
    /// pIsAvailable, pIsLocked, variables of integer formulas), a number that
    /// converts to float (pValue and limits of floats, variables of float
    /// formulas) or a string.
    enum class Key
    {
        Integer,
        PolyInteger,
        PolyFloat,
        String
    };

    /// The element a feature's own node is written as.
    std::string NodeKind(const Merged &aFeature) const
    {
        const FeatureSpec &lSpec = aFeature.mSpec;
        if (lSpec.mKind != FeatureKind::String && lSpec.mKind != FeatureKind::Register)
        {
            return KindName(lSpec.mKind);
        }
        if (!HasValueRegister(lSpec))
        {
            return "String";
        }
        return lSpec.mKind == FeatureKind::String ? "StringReg" : "Register";
    }

    /// The element of a feature's private register node ("_Reg").
    static std::string RegisterKind(const FeatureSpec &aSpec)
    {
        if (aSpec.mHasRegister && aSpec.mRegister.mLowBit >= 0)
        {
            return "MaskedIntReg";
        }
        return aSpec.mKind == FeatureKind::Float ? "FloatReg" : "IntReg";
    }

    static bool Admits(Key aKey, const std::string &aKind)
    {
        static const std::set<std::string> kInteger = {"Integer", "IntReg", "MaskedIntReg", "IntSwissKnife",
                                                       "IntConverter"};
        static const std::set<std::string> kNumber = {"Integer",      "IntReg",  "MaskedIntReg", "IntSwissKnife",
                                                      "IntConverter", "Float",   "FloatReg",     "SwissKnife",
                                                      "Converter",    "Enumeration"};
        switch (aKey)
        {
        case Key::Integer:
            return kInteger.count(aKind) != 0;
        case Key::PolyInteger:
            return kNumber.count(aKind) != 0 || aKind == "Boolean";
        case Key::PolyFloat:
            return kNumber.count(aKind) != 0;
        case Key::String:
            return aKind == "String" || aKind == "StringReg";
        }
        return false;
    }

    /// The node a reference of aFeature names for the feature aName: the
    /// feature's own node when its element is of a kind the key admits, else
    /// the node that holds its value (its register node, or the node its
    /// pValue names, followed as far as needed).
    std::string Ref(const Merged &aFeature, const std::string &aName, Key aKey, const char *aAs)
    {
        static const char *const kWanted[] = {"an integer", "a number", "a number", "a string"};
        std::string lName = aName;
        for (int lDepth = 0; lDepth < 16; ++lDepth)
        {
            const Merged *lTarget = Find(lName);
            if (lTarget == nullptr)
            {
                break;
            }
            if (Admits(aKey, NodeKind(*lTarget)))
            {
                return lName;
            }
            const FeatureSpec &lSpec = lTarget->mSpec;
            const bool lRegisterValue = HasValueRegister(lSpec) && lSpec.mKind != FeatureKind::String &&
                                        lSpec.mKind != FeatureKind::Register;
            if (lRegisterValue && Admits(aKey, RegisterKind(lSpec)))
            {
                return lName + "_Reg";
            }
            if (HasValueRegister(lSpec) || lSpec.mPValue.empty())
            {
                break;
            }
            lName = lSpec.mPValue;
        }
        const Merged *lNamed = Find(aName);
        throw DescriptionError(aFeature.mSpec.mName,
                               std::string("its ") + aAs + " names '" + aName + "'" +
                                   (lNamed != nullptr ? std::string(", a ") + KindName(lNamed->mSpec.mKind) : "") +
                                   ", where it needs " + kWanted[static_cast<int>(aKey)] + " value");
    }

    bool IsWholeDevice(const Merged &aFeature) const
    {
        if (aFeature.mOwners.front() < 0)
        {
            return true;
        }
        return mInfo.mSourceCount <= 1 || static_cast<int>(aFeature.mOwners.size()) >= mInfo.mSourceCount;
    }

    // --- Names -----------------------------------------------------------------

    void Reserve(const std::string &aNode, const std::string &aFeature)
    {
        const auto lInserted = mNodeOwners.emplace(aNode, aFeature);
        if (!lInserted.second)
        {
            const std::string &lOther = lInserted.first->second;
            if (lOther == aNode)
            {
                throw DescriptionError(lOther, "its name is what the description calls a node of '" + aFeature + "'");
            }
            throw DescriptionError(aFeature,
                                   "the description's node '" + aNode + "' clashes with one of '" + lOther + "'");
        }
    }

    void ReserveNames()
    {
        for (const Merged &lFeature : mFeatures)
        {
            if (lFeature.mSpec.mName == kDevicePort || lFeature.mSpec.mName == "Root")
            {
                throw DescriptionError(lFeature.mSpec.mName, "the description keeps this name for itself");
            }
            Reserve(lFeature.mSpec.mName, lFeature.mSpec.mName);
        }
        mNodeOwners.emplace(kDevicePort, kDevicePort);
        mNodeOwners.emplace("Root", "Root");
    }

    std::string Helper(const Merged &aFeature, const std::string &aSuffix)
    {
        const std::string lName = aFeature.mSpec.mName + aSuffix;
        Reserve(lName, aFeature.mSpec.mName);
        return lName;
    }

    // --- Writing ---------------------------------------------------------------

    xmlNodePtr NewNode(const char *aKind, const std::string &aName, TnGenNameSpace aNameSpace)
    {
        xmlNodePtr lNode = xmlNewChild(mRoot, mNamespace, BAD_CAST aKind, nullptr);
        xmlNewProp(lNode, BAD_CAST "Name", BAD_CAST aName.c_str());
        if (aNameSpace == TnGenNameSpaceStandard)
        {
            xmlNewProp(lNode, BAD_CAST "NameSpace", BAD_CAST "Standard");
        }
        return lNode;
    }

    void Add(xmlNodePtr aNode, const char *aElement, const std::string &aText)
    {
        xmlNewTextChild(aNode, mNamespace, BAD_CAST aElement, BAD_CAST aText.c_str());
    }

    void AddIf(xmlNodePtr aNode, const char *aElement, const std::string &aText)
    {
        if (!aText.empty())
        {
            Add(aNode, aElement, aText);
        }
    }

    void WriteCategories()
    {
        // Paths in the order features name them; each level lists its
        // sub-categories and features in that order.
        std::vector<std::string> lOrder;
        std::map<std::string, std::vector<std::string>> lMembers;
        std::map<std::string, std::string> lDisplayNames;
        std::map<std::string, bool> lStandard;
        for (const Merged &lFeature : mFeatures)
        {
            const FeatureSpec &lSpec = lFeature.mSpec;
            if (lSpec.mCategory.empty())
            {
                continue;
            }
            std::string lParent = "Root";
            size_t lStart = 0;
            while (true)
            {
                const size_t lEnd = lSpec.mCategory.find('\\', lStart);
                const std::string lLevel = lSpec.mCategory.substr(lStart, lEnd - lStart);
                if (!IsFeatureName(lLevel))
                {
                    throw DescriptionError(lSpec.mName, "its category '" + lSpec.mCategory + "' is no path of names");
                }
                if (lMembers.find(lLevel) == lMembers.end())
                {
                    lOrder.push_back(lLevel);
                    lMembers[lLevel];
                    lMembers[lParent].push_back(lLevel);
                    const auto lInserted = mNodeOwners.emplace(lLevel, lLevel);
                    if (!lInserted.second)
                    {
                        throw DescriptionError(lInserted.first->second, "its name is also the name of a category");
                    }
                }
                lStandard[lLevel] = lStandard[lLevel] || lSpec.mNameSpace == TnGenNameSpaceStandard;
                lParent = lLevel;
                if (lEnd == std::string::npos)
                {
                    break;
                }
                lStart = lEnd + 1;
            }
            lMembers[lParent].push_back(lSpec.mName);
            if (!lSpec.mCategoryDisplayName.empty())
            {
                lDisplayNames[lParent] = lSpec.mCategoryDisplayName;
            }
        }
        xmlNodePtr lRoot = NewNode("Category", "Root", TnGenNameSpaceStandard);
        for (const std::string &lMember : lMembers["Root"])
        {
            Add(lRoot, "pFeature", lMember);
        }
        for (const std::string &lLevel : lOrder)
        {
            xmlNodePtr lNode =
                NewNode("Category", lLevel, lStandard[lLevel] ? TnGenNameSpaceStandard : TnGenNameSpaceCustom);
            const auto lDisplay = lDisplayNames.find(lLevel);
            Add(lNode, "DisplayName", lDisplay != lDisplayNames.end() ? lDisplay->second : SplitWords(lLevel));
            for (const std::string &lMember : lMembers[lLevel])
            {
                Add(lNode, "pFeature", lMember);
            }
        }
    }

    /// A private IntSwissKnife or SwissKnife over SourceSelector (SEL) and
    /// further variables.
    void WriteKnife(const Merged &aFeature, const std::string &aName, bool aInteger, const std::string &aFormula,
                    const std::vector<std::pair<std::string, std::string>> &aVariables)
    {
        xmlNodePtr lNode = NewNode(aInteger ? "IntSwissKnife" : "SwissKnife", aName, TnGenNameSpaceCustom);
        Add(lNode, "Visibility", "Invisible");
        for (const auto &lVariable : aVariables)
        {
            xmlNodePtr lElement =
                xmlNewTextChild(lNode, mNamespace, BAD_CAST "pVariable", BAD_CAST lVariable.second.c_str());
            xmlNewProp(lElement, BAD_CAST "Name", BAD_CAST lVariable.first.c_str());
        }
        Add(lNode, "Formula", aFormula);
        (void)aFeature;
    }

    /// "(SEL = 0) || (SEL = 2)" for the given owners.
    static std::string OwnerCondition(const std::vector<int> &aOwners)
    {
        std::string lCondition;
        for (int lOwner : aOwners)
        {
            lCondition += (lCondition.empty() ? "" : " || ") + std::string("(SEL = ") + std::to_string(lOwner) + ")";
        }
        return lCondition;
    }

    /// "(SEL = 0) ? a : ((SEL = 1) ? b : a)" over the owners' texts.
    static std::string OwnerSwitch(const std::vector<int> &aOwners, const std::vector<std::string> &aValues)
    {
        std::string lFormula = aValues.front();
        for (size_t lIndex = aOwners.size(); lIndex-- > 0;)
        {
            lFormula =
                "(SEL = " + std::to_string(aOwners[lIndex]) + ") ? (" + aValues[lIndex] + ") : (" + lFormula + ")";
        }
        return lFormula;
    }

    std::pair<std::string, std::string> SelectorVariable() const { return {"SEL", mInfo.mSourceSelector}; }

    /// The pIsAvailable of a feature or entry: its own, restricted to the
    /// sources that made it.
    std::string Availability(const Merged &aFeature, const std::string &aSuffix, const std::vector<int> &aOwners,
                             const std::string &aOwn)
    {
        const bool lRestricted =
            aOwners.front() >= 0 && mInfo.mSourceCount > 1 && static_cast<int>(aOwners.size()) < mInfo.mSourceCount;
        const std::string lOwn = aOwn.empty() ? aOwn : Ref(aFeature, aOwn, Key::PolyInteger, "pIsAvailable");
        if (!lRestricted)
        {
            return lOwn;
        }
        const std::string lName = Helper(aFeature, aSuffix);
        std::vector<std::pair<std::string, std::string>> lVariables = {SelectorVariable()};
        std::string lFormula = OwnerCondition(aOwners);
        if (!lOwn.empty())
        {
            lVariables.emplace_back("AV", lOwn);
            lFormula = "(" + lFormula + ") && (AV)";
        }
        WriteKnife(aFeature, lName, true, lFormula, lVariables);
        return lName;
    }

    std::string Lock(const Merged &aFeature)
    {
        const FeatureSpec &lSpec = aFeature.mSpec;
        const std::string lOwn = lSpec.mPIsLocked.empty()
                                     ? lSpec.mPIsLocked
                                     : Ref(aFeature, lSpec.mPIsLocked, Key::PolyInteger, "pIsLocked");
        if (!lSpec.mTLLocked)
        {
            return lOwn;
        }
        if (lOwn.empty())
        {
            return mInfo.mTLParamsLocked;
        }
        const std::string lName = Helper(aFeature, "_Locked");
        WriteKnife(aFeature, lName, true, "(TL) || (LK)", {{"TL", mInfo.mTLParamsLocked}, {"LK", lOwn}});
        return lName;
    }

    /// ToolTip to ImposedAccessMode, the invalidators when the feature's own
    /// node carries them, and Streamable (which commands do not have).
    void WriteCommon(xmlNodePtr aNode, Merged &aFeature, bool aImposeAccess, bool aInvalidators)
    {
        const FeatureSpec &lSpec = aFeature.mSpec;
        AddIf(aNode, "ToolTip", lSpec.mToolTip);
        AddIf(aNode, "Description", lSpec.mDescription);
        Add(aNode, "DisplayName",
            lSpec.mDisplayName.empty() ? GenerateDisplayName(lSpec.mName, lSpec.mCategory) : lSpec.mDisplayName);
        static const char *const kVisibility[] = {"Beginner", "Expert", "Guru", "Invisible"};
        if (lSpec.mVisibility >= TnGenVisibilityBeginner && lSpec.mVisibility <= TnGenVisibilityInvisible)
        {
            Add(aNode, "Visibility", kVisibility[lSpec.mVisibility]);
        }
        AddIf(aNode, "pIsAvailable", Availability(aFeature, "_Avail", aFeature.mOwners, lSpec.mPIsAvailable));
        AddIf(aNode, "pIsLocked", Lock(aFeature));
        if (aImposeAccess && lSpec.mAccessMode == TnGenAccessModeReadOnly)
        {
            Add(aNode, "ImposedAccessMode", "RO");
        }
        else if (aImposeAccess && lSpec.mAccessMode == TnGenAccessModeWriteOnly)
        {
            Add(aNode, "ImposedAccessMode", "WO");
        }
        if (aInvalidators)
        {
            WriteInvalidators(aNode, lSpec);
        }
        if (lSpec.mStreamable && lSpec.mKind != FeatureKind::Command)
        {
            Add(aNode, "Streamable", "Yes");
        }
    }

    void WriteInvalidators(xmlNodePtr aNode, const FeatureSpec &aSpec)
    {
        std::vector<std::string> lWritten;
        for (const std::vector<std::string> *lList : {&aSpec.mInvalidators, &aSpec.mSelectors})
        {
            for (const std::string &lName : *lList)
            {
                if (std::find(lWritten.begin(), lWritten.end(), lName) == lWritten.end())
                {
                    Add(aNode, "pInvalidator", lName);
                    lWritten.push_back(lName);
                }
            }
        }
    }

    void WriteSelected(xmlNodePtr aNode, const Merged &aFeature)
    {
        for (const std::string &lSelected : aFeature.mSelected)
        {
            Add(aNode, "pSelected", lSelected);
        }
    }

    void WriteNumberTail(xmlNodePtr aNode, const FeatureSpec &aSpec, bool aFloat)
    {
        AddIf(aNode, "Unit", aSpec.mUnit);
        static const char *const kRepresentation[] = {"Linear",     "Logarithmic",   "Boolean",   "PureNumber",
                                                      "HexNumber",  "IPV4Address",   "MACAddress"};
        const TnGenRepresentation lRepresentation = aSpec.mRepresentation;
        if (lRepresentation >= TnGenRepresentationLinear && lRepresentation <= TnGenRepresentationMACAddress &&
            (!aFloat || lRepresentation == TnGenRepresentationLinear ||
             lRepresentation == TnGenRepresentationLogarithmic || lRepresentation == TnGenRepresentationPureNumber))
        {
            Add(aNode, "Representation", kRepresentation[lRepresentation]);
        }
    }

    std::string PortFor(const FeatureSpec &aSpec)
    {
        if (aSpec.mHasChunk)
        {
            const std::string lName = "ChunkPort_" + Hex(aSpec.mChunk.mId, 8);
            mChunkPorts.insert(aSpec.mChunk.mId);
            return lName;
        }
        if (aSpec.mHasEvent)
        {
            const std::string lName = "EventPort_" + Hex(aSpec.mEvent.mId, 4);
            mEventPorts.insert(aSpec.mEvent.mId);
            return lName;
        }
        return kDevicePort;
    }

    /// The node that holds a feature's value (a register on the device, a
    /// chunk or an event): "IntReg", "FloatReg", "StringReg" or "Register".
    void WriteValueRegister(xmlNodePtr aNode, Merged &aFeature, bool aNumber, bool aSigned)
    {
        const FeatureSpec &lSpec = aFeature.mSpec;
        const std::string lPort = PortFor(lSpec);
        bool lReadable = true;
        bool lWritable = false;
        std::string lCachable = "NoCache";
        if (lSpec.mHasChunk || lSpec.mHasEvent)
        {
            const MappingSpec &lMapping = lSpec.mHasChunk ? lSpec.mChunk : lSpec.mEvent;
            const uint64_t lOffset = lMapping.mOffset + (lSpec.mHasEvent && lMapping.mAdjust ? kEventHeaderSize : 0);
            Add(aNode, "Address", "0x" + Hex(lOffset));
            Add(aNode, "Length", std::to_string(lMapping.mLength));
        }
        else
        {
            const RegisterBinding &lBinding = lSpec.mRegister;
            lReadable = lBinding.mReadable;
            lWritable = lBinding.mWritable;
            std::vector<std::string> lAddresses;
            bool lDiffer = false;
            for (const FeatureSpec &lPart : aFeature.mParts)
            {
                lAddresses.push_back("0x" + Hex(lPart.mRegister.mAddress));
                lDiffer = lDiffer || lPart.mRegister.mAddress != lBinding.mAddress;
            }
            if (lDiffer)
            {
                const std::string lName = Helper(aFeature, "_Address");
                Add(aNode, "pAddress", lName);
                mLater.push_back([this, &aFeature, lName, lAddresses] {
                    WriteKnife(aFeature, lName, true, OwnerSwitch(aFeature.mOwners, lAddresses), {SelectorVariable()});
                });
            }
            else
            {
                Add(aNode, "Address", "0x" + Hex(lBinding.mAddress));
            }
            if (!lBinding.mIndexSelector.empty())
            {
                const std::string lSelector = Ref(aFeature, lBinding.mIndexSelector, Key::Integer, "pIndex");
                xmlNodePtr lIndex = xmlNewTextChild(aNode, mNamespace, BAD_CAST "pIndex", BAD_CAST lSelector.c_str());
                xmlNewProp(lIndex, BAD_CAST "Offset", BAD_CAST("0x" + Hex(lBinding.mIndexOffset)).c_str());
            }
            Add(aNode, "Length", std::to_string(lBinding.mLength));
            static const char *const kCache[] = {"WriteThrough", "WriteAround", "NoCache"};
            if (lSpec.mCache >= TnGenCacheWriteThrough && lSpec.mCache <= TnGenCacheNone)
            {
                lCachable = kCache[lSpec.mCache];
            }
        }
        Add(aNode, "AccessMode", AccessText(lReadable, lWritable));
        Add(aNode, "pPort", lPort);
        Add(aNode, "Cachable", lCachable);
        if (lSpec.mPollingTime > 0)
        {
            Add(aNode, "PollingTime", std::to_string(lSpec.mPollingTime));
        }
        WriteInvalidators(aNode, lSpec);
        if (!aNumber)
        {
            return;
        }
        const RegisterBinding &lBinding = lSpec.mRegister;
        if (lSpec.mHasRegister && lBinding.mLowBit >= 0)
        {
            const int lBits = static_cast<int>(8 * lBinding.mLength);
            // Big-endian registers number their bits from the most significant.
            Add(aNode, "LSB", std::to_string(lBits - 1 - lBinding.mLowBit));
            Add(aNode, "MSB", std::to_string(lBits - 1 - lBinding.mHighBit));
        }
        if (aSigned)
        {
            Add(aNode, "Sign", "Signed");
        }
        else if (aNumber && xmlStrcmp(aNode->name, BAD_CAST "FloatReg") != 0)
        {
            Add(aNode, "Sign", "Unsigned");
        }
        const bool lLittle = (lSpec.mHasChunk && lSpec.mChunk.mEndianness == TnGenEndiannessLittle) ||
                             (lSpec.mHasEvent && lSpec.mEvent.mEndianness == TnGenEndiannessLittle);
        Add(aNode, "Endianess", lLittle ? "LittleEndian" : "BigEndian");
    }

    bool HasValueRegister(const FeatureSpec &aSpec) const
    {
        return aSpec.mHasRegister || aSpec.mHasChunk || aSpec.mHasEvent;
    }

    /// pValue: the private register node, or the named feature (the
    /// feature's own node has its invalidators then).
    void WriteValue(xmlNodePtr aNode, Merged &aFeature, bool aSigned)
    {
        const FeatureSpec &lSpec = aFeature.mSpec;
        if (!HasValueRegister(lSpec))
        {
            const Key lKey = lSpec.mKind == FeatureKind::Float ? Key::PolyFloat : Key::PolyInteger;
            Add(aNode, "pValue", Ref(aFeature, lSpec.mPValue, lKey, "pValue"));
            return;
        }
        const std::string lName = Helper(aFeature, "_Reg");
        Add(aNode, "pValue", lName);
        const std::string lKind = RegisterKind(lSpec);
        mLater.push_back([this, &aFeature, lName, lKind, aSigned] {
            xmlNodePtr lReg = NewNode(lKind.c_str(), lName, TnGenNameSpaceCustom);
            Add(lReg, "Visibility", "Invisible");
            WriteValueRegister(lReg, aFeature, true, aSigned);
        });
    }

    /// Min / Max / Inc: a reference, a constant or a switch over the sources.
    template <typename T>
    void WriteLimit(xmlNodePtr aNode, Merged &aFeature, const char *aElement, const std::string &aRef,
                    bool (*aHas)(const FeatureSpec &), T (*aValue)(const FeatureSpec &), bool aInteger)
    {
        if (!aRef.empty())
        {
            const std::string lElement = std::string("p") + aElement;
            Add(aNode, lElement.c_str(),
                Ref(aFeature, aRef, aInteger ? Key::PolyInteger : Key::PolyFloat, lElement.c_str()));
            return;
        }
        std::vector<int> lOwners;
        std::vector<std::string> lValues;
        for (size_t lPart = 0; lPart < aFeature.mParts.size(); ++lPart)
        {
            if (aHas(aFeature.mParts[lPart]))
            {
                lOwners.push_back(aFeature.mOwners[lPart]);
                const T lValue = aValue(aFeature.mParts[lPart]);
                lValues.push_back(aInteger ? std::to_string(static_cast<int64_t>(lValue))
                                           : Number(static_cast<double>(lValue)));
            }
        }
        if (lValues.empty())
        {
            return;
        }
        if (std::all_of(lValues.begin(), lValues.end(),
                        [&](const std::string &aText) { return aText == lValues.front(); }) ||
            lOwners.front() < 0)
        {
            Add(aNode, aElement, lValues.front());
            return;
        }
        const std::string lName = Helper(aFeature, std::string("_") + aElement);
        Add(aNode, (std::string("p") + aElement).c_str(), lName);
        mLater.push_back([this, &aFeature, lName, lOwners, lValues, aInteger] {
            WriteKnife(aFeature, lName, aInteger, OwnerSwitch(lOwners, lValues), {SelectorVariable()});
        });
    }

    /// The formula's variables, each named in the formula as the feature
    /// that gives its value.
    void WriteVariables(xmlNodePtr aNode, const Merged &aFeature, bool aInteger)
    {
        for (const std::string &lVariable : aFeature.mSpec.mVariables)
        {
            const std::string lNode =
                Ref(aFeature, lVariable, aInteger ? Key::PolyInteger : Key::PolyFloat, "pVariable");
            xmlNodePtr lElement = xmlNewTextChild(aNode, mNamespace, BAD_CAST "pVariable", BAD_CAST lNode.c_str());
            xmlNewProp(lElement, BAD_CAST "Name", BAD_CAST lVariable.c_str());
        }
    }

    void WriteFeature(Merged &aFeature)
    {
        const FeatureSpec &lSpec = aFeature.mSpec;
        const bool lIsSigned = lSpec.mRegister.mSigned || (lSpec.mHasIntLimits && lSpec.mMin < 0);
        xmlNodePtr lNode = nullptr;
        switch (lSpec.mKind)
        {
        case FeatureKind::Integer:
            lNode = NewNode("Integer", lSpec.mName, lSpec.mNameSpace);
            WriteCommon(lNode, aFeature, true, !HasValueRegister(lSpec));
            WriteValue(lNode, aFeature, lIsSigned);
            WriteLimit<int64_t>(
                lNode, aFeature, "Min", lSpec.mPMin, [](const FeatureSpec &aSpec) { return aSpec.mHasIntLimits; },
                [](const FeatureSpec &aSpec) { return aSpec.mMin; }, true);
            WriteLimit<int64_t>(
                lNode, aFeature, "Max", lSpec.mPMax, [](const FeatureSpec &aSpec) { return aSpec.mHasIntLimits; },
                [](const FeatureSpec &aSpec) { return aSpec.mMax; }, true);
            WriteLimit<int64_t>(
                lNode, aFeature, "Inc", lSpec.mPInc, [](const FeatureSpec &aSpec) { return aSpec.mHasIntLimits; },
                [](const FeatureSpec &aSpec) { return aSpec.mInc; }, true);
            WriteNumberTail(lNode, lSpec, false);
            break;
        case FeatureKind::Float:
            lNode = NewNode("Float", lSpec.mName, lSpec.mNameSpace);
            WriteCommon(lNode, aFeature, true, !HasValueRegister(lSpec));
            WriteValue(lNode, aFeature, false);
            WriteLimit<double>(
                lNode, aFeature, "Min", lSpec.mPMin, [](const FeatureSpec &aSpec) { return aSpec.mHasFloatLimits; },
                [](const FeatureSpec &aSpec) { return aSpec.mFloatMin; }, false);
            WriteLimit<double>(
                lNode, aFeature, "Max", lSpec.mPMax, [](const FeatureSpec &aSpec) { return aSpec.mHasFloatLimits; },
                [](const FeatureSpec &aSpec) { return aSpec.mFloatMax; }, false);
            WriteNumberTail(lNode, lSpec, true);
            break;
        case FeatureKind::String:
        case FeatureKind::Register:
            if (HasValueRegister(lSpec))
            {
                lNode = NewNode(lSpec.mKind == FeatureKind::String ? "StringReg" : "Register", lSpec.mName,
                                lSpec.mNameSpace);
                WriteCommon(lNode, aFeature, true, false);
                WriteValueRegister(lNode, aFeature, false, false);
            }
            else
            {
                lNode = NewNode("String", lSpec.mName, lSpec.mNameSpace);
                WriteCommon(lNode, aFeature, true, true);
                Add(lNode, "pValue", Ref(aFeature, lSpec.mPValue, Key::String, "pValue"));
            }
            break;
        case FeatureKind::Boolean:
            lNode = NewNode("Boolean", lSpec.mName, lSpec.mNameSpace);
            WriteCommon(lNode, aFeature, true, !HasValueRegister(lSpec));
            WriteValue(lNode, aFeature, false);
            Add(lNode, "OnValue", "1");
            Add(lNode, "OffValue", "0");
            break;
        case FeatureKind::Command:
            lNode = NewNode("Command", lSpec.mName, lSpec.mNameSpace);
            WriteCommon(lNode, aFeature, true, !HasValueRegister(lSpec));
            WriteValue(lNode, aFeature, false);
            Add(lNode, "CommandValue", "1");
            break;
        case FeatureKind::Enumeration:
        {
            lNode = NewNode("Enumeration", lSpec.mName, lSpec.mNameSpace);
            WriteCommon(lNode, aFeature, true, !HasValueRegister(lSpec));
            for (size_t lIndex = 0; lIndex < aFeature.mEntries.size(); ++lIndex)
            {
                const EnumEntrySpec &lEntry = aFeature.mEntries[lIndex];
                xmlNodePtr lElement = xmlNewChild(lNode, mNamespace, BAD_CAST "EnumEntry", nullptr);
                xmlNewProp(lElement, BAD_CAST "Name", BAD_CAST lEntry.mName.c_str());
                if (lEntry.mNameSpace == TnGenNameSpaceStandard)
                {
                    xmlNewProp(lElement, BAD_CAST "NameSpace", BAD_CAST "Standard");
                }
                Add(lElement, "DisplayName",
                    lEntry.mDisplayName.empty() ? SplitWords(lEntry.mName) : lEntry.mDisplayName);
                AddIf(lElement, "pIsAvailable",
                      Availability(aFeature, "_" + lEntry.mName + "_Avail", aFeature.mEntryOwners[lIndex],
                                   lEntry.mIsAvailable));
                Add(lElement, "Value", std::to_string(lEntry.mValue));
            }
            WriteValue(lNode, aFeature, false);
            break;
        }
        case FeatureKind::IntSwissKnife:
        case FeatureKind::FloatSwissKnife:
        {
            const bool lInteger = lSpec.mKind == FeatureKind::IntSwissKnife;
            lNode = NewNode(lInteger ? "IntSwissKnife" : "SwissKnife", lSpec.mName, lSpec.mNameSpace);
            WriteCommon(lNode, aFeature, false, true);
            WriteVariables(lNode, aFeature, lInteger);
            Add(lNode, "Formula", lSpec.mFormula);
            WriteNumberTail(lNode, lSpec, !lInteger);
            break;
        }
        case FeatureKind::IntConverter:
        case FeatureKind::FloatConverter:
        {
            const bool lInteger = lSpec.mKind == FeatureKind::IntConverter;
            lNode = NewNode(lInteger ? "IntConverter" : "Converter", lSpec.mName, lSpec.mNameSpace);
            WriteCommon(lNode, aFeature, true, true);
            WriteVariables(lNode, aFeature, lInteger);
            Add(lNode, "FormulaTo", lSpec.mToFormula);
            Add(lNode, "FormulaFrom", lSpec.mFormula);
            Add(lNode, "pValue", Ref(aFeature, lSpec.mValueFeature, lInteger ? Key::PolyInteger : Key::PolyFloat,
                                     "converted feature"));
            WriteNumberTail(lNode, lSpec, !lInteger);
            break;
        }
        }
        WriteSelected(lNode, aFeature);
        // Private nodes follow the feature's own.
        while (!mLater.empty())
        {
            std::vector<std::function<void()>> lLater;
            lLater.swap(mLater);
            for (auto &lWrite : lLater)
            {
                lWrite();
            }
        }
    }

    void WritePorts()
    {
        NewNode("Port", kDevicePort, TnGenNameSpaceStandard);
        for (uint32_t lId : mChunkPorts)
        {
            const std::string lName = "ChunkPort_" + Hex(lId, 8);
            Reserve(lName, lName);
            xmlNodePtr lNode = NewNode("Port", lName, TnGenNameSpaceCustom);
            Add(lNode, "ChunkID", Hex(lId, 8));
        }
        for (uint32_t lId : mEventPorts)
        {
            const std::string lName = "EventPort_" + Hex(lId, 4);
            Reserve(lName, lName);
            xmlNodePtr lNode = NewNode("Port", lName, TnGenNameSpaceCustom);
            Add(lNode, "EventID", Hex(lId, 4));
        }
    }

    const DescriptionInfo &mInfo;
    std::vector<Merged> mFeatures;
    std::map<std::string, size_t> mIndex;
    std::map<std::string, std::string> mNodeOwners;
    std::set<uint32_t> mChunkPorts;
    std::set<uint32_t> mEventPorts;
    std::vector<std::function<void()>> mLater;
    xmlDocPtr mDocument = nullptr;
    xmlNodePtr mRoot = nullptr;
    xmlNsPtr mNamespace = nullptr;
};

/// The feature a message of the GenICam engine is about: the first quoted
/// node name that the description made for a feature.
std::string FeatureOfMessage(const std::string &aMessage, const std::map<std::string, std::string> &aOwners)
{
    size_t lStart = aMessage.find('\'');
    while (lStart != std::string::npos)
    {
        const size_t lEnd = aMessage.find('\'', lStart + 1);
        if (lEnd == std::string::npos)
        {
            break;
        }
        const auto lFound = aOwners.find(aMessage.substr(lStart + 1, lEnd - lStart - 1));
        if (lFound != aOwners.end())
        {
            return lFound->second;
        }
        lStart = aMessage.find('\'', lEnd + 1);
    }
    // Messages that name a node without quotes ("X: pVariable ...").
    for (const auto &lOwner : aOwners)
    {
        if (aMessage.compare(0, lOwner.first.size() + 1, lOwner.first + ":") == 0)
        {
            return lOwner.second;
        }
    }
    return std::string();
}
} // namespace

const char *KindName(FeatureKind aKind)
{
    switch (aKind)
    {
    case FeatureKind::Integer:
        return "Integer";
    case FeatureKind::Float:
        return "Float";
    case FeatureKind::String:
        return "String";
    case FeatureKind::Register:
        return "Register";
    case FeatureKind::Boolean:
        return "Boolean";
    case FeatureKind::Command:
        return "Command";
    case FeatureKind::Enumeration:
        return "Enumeration";
    case FeatureKind::IntSwissKnife:
        return "IntSwissKnife";
    case FeatureKind::FloatSwissKnife:
        return "SwissKnife";
    case FeatureKind::IntConverter:
        return "IntConverter";
    case FeatureKind::FloatConverter:
        return "Converter";
    }
    return "Node";
}

bool IsFeatureName(const std::string &aName)
{
    if (aName.empty() || !isalpha(static_cast<unsigned char>(aName[0])))
    {
        return false;
    }
    return std::all_of(aName.begin(), aName.end(),
                       [](char aChar) { return isalnum(static_cast<unsigned char>(aChar)) || aChar == '_'; });
}

std::string GenerateDisplayName(const std::string &aName, const std::string &aCategory)
{
    std::string lName = aName;
    if (!aCategory.empty())
    {
        const size_t lLast = aCategory.rfind('\\');
        const std::string lPrefix = FirstWord(aCategory.substr(lLast == std::string::npos ? 0 : lLast + 1));
        if (lName.size() > lPrefix.size() && lName.compare(0, lPrefix.size(), lPrefix) == 0 &&
            isupper(static_cast<unsigned char>(lName[lPrefix.size()])))
        {
            lName = lName.substr(lPrefix.size());
        }
    }
    return SplitWords(lName);
}

TnResult WriteDescription(const std::vector<FeatureSpec> &aFeatures, const std::vector<FeatureChange> &aChanges,
                          const DescriptionInfo &aInfo, std::string &aXml)
{
    std::map<std::string, std::string> lOwners;
    try
    {
        Builder lBuilder(aFeatures, aChanges, aInfo);
        aXml = lBuilder.Write();
        lOwners = lBuilder.GetNodeOwners();
    }
    catch (const std::exception &lError)
    {
        return TnResult(TN_GENICAM_XML_ERROR, TnString(lError.what()));
    }
    // What only a finished description shows (formulas, references between
    // the nodes): the SDK's own engine must load it.
    // The engine loads what it can and keeps faults as warnings; its strict
    // check parses every formula and names every fault.
    TnResult lResult;
    std::unique_ptr<TnGenParameterArray> lArray(CreateParameterArray(aXml, nullptr, lResult));
    std::string lMessage;
    if (!lArray)
    {
        lMessage = tn::ToString(lResult.GetDescription());
    }
    else
    {
        const std::vector<std::string> lFaults = CheckDefinitions(lArray.get());
        if (lFaults.empty())
        {
            return TnResult(TN_OK);
        }
        lMessage = lFaults.front();
    }
    const std::string lFeature = FeatureOfMessage(lMessage, lOwners);
    return tn::Failure(TN_GENICAM_XML_ERROR,
                       (lFeature.empty() ? std::string() : "feature '" + lFeature + "': ") + lMessage);
}
} // namespace genicam
} // namespace tn
