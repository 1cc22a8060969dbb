// The GenICam XML writer: the schema's element order, escaping, mapped
// ports, features of several sources behind SourceSelector, and faults named
// after the feature at fault.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "GenICamTestUtil.h"
#include "TnGenApiWriter.h"
#include "TnText.h"

using namespace tn::genicam;

namespace
{
/// A feature whose value lies in a register of the Device port.
FeatureSpec OnRegister(FeatureKind aKind, const std::string &aName, uint32_t aAddress, uint32_t aLength = 4)
{
    FeatureSpec lSpec;
    lSpec.mKind = aKind;
    lSpec.mName = aName;
    lSpec.mHasRegister = true;
    lSpec.mRegister.mAddress = aAddress;
    lSpec.mRegister.mLength = aLength;
    return lSpec;
}

/// A formula or converter feature, or one that takes its value from another.
FeatureSpec Formula(FeatureKind aKind, const std::string &aName, const std::string &aFormula,
                    const std::vector<std::string> &aVariables = {})
{
    FeatureSpec lSpec;
    lSpec.mKind = aKind;
    lSpec.mName = aName;
    lSpec.mFormula = aFormula;
    lSpec.mVariables = aVariables;
    return lSpec;
}

EnumEntrySpec Entry(const std::string &aName, int64_t aValue)
{
    EnumEntrySpec lEntry;
    lEntry.mName = aName;
    lEntry.mValue = aValue;
    return lEntry;
}

/// Features of every kind, with every element the writer makes.
std::vector<FeatureSpec> EveryKind()
{
    std::vector<FeatureSpec> lFeatures;
    FeatureSpec lGain = OnRegister(FeatureKind::Integer, "Gain", 0xA000);
    lGain.mCategory = "AnalogControl";
    lGain.mCategoryDisplayName = "Analog";
    lGain.mUnit = "dB";
    lGain.mToolTip = "Gain <in> dB & more";
    lGain.mStreamable = true;
    lGain.mNameSpace = TnGenNameSpaceStandard;
    lGain.mHasIntLimits = true;
    lGain.mMax = 48;
    lGain.mInc = 2;
    lFeatures.push_back(lGain);
    FeatureSpec lShown = OnRegister(FeatureKind::Integer, "GainShown", 0xA000);
    lShown.mAccessMode = TnGenAccessModeReadOnly;
    lFeatures.push_back(lShown);
    FeatureSpec lExposure = OnRegister(FeatureKind::Float, "ExposureTime", 0xA010, 8);
    lExposure.mCategory = "AcquisitionControl";
    lExposure.mRepresentation = TnGenRepresentationLogarithmic;
    lExposure.mHasFloatLimits = true;
    lExposure.mFloatMin = 10.0;
    lExposure.mFloatMax = 1e6;
    lFeatures.push_back(lExposure);
    FeatureSpec lLabel = OnRegister(FeatureKind::String, "Label", 0xA020, 16);
    lLabel.mCategory = "Custom\\Texts";
    lFeatures.push_back(lLabel);
    lFeatures.push_back(OnRegister(FeatureKind::Register, "Blob", 0xA030, 8));
    lFeatures.push_back(OnRegister(FeatureKind::Boolean, "Enabled", 0xA038));
    FeatureSpec lFire = OnRegister(FeatureKind::Command, "Fire", 0xA03C);
    lFire.mRegister.mReadable = false;
    lFeatures.push_back(lFire);
    FeatureSpec lMode = OnRegister(FeatureKind::Enumeration, "Mode", 0xA040);
    lMode.mEntries = {Entry("Off", 0), Entry("On", 1), Entry("Auto", 2)};
    lMode.mEntries[1].mDisplayName = "Switched on";
    lMode.mEntries[2].mNameSpace = TnGenNameSpaceStandard;
    lFeatures.push_back(lMode);
    lFeatures.push_back(Formula(FeatureKind::IntSwissKnife, "DoubleGain", "Gain * 2", {"Gain"}));
    FeatureSpec lMilli = Formula(FeatureKind::FloatConverter, "ExposureTimeMs", "TO / 1000");
    lMilli.mToFormula = "FROM * 1000";
    lMilli.mValueFeature = "ExposureTime";
    lFeatures.push_back(lMilli);
    FeatureSpec lAlias;
    lAlias.mName = "GainAlias";
    lAlias.mPValue = "Gain";
    lFeatures.push_back(lAlias);
    FeatureSpec lChunk;
    lChunk.mName = "ChunkCounter";
    lChunk.mHasChunk = true;
    lChunk.mChunk = MappingSpec{0x4001, 4, 4, TnGenEndiannessLittle, false};
    lFeatures.push_back(lChunk);
    FeatureSpec lEvent;
    lEvent.mName = "EventValue";
    lEvent.mHasEvent = true;
    lEvent.mEvent = MappingSpec{0x9001, 0, 4, TnGenEndiannessBig, true};
    lFeatures.push_back(lEvent);
    FeatureSpec lIndex = OnRegister(FeatureKind::Integer, "LutIndex", 0xA044);
    lIndex.mHasIntLimits = true;
    lIndex.mMax = 3;
    lFeatures.push_back(lIndex);
    FeatureSpec lLut = OnRegister(FeatureKind::Integer, "LutValue", 0xA100);
    lLut.mSelectors = {"LutIndex"};
    lLut.mRegister.mIndexSelector = "LutIndex";
    lLut.mRegister.mIndexOffset = 4;
    lFeatures.push_back(lLut);
    FeatureSpec lField = OnRegister(FeatureKind::Integer, "Field", 0xA048);
    lField.mRegister.mLowBit = 4;
    lField.mRegister.mHighBit = 11;
    lFeatures.push_back(lField);
    FeatureSpec lTemperature = OnRegister(FeatureKind::Integer, "Temperature", 0xA04C);
    lTemperature.mRegister.mWritable = false;
    lTemperature.mInvalidators = {"Fire"};
    lTemperature.mCache = TnGenCacheWriteThrough;
    lTemperature.mPollingTime = 1000;
    lFeatures.push_back(lTemperature);
    FeatureSpec lLocked = OnRegister(FeatureKind::Integer, "Locked", 0xA054);
    lLocked.mPIsAvailable = "Enabled";
    lLocked.mPIsLocked = "Enabled";
    lLocked.mTLLocked = true;
    lLocked.mPMax = "LutIndex";
    lLocked.mVisibility = TnGenVisibilityGuru;
    lFeatures.push_back(lLocked);
    lFeatures.push_back(OnRegister(FeatureKind::Integer, "TLParamsLocked", 0xA058));
    return lFeatures;
}

std::unique_ptr<TnGenParameterArray> Load(const std::string &aXml, std::shared_ptr<IPort> aPort)
{
    TnResult lResult;
    std::unique_ptr<TnGenParameterArray> lArray(CreateParameterArray(aXml, aPort, lResult));
    EXPECT_TRUE(lResult.IsOK()) << tn::Describe(lResult);
    return lArray;
}
} // namespace

