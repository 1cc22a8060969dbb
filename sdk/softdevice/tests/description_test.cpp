// The feature factory and the GenICam description: features of every kind
// load in the SDK's GenICam engine, and what a client reads and writes
// through them reaches the registers and their sinks.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "SoftDeviceTestUtil.h"
#include "TnDescription.h"
#include "TnGenApiFactory.h"

using namespace tn::softdevice;
using namespace tn::softdevice::test;

namespace
{

std::string Build(TnGenApiFactory &aFactory, const TnDescriptionInfo &aInfo, TnResult &aResult)
{
    std::string xml;
    aResult = BuildDescription(aFactory.GetFeatures(), aFactory.GetChanges(), aInfo, xml);
    return xml;
}

/// A device with custom features of every kind, at addresses from 0xA000.
struct EveryKind
{
    EveryKind() : mFactory(mMap)
    {
        TnGenApiFactory &f = mFactory;
        mGain = AddReg(mMap, "GainReg", 0xA000, 4);
        mGain->AddEventSink(&mSink);
        f.SetName("Gain");
        f.SetCategory("AnalogControl", "Analog");
        f.SetUnit("dB");
        f.SetToolTip("Gain <in> dB & more");
        f.SetStreamable(true);
        f.SetNameSpace(TnGenNameSpaceStandard);
        EXPECT_CODE(TN_OK, f.CreateInteger(mGain, 0, 48, 2));

        f.SetName("GainShown");
        f.SetAccessMode(TnGenAccessModeReadOnly);
        EXPECT_CODE(TN_OK, f.CreateInteger(mGain));

        mOffset = AddReg(mMap, "OffsetReg", 0xA008, 8);
        f.SetName("BlackOffset");
        f.SetCategory("AnalogControl");
        EXPECT_CODE(TN_OK, f.CreateInteger(mOffset, -100, 100));

        mExposure = AddReg(mMap, "ExposureReg", 0xA010, 8);
        f.SetName("ExposureTime");
        f.SetCategory("AcquisitionControl");
        f.SetUnit("us");
        f.SetRepresentation(TnGenRepresentationLogarithmic);
        EXPECT_CODE(TN_OK, f.CreateFloat(mExposure, 10.0, 1e6));

        mRatio = AddReg(mMap, "RatioReg", 0xA018, 4);
        f.SetName("Ratio");
        EXPECT_CODE(TN_OK, f.CreateFloat(mRatio));

        mLabel = AddReg(mMap, "LabelReg", 0xA020, 16, TnGenAccessModeReadWrite, true);
        f.SetName("Label");
        f.SetCategory("Custom\\Texts");
        EXPECT_CODE(TN_OK, f.CreateString(mLabel));

        mBlob = AddReg(mMap, "BlobReg", 0xA030, 8, TnGenAccessModeReadWrite, true);
        f.SetName("Blob");
        EXPECT_CODE(TN_OK, f.CreateRegister(mBlob));

        mEnabled = AddReg(mMap, "EnabledReg", 0xA038, 4);
        f.SetName("Enabled");
        EXPECT_CODE(TN_OK, f.CreateBoolean(mEnabled));

        mFire = AddReg(mMap, "FireReg", 0xA03C, 4, TnGenAccessModeWriteOnly);
        mFire->AddEventSink(&mSink);
        f.SetName("Fire");
        EXPECT_CODE(TN_OK, f.CreateCommand(mFire));

        mMode = AddReg(mMap, "ModeReg", 0xA040, 4);
        f.SetName("Mode");
        f.AddEnumEntry("Off", 0);
        f.AddEnumEntry("On", 1, "Switched on");
        f.AddEnumEntry("Auto", 2, "", TnGenNameSpaceStandard);
        EXPECT_CODE(TN_OK, f.CreateEnum(mMode));

        f.SetName("DoubleGain");
        f.AddVariable("Gain");
        EXPECT_CODE(TN_OK, f.CreateIntSwissKnife("Gain * 2"));

        f.SetName("HalfRatio");
        f.AddVariable("Ratio");
        EXPECT_CODE(TN_OK, f.CreateFloatSwissKnife("Ratio / 2"));

        f.SetName("ExposureTimeMs");
        EXPECT_CODE(TN_OK, f.CreateFloatConverter("ExposureTime", "TO / 1000", "FROM * 1000"));

        f.SetName("GainHalf");
        EXPECT_CODE(TN_OK, f.CreateIntConverter("Gain", "TO / 2", "FROM * 2"));

        f.SetName("GainAlias");
        f.SetPValue("Gain");
        EXPECT_CODE(TN_OK, f.CreateInteger());

        f.SetName("ChunkCounter");
        f.MapChunk(0x4001, 4, 4);
        EXPECT_CODE(TN_OK, f.CreateInteger());

        f.SetName("EventValue");
        f.MapEvent(0x9001, 0, 4, TnGenEndiannessBig);
        EXPECT_CODE(TN_OK, f.CreateInteger());

        mLutIndex = AddReg(mMap, "LutIndexReg", 0xA044, 4);
        mLutValue = AddReg(mMap, "LutValueReg", 0xA048, 4);
        f.SetName("LutIndex");
        EXPECT_CODE(TN_OK, f.CreateInteger(mLutIndex, 0, 3));
        f.SetName("LutValue");
        f.AddSelected("LutIndex");
        EXPECT_CODE(TN_OK, f.CreateInteger(mLutValue));

        mTemperature = AddReg(mMap, "TemperatureReg", 0xA04C, 4, TnGenAccessModeReadOnly);
        f.SetName("Temperature");
        f.AddInvalidator("Fire");
        f.SetCachable(TnGenCacheWriteThrough);
        f.SetPollingTime(1000);
        EXPECT_CODE(TN_OK, f.CreateInteger(mTemperature));

        mSecret = AddReg(mMap, "SecretReg", 0xA050, 4);
        f.SetName("Secret");
        f.SetPIsAvailable("Enabled");
        f.SetVisibility(TnGenVisibilityGuru);
        EXPECT_CODE(TN_OK, f.CreateInteger(mSecret));

        f.SetName("Locked");
        f.SetPIsLocked("Enabled");
        f.SetPMax("LutIndex");
        EXPECT_CODE(TN_OK, f.CreateInteger(AddReg(mMap, "LockedReg", 0xA054, 4)));
    }

