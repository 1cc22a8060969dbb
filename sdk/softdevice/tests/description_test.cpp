// The feature factory and the GenICam description: features of every kind
// load in the SDK's GenICam engine, and what a client reads and writes
// through them reaches the registers and their sinks.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include "SoftDeviceTestUtil.h"
#include "TnStandardFeatures.h"
#include "TnText.h"

using namespace tn::softdevice;
using namespace tn::softdevice::test;

namespace
{

std::string Build(TnGenApiFactory &aFactory, const TnDescriptionInfo &aInfo, TnResult &aResult)
{
    std::string lXml;
    aResult = tn::genicam::WriteDescription(aFactory.GetFeatures(), aFactory.GetChanges(), aInfo, lXml);
    return lXml;
}

/// A device with custom features of every kind, at addresses from 0xA000.
struct EveryKind
{
    EveryKind() : mFactory(mMap)
    {
        TnGenApiFactory &lF = mFactory;
        mGain = AddReg(mMap, "GainReg", 0xA000, 4);
        mGain->AddEventSink(&mSink);
        lF.SetName("Gain");
        lF.SetCategory("AnalogControl", "Analog");
        lF.SetUnit("dB");
        lF.SetToolTip("Gain <in> dB & more");
        lF.SetStreamable(true);
        lF.SetNameSpace(TnGenNameSpaceStandard);
        EXPECT_CODE(TN_OK, lF.CreateInteger(mGain, 0, 48, 2));

        lF.SetName("GainShown");
        lF.SetAccessMode(TnGenAccessModeReadOnly);
        EXPECT_CODE(TN_OK, lF.CreateInteger(mGain));

        mOffset = AddReg(mMap, "OffsetReg", 0xA008, 8);
        lF.SetName("BlackOffset");
        lF.SetCategory("AnalogControl");
        EXPECT_CODE(TN_OK, lF.CreateInteger(mOffset, -100, 100));

        mExposure = AddReg(mMap, "ExposureReg", 0xA010, 8);
        lF.SetName("ExposureTime");
        lF.SetCategory("AcquisitionControl");
        lF.SetUnit("us");
        lF.SetRepresentation(TnGenRepresentationLogarithmic);
        EXPECT_CODE(TN_OK, lF.CreateFloat(mExposure, 10.0, 1e6));

        mRatio = AddReg(mMap, "RatioReg", 0xA018, 4);
        lF.SetName("Ratio");
        EXPECT_CODE(TN_OK, lF.CreateFloat(mRatio));

        mLabel = AddReg(mMap, "LabelReg", 0xA020, 16, TnGenAccessModeReadWrite, true);
        lF.SetName("Label");
        lF.SetCategory("Custom\\Texts");
        EXPECT_CODE(TN_OK, lF.CreateString(mLabel));

        mBlob = AddReg(mMap, "BlobReg", 0xA030, 8, TnGenAccessModeReadWrite, true);
        lF.SetName("Blob");
        EXPECT_CODE(TN_OK, lF.CreateRegister(mBlob));

        mEnabled = AddReg(mMap, "EnabledReg", 0xA038, 4);
        lF.SetName("Enabled");
        EXPECT_CODE(TN_OK, lF.CreateBoolean(mEnabled));

        mFire = AddReg(mMap, "FireReg", 0xA03C, 4, TnGenAccessModeWriteOnly);
        mFire->AddEventSink(&mSink);
        lF.SetName("Fire");
        EXPECT_CODE(TN_OK, lF.CreateCommand(mFire));

        mMode = AddReg(mMap, "ModeReg", 0xA040, 4);
        lF.SetName("Mode");
        lF.AddEnumEntry("Off", 0);
        lF.AddEnumEntry("On", 1, "Switched on");
        lF.AddEnumEntry("Auto", 2, "", TnGenNameSpaceStandard);
        EXPECT_CODE(TN_OK, lF.CreateEnum(mMode));

        lF.SetName("DoubleGain");
        lF.AddVariable("Gain");
        EXPECT_CODE(TN_OK, lF.CreateIntSwissKnife("Gain * 2"));

        lF.SetName("HalfRatio");
        lF.AddVariable("Ratio");
        EXPECT_CODE(TN_OK, lF.CreateFloatSwissKnife("Ratio / 2"));

        lF.SetName("ExposureTimeMs");
        EXPECT_CODE(TN_OK, lF.CreateFloatConverter("ExposureTime", "TO / 1000", "FROM * 1000"));

        lF.SetName("GainHalf");
        EXPECT_CODE(TN_OK, lF.CreateIntConverter("Gain", "TO / 2", "FROM * 2"));

        lF.SetName("GainAlias");
        lF.SetPValue("Gain");
        EXPECT_CODE(TN_OK, lF.CreateInteger());

        lF.SetName("ChunkCounter");
        lF.MapChunk(0x4001, 4, 4);
        EXPECT_CODE(TN_OK, lF.CreateInteger());

        lF.SetName("EventValue");
        lF.MapEvent(0x9001, 0, 4, TnGenEndiannessBig);
        EXPECT_CODE(TN_OK, lF.CreateInteger());

        mLutIndex = AddReg(mMap, "LutIndexReg", 0xA044, 4);
        mLutValue = AddReg(mMap, "LutValueReg", 0xA048, 4);
        lF.SetName("LutIndex");
        EXPECT_CODE(TN_OK, lF.CreateInteger(mLutIndex, 0, 3));
        lF.SetName("LutValue");
        lF.AddSelected("LutIndex");
        EXPECT_CODE(TN_OK, lF.CreateInteger(mLutValue));

        mTemperature = AddReg(mMap, "TemperatureReg", 0xA04C, 4, TnGenAccessModeReadOnly);
        lF.SetName("Temperature");
        lF.AddInvalidator("Fire");
        lF.SetCachable(TnGenCacheWriteThrough);
        lF.SetPollingTime(1000);
        EXPECT_CODE(TN_OK, lF.CreateInteger(mTemperature));

        mSecret = AddReg(mMap, "SecretReg", 0xA050, 4);
        lF.SetName("Secret");
        lF.SetPIsAvailable("Enabled");
        lF.SetVisibility(TnGenVisibilityGuru);
        EXPECT_CODE(TN_OK, lF.CreateInteger(mSecret));

        lF.SetName("Locked");
        lF.SetPIsLocked("Enabled");
        lF.SetPMax("LutIndex");
        EXPECT_CODE(TN_OK, lF.CreateInteger(AddReg(mMap, "LockedReg", 0xA054, 4)));
    }