TEST(Writer, ElementsFollowTheGenApiSchema)
{
    DescriptionInfo lInfo;
    lInfo.mModelName = "Model";
    lInfo.mVendorName = "Vendor";
    std::vector<FeatureChange> lChanges(1);
    lChanges[0].mKind = FeatureChange::AddInvalidator;
    lChanges[0].mTarget = "GainShown";
    lChanges[0].mArgument = "Fire";
    std::string lXml;
    const TnResult lWritten = WriteDescription(EveryKind(), lChanges, lInfo, lXml);
    ASSERT_TRUE(lWritten.IsOK()) << tn::Describe(lWritten);

    std::unique_ptr<xmlDoc, void (*)(xmlDoc *)> lDocument(
        xmlReadMemory(lXml.data(), static_cast<int>(lXml.size()), "device.xml", nullptr, XML_PARSE_NONET), xmlFreeDoc);
    ASSERT_TRUE(lDocument);
    xmlNodePtr lRoot = xmlDocGetRootElement(lDocument.get());
    EXPECT_STREQ("RegisterDescription", reinterpret_cast<const char *>(lRoot->name));
    ASSERT_NE(nullptr, lRoot->ns);
    EXPECT_STREQ("http://www.genicam.org/GenApi/Version_1_1", reinterpret_cast<const char *>(lRoot->ns->href));
    for (const char *lAttribute :
         {"ModelName", "VendorName", "SchemaMajorVersion", "SchemaMinorVersion", "SchemaSubMinorVersion",
          "MajorVersion", "MinorVersion", "SubMinorVersion", "ProductGuid", "VersionGuid", "StandardNameSpace"})
    {
        EXPECT_TRUE(xmlHasProp(lRoot, BAD_CAST lAttribute)) << lAttribute;
    }

    // Element order inside each node, as the schema has it.
    const std::vector<std::string> lOrder = {"ToolTip",      "Description",  "DisplayName",
                                             "Visibility",   "EventID",      "pIsImplemented",
                                             "pIsAvailable", "pIsLocked",    "ImposedAccessMode",
                                             "Streamable",   "EnumEntry",    "pVariable",
                                             "Formula",      "FormulaTo",    "FormulaFrom",
                                             "pValue",       "pFeature",     "Address",
                                             "pAddress",     "pIndex",       "Length",
                                             "AccessMode",   "pPort",        "Cachable",
                                             "PollingTime",  "pInvalidator", "LSB",
                                             "MSB",          "Sign",         "Endianess",
                                             "ChunkID",      "OnValue",      "OffValue",
                                             "CommandValue", "Min",          "pMin",
                                             "Max",          "pMax",         "Inc",
                                             "pInc",         "Unit",         "Representation",
                                             "pSelected"};
    std::map<std::string, int> lSeen;
    for (xmlNodePtr lNode = lRoot->children; lNode != nullptr; lNode = lNode->next)
    {
        if (lNode->type != XML_ELEMENT_NODE)
        {
            continue;
        }
        xmlChar *lName = xmlGetProp(lNode, BAD_CAST "Name");
        ASSERT_NE(nullptr, lName);
        EXPECT_EQ(0, lSeen[reinterpret_cast<const char *>(lName)]++) << "node defined twice: " << lName;
        size_t lLast = 0;
        for (xmlNodePtr lChild = lNode->children; lChild != nullptr; lChild = lChild->next)
        {
            if (lChild->type != XML_ELEMENT_NODE)
            {
                continue;
            }
            const auto lFound = std::find(lOrder.begin(), lOrder.end(), reinterpret_cast<const char *>(lChild->name));
            ASSERT_NE(lOrder.end(), lFound) << lChild->name << " in " << lName;
            const size_t lPosition = static_cast<size_t>(lFound - lOrder.begin());
            EXPECT_LE(lLast, lPosition) << lChild->name << " out of order in " << lName;
            lLast = lPosition;
        }
        xmlFree(lName);
    }
    for (const char *lNode : {"Device", "Root", "ChunkPort_00004001", "EventPort_9001", "Gain_Reg", "Locked_Locked"})
    {
        EXPECT_EQ(1, lSeen[lNode]) << lNode;
    }
    // Text is escaped by the writer, not by hand.
    EXPECT_NE(std::string::npos, lXml.find("Gain &lt;in&gt; dB &amp; more"));
    // The event feature counts from the end of the event header.
    EXPECT_NE(std::string::npos, lXml.find("<Address>0x10</Address>"));

    // Bit fields and registers indexed by a selector reach the right bytes.
    auto lPort = std::make_shared<MemoryPort>(0x10000);
    const std::unique_ptr<TnGenParameterArray> lArray = Load(lXml, lPort);
    ASSERT_TRUE(lArray);
    EXPECT_CODE(TN_OK, lArray->SetIntegerValue("Field", 0xAB));
    EXPECT_CODE(TN_GENERIC_ERROR, lArray->SetIntegerValue("Field", 0x100));
    EXPECT_CODE(TN_OK, lArray->SetIntegerValue("LutIndex", 2));
    EXPECT_CODE(TN_OK, lArray->SetIntegerValue("LutValue", 0x55));
    uint8_t lBytes[4] = {0};
    EXPECT_CODE(TN_OK, lPort->Peek(0xA048, lBytes, 4));
    EXPECT_EQ(0x0A, lBytes[2]);
    EXPECT_EQ(0xB0, lBytes[3]);
    EXPECT_CODE(TN_OK, lPort->Peek(0xA108, lBytes, 4));
    EXPECT_EQ(0x55, lBytes[3]);
}

