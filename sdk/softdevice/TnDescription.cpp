// Building the device's GenICam XML.
#include "TnDescription.h"

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

namespace tn
{
namespace softdevice
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
    char text[32];
    snprintf(text, sizeof(text), "%0*llX", aDigits, static_cast<unsigned long long>(aValue));
    return text;
}

std::string Number(double aValue)
{
    char text[40];
    snprintf(text, sizeof(text), "%.17g", aValue);
    return text;
}

const char *AccessText(bool aReadable, bool aWritable)
{
    return aReadable && aWritable ? "RW" : aWritable ? "WO" : "RO";
}

/// Words of a camel-case name with blanks between them.
std::string SplitWords(const std::string &aName)
{
    std::string text;
    for (size_t index = 0; index < aName.size(); ++index)
    {
        const unsigned char c = static_cast<unsigned char>(aName[index]);
        if (c == '_')
        {
            if (!text.empty() && text.back() != ' ')
            {
                text += ' ';
            }
            continue;
        }
        if (index > 0 && isupper(c) && !text.empty() && text.back() != ' ')
        {
            const unsigned char previous = static_cast<unsigned char>(aName[index - 1]);
            const bool nextLower = index + 1 < aName.size() && islower(static_cast<unsigned char>(aName[index + 1]));
            if (islower(previous) || isdigit(previous) || (isupper(previous) && nextLower))
            {
                text += ' ';
            }
        }
        text += static_cast<char>(c);
    }
    return text;
}

std::string FirstWord(const std::string &aName)
{
    size_t end = 1;
    while (end < aName.size() && !isupper(static_cast<unsigned char>(aName[end])) && aName[end] != '_')
    {
        ++end;
    }
    return aName.substr(0, end);
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
            const TnDescriptionInfo &aInfo)
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
        xmlNsPtr xsi = xmlNewNs(mRoot, BAD_CAST "http://www.w3.org/2001/XMLSchema-instance", BAD_CAST "xsi");
        const std::pair<const char *, std::string> attributes[] = {
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
        for (const auto &attribute : attributes)
        {
            xmlNewProp(mRoot, BAD_CAST attribute.first, BAD_CAST attribute.second.c_str());
        }
        xmlNewNsProp(mRoot, xsi, BAD_CAST "schemaLocation", BAD_CAST kSchemaLocation);

        ReserveNames();
        WriteCategories();
        for (Merged &feature : mFeatures)
        {
            WriteFeature(feature);
        }
        WritePorts();

        xmlChar *memory = nullptr;
        int size = 0;
        xmlDocDumpFormatMemoryEnc(mDocument, &memory, &size, "UTF-8", 1);
        std::string xml(reinterpret_cast<const char *>(memory), static_cast<size_t>(size));
        xmlFree(memory);
        return xml;
    }

    /// The feature a node of the description was made for.
    std::string OwnerOfNode(const std::string &aNode) const
    {
        const auto found = mNodeOwners.find(aNode);
        return found != mNodeOwners.end() ? found->second : std::string();
    }

    const std::map<std::string, std::string> &GetNodeOwners() const { return mNodeOwners; }