    /// The description, and a client over it.
    std::unique_ptr<Client> Connect()
    {
        TnResult lResult;
        mXml = Build(mFactory, TnDescriptionInfo(), lResult);
        EXPECT_TRUE(lResult.IsOK()) << tn::Describe(lResult);
        return std::unique_ptr<Client>(new Client(mXml, mMap));
    }

    TnRegisterMap mMap;
    TnGenApiFactory mFactory;
    RecordingSink mSink;
    std::string mXml;
    TnRegister *mGain, *mOffset, *mExposure, *mRatio, *mLabel, *mBlob, *mEnabled, *mFire, *mMode, *mLutIndex,
        *mLutValue, *mTemperature, *mSecret;
};

} // namespace

TEST(Description, EveryKindLoadsAndReachesRegisters)
{
    EveryKind lDevice;
    const std::unique_ptr<Client> lConnection = lDevice.Connect();
    Client &lClient = *lConnection;
    ASSERT_TRUE(lClient);

    // Integers, signed and unsigned, with their limits.
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Gain", 10));
    EXPECT_EQ(10u, lDevice.mGain->PeekInt());
    EXPECT_EQ((std::vector<std::string>{"PreWrite GainReg", "PostWrite GainReg"}), lDevice.mSink.Calls());
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetIntegerValue("Gain", 11));
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetIntegerValue("GainShown", 12));
    EXPECT_EQ(10, lClient.Int("GainShown"));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("BlackOffset", -5));
    EXPECT_EQ(0xFFFFFFFFu, lDevice.mOffset->PeekInt(0));
    EXPECT_EQ(0xFFFFFFFBu, lDevice.mOffset->PeekInt(4));
    EXPECT_EQ(-5, lClient.Int("BlackOffset"));

    // Floats in 8- and 4-byte registers, a converter and a float SwissKnife.
    EXPECT_CODE(TN_OK, lClient->SetFloatValue("ExposureTime", 1234.5));
    double lExposure = 0;
    EXPECT_CODE(TN_OK, lDevice.mExposure->ReadDouble(lExposure));
    EXPECT_EQ(1234.5, lExposure);
    double lValue = 0;
    EXPECT_CODE(TN_OK, lClient->GetFloatValue("ExposureTimeMs", lValue));
    EXPECT_DOUBLE_EQ(1.2345, lValue);
    EXPECT_CODE(TN_OK, lClient->SetFloatValue("ExposureTimeMs", 2.0));
    EXPECT_CODE(TN_OK, lDevice.mExposure->ReadDouble(lExposure));
    EXPECT_EQ(2000.0, lExposure);
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetFloatValue("ExposureTime", 5.0));
    EXPECT_CODE(TN_OK, lDevice.mRatio->WriteFloat(0.25f));
    EXPECT_CODE(TN_OK, lClient->GetFloatValue("Ratio", lValue));
    EXPECT_EQ(0.25, lValue);
    EXPECT_CODE(TN_OK, lClient->GetFloatValue("HalfRatio", lValue));
    EXPECT_EQ(0.125, lValue);

    // Strings and raw registers.
    EXPECT_CODE(TN_OK, lClient->SetStringValue("Label", "hello"));
    TnString lLabel;
    EXPECT_CODE(TN_OK, lDevice.mLabel->ReadString(lLabel));
    EXPECT_STREQ("hello", lLabel.GetAscii());
    const uint8_t lBlob[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_CODE(TN_OK, lDevice.mBlob->Write(lBlob, 8));
    uint8_t lRead[8] = {0};
    EXPECT_CODE(TN_OK, lClient->GetRegister("Blob")->Get(lRead, 8));
    EXPECT_EQ(0, memcmp(lBlob, lRead, 8));

    // Booleans drive availability and locks.
    int64_t lSecret = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->GetIntegerValue("Secret", lSecret));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Locked", 0));
    EXPECT_CODE(TN_OK, lClient->SetBooleanValue("Enabled", true));
    EXPECT_EQ(1u, lDevice.mEnabled->PeekInt());
    EXPECT_CODE(TN_OK, lClient->GetIntegerValue("Secret", lSecret));
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetIntegerValue("Locked", 0));

    // A command: the sinks see the write, then the register clears.
    lDevice.mSink.Clear();
    EXPECT_CODE(TN_OK, lClient->ExecuteCommand("Fire"));
    EXPECT_EQ((std::vector<std::string>{"PreWrite FireReg", "PostWrite FireReg"}), lDevice.mSink.Calls());
    EXPECT_EQ(0u, lDevice.mFire->PeekInt());

    // Enumerations.
    EXPECT_CODE(TN_OK, lClient->SetEnumValue("Mode", TnString("Auto")));
    EXPECT_EQ(2u, lDevice.mMode->PeekInt());
    const TnGenEnumEntry *lEntry = nullptr;
    EXPECT_CODE(TN_OK, lClient->GetEnum("Mode")->GetEntryByName("On", &lEntry));
    TnString lDisplay;
    EXPECT_CODE(TN_OK, lEntry->GetDisplayName(lDisplay));
    EXPECT_STREQ("Switched on", lDisplay.GetAscii());

    // SwissKnifes, converters and pValue over the integer.
    EXPECT_EQ(20, lClient.Int("DoubleGain"));
    EXPECT_EQ(5, lClient.Int("GainHalf"));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("GainHalf", 7));
    EXPECT_EQ(14u, lDevice.mGain->PeekInt());
    EXPECT_EQ(14, lClient.Int("GainAlias"));

    // The dynamic maximum follows LutIndex.
    EXPECT_CODE(TN_OK, lClient->SetBooleanValue("Enabled", false));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("LutIndex", 2));
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetIntegerValue("Locked", 3));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Locked", 2));

    // Chunk data, little-endian at offset 4 of the chunk.
    uint8_t lChunk[16] = {0, 0, 0, 0, 0x2A, 0x01, 0, 0, 0, 0, 0x40, 0x01, 0, 0, 0, 8};
    EXPECT_CODE(TN_OK, lClient->AttachDataChunks(lChunk, sizeof(lChunk)));
    EXPECT_EQ(0x12A, lClient.Int("ChunkCounter"));
    EXPECT_CODE(TN_OK, lClient->DetachDataChunks());
}