    /// The description, and a client over it.
    std::unique_ptr<Client> Connect()
    {
        TnResult result;
        mXml = Build(mFactory, TnDescriptionInfo(), result);
        EXPECT_TRUE(result.IsOK()) << Text(result);
        return std::unique_ptr<Client>(new Client(mXml, mMap));
    }

    TnRegisterMap mMap;
    TnGenApiFactory mFactory;
    RecordingSink mSink;
    std::string mXml;
    TnRegister *mGain, *mOffset, *mExposure, *mRatio, *mLabel, *mBlob, *mEnabled, *mFire, *mMode, *mLutIndex,
        *mLutValue, *mTemperature, *mSecret;
};

bool Mentions(const TnResult &aResult, const std::string &aText)
{
    return Text(aResult).find(aText) != std::string::npos;
}
} // namespace

TEST(Description, EveryKindLoadsAndReachesRegisters)
{
    EveryKind device;
    const std::unique_ptr<Client> connection = device.Connect();
    Client &client = *connection;
    ASSERT_TRUE(client);

    // Integers, signed and unsigned, with their limits.
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Gain", 10));
    EXPECT_EQ(10u, device.mGain->PeekInt());
    EXPECT_EQ((std::vector<std::string>{"PreWrite GainReg", "PostWrite GainReg"}), device.mSink.Calls());
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetIntegerValue("Gain", 11));
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetIntegerValue("GainShown", 12));
    EXPECT_EQ(10, client.Int("GainShown"));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("BlackOffset", -5));
    EXPECT_EQ(0xFFFFFFFFu, device.mOffset->PeekInt(0));
    EXPECT_EQ(0xFFFFFFFBu, device.mOffset->PeekInt(4));
    EXPECT_EQ(-5, client.Int("BlackOffset"));

    // Floats in 8- and 4-byte registers, a converter and a float SwissKnife.
    EXPECT_CODE(TN_OK, client->SetFloatValue("ExposureTime", 1234.5));
    double exposure = 0;
    EXPECT_CODE(TN_OK, device.mExposure->ReadDouble(exposure));
    EXPECT_EQ(1234.5, exposure);
    double value = 0;
    EXPECT_CODE(TN_OK, client->GetFloatValue("ExposureTimeMs", value));
    EXPECT_DOUBLE_EQ(1.2345, value);
    EXPECT_CODE(TN_OK, client->SetFloatValue("ExposureTimeMs", 2.0));
    EXPECT_CODE(TN_OK, device.mExposure->ReadDouble(exposure));
    EXPECT_EQ(2000.0, exposure);
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetFloatValue("ExposureTime", 5.0));
    EXPECT_CODE(TN_OK, device.mRatio->WriteFloat(0.25f));
    EXPECT_CODE(TN_OK, client->GetFloatValue("Ratio", value));
    EXPECT_EQ(0.25, value);
    EXPECT_CODE(TN_OK, client->GetFloatValue("HalfRatio", value));
    EXPECT_EQ(0.125, value);

    // Strings and raw registers.
    EXPECT_CODE(TN_OK, client->SetStringValue("Label", "hello"));
    TnString label;
    EXPECT_CODE(TN_OK, device.mLabel->ReadString(label));
    EXPECT_STREQ("hello", label.GetAscii());
    const uint8_t blob[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_CODE(TN_OK, device.mBlob->Write(blob, 8));
    uint8_t read[8] = {0};
    EXPECT_CODE(TN_OK, client->GetRegister("Blob")->Get(read, 8));
    EXPECT_EQ(0, memcmp(blob, read, 8));

    // Booleans drive availability and locks.
    int64_t secret = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, client->GetIntegerValue("Secret", secret));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Locked", 0));
    EXPECT_CODE(TN_OK, client->SetBooleanValue("Enabled", true));
    EXPECT_EQ(1u, device.mEnabled->PeekInt());
    EXPECT_CODE(TN_OK, client->GetIntegerValue("Secret", secret));
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetIntegerValue("Locked", 0));

    // A command: the sinks see the write, then the register clears.
    device.mSink.Clear();
    EXPECT_CODE(TN_OK, client->ExecuteCommand("Fire"));
    EXPECT_EQ((std::vector<std::string>{"PreWrite FireReg", "PostWrite FireReg"}), device.mSink.Calls());
    EXPECT_EQ(0u, device.mFire->PeekInt());

    // Enumerations.
    EXPECT_CODE(TN_OK, client->SetEnumValue("Mode", TnString("Auto")));
    EXPECT_EQ(2u, device.mMode->PeekInt());
    const TnGenEnumEntry *entry = nullptr;
    EXPECT_CODE(TN_OK, client->GetEnum("Mode")->GetEntryByName("On", &entry));
    TnString display;
    EXPECT_CODE(TN_OK, entry->GetDisplayName(display));
    EXPECT_STREQ("Switched on", display.GetAscii());

    // SwissKnifes, converters and pValue over the integer.
    EXPECT_EQ(20, client.Int("DoubleGain"));
    EXPECT_EQ(5, client.Int("GainHalf"));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("GainHalf", 7));
    EXPECT_EQ(14u, device.mGain->PeekInt());
    EXPECT_EQ(14, client.Int("GainAlias"));

    // The dynamic maximum follows LutIndex.
    EXPECT_CODE(TN_OK, client->SetBooleanValue("Enabled", false));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("LutIndex", 2));
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetIntegerValue("Locked", 3));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Locked", 2));

    // Chunk data, little-endian at offset 4 of the chunk.
    uint8_t chunk[16] = {0, 0, 0, 0, 0x2A, 0x01, 0, 0, 0, 0, 0x40, 0x01, 0, 0, 0, 8};
    EXPECT_CODE(TN_OK, client->AttachDataChunks(chunk, sizeof(chunk)));
    EXPECT_EQ(0x12A, client.Int("ChunkCounter"));
    EXPECT_CODE(TN_OK, client->DetachDataChunks());
}