TEST(Writer, FeaturesOfSeveralSourcesFollowSourceSelector)
{
    std::vector<FeatureSpec> lFeatures;
    FeatureSpec lSelector = OnRegister(FeatureKind::Enumeration, "SourceSelector", 0xA000);
    lSelector.mEntries = {Entry("Source0", 0), Entry("Source1", 1)};
    lFeatures.push_back(lSelector);
    for (int lSource = 0; lSource < 2; ++lSource)
    {
        FeatureSpec lGain = OnRegister(FeatureKind::Integer, "SourceGain", 0xA010 + 0x10 * lSource);
        lGain.mOwner = lSource;
        lGain.mHasIntLimits = true;
        lGain.mMax = lSource == 0 ? 10 : 20;
        lFeatures.push_back(lGain);
        FeatureSpec lFilter = OnRegister(FeatureKind::Enumeration, "Filter", 0xA030 + 4 * lSource);
        lFilter.mOwner = lSource;
        lFilter.mEntries = {Entry("None", 0)};
        if (lSource == 1)
        {
            lFilter.mEntries.push_back(Entry("Sharpen", 1));
        }
        lFeatures.push_back(lFilter);
    }
    FeatureSpec lOnly = OnRegister(FeatureKind::Integer, "OnlySecond", 0xA040);
    lOnly.mOwner = 1;
    lFeatures.push_back(lOnly);

    DescriptionInfo lInfo;
    lInfo.mSourceCount = 2;
    std::string lXml;
    const TnResult lWritten = WriteDescription(lFeatures, {}, lInfo, lXml);
    ASSERT_TRUE(lWritten.IsOK()) << tn::Describe(lWritten);
    auto lPort = std::make_shared<MemoryPort>(0x10000);
    const std::unique_ptr<TnGenParameterArray> lArray = Load(lXml, lPort);
    ASSERT_TRUE(lArray);

    EXPECT_CODE(TN_OK, lArray->SetIntegerValue("SourceGain", 7));
    EXPECT_CODE(TN_GENERIC_ERROR, lArray->SetIntegerValue("SourceGain", 15));
    int64_t lValue = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, lArray->GetIntegerValue("OnlySecond", lValue));
    EXPECT_CODE(TN_GENERIC_ERROR, lArray->SetEnumValue("Filter", TnString("Sharpen")));
    EXPECT_CODE(TN_OK, lArray->SetEnumValue("SourceSelector", TnString("Source1")));
    EXPECT_CODE(TN_OK, lArray->SetIntegerValue("SourceGain", 15));
    EXPECT_CODE(TN_OK, lArray->GetIntegerValue("OnlySecond", lValue));
    EXPECT_CODE(TN_OK, lArray->SetEnumValue("Filter", TnString("Sharpen")));
    uint8_t lBytes[4] = {0};
    EXPECT_CODE(TN_OK, lPort->Peek(0xA010, lBytes, 4));
    EXPECT_EQ(7, lBytes[3]);
    EXPECT_CODE(TN_OK, lPort->Peek(0xA020, lBytes, 4));
    EXPECT_EQ(15, lBytes[3]);

    // Without SourceSelector, features of some sources cannot be written.
    lXml.clear();
    const TnResult lLonely = WriteDescription({lOnly}, {}, lInfo, lXml);
    EXPECT_CODE(TN_GENICAM_XML_ERROR, lLonely);
    EXPECT_EQ(0u, tn::Describe(lLonely).find("feature 'OnlySecond'")) << tn::Describe(lLonely);
}