private:
    // --- Merging -------------------------------------------------------------

    void Merge(const std::vector<FeatureSpec> &aFeatures)
    {
        for (const FeatureSpec &spec : aFeatures)
        {
            if (!IsFeatureName(spec.mName))
            {
                throw DescriptionError(spec.mName, "the name is no GenICam name");
            }
            const auto found = mIndex.find(spec.mName);
            if (found == mIndex.end())
            {
                mIndex[spec.mName] = mFeatures.size();
                Merged merged;
                merged.mSpec = spec;
                merged.mParts.push_back(spec);
                merged.mOwners.push_back(spec.mOwner);
                mFeatures.push_back(merged);
                continue;
            }
            Merged &merged = mFeatures[found->second];
            if (spec.mKind != merged.mSpec.mKind)
            {
                throw DescriptionError(spec.mName, std::string("two features of this name are of different kinds (") +
                                                       KindName(merged.mSpec.mKind) + " and " + KindName(spec.mKind) + ")");
            }
            if (spec.mOwner < 0 || merged.mOwners.front() < 0 ||
                std::find(merged.mOwners.begin(), merged.mOwners.end(), spec.mOwner) != merged.mOwners.end())
            {
                throw DescriptionError(spec.mName, "it is created twice" +
                                                       (spec.mOwner >= 0 ? " by source " + std::to_string(spec.mOwner)
                                                                         : std::string()));
            }
            merged.mParts.push_back(spec);
            merged.mOwners.push_back(spec.mOwner);
        }
        for (Merged &merged : mFeatures)
        {
            MergeEntries(merged);
        }
    }

    void MergeEntries(Merged &aMerged)
    {
        for (size_t part = 0; part < aMerged.mParts.size(); ++part)
        {
            for (const EnumEntrySpec &entry : aMerged.mParts[part].mEntries)
            {
                size_t index = 0;
                while (index < aMerged.mEntries.size() && aMerged.mEntries[index].mName != entry.mName)
                {
                    ++index;
                }
                if (index == aMerged.mEntries.size())
                {
                    aMerged.mEntries.push_back(entry);
                    aMerged.mEntryOwners.emplace_back();
                }
                else if (aMerged.mEntries[index].mValue != entry.mValue)
                {
                    throw DescriptionError(aMerged.mSpec.mName, "the entry '" + entry.mName + "' has the values " +
                                                                    std::to_string(aMerged.mEntries[index].mValue) +
                                                                    " and " + std::to_string(entry.mValue));
                }
                aMerged.mEntryOwners[index].push_back(aMerged.mOwners[part]);
            }
        }
    }

    Merged *Find(const std::string &aName)
    {
        const auto found = mIndex.find(aName);
        return found != mIndex.end() ? &mFeatures[found->second] : nullptr;
    }

    Merged &Require(const std::string &aName, const std::string &aWhy)
    {
        Merged *merged = Find(aName);
        if (merged == nullptr)
        {
            throw DescriptionError(aName, aWhy + ", but the description does not define it");
        }
        return *merged;
    }

    void ApplyChanges(const std::vector<FeatureChange> &aChanges)
    {
        for (const FeatureChange &change : aChanges)
        {
            const std::string why = "a change of the device's features names it";
            FeatureSpec &spec = Require(change.mTarget, why).mSpec;
            switch (change.mKind)
            {
            case FeatureChange::AddInvalidator:
                spec.mInvalidators.push_back(change.mArgument);
                break;
            case FeatureChange::AddSelected:
                Require(change.mArgument, why).mSpec.mSelectors.push_back(change.mTarget);
                break;
            case FeatureChange::SetPIsAvailable:
                spec.mPIsAvailable = change.mArgument;
                break;
            case FeatureChange::SetPIsAvailableForEntry:
            {
                Merged &merged = *Find(change.mTarget);
                auto entry = std::find_if(merged.mEntries.begin(), merged.mEntries.end(),
                                          [&](const EnumEntrySpec &aEntry) { return aEntry.mName == change.mEntry; });
                if (entry == merged.mEntries.end())
                {
                    throw DescriptionError(change.mTarget, "it has no entry '" + change.mEntry + "'");
                }
                entry->mIsAvailable = change.mArgument;
                break;
            }
            case FeatureChange::SetPIsLocked:
                spec.mPIsLocked = change.mArgument;
                break;
            case FeatureChange::SetPValue:
            {
                Merged &merged = *Find(change.mTarget);
                spec.mPValue = change.mArgument;
                spec.mHasRegister = spec.mHasChunk = spec.mHasEvent = false;
                for (FeatureSpec &part : merged.mParts)
                {
                    part.mPValue = change.mArgument;
                    part.mHasRegister = part.mHasChunk = part.mHasEvent = false;
                }
                break;
            }
            case FeatureChange::SetPMin:
                spec.mPMin = change.mArgument;
                break;
            case FeatureChange::SetPMax:
                spec.mPMax = change.mArgument;
                break;
            case FeatureChange::SetPInc:
                spec.mPInc = change.mArgument;
                break;
            }
        }
        for (Merged &merged : mFeatures)
        {
            for (const std::string &selector : merged.mSpec.mSelectors)
            {
                Merged *found = Find(selector);
                if (found != nullptr &&
                    std::find(found->mSelected.begin(), found->mSelected.end(), merged.mSpec.mName) == found->mSelected.end())
                {
                    found->mSelected.push_back(merged.mSpec.mName);
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
        for (const Merged &feature : mFeatures)
        {
            const FeatureSpec &spec = feature.mSpec;
            CheckReference(feature, spec.mPValue, "pValue");
            CheckReference(feature, spec.mPIsAvailable, "pIsAvailable");
            CheckReference(feature, spec.mPIsLocked, "pIsLocked");
            CheckReference(feature, spec.mPMin, "pMin");
            CheckReference(feature, spec.mPMax, "pMax");
            CheckReference(feature, spec.mPInc, "pInc");
            CheckReference(feature, spec.mValueFeature, "converted feature");
            for (const std::string &name : spec.mSelectors)
            {
                CheckReference(feature, name, "selector");
            }
            for (const std::string &name : spec.mInvalidators)
            {
                CheckReference(feature, name, "invalidator");
            }
            for (const std::string &name : spec.mVariables)
            {
                CheckReference(feature, name, "formula variable");
            }
            for (const EnumEntrySpec &entry : feature.mEntries)
            {
                CheckReference(feature, entry.mIsAvailable, ("entry " + entry.mName + "'s pIsAvailable").c_str());
            }
            if (spec.mTLLocked && Find(mInfo.mTLParamsLocked) == nullptr)
            {
                throw DescriptionError(spec.mName, "it is locked while streaming, but the description has no " +
                                                       mInfo.mTLParamsLocked);
            }
            if (!IsWholeDevice(feature) && mInfo.mSourceCount > 1 && Find(mInfo.mSourceSelector) == nullptr)
            {
                throw DescriptionError(spec.mName, "it belongs to sources, but the description has no " +
                                                       mInfo.mSourceSelector);
            }
            CheckPartsAgree(feature);
        }
    }

    /// Bindings of the owners' parts: the same kind, and the same but for
    /// the register's address.
    void CheckPartsAgree(const Merged &aFeature)
    {
        const FeatureSpec &first = aFeature.mParts.front();
        for (const FeatureSpec &part : aFeature.mParts)
        {
            const bool same =
                part.mHasRegister == first.mHasRegister && part.mHasChunk == first.mHasChunk &&
                part.mHasEvent == first.mHasEvent && part.mPValue == first.mPValue && part.mFormula == first.mFormula &&
                part.mToFormula == first.mToFormula && part.mValueFeature == first.mValueFeature &&
                (!part.mHasChunk || (part.mChunk.mId == first.mChunk.mId && part.mChunk.mOffset == first.mChunk.mOffset &&
                                     part.mChunk.mLength == first.mChunk.mLength)) &&
                (!part.mHasEvent || (part.mEvent.mId == first.mEvent.mId && part.mEvent.mOffset == first.mEvent.mOffset &&
                                     part.mEvent.mLength == first.mEvent.mLength)) &&
                (!part.mHasRegister || (part.mRegister.mLength == first.mRegister.mLength &&
                                        part.mRegister.mLowBit == first.mRegister.mLowBit &&
                                        part.mRegister.mHighBit == first.mRegister.mHighBit));
            if (!same)
            {
                throw DescriptionError(first.mName, "sources " + std::to_string(aFeature.mOwners.front()) + " and " +
                                                        std::to_string(part.mOwner) +
                                                        " give it different values (registers, mappings or formulas)");
            }
        }
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
        const auto inserted = mNodeOwners.emplace(aNode, aFeature);
        if (!inserted.second)
        {
            const std::string &other = inserted.first->second;
            if (other == aNode)
            {
                throw DescriptionError(other, "its name is what the description calls a node of '" + aFeature + "'");
            }
            throw DescriptionError(aFeature, "the description's node '" + aNode + "' clashes with one of '" + other + "'");
        }
    }

    void ReserveNames()
    {
        for (const Merged &feature : mFeatures)
        {
            if (feature.mSpec.mName == kDevicePort || feature.mSpec.mName == "Root")
            {
                throw DescriptionError(feature.mSpec.mName, "the description keeps this name for itself");
            }
            Reserve(feature.mSpec.mName, feature.mSpec.mName);
        }
        mNodeOwners.emplace(kDevicePort, kDevicePort);
        mNodeOwners.emplace("Root", "Root");
    }

    std::string Helper(const Merged &aFeature, const std::string &aSuffix)
    {
        const std::string name = aFeature.mSpec.mName + aSuffix;
        Reserve(name, aFeature.mSpec.mName);
        return name;
    }

    // --- Writing ---------------------------------------------------------------

    xmlNodePtr NewNode(const char *aKind, const std::string &aName, TnGenNameSpace aNameSpace)
    {
        xmlNodePtr node = xmlNewChild(mRoot, mNamespace, BAD_CAST aKind, nullptr);
        xmlNewProp(node, BAD_CAST "Name", BAD_CAST aName.c_str());
        if (aNameSpace == TnGenNameSpaceStandard)
        {
            xmlNewProp(node, BAD_CAST "NameSpace", BAD_CAST "Standard");
        }
        return node;
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
        std::vector<std::string> order;
        std::map<std::string, std::vector<std::string>> members;
        std::map<std::string, std::string> displayNames;
        std::map<std::string, bool> standard;
        for (const Merged &feature : mFeatures)
        {
            const FeatureSpec &spec = feature.mSpec;
            if (spec.mCategory.empty())
            {
                continue;
            }
            std::string parent = "Root";
            size_t start = 0;
            while (true)
            {
                const size_t end = spec.mCategory.find('\\', start);
                const std::string level = spec.mCategory.substr(start, end - start);
                if (!IsFeatureName(level))
                {
                    throw DescriptionError(spec.mName, "its category '" + spec.mCategory + "' is no path of names");
                }
                if (members.find(level) == members.end())
                {
                    order.push_back(level);
                    members[level];
                    members[parent].push_back(level);
                    const auto inserted = mNodeOwners.emplace(level, level);
                    if (!inserted.second)
                    {
                        throw DescriptionError(inserted.first->second, "its name is also the name of a category");
                    }
                }
                standard[level] = standard[level] || spec.mNameSpace == TnGenNameSpaceStandard;
                parent = level;
                if (end == std::string::npos)
                {
                    break;
                }
                start = end + 1;
            }
            members[parent].push_back(spec.mName);
            if (!spec.mCategoryDisplayName.empty())
            {
                displayNames[parent] = spec.mCategoryDisplayName;
            }
        }
        xmlNodePtr root = NewNode("Category", "Root", TnGenNameSpaceStandard);
        for (const std::string &member : members["Root"])
        {
            Add(root, "pFeature", member);
        }
        for (const std::string &level : order)
        {
            xmlNodePtr node = NewNode("Category", level, standard[level] ? TnGenNameSpaceStandard : TnGenNameSpaceCustom);
            const auto display = displayNames.find(level);
            Add(node, "DisplayName", display != displayNames.end() ? display->second : SplitWords(level));
            for (const std::string &member : members[level])
            {
                Add(node, "pFeature", member);
            }
        }
    }

    /// A private IntSwissKnife or SwissKnife over SourceSelector (SEL) and
    /// further variables.
    void WriteKnife(const Merged &aFeature, const std::string &aName, bool aInteger, const std::string &aFormula,
                    const std::vector<std::pair<std::string, std::string>> &aVariables)
    {
        xmlNodePtr node = NewNode(aInteger ? "IntSwissKnife" : "SwissKnife", aName, TnGenNameSpaceCustom);
        Add(node, "Visibility", "Invisible");
        for (const auto &variable : aVariables)
        {
            xmlNodePtr element = xmlNewTextChild(node, mNamespace, BAD_CAST "pVariable", BAD_CAST variable.second.c_str());
            xmlNewProp(element, BAD_CAST "Name", BAD_CAST variable.first.c_str());
        }
        Add(node, "Formula", aFormula);
        (void)aFeature;
    }

    /// "(SEL = 0) || (SEL = 2)" for the given owners.
    static std::string OwnerCondition(const std::vector<int> &aOwners)
    {
        std::string condition;
        for (int owner : aOwners)
        {
            condition += (condition.empty() ? "" : " || ") + std::string("(SEL = ") + std::to_string(owner) + ")";
        }
        return condition;
    }

    /// "(SEL = 0) ? a : ((SEL = 1) ? b : a)" over the owners' texts.
    static std::string OwnerSwitch(const std::vector<int> &aOwners, const std::vector<std::string> &aValues)
    {
        std::string formula = aValues.front();
        for (size_t index = aOwners.size(); index-- > 0;)
        {
            formula = "(SEL = " + std::to_string(aOwners[index]) + ") ? (" + aValues[index] + ") : (" + formula + ")";
        }
        return formula;
    }

    std::pair<std::string, std::string> SelectorVariable() const { return {"SEL", mInfo.mSourceSelector}; }

    /// The pIsAvailable of a feature or entry: its own, restricted to the
    /// sources that made it.
    std::string Availability(const Merged &aFeature, const std::string &aSuffix, const std::vector<int> &aOwners,
                             const std::string &aOwn)
    {
        const bool restricted =
            aOwners.front() >= 0 && mInfo.mSourceCount > 1 && static_cast<int>(aOwners.size()) < mInfo.mSourceCount;
        if (!restricted)
        {
            return aOwn;
        }
        const std::string name = Helper(aFeature, aSuffix);
        std::vector<std::pair<std::string, std::string>> variables = {SelectorVariable()};
        std::string formula = OwnerCondition(aOwners);
        if (!aOwn.empty())
        {
            variables.emplace_back("AV", aOwn);
            formula = "(" + formula + ") && (AV)";
        }
        WriteKnife(aFeature, name, true, formula, variables);
        return name;
    }

    std::string Lock(const Merged &aFeature)
    {
        const FeatureSpec &spec = aFeature.mSpec;
        if (!spec.mTLLocked)
        {
            return spec.mPIsLocked;
        }
        if (spec.mPIsLocked.empty())
        {
            return mInfo.mTLParamsLocked;
        }
        const std::string name = Helper(aFeature, "_Locked");
        WriteKnife(aFeature, name, true, "(TL) || (LK)", {{"TL", mInfo.mTLParamsLocked}, {"LK", spec.mPIsLocked}});
        return name;
    }

    /// ToolTip to ImposedAccessMode, and Streamable.
    void WriteCommon(xmlNodePtr aNode, Merged &aFeature, bool aImposeAccess)
    {
        const FeatureSpec &spec = aFeature.mSpec;
        AddIf(aNode, "ToolTip", spec.mToolTip);
        AddIf(aNode, "Description", spec.mDescription);
        Add(aNode, "DisplayName",
            spec.mDisplayName.empty() ? GenerateDisplayName(spec.mName, spec.mCategory) : spec.mDisplayName);
        static const char *const kVisibility[] = {"Beginner", "Expert", "Guru", "Invisible"};
        if (spec.mVisibility >= TnGenVisibilityBeginner && spec.mVisibility <= TnGenVisibilityInvisible)
        {
            Add(aNode, "Visibility", kVisibility[spec.mVisibility]);
        }
        AddIf(aNode, "pIsAvailable", Availability(aFeature, "_Avail", aFeature.mOwners, spec.mPIsAvailable));
        AddIf(aNode, "pIsLocked", Lock(aFeature));
        if (aImposeAccess && spec.mAccessMode == TnGenAccessModeReadOnly)
        {
            Add(aNode, "ImposedAccessMode", "RO");
        }
        else if (aImposeAccess && spec.mAccessMode == TnGenAccessModeWriteOnly)
        {
            Add(aNode, "ImposedAccessMode", "WO");
        }
        if (spec.mStreamable)
        {
            Add(aNode, "Streamable", "Yes");
        }
    }

    void WriteInvalidators(xmlNodePtr aNode, const FeatureSpec &aSpec)
    {
        std::vector<std::string> written;
        for (const std::vector<std::string> *list : {&aSpec.mInvalidators, &aSpec.mSelectors})
        {
            for (const std::string &name : *list)
            {
                if (std::find(written.begin(), written.end(), name) == written.end())
                {
                    Add(aNode, "pInvalidator", name);
                    written.push_back(name);
                }
            }
        }
    }

    void WriteSelected(xmlNodePtr aNode, const Merged &aFeature)
    {
        for (const std::string &selected : aFeature.mSelected)
        {
            Add(aNode, "pSelected", selected);
        }
    }

    void WriteNumberTail(xmlNodePtr aNode, const FeatureSpec &aSpec, bool aFloat)
    {
        AddIf(aNode, "Unit", aSpec.mUnit);
        static const char *const kRepresentation[] = {"Linear",     "Logarithmic",   "Boolean",   "PureNumber",
                                                      "HexNumber",  "IPV4Address",   "MACAddress"};
        const TnGenRepresentation representation = aSpec.mRepresentation;
        if (representation >= TnGenRepresentationLinear && representation <= TnGenRepresentationMACAddress &&
            (!aFloat || representation == TnGenRepresentationLinear || representation == TnGenRepresentationLogarithmic ||
             representation == TnGenRepresentationPureNumber))
        {
            Add(aNode, "Representation", kRepresentation[representation]);
        }
    }

    std::string PortFor(const FeatureSpec &aSpec)
    {
        if (aSpec.mHasChunk)
        {
            const std::string name = "ChunkPort_" + Hex(aSpec.mChunk.mId, 8);
            mChunkPorts.insert(aSpec.mChunk.mId);
            return name;
        }
        if (aSpec.mHasEvent)
        {
            const std::string name = "EventPort_" + Hex(aSpec.mEvent.mId, 4);
            mEventPorts.insert(aSpec.mEvent.mId);
            return name;
        }
        return kDevicePort;
    }

    /// The node that holds a feature's value (a register on the device, a
    /// chunk or an event): "IntReg", "FloatReg", "StringReg" or "Register".
    void WriteValueRegister(xmlNodePtr aNode, Merged &aFeature, bool aNumber, bool aSigned)
    {
        const FeatureSpec &spec = aFeature.mSpec;
        const std::string port = PortFor(spec);
        bool readable = true;
        bool writable = false;
        std::string cachable = "NoCache";
        if (spec.mHasChunk || spec.mHasEvent)
        {
            const MappingSpec &mapping = spec.mHasChunk ? spec.mChunk : spec.mEvent;
            const uint64_t offset = mapping.mOffset + (spec.mHasEvent && mapping.mAdjust ? kEventHeaderSize : 0);
            Add(aNode, "Address", "0x" + Hex(offset));
            Add(aNode, "Length", std::to_string(mapping.mLength));
        }
        else
        {
            const RegisterBinding &binding = spec.mRegister;
            readable = binding.mReadable;
            writable = binding.mWritable;
            std::vector<std::string> addresses;
            bool differ = false;
            for (const FeatureSpec &part : aFeature.mParts)
            {
                addresses.push_back("0x" + Hex(part.mRegister.mAddress));
                differ = differ || part.mRegister.mAddress != binding.mAddress;
            }
            if (differ)
            {
                const std::string name = Helper(aFeature, "_Address");
                Add(aNode, "pAddress", name);
                mLater.push_back([this, &aFeature, name, addresses] {
                    WriteKnife(aFeature, name, true, OwnerSwitch(aFeature.mOwners, addresses), {SelectorVariable()});
                });
            }
            else
            {
                Add(aNode, "Address", "0x" + Hex(binding.mAddress));
            }
            if (!binding.mIndexSelector.empty())
            {
                xmlNodePtr index = xmlNewTextChild(aNode, mNamespace, BAD_CAST "pIndex", BAD_CAST binding.mIndexSelector.c_str());
                xmlNewProp(index, BAD_CAST "Offset", BAD_CAST ("0x" + Hex(binding.mIndexOffset)).c_str());
            }
            Add(aNode, "Length", std::to_string(binding.mLength));
            static const char *const kCache[] = {"WriteThrough", "WriteAround", "NoCache"};
            if (spec.mCache >= TnGenCacheWriteThrough && spec.mCache <= TnGenCacheNone)
            {
                cachable = kCache[spec.mCache];
            }
        }
        Add(aNode, "AccessMode", AccessText(readable, writable));
        Add(aNode, "pPort", port);
        Add(aNode, "Cachable", cachable);
        if (spec.mPollingTime > 0)
        {
            Add(aNode, "PollingTime", std::to_string(spec.mPollingTime));
        }
        WriteInvalidators(aNode, spec);
        if (!aNumber)
        {
            return;
        }
        const RegisterBinding &binding = spec.mRegister;
        if (spec.mHasRegister && binding.mLowBit >= 0)
        {
            const int bits = static_cast<int>(8 * binding.mLength);
            // Big-endian registers number their bits from the most significant.
            Add(aNode, "LSB", std::to_string(bits - 1 - binding.mLowBit));
            Add(aNode, "MSB", std::to_string(bits - 1 - binding.mHighBit));
        }
        if (aSigned)
        {
            Add(aNode, "Sign", "Signed");
        }
        else if (aNumber && xmlStrcmp(aNode->name, BAD_CAST "FloatReg") != 0)
        {
            Add(aNode, "Sign", "Unsigned");
        }
        const bool little = (spec.mHasChunk && spec.mChunk.mEndianness == TnGenEndiannessLittle) ||
                            (spec.mHasEvent && spec.mEvent.mEndianness == TnGenEndiannessLittle);
        Add(aNode, "Endianess", little ? "LittleEndian" : "BigEndian");
    }

    bool HasValueRegister(const FeatureSpec &aSpec) const
    {
        return aSpec.mHasRegister || aSpec.mHasChunk || aSpec.mHasEvent;
    }

    /// pValue: the private register node, or the named feature.
    void WriteValue(xmlNodePtr aNode, Merged &aFeature, const char *aRegisterKind, bool aSigned)
    {
        const FeatureSpec &spec = aFeature.mSpec;
        if (!HasValueRegister(spec))
        {
            WriteInvalidators(aNode, spec);
            Add(aNode, "pValue", spec.mPValue);
            return;
        }
        const std::string name = Helper(aFeature, "_Reg");
        Add(aNode, "pValue", name);
        const std::string kind = spec.mHasRegister && spec.mRegister.mLowBit >= 0 ? "MaskedIntReg" : aRegisterKind;
        mLater.push_back([this, &aFeature, name, kind, aSigned] {
            xmlNodePtr reg = NewNode(kind.c_str(), name, TnGenNameSpaceCustom);
            Add(reg, "Visibility", "Invisible");
            WriteValueRegister(reg, aFeature, true, aSigned);
        });
    }

    /// Min / Max / Inc: a reference, a constant or a switch over the sources.
    template <typename T>
    void WriteLimit(xmlNodePtr aNode, Merged &aFeature, const char *aElement, const std::string &aRef,
                    bool (*aHas)(const FeatureSpec &), T (*aValue)(const FeatureSpec &), bool aInteger)
    {
        if (!aRef.empty())
        {
            Add(aNode, (std::string("p") + aElement).c_str(), aRef);
            return;
        }
        std::vector<int> owners;
        std::vector<std::string> values;
        for (size_t part = 0; part < aFeature.mParts.size(); ++part)
        {
            if (aHas(aFeature.mParts[part]))
            {
                owners.push_back(aFeature.mOwners[part]);
                const T value = aValue(aFeature.mParts[part]);
                values.push_back(aInteger ? std::to_string(static_cast<int64_t>(value)) : Number(static_cast<double>(value)));
            }
        }
        if (values.empty())
        {
            return;
        }
        if (std::all_of(values.begin(), values.end(), [&](const std::string &aText) { return aText == values.front(); }) ||
            owners.front() < 0)
        {
            Add(aNode, aElement, values.front());
            return;
        }
        const std::string name = Helper(aFeature, std::string("_") + aElement);
        Add(aNode, (std::string("p") + aElement).c_str(), name);
        mLater.push_back([this, &aFeature, name, owners, values, aInteger] {
            WriteKnife(aFeature, name, aInteger, OwnerSwitch(owners, values), {SelectorVariable()});
        });
    }

    void WriteVariables(xmlNodePtr aNode, const FeatureSpec &aSpec)
    {
        for (const std::string &variable : aSpec.mVariables)
        {
            xmlNodePtr element = xmlNewTextChild(aNode, mNamespace, BAD_CAST "pVariable", BAD_CAST variable.c_str());
            xmlNewProp(element, BAD_CAST "Name", BAD_CAST variable.c_str());
        }
    }

    void WriteFeature(Merged &aFeature)
    {
        const FeatureSpec &spec = aFeature.mSpec;
        const bool isSigned = spec.mRegister.mSigned || (spec.mHasIntLimits && spec.mMin < 0);
        xmlNodePtr node = nullptr;
        switch (spec.mKind)
        {
        case FeatureKind::Integer:
            node = NewNode("Integer", spec.mName, spec.mNameSpace);
            WriteCommon(node, aFeature, true);
            WriteValue(node, aFeature, "IntReg", isSigned);
            WriteLimit<int64_t>(node, aFeature, "Min", spec.mPMin, [](const FeatureSpec &a) { return a.mHasIntLimits; },
                                [](const FeatureSpec &a) { return a.mMin; }, true);
            WriteLimit<int64_t>(node, aFeature, "Max", spec.mPMax, [](const FeatureSpec &a) { return a.mHasIntLimits; },
                                [](const FeatureSpec &a) { return a.mMax; }, true);
            WriteLimit<int64_t>(node, aFeature, "Inc", spec.mPInc, [](const FeatureSpec &a) { return a.mHasIntLimits; },
                                [](const FeatureSpec &a) { return a.mInc; }, true);
            WriteNumberTail(node, spec, false);
            break;
        case FeatureKind::Float:
            node = NewNode("Float", spec.mName, spec.mNameSpace);
            WriteCommon(node, aFeature, true);
            WriteValue(node, aFeature, "FloatReg", false);
            WriteLimit<double>(node, aFeature, "Min", spec.mPMin, [](const FeatureSpec &a) { return a.mHasFloatLimits; },
                               [](const FeatureSpec &a) { return a.mFloatMin; }, false);
            WriteLimit<double>(node, aFeature, "Max", spec.mPMax, [](const FeatureSpec &a) { return a.mHasFloatLimits; },
                               [](const FeatureSpec &a) { return a.mFloatMax; }, false);
            WriteNumberTail(node, spec, true);
            break;
        case FeatureKind::String:
        case FeatureKind::Register:
            if (HasValueRegister(spec))
            {
                node = NewNode(spec.mKind == FeatureKind::String ? "StringReg" : "Register", spec.mName, spec.mNameSpace);
                WriteCommon(node, aFeature, true);
                WriteValueRegister(node, aFeature, false, false);
            }
            else
            {
                node = NewNode("String", spec.mName, spec.mNameSpace);
                WriteCommon(node, aFeature, true);
                Add(node, "pValue", spec.mPValue);
            }
            break;
        case FeatureKind::Boolean:
            node = NewNode("Boolean", spec.mName, spec.mNameSpace);
            WriteCommon(node, aFeature, true);
            WriteValue(node, aFeature, "IntReg", false);
            Add(node, "OnValue", "1");
            Add(node, "OffValue", "0");
            break;
        case FeatureKind::Command:
            node = NewNode("Command", spec.mName, spec.mNameSpace);
            WriteCommon(node, aFeature, true);
            WriteValue(node, aFeature, "IntReg", false);
            Add(node, "CommandValue", "1");
            break;
        case FeatureKind::Enumeration:
        {
            node = NewNode("Enumeration", spec.mName, spec.mNameSpace);
            WriteCommon(node, aFeature, true);
            for (size_t index = 0; index < aFeature.mEntries.size(); ++index)
            {
                const EnumEntrySpec &entry = aFeature.mEntries[index];
                xmlNodePtr element = xmlNewChild(node, mNamespace, BAD_CAST "EnumEntry", nullptr);
                xmlNewProp(element, BAD_CAST "Name", BAD_CAST entry.mName.c_str());
                if (entry.mNameSpace == TnGenNameSpaceStandard)
                {
                    xmlNewProp(element, BAD_CAST "NameSpace", BAD_CAST "Standard");
                }
                Add(element, "DisplayName", entry.mDisplayName.empty() ? SplitWords(entry.mName) : entry.mDisplayName);
                AddIf(element, "pIsAvailable",
                      Availability(aFeature, "_" + entry.mName + "_Avail", aFeature.mEntryOwners[index], entry.mIsAvailable));
                Add(element, "Value", std::to_string(entry.mValue));
            }
            WriteValue(node, aFeature, "IntReg", false);
            break;
        }
        case FeatureKind::IntSwissKnife:
        case FeatureKind::FloatSwissKnife:
        {
            const bool integer = spec.mKind == FeatureKind::IntSwissKnife;
            node = NewNode(integer ? "IntSwissKnife" : "SwissKnife", spec.mName, spec.mNameSpace);
            WriteCommon(node, aFeature, false);
            WriteInvalidators(node, spec);
            WriteVariables(node, spec);
            Add(node, "Formula", spec.mFormula);
            WriteNumberTail(node, spec, !integer);
            break;
        }
        case FeatureKind::IntConverter:
        case FeatureKind::FloatConverter:
        {
            const bool integer = spec.mKind == FeatureKind::IntConverter;
            node = NewNode(integer ? "IntConverter" : "Converter", spec.mName, spec.mNameSpace);
            WriteCommon(node, aFeature, true);
            WriteInvalidators(node, spec);
            WriteVariables(node, spec);
            Add(node, "FormulaTo", spec.mToFormula);
            Add(node, "FormulaFrom", spec.mFormula);
            Add(node, "pValue", spec.mValueFeature);
            WriteNumberTail(node, spec, !integer);
            break;
        }
        }
        WriteSelected(node, aFeature);
        // Private nodes follow the feature's own.
        while (!mLater.empty())
        {
            std::vector<std::function<void()>> later;
            later.swap(mLater);
            for (auto &write : later)
            {
                write();
            }
        }
    }

    void WritePorts()
    {
        NewNode("Port", kDevicePort, TnGenNameSpaceStandard);
        for (uint32_t id : mChunkPorts)
        {
            const std::string name = "ChunkPort_" + Hex(id, 8);
            Reserve(name, name);
            xmlNodePtr node = NewNode("Port", name, TnGenNameSpaceCustom);
            Add(node, "ChunkID", Hex(id, 8));
        }
        for (uint32_t id : mEventPorts)
        {
            const std::string name = "EventPort_" + Hex(id, 4);
            Reserve(name, name);
            xmlNodePtr node = NewNode("Port", name, TnGenNameSpaceCustom);
            Add(node, "EventID", Hex(id, 4));
        }
    }

    const TnDescriptionInfo &mInfo;
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
    size_t start = aMessage.find('\'');
    while (start != std::string::npos)
    {
        const size_t end = aMessage.find('\'', start + 1);
        if (end == std::string::npos)
        {
            break;
        }
        const auto found = aOwners.find(aMessage.substr(start + 1, end - start - 1));
        if (found != aOwners.end())
        {
            return found->second;
        }
        start = aMessage.find('\'', end + 1);
    }
    // Messages that name a node without quotes ("X: pVariable ...").
    for (const auto &owner : aOwners)
    {
        if (aMessage.compare(0, owner.first.size() + 1, owner.first + ":") == 0)
        {
            return owner.second;
        }
    }
    return std::string();
}
} // namespace

std::string GenerateDisplayName(const std::string &aName, const std::string &aCategory)
{
    std::string name = aName;
    if (!aCategory.empty())
    {
        const size_t last = aCategory.rfind('\\');
        const std::string prefix = FirstWord(aCategory.substr(last == std::string::npos ? 0 : last + 1));
        if (name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
            isupper(static_cast<unsigned char>(name[prefix.size()])))
        {
            name = name.substr(prefix.size());
        }
    }
    return SplitWords(name);
}

TnResult BuildDescription(const std::vector<FeatureSpec> &aFeatures, const std::vector<FeatureChange> &aChanges,
                          const TnDescriptionInfo &aInfo, std::string &aXml)
{
    std::map<std::string, std::string> owners;
    try
    {
        Builder builder(aFeatures, aChanges, aInfo);
        aXml = builder.Write();
        owners = builder.GetNodeOwners();
    }
    catch (const std::exception &error)
    {
        return TnResult(TN_GENICAM_XML_ERROR, TnString(error.what()));
    }
    // What only a finished description shows (formulas, references between
    // the nodes): the SDK's own engine must load it.
    // The engine loads what it can and keeps faults as warnings; its strict
    // check parses every formula and names every fault.
    TnResult result;
    std::unique_ptr<TnGenParameterArray> array(genicam::CreateParameterArray(aXml, nullptr, result));
    std::string message;
    if (!array)
    {
        message = result.GetDescription().GetAscii() != nullptr ? result.GetDescription().GetAscii() : "";
    }
    else
    {
        const std::vector<std::string> faults = genicam::CheckDefinitions(array.get());
        if (faults.empty())
        {
            return TnResult(TN_OK);
        }
        message = faults.front();
    }
    const std::string feature = FeatureOfMessage(message, owners);
    return TnResult(TN_GENICAM_XML_ERROR,
                    TnString(((feature.empty() ? std::string() : "feature '" + feature + "': ") + message).c_str()));
}
} // namespace softdevice
} // namespace tn