TEST(Description, RefusedWritesKeepTheRegisterAndReportAStatus)
{
    EveryKind device;
    const std::unique_ptr<Client> connection = device.Connect();
    Client &client = *connection;
    ASSERT_TRUE(client);
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Gain", 4));

    device.mSink.mWriteAnswer = TnResult(TN_INVALID_PARAMETER);
    device.mSink.Clear();
    EXPECT_FALSE(client->SetIntegerValue("Gain", 6).IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusInvalidParameter, client.mPort->mLastStatus);
    EXPECT_EQ(4u, device.mGain->PeekInt());
    EXPECT_EQ((std::vector<std::string>{"PreWrite GainReg"}), device.mSink.Calls());
    EXPECT_EQ(4, client.Int("Gain"));

    // A GigE Vision status passes as it is; a sink that throws refuses.
    device.mSink.mWriteAnswer = TnResult(0x8006);
    EXPECT_FALSE(client->SetIntegerValue("Gain", 6).IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusAccessDenied, client.mPort->mLastStatus);
    device.mSink.mWriteAnswer = TnResult(TN_OK);
    device.mSink.mAction = [](const std::string &aCall, ITnRegister *) {
        if (aCall == "PreWrite")
        {
            throw std::runtime_error("the sink failed");
        }
    };
    EXPECT_FALSE(client->SetIntegerValue("Gain", 8).IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusError, client.mPort->mLastStatus);
    EXPECT_EQ(4u, device.mGain->PeekInt());

    // Reads refused by PreRead fail too.
    device.mSink.mAction = nullptr;
    device.mSink.mReadAnswer = TnResult(TN_BUSY);
    int64_t gain = 0;
    EXPECT_FALSE(client->GetIntegerValue("Gain", gain).IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusBusy, client.mPort->mLastStatus);
}