TEST(Writer, FailuresNameTheFeature)
{
    const FeatureSpec lValue = OnRegister(FeatureKind::Integer, "Value", 0xA000);
    FeatureSpec lLocked = OnRegister(FeatureKind::Integer, "Width", 0xA000);
    lLocked.mTLLocked = true;
    FeatureSpec lAlias;
    lAlias.mName = "Alias";
    lAlias.mPValue = "Missing";
    FeatureSpec lMode = OnRegister(FeatureKind::Enumeration, "Mode", 0xA000);
    lMode.mEntries = {Entry("Slow", 0)};
    const auto lChange = [](FeatureChange::Kind aKind, const char *aTarget, const char *aEntry, const char *aArgument) {
        FeatureChange lResult;
        lResult.mKind = aKind;
        lResult.mTarget = aTarget;
        lResult.mEntry = aEntry;
        lResult.mArgument = aArgument;
        return std::vector<FeatureChange>{lResult};
    };
    struct Case
    {
        const char *mFeature;
        const char *mText;
        std::vector<FeatureSpec> mFeatures;
        std::vector<FeatureChange> mChanges;
    };
    const Case lCases[] = {
        {"Value", "different kinds", {lValue, OnRegister(FeatureKind::Float, "Value", 0xA004)}, {}},
        {"Value", "created twice", {lValue, OnRegister(FeatureKind::Integer, "Value", 0xA004)}, {}},
        {"Alias", "'Missing'", {lAlias}, {}},
        {"Knife", "formula", {lValue, Formula(FeatureKind::IntSwissKnife, "Knife", "Value * (2 +", {"Value"})}, {}},
        {"Knife", "Other", {lValue, Formula(FeatureKind::IntSwissKnife, "Knife", "Value + Other", {"Value"})}, {}},
        {"Width", "TLParamsLocked", {lLocked}, {}},
        {"Value_Reg", "node of 'Value'", {lValue, OnRegister(FeatureKind::Integer, "Value_Reg", 0xA004)}, {}},
        {"Standard", "does not define it", {lValue}, lChange(FeatureChange::AddInvalidator, "Standard", "", "Value")},
        {"Mode",
         "no entry 'Fast'",
         {lMode, OnRegister(FeatureKind::Boolean, "Flag", 0xA004)},
         lChange(FeatureChange::SetPIsAvailableForEntry, "Mode", "Fast", "Flag")},
    };
    for (const Case &lTest : lCases)
    {
        std::string lXml;
        const TnResult lResult = WriteDescription(lTest.mFeatures, lTest.mChanges, DescriptionInfo(), lXml);
        EXPECT_CODE(TN_GENICAM_XML_ERROR, lResult);
        EXPECT_EQ(0u, tn::Describe(lResult).find(std::string("feature '") + lTest.mFeature + "'"))
            << tn::Describe(lResult);
        EXPECT_NE(std::string::npos, tn::Describe(lResult).find(lTest.mText)) << tn::Describe(lResult);
    }
}

TEST(Writer, GeneratedDisplayNames)
{
    EXPECT_EQ("Type", GenerateDisplayName("DeviceType", "DeviceControl"));
    EXPECT_EQ("Width Max", GenerateDisplayName("WidthMax", "ImageFormatControl"));
    EXPECT_EQ("Test Timestamp", GenerateDisplayName("EventTestTimestamp", "EventControl\\EventTestData"));
    EXPECT_EQ("Gev SCPS Packet Size", GenerateDisplayName("GevSCPSPacketSize", "TransportLayerControl"));
    EXPECT_EQ("Device", GenerateDisplayName("Device", "DeviceControl"));
}