TEST(Description, RefusedWritesKeepTheRegisterAndReportAStatus)
{
    EveryKind lDevice;
    const std::unique_ptr<Client> lConnection = lDevice.Connect();
    Client &lClient = *lConnection;
    ASSERT_TRUE(lClient);
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Gain", 4));

    lDevice.mSink.mWriteAnswer = TnResult(TN_INVALID_PARAMETER);
    lDevice.mSink.Clear();
    EXPECT_FALSE(lClient->SetIntegerValue("Gain", 6).IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusInvalidParameter, lClient.mPort->mLastStatus);
    EXPECT_EQ(4u, lDevice.mGain->PeekInt());
    EXPECT_EQ((std::vector<std::string>{"PreWrite GainReg"}), lDevice.mSink.Calls());
    EXPECT_EQ(4, lClient.Int("Gain"));

    // A GigE Vision status passes as it is; a sink that throws refuses.
    lDevice.mSink.mWriteAnswer = TnResult(0x8006);
    EXPECT_FALSE(lClient->SetIntegerValue("Gain", 6).IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusAccessDenied, lClient.mPort->mLastStatus);
    lDevice.mSink.mWriteAnswer = TnResult(TN_OK);
    lDevice.mSink.mAction = [](const std::string &aCall, ITnRegister *) {
        if (aCall == "PreWrite")
        {
            throw std::runtime_error("the sink failed");
        }
    };
    EXPECT_FALSE(lClient->SetIntegerValue("Gain", 8).IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusError, lClient.mPort->mLastStatus);
    EXPECT_EQ(4u, lDevice.mGain->PeekInt());

    // Reads refused by PreRead fail too.
    lDevice.mSink.mAction = nullptr;
    lDevice.mSink.mReadAnswer = TnResult(TN_BUSY);
    int64_t lGain = 0;
    EXPECT_FALSE(lClient->GetIntegerValue("Gain", lGain).IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusBusy, lClient.mPort->mLastStatus);
}