TEST(Description, XmlFollowsTheGenApiSchema)
{
    EveryKind device;
    ASSERT_TRUE(*device.Connect());
    const std::string &xml = device.mXml;
    std::unique_ptr<xmlDoc, void (*)(xmlDoc *)> document(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), "device.xml", nullptr, XML_PARSE_NONET), xmlFreeDoc);
    ASSERT_TRUE(document);
    xmlNodePtr root = xmlDocGetRootElement(document.get());
    EXPECT_STREQ("RegisterDescription", reinterpret_cast<const char *>(root->name));
    ASSERT_NE(nullptr, root->ns);
    EXPECT_STREQ("http://www.genicam.org/GenApi/Version_1_1", reinterpret_cast<const char *>(root->ns->href));
    for (const char *attribute : {"ModelName", "VendorName", "SchemaMajorVersion", "SchemaMinorVersion",
                                  "SchemaSubMinorVersion", "MajorVersion", "MinorVersion", "SubMinorVersion",
                                  "ProductGuid", "VersionGuid", "StandardNameSpace"})
    {
        EXPECT_TRUE(xmlHasProp(root, BAD_CAST attribute)) << attribute;
    }

    // Element order inside each node, as the schema has it.
    const std::vector<std::string> order = {
        "ToolTip",   "Description", "DisplayName", "Visibility",  "EventID",     "pIsImplemented", "pIsAvailable",
        "pIsLocked", "ImposedAccessMode",          "Streamable",  "EnumEntry",   "pVariable",      "Formula",
        "FormulaTo", "FormulaFrom", "pValue",      "pFeature",    "Address",     "pAddress",       "pIndex",
        "Length",    "AccessMode",  "pPort",       "Cachable",    "PollingTime", "pInvalidator",   "LSB",
        "MSB",       "Sign",        "Endianess",   "ChunkID",     "OnValue",     "OffValue",       "CommandValue",
        "Min",       "pMin",        "Max",         "pMax",        "Inc",         "pInc",           "Unit",
        "Representation",           "pSelected"};
    std::map<std::string, int> seen;
    for (xmlNodePtr node = root->children; node != nullptr; node = node->next)
    {
        if (node->type != XML_ELEMENT_NODE)
        {
            continue;
        }
        xmlChar *name = xmlGetProp(node, BAD_CAST "Name");
        ASSERT_NE(nullptr, name);
        EXPECT_EQ(0, seen[reinterpret_cast<const char *>(name)]++) << "node defined twice: " << name;
        size_t last = 0;
        for (xmlNodePtr child = node->children; child != nullptr; child = child->next)
        {
            if (child->type != XML_ELEMENT_NODE)
            {
                continue;
            }
            const auto found = std::find(order.begin(), order.end(), reinterpret_cast<const char *>(child->name));
            ASSERT_NE(order.end(), found) << child->name << " in " << name;
            // pValue of a converter comes after its formulas, that of other nodes after Streamable.
            const size_t position = static_cast<size_t>(found - order.begin());
            EXPECT_LE(last, position) << child->name << " out of order in " << name;
            last = position;
        }
        xmlFree(name);
    }
    EXPECT_EQ(1, seen["Device"]);
    EXPECT_EQ(1, seen["Root"]);
    EXPECT_EQ(1, seen["ChunkPort_00004001"]);
    EXPECT_EQ(1, seen["EventPort_9001"]);
    // Text is escaped by the writer, not by hand.
    EXPECT_NE(std::string::npos, xml.find("Gain &lt;in&gt; dB &amp; more"));
    // The event feature counts from the end of the event header.
    EXPECT_NE(std::string::npos, xml.find("<Address>0x10</Address>"));
}

TEST(Description, FailuresNameTheFeature)
{
    struct Case
    {
        const char *mFeature;
        const char *mText;
        std::function<void(TnRegisterMap &, TnGenApiFactory &)> mMake;
    };
    const Case cases[] = {
        {"Twice", "different kinds",
         [](TnRegisterMap &aMap, TnGenApiFactory &aFactory) {
             aFactory.SetName("Twice");
             aFactory.CreateInteger(AddReg(aMap, "A", 0xA000, 4));
             aFactory.SetName("Twice");
             aFactory.CreateFloat(AddReg(aMap, "B", 0xA004, 4));
         }},
        {"Copy", "created twice",
         [](TnRegisterMap &aMap, TnGenApiFactory &aFactory) {
             aFactory.SetName("Copy");
             aFactory.CreateInteger(AddReg(aMap, "A", 0xA000, 4));
             aFactory.SetName("Copy");
             aFactory.CreateInteger(AddReg(aMap, "B", 0xA004, 4));
         }},
        {"Alias", "'Missing'",
         [](TnRegisterMap &, TnGenApiFactory &aFactory) {
             aFactory.SetName("Alias");
             aFactory.SetPValue("Missing");
             aFactory.CreateInteger();
         }},
        {"Knife", "formula",
         [](TnRegisterMap &aMap, TnGenApiFactory &aFactory) {
             aFactory.SetName("Value");
             aFactory.CreateInteger(AddReg(aMap, "A", 0xA000, 4));
             aFactory.SetName("Knife");
             aFactory.AddVariable("Value");
             aFactory.CreateIntSwissKnife("Value * (2 +");
         }},
        {"Knife", "Other",
         [](TnRegisterMap &aMap, TnGenApiFactory &aFactory) {
             aFactory.SetName("Value");
             aFactory.CreateInteger(AddReg(aMap, "A", 0xA000, 4));
             aFactory.SetName("Knife");
             aFactory.AddVariable("Value");
             aFactory.CreateIntSwissKnife("Value + Other");
         }},
        {"Width", "TLParamsLocked",
         [](TnRegisterMap &aMap, TnGenApiFactory &aFactory) {
             aFactory.SetName("Width");
             aFactory.SetTLLocked(true);
             aFactory.CreateInteger(AddReg(aMap, "A", 0xA000, 4));
         }},
        {"Gain_Reg", "node of 'Gain'",
         [](TnRegisterMap &aMap, TnGenApiFactory &aFactory) {
             aFactory.SetName("Gain");
             aFactory.CreateInteger(AddReg(aMap, "A", 0xA000, 4));
             aFactory.SetName("Gain_Reg");
             aFactory.CreateInteger(AddReg(aMap, "B", 0xA004, 4));
         }},
        {"Standard", "does not define it",
         [](TnRegisterMap &, TnGenApiFactory &aFactory) { aFactory.AddInvalidatorTo("Standard", "Other"); }},
        {"Mode", "no entry 'Fast'",
         [](TnRegisterMap &aMap, TnGenApiFactory &aFactory) {
             aFactory.SetName("Mode");
             aFactory.AddEnumEntry("Slow", 0);
             aFactory.CreateEnum(AddReg(aMap, "A", 0xA000, 4));
             aFactory.SetName("Flag");
             aFactory.CreateBoolean(AddReg(aMap, "B", 0xA004, 4));
             aFactory.SetPIsAvailableForEnumEntry("Mode", "Fast", "Flag");
         }},
    };
    for (const Case &test : cases)
    {
        TnRegisterMap map;
        TnGenApiFactory factory(map);
        test.mMake(map, factory);
        TnResult result;
        Build(factory, TnDescriptionInfo(), result);
        EXPECT_CODE(TN_GENICAM_XML_ERROR, result);
        EXPECT_EQ(0u, Text(result).find(std::string("feature '") + test.mFeature + "'")) << Text(result);
        EXPECT_TRUE(Mentions(result, test.mText)) << Text(result);
    }
}