TEST(Factory, CreationResultsAndThePendingFeature)
{
    TnRegisterMap lMap;
    TnRegisterMap lOther;
    TnGenApiFactory lFactory(lMap);
    TnRegister *lReg = AddReg(lMap, "A", 0xA000, 4);
    TnRegister *lWide = AddReg(lMap, "W", 0xA010, 16, TnGenAccessModeReadWrite, true);
    TnRegister *lForeign = AddReg(lOther, "F", 0xA000, 4);

    EXPECT_CODE(TN_NOT_INITIALIZED, lFactory.CreateInteger(lReg));
    EXPECT_CODE(TN_NOT_INITIALIZED, lFactory.CreateIntSwissKnife("1"));
    const std::function<TnResult()> lRefused[] = {
        [&] { return lFactory.CreateInteger(); },
        [&] { return lFactory.CreateInteger(lReg, 5, 4); },
        [&] { return lFactory.CreateInteger(lReg, 0, 4, 0); },
        [&] { return lFactory.CreateFloat(lReg, 2.0, 1.0); },
        [&] { return lFactory.CreateFloat(lReg, nan(""), 1.0); },
        [&] { return lFactory.CreateInteger(lWide); },
        [&] { return lFactory.CreateInteger(lForeign); },
        [&] { return lFactory.CreateEnum(lReg); },
        [&] { return lFactory.CreateCommand(); },
        [&] { return lFactory.CreateIntSwissKnife(""); },
        [&] { return lFactory.CreateFloatConverter("", "TO", "FROM"); },
        [&] { return lFactory.CreateIntConverter("A", "TO", ""); },
        [&] {
            lFactory.SetPValue("Other");
            return lFactory.CreateRegister();
        },
        [&] {
            lFactory.MapChunk(1, 0, 4);
            return lFactory.CreateInteger(lReg);
        },
        [&] {
            lFactory.MapChunk(1, 0, 16);
            return lFactory.CreateInteger();
        },
    };
    for (size_t lIndex = 0; lIndex < sizeof(lRefused) / sizeof(lRefused[0]); ++lIndex)
    {
        lFactory.SetName("Feature");
        const TnResult lResult = lRefused[lIndex]();
        EXPECT_EQ(TN_INVALID_PARAMETER, lResult.GetCode()) << "case " << lIndex << ": " << tn::Describe(lResult);
    }
    lFactory.SetName("Bad Name");
    EXPECT_CODE(TN_INVALID_PARAMETER, lFactory.CreateInteger(lReg));
    lFactory.SetName("Twins");
    lFactory.AddEnumEntry("A", 0);
    lFactory.AddEnumEntry("A", 1);
    EXPECT_CODE(TN_INVALID_PARAMETER, lFactory.CreateEnum(lReg));
    EXPECT_TRUE(lFactory.GetFeatures().empty());

    // Each creation resets the attributes, also a failed one.
    lFactory.SetName("First");
    lFactory.SetCategory("Cat");
    lFactory.SetStreamable(true);
    lFactory.AddEnumEntry("Unused", 0);
    EXPECT_CODE(TN_OK, lFactory.CreateInteger(lReg, -1, 10));
    lFactory.SetName("Second");
    EXPECT_CODE(TN_OK, lFactory.CreateBoolean(lReg));
    const std::vector<FeatureSpec> lFeatures = lFactory.GetFeatures();
    ASSERT_EQ(2u, lFeatures.size());
    EXPECT_EQ("Cat", lFeatures[0].mCategory);
    EXPECT_TRUE(lFeatures[0].mEntries.empty());
    EXPECT_TRUE(lFeatures[0].mRegister.mSigned);
    EXPECT_TRUE(lReg->IsPersistent());
    EXPECT_EQ("First", lReg->GetFeatureName());
    EXPECT_EQ("", lFeatures[1].mCategory);
    EXPECT_FALSE(lFeatures[1].mStreamable);

    EXPECT_CODE(TN_INVALID_PARAMETER, lFactory.AddSelectedTo("", "Second"));
    EXPECT_CODE(TN_OK, lFactory.SetPIncFor("First", "Second"));

    // A closed factory harms nothing.
    lFactory.Close();
    lFactory.SetName("Late");
    EXPECT_CODE(TN_STATE_ERROR, lFactory.CreateInteger(lReg));
    EXPECT_CODE(TN_STATE_ERROR, lFactory.SetPMinFor("First", "Second"));
    EXPECT_EQ(2u, lFactory.GetFeatures().size());
}