TEST(Factory, CreationResultsAndThePendingFeature)
{
    TnRegisterMap map;
    TnRegisterMap other;
    TnGenApiFactory factory(map);
    TnRegister *reg = AddReg(map, "A", 0xA000, 4);
    TnRegister *wide = AddReg(map, "W", 0xA010, 16, TnGenAccessModeReadWrite, true);
    TnRegister *foreign = AddReg(other, "F", 0xA000, 4);

    EXPECT_CODE(TN_NOT_INITIALIZED, factory.CreateInteger(reg));
    EXPECT_CODE(TN_NOT_INITIALIZED, factory.CreateIntSwissKnife("1"));
    const std::function<TnResult()> refused[] = {
        [&] { return factory.CreateInteger(); },
        [&] { return factory.CreateInteger(reg, 5, 4); },
        [&] { return factory.CreateInteger(reg, 0, 4, 0); },
        [&] { return factory.CreateFloat(reg, 2.0, 1.0); },
        [&] { return factory.CreateFloat(reg, nan(""), 1.0); },
        [&] { return factory.CreateInteger(wide); },
        [&] { return factory.CreateInteger(foreign); },
        [&] { return factory.CreateEnum(reg); },
        [&] { return factory.CreateCommand(); },
        [&] { return factory.CreateIntSwissKnife(""); },
        [&] { return factory.CreateFloatConverter("", "TO", "FROM"); },
        [&] { return factory.CreateIntConverter("A", "TO", ""); },
        [&] {
            factory.SetPValue("Other");
            return factory.CreateRegister();
        },
        [&] {
            factory.MapChunk(1, 0, 4);
            return factory.CreateInteger(reg);
        },
        [&] {
            factory.MapChunk(1, 0, 16);
            return factory.CreateInteger();
        },
    };
    for (size_t index = 0; index < sizeof(refused) / sizeof(refused[0]); ++index)
    {
        factory.SetName("Feature");
        const TnResult result = refused[index]();
        EXPECT_EQ(TN_INVALID_PARAMETER, result.GetCode()) << "case " << index << ": " << Text(result);
    }
    factory.SetName("Bad Name");
    EXPECT_CODE(TN_INVALID_PARAMETER, factory.CreateInteger(reg));
    factory.SetName("Twins");
    factory.AddEnumEntry("A", 0);
    factory.AddEnumEntry("A", 1);
    EXPECT_CODE(TN_INVALID_PARAMETER, factory.CreateEnum(reg));
    EXPECT_TRUE(factory.GetFeatures().empty());

    // Each creation resets the attributes, also a failed one.
    factory.SetName("First");
    factory.SetCategory("Cat");
    factory.SetStreamable(true);
    factory.AddEnumEntry("Unused", 0);
    EXPECT_CODE(TN_OK, factory.CreateInteger(reg, -1, 10));
    factory.SetName("Second");
    EXPECT_CODE(TN_OK, factory.CreateBoolean(reg));
    const std::vector<FeatureSpec> features = factory.GetFeatures();
    ASSERT_EQ(2u, features.size());
    EXPECT_EQ("Cat", features[0].mCategory);
    EXPECT_TRUE(features[0].mEntries.empty());
    EXPECT_TRUE(features[0].mRegister.mSigned);
    EXPECT_TRUE(reg->IsPersistent());
    EXPECT_EQ("First", reg->GetFeatureName());
    EXPECT_EQ("", features[1].mCategory);
    EXPECT_FALSE(features[1].mStreamable);

    EXPECT_CODE(TN_INVALID_PARAMETER, factory.AddSelectedTo("", "Second"));
    EXPECT_CODE(TN_OK, factory.SetPIncFor("First", "Second"));

    // A closed factory harms nothing.
    factory.Close();
    factory.SetName("Late");
    EXPECT_CODE(TN_STATE_ERROR, factory.CreateInteger(reg));
    EXPECT_CODE(TN_STATE_ERROR, factory.SetPMinFor("First", "Second"));
    EXPECT_EQ(2u, factory.GetFeatures().size());
}

TEST(Description, GeneratedDisplayNames)
{
    EXPECT_EQ("Type", GenerateDisplayName("DeviceType", "DeviceControl"));
    EXPECT_EQ("Width Max", GenerateDisplayName("WidthMax", "ImageFormatControl"));
    EXPECT_EQ("Test Timestamp", GenerateDisplayName("EventTestTimestamp", "EventControl\\EventTestData"));
    EXPECT_EQ("Gev SCPS Packet Size", GenerateDisplayName("GevSCPSPacketSize", "TransportLayerControl"));
    EXPECT_EQ("Device", GenerateDisplayName("Device", "DeviceControl"));
}

TEST(Description, FeaturesOfSeveralSourcesFollowSourceSelector)
{
    TnRegisterMap map;
    TnGenApiFactory factory(map);
    factory.SetName("SourceSelector");
    factory.AddEnumEntry("Source0", 0);
    factory.AddEnumEntry("Source1", 1);
    EXPECT_CODE(TN_OK, factory.CreateEnum(AddReg(map, "Sel", 0xA000, 4)));
    TnRegister *gain[2] = {AddReg(map, "Gain0", 0xA010, 4), AddReg(map, "Gain1", 0xA020, 4)};
    for (int source = 0; source < 2; ++source)
    {
        factory.SetOwner(source);
        factory.SetName("SourceGain");
        EXPECT_CODE(TN_OK, factory.CreateInteger(gain[source], 0, source == 0 ? 10 : 20));
        factory.SetName("Filter");
        factory.AddEnumEntry("None", 0);
        if (source == 1)
        {
            factory.AddEnumEntry("Sharpen", 1);
        }
        EXPECT_CODE(TN_OK, factory.CreateEnum(AddReg(map, source == 0 ? "F0" : "F1", 0xA030 + 4 * source, 4)));
    }
    factory.SetName("OnlySecond");
    EXPECT_CODE(TN_OK, factory.CreateInteger(AddReg(map, "Only", 0xA040, 4)));

    TnDescriptionInfo info;
    info.mSourceCount = 2;
    TnResult result;
    const std::string xml = Build(factory, info, result);
    ASSERT_TRUE(result.IsOK()) << Text(result);
    Client client(xml, map);
    ASSERT_TRUE(client);

    EXPECT_CODE(TN_OK, client->SetIntegerValue("SourceGain", 7));
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetIntegerValue("SourceGain", 15));
    int64_t only = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, client->GetIntegerValue("OnlySecond", only));
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetEnumValue("Filter", TnString("Sharpen")));
    EXPECT_CODE(TN_OK, client->SetEnumValue("SourceSelector", TnString("Source1")));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("SourceGain", 15));
    EXPECT_CODE(TN_OK, client->GetIntegerValue("OnlySecond", only));
    EXPECT_CODE(TN_OK, client->SetEnumValue("Filter", TnString("Sharpen")));
    EXPECT_EQ(7u, gain[0]->PeekInt());
    EXPECT_EQ(15u, gain[1]->PeekInt());

    // Without SourceSelector, features of some sources cannot be built.
    TnRegisterMap plainMap;
    TnGenApiFactory plain(plainMap);
    plain.SetOwner(1);
    plain.SetName("Lonely");
    plain.CreateInteger(AddReg(plainMap, "L", 0xA000, 4));
    Build(plain, info, result);
    EXPECT_CODE(TN_GENICAM_XML_ERROR, result);
    EXPECT_TRUE(Mentions(result, "feature 'Lonely'")) << Text(result);
}
