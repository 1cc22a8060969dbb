// The device's own registers and standard features, the description the
// device publishes, user sets through the standard features, and an
// independent client (aravis) reading the description.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "SoftDeviceTestUtil.h"
#include "TnGenApiLocation.h"
#include "TnStandardFeatures.h"
#include "TnText.h"

using namespace tn::softdevice;
using namespace tn::softdevice::test;

namespace
{
/// A device as Start builds it: standard registers, the program's
/// registers and features from the callbacks, the description.
struct Device
{
    explicit Device(size_t aSources = 1, uint32_t aUserSets = 2)
        : mRegisterFactory(mMap), mFactory(mMap), mUserSets(mMap), mControl(mUserSets, mRegisters)
    {
        mConfig.mIdentity.mModelName = "TestModel";
        mConfig.mIdentity.mSerialNumber = "SN42";
        mConfig.mIdentity.mMacAddress = 0x0011223344AAull;
        mConfig.mIdentity.mIPAddress = 0x7F000001;
        mConfig.mUserSetCount = aUserSets;
        for (size_t lIndex = 0; lIndex < aSources; ++lIndex)
        {
            TnSourceDescription lSource;
            lSource.mWidth = 320 + 16 * static_cast<uint32_t>(lIndex);
            lSource.mHeight = 240;
            lSource.mWidthMin = 16;
            lSource.mHeightMin = 16;
            lSource.mWidthMax = 1024;
            lSource.mHeightMax = 768;
            lSource.mWidthInc = 4;
            lSource.mPixelTypes = {TnPixelMono8, TnPixelMono16};
            lSource.mChunks = {{0x4001, "ChunkTimestamp"}, {0x4002, "ChunkCounter"}};
            mConfig.mSources.push_back(lSource);
        }
        EXPECT_CODE(TN_OK, CreateDeviceRegisters(mMap, mConfig.mIdentity, aSources, &mDeviceSink, mRegisters));
        EXPECT_CODE(TN_OK, mUserSets.SetCount(aUserSets));
        mRegisters.mUserSetLoad->AddEventSink(&mControl);
        mRegisters.mUserSetSave->AddEventSink(&mControl);
    }

    TnResult Build()
    {
        TnResult lResult = BuildDeviceDescription(mMap, mConfig, mRegisters, mFactory, TnDescriptionInfo(), mXml);
        mRegisterFactory.Close();
        mFactory.Close();
        if (lResult.IsOK())
        {
            lResult = mUserSets.SaveDefault();
            mMap.SetRunning(true);
        }
        return lResult;
    }

    TnRegisterMap mMap;
    TnRegisterFactory mRegisterFactory;
    TnGenApiFactory mFactory;
    TnUserSets mUserSets;
    TnStandardConfig mConfig;
    TnStandardRegisters mRegisters;
    TnUserSetControl mControl;
    RecordingSink mDeviceSink;
    std::string mXml;
};

bool HaveProgram(const char *aName)
{
    return system((std::string("command -v ") + aName + " >/dev/null 2>&1").c_str()) == 0;
}
} // namespace

TEST(StandardFeatures, ClientFeaturesOverTheDeviceRegisters)
{
    Device lDevice;
    const TnResult lBuilt = lDevice.Build();
    ASSERT_TRUE(lBuilt.IsOK()) << tn::Describe(lBuilt);

    // The first URL points at the description in device memory.
    uint8_t lUrlBytes[tn::gev::kUrlSize] = {0};
    ASSERT_EQ(0, lDevice.mMap.ReadMemory(tn::gev::kRegFirstUrl, lUrlBytes, sizeof(lUrlBytes)).mStatus);
    tn::genicam::XmlLocation lLocation;
    ASSERT_TRUE(tn::genicam::ParseXmlLocation(reinterpret_cast<const char *>(lUrlBytes), lLocation));
    EXPECT_EQ(tn::genicam::XmlLocation::kLocal, lLocation.mKind);
    std::string lServed(lLocation.mLength, '\0');
    for (uint32_t lDone = 0; lDone < lLocation.mLength; lDone += 512)
    {
        const uint32_t lSize = std::min<uint32_t>(512, (lLocation.mLength - lDone + 3) & ~3u);
        std::vector<uint8_t> lChunk(lSize);
        ASSERT_EQ(0, lDevice.mMap.ReadMemory(lLocation.mAddress + lDone, lChunk.data(), lSize).mStatus);
        memcpy(&lServed[lDone], lChunk.data(), std::min<uint32_t>(lSize, lLocation.mLength - lDone));
    }
    EXPECT_EQ(lDevice.mXml, lServed);

    // The discovery block is whole and tells the identity.
    uint8_t lDiscovery[tn::gev::kDiscoveryDataSize];
    ASSERT_EQ(0, lDevice.mMap.ReadMemory(0, lDiscovery, sizeof(lDiscovery)).mStatus);
    tn::gev::TnGvcpDeviceInfo lInfo;
    ASSERT_TRUE(tn::gev::DecodeDeviceInfo(lDiscovery, sizeof(lDiscovery), lInfo));
    EXPECT_EQ("TestModel", lInfo.mModelName);
    EXPECT_EQ(0x0011223344AAull, lInfo.GetMacValue());
    EXPECT_TRUE(lInfo.IsBigEndian());

    Client lClient(lServed, lDevice.mMap);
    ASSERT_TRUE(lClient);
    EXPECT_EQ(320, lClient.Int("Width"));
    EXPECT_EQ(240, lClient.Int("Height"));
    EXPECT_EQ(320 * 240, lClient.Int("PayloadSize"));
    EXPECT_EQ(1024, lClient.Int("WidthMax"));
    EXPECT_EQ(0x0011223344AA, lClient.Int("GevMACAddress"));
    EXPECT_EQ(0x7F000001, lClient.Int("GevCurrentIPAddress"));
    EXPECT_EQ(2, lClient.Int("GevVersionMajor"));
    EXPECT_EQ(1000000000, lClient.Int("GevTimestampTickFrequency"));
    TnString lText;
    EXPECT_CODE(TN_OK, lClient->GetStringValue("DeviceModelName", lText));
    EXPECT_STREQ("TestModel", lText.GetAscii());
    EXPECT_CODE(TN_OK, lClient->GetStringValue("DeviceSerialNumber", lText));
    EXPECT_STREQ("SN42", lText.GetAscii());
    EXPECT_CODE(TN_OK, lClient->SetStringValue("DeviceUserID", "cam"));
    EXPECT_CODE(TN_OK, lClient->GetStringValue("GevFirstURL", lText));
    EXPECT_EQ(0, strncmp(lText.GetAscii(), "Local:", 6));

    // Writes reach the registers and the device's sink.
    lDevice.mDeviceSink.Clear();
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Width", 640));
    EXPECT_EQ(640u, lDevice.mRegisters.mSources[0].mWidth->PeekInt());
    std::vector<std::string> lCalls = lDevice.mDeviceSink.Calls();
    lCalls.erase(
        std::remove_if(lCalls.begin(), lCalls.end(),
                       [](const std::string &aCall) { return aCall.find("TLParamsLocked") != std::string::npos; }),
        lCalls.end());
    EXPECT_EQ((std::vector<std::string>{"PreWrite Width0", "PostWrite Width0"}), lCalls);
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetIntegerValue("Width", 642));
    EXPECT_CODE(TN_OK, lClient->SetEnumValue("PixelFormat", TnString("Mono16")));
    EXPECT_EQ(static_cast<uint32_t>(TnPixelMono16), lDevice.mRegisters.mSources[0].mPixelFormat->PeekInt());
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetEnumValue("PixelFormat", TnString("RGB8")));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("GevSCPSPacketSize", 8000));
    EXPECT_EQ(8000u, lDevice.mRegisters.mSources[0].mPacketSize->PeekInt());
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetIntegerValue("GevSCPSPacketSize", 9004));
    EXPECT_CODE(TN_OK, lClient->SetBooleanValue("GevSCPSDoNotFragment", true));
    EXPECT_EQ(0x40000000u | 8000u, lDevice.mRegisters.mSources[0].mPacketSize->PeekInt());
    lDevice.mDeviceSink.Clear();
    EXPECT_CODE(TN_OK, lClient->ExecuteCommand("AcquisitionStart"));
    EXPECT_EQ((std::vector<std::string>{"PreWrite AcquisitionStart0", "PostWrite AcquisitionStart0"}),
              lDevice.mDeviceSink.Calls());
    EXPECT_EQ(0u, lDevice.mRegisters.mSources[0].mAcquisitionStart->PeekInt());
    bool lDone = false;
    EXPECT_CODE(TN_OK, lClient->GetCommand("AcquisitionStart")->IsDone(lDone));
    EXPECT_TRUE(lDone);
    EXPECT_CODE(TN_OK, lClient->ExecuteCommand("GevTimestampControlLatch"));

    // Chunk control, one flag per chunk behind ChunkSelector.
    EXPECT_CODE(TN_OK, lClient->SetEnumValue("ChunkSelector", TnString("Counter")));
    EXPECT_CODE(TN_OK, lClient->SetBooleanValue("ChunkEnable", true));
    EXPECT_EQ(1u, lDevice.mRegisters.mSources[0].mChunkEnable->PeekInt(4));
    EXPECT_EQ(0u, lDevice.mRegisters.mSources[0].mChunkEnable->PeekInt(0));
    EXPECT_EQ((std::vector<uint32_t>{0x4001, 0x4002}), lDevice.mRegisters.mSources[0].mChunkIds);

    // TLParamsLocked locks the image format.
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("TLParamsLocked", 1));
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetIntegerValue("Width", 320));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("TLParamsLocked", 0));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Width", 320));
}

TEST(StandardFeatures, UserSetsThroughTheFeatures)
{
    Device lDevice;
    // A custom streamable feature, and one whose value follows a selector.
    TnRegister *lLevel = nullptr;
    TnRegister *lLut = nullptr;
    TnRegister *lLutIndex = nullptr;
    uint32_t lAddress = 0;
    ASSERT_TRUE(
        lDevice.mRegisterFactory.AddRegisterAuto("LevelReg", lAddress, 4, TnGenAccessModeReadWrite, nullptr).IsOK());
    lLevel = static_cast<TnRegister *>(lDevice.mMap.GetRegisterByAddress(lAddress));
    ASSERT_TRUE(
        lDevice.mRegisterFactory.AddRegisterAuto("LutIndexReg", lAddress, 4, TnGenAccessModeReadWrite, nullptr).IsOK());
    lLutIndex = static_cast<TnRegister *>(lDevice.mMap.GetRegisterByAddress(lAddress));
    uint32_t lTable[4] = {0, 0, 0, 0};
    RecordingSink lLutSink;
    lLutSink.mAction = [&](const std::string &aCall, ITnRegister *aRegister) {
        if (aCall == "PreRead")
        {
            aRegister->Write(lTable[lLutIndex->PeekInt() & 3]);
        }
        else if (aCall == "PostWrite")
        {
            aRegister->ReadInt(lTable[lLutIndex->PeekInt() & 3]);
        }
    };
    lLutSink.mPersist = [&](ITnRegister *aRegister, ITnRegisterStore *aStore) {
        const uint32_t lFormer = lLutIndex->PeekInt();
        TnResult lResult;
        for (uint32_t lIndex = 0; lIndex < 4 && lResult.IsOK(); ++lIndex)
        {
            lLutIndex->PokeInt(lIndex);
            lResult = aStore->Persist(aRegister, TnString(("[" + std::to_string(lIndex) + "]").c_str()));
        }
        lLutIndex->PokeInt(lFormer);
        return lResult;
    };
    ASSERT_TRUE(
        lDevice.mRegisterFactory.AddRegisterAuto("LutReg", lAddress, 4, TnGenAccessModeReadWrite, &lLutSink).IsOK());
    lLut = static_cast<TnRegister *>(lDevice.mMap.GetRegisterByAddress(lAddress));

    TnGenApiFactory &lF = lDevice.mFactory;
    lF.SetOwner(-1);
    lF.SetName("Level");
    lF.SetStreamable(true);
    ASSERT_TRUE(lF.CreateInteger(lLevel, 0, 100).IsOK());
    lF.SetName("LutIndex");
    ASSERT_TRUE(lF.CreateInteger(lLutIndex, 0, 3).IsOK());
    lF.SetName("LutValue");
    lF.AddSelected("LutIndex");
    lF.SetStreamable(true);
    ASSERT_TRUE(lF.CreateInteger(lLut).IsOK());
    const TnResult lBuilt = lDevice.Build();
    ASSERT_TRUE(lBuilt.IsOK()) << tn::Describe(lBuilt);
    Client lClient(lDevice.mXml, lDevice.mMap);
    ASSERT_TRUE(lClient);

    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Level", 7));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Width", 400));
    for (int lIndex = 0; lIndex < 4; ++lIndex)
    {
        EXPECT_CODE(TN_OK, lClient->SetIntegerValue("LutIndex", lIndex));
        EXPECT_CODE(TN_OK, lClient->SetIntegerValue("LutValue", 100 + lIndex));
    }
    EXPECT_CODE(TN_OK, lClient->SetEnumValue("UserSetSelector", TnString("UserSet1")));
    EXPECT_CODE(TN_OK, lClient->ExecuteCommand("UserSetSave"));

    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Level", 9));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Width", 512));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("LutIndex", 2));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("LutValue", 1));
    EXPECT_CODE(TN_OK, lClient->ExecuteCommand("UserSetLoad"));
    EXPECT_CODE(TN_OK, lClient->InvalidateCache());
    EXPECT_EQ(7, lClient.Int("Level"));
    EXPECT_EQ(400, lClient.Int("Width"));
    EXPECT_EQ((std::vector<uint32_t>{100, 101, 102, 103}), std::vector<uint32_t>(lTable, lTable + 4));

    // The default set holds the values from the start, and cannot be saved.
    EXPECT_CODE(TN_OK, lClient->SetEnumValue("UserSetSelector", TnString("Default")));
    EXPECT_CODE(TN_OK, lClient->ExecuteCommand("UserSetLoad"));
    EXPECT_EQ(0, lClient.Int("Level"));
    EXPECT_EQ(320, lClient.Int("Width"));
    EXPECT_FALSE(lClient->ExecuteCommand("UserSetSave").IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusAccessDenied, lClient.mPort->mLastStatus);
}

TEST(StandardFeatures, ChangesToTheDeviceFeatures)
{
    Device lDevice;
    TnRegister *lFlag = nullptr;
    TnRegister *lLimit = nullptr;
    uint32_t lAddress = 0;
    ASSERT_TRUE(
        lDevice.mRegisterFactory.AddRegisterAuto("FlagReg", lAddress, 4, TnGenAccessModeReadWrite, nullptr).IsOK());
    lFlag = static_cast<TnRegister *>(lDevice.mMap.GetRegisterByAddress(lAddress));
    ASSERT_TRUE(
        lDevice.mRegisterFactory.AddRegisterAuto("LimitReg", lAddress, 4, TnGenAccessModeReadWrite, nullptr).IsOK());
    lLimit = static_cast<TnRegister *>(lDevice.mMap.GetRegisterByAddress(lAddress));
    TnGenApiFactory &lF = lDevice.mFactory;
    lF.SetName("Mono16Allowed");
    ASSERT_TRUE(lF.CreateBoolean(lFlag).IsOK());
    lF.SetName("WidthLimit");
    ASSERT_TRUE(lF.CreateInteger(lLimit).IsOK());
    EXPECT_CODE(TN_OK, lF.SetPIsAvailableForEnumEntry("PixelFormat", "Mono16", "Mono16Allowed"));
    EXPECT_CODE(TN_OK, lF.SetPMaxFor("Width", "WidthLimit"));
    EXPECT_CODE(TN_OK, lF.AddInvalidatorTo("PayloadSize", "Mono16Allowed"));
    EXPECT_CODE(TN_OK, lF.AddSelectedTo("Mono16Allowed", "OffsetX"));
    const TnResult lBuilt = lDevice.Build();
    ASSERT_TRUE(lBuilt.IsOK()) << tn::Describe(lBuilt);
    EXPECT_NE(std::string::npos, lDevice.mXml.find("<pSelected>OffsetX</pSelected>"));
    Client lClient(lDevice.mXml, lDevice.mMap);
    ASSERT_TRUE(lClient);

    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetEnumValue("PixelFormat", TnString("Mono16")));
    EXPECT_CODE(TN_OK, lClient->SetBooleanValue("Mono16Allowed", true));
    EXPECT_CODE(TN_OK, lClient->SetEnumValue("PixelFormat", TnString("Mono16")));
    lLimit->PokeInt(400);
    EXPECT_CODE(TN_GENERIC_ERROR, lClient->SetIntegerValue("Width", 404));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Width", 400));

    // A change that names no feature makes the build fail with that name.
    Device lBroken;
    lBroken.mFactory.SetPIsLockedFor("NoSuchFeature", "Width");
    const TnResult lFailed = lBroken.Build();
    EXPECT_CODE(TN_GENICAM_XML_ERROR, lFailed);
    EXPECT_EQ(0u, tn::Describe(lFailed).find("feature 'NoSuchFeature'")) << tn::Describe(lFailed);
}

TEST(StandardFeatures, TwoSourcesShareTheFeatureNames)
{
    Device lDevice(2);
    const TnResult lBuilt = lDevice.Build();
    ASSERT_TRUE(lBuilt.IsOK()) << tn::Describe(lBuilt);
    Client lClient(lDevice.mXml, lDevice.mMap);
    ASSERT_TRUE(lClient);
    EXPECT_EQ(320, lClient.Int("Width"));
    EXPECT_CODE(TN_OK, lClient->SetEnumValue("SourceSelector", TnString("Source1")));
    EXPECT_EQ(336, lClient.Int("Width"));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("Width", 500));
    EXPECT_CODE(TN_OK, lClient->SetIntegerValue("GevSCPSPacketSize", 1200));
    EXPECT_EQ(500u, lDevice.mRegisters.mSources[1].mWidth->PeekInt());
    EXPECT_EQ(320u, lDevice.mRegisters.mSources[0].mWidth->PeekInt());
    EXPECT_EQ(1200u, lDevice.mRegisters.mSources[1].mPacketSize->PeekInt());
    EXPECT_EQ(2, lClient.Int("GevStreamChannelCount"));
}

TEST(StandardFeatures, PayloadSizeBeyondThirtyTwoBitsReadsAsTheLargest)
{
    // 16x16 Mono8, its chunk tag and chunks near 2^32: once wrapped round to 256.
    TnSourceDescription lSource;
    lSource.mWidth = lSource.mHeight = 16;
    lSource.mChunkModeActive = true;
    lSource.mChunksSize = 0xFFFFFFF8u;
    EXPECT_EQ(0xFFFFFFFFu, ComputePayloadSize(lSource));
    lSource.mChunksSize = 64;
    EXPECT_EQ(256u + 8 + 64, ComputePayloadSize(lSource));
}

// An independent client: aravis's fake camera serves a description with
// features of every kind over its own memory, and aravis's tool lists, reads
// and writes them, inside a private network namespace.
TEST(StandardFeatures, AravisReadsTheDescription)
{
    for (const char *lProgram : {"unshare", "ip", "timeout", "arv-fake-gv-camera-0.8", "arv-tool-0.8"})
    {
        if (!HaveProgram(lProgram))
        {
            GTEST_SKIP() << lProgram << " is not installed";
        }
    }
    TnRegisterMap lMap;
    TnGenApiFactory lF(lMap);
    TnRegisterFactory lRegisters(lMap);
    const auto lReg = [&](const char *aName, uint32_t aAddress, uint32_t aLength, bool aArray = false) {
        EXPECT_CODE(TN_OK, aArray ? lRegisters.AddByteArray(aName, aAddress, aLength, TnGenAccessModeReadWrite)
                                  : lRegisters.AddRegister(aName, aAddress, aLength, TnGenAccessModeReadWrite));
        return lMap.GetRegisterByAddress(aAddress);
    };
    lF.SetName("TarnGain");
    lF.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, lF.CreateInteger(lReg("G", 0xC000, 4), 0, 100, 2));
    lF.SetName("TarnDoubleGain");
    lF.SetCategory("TarnControl");
    lF.AddVariable("TarnGain");
    EXPECT_CODE(TN_OK, lF.CreateIntSwissKnife("TarnGain * 2"));
    lF.SetName("TarnExposure");
    lF.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, lF.CreateFloat(lReg("E", 0xC008, 8), 0.0, 1000.0));
    lF.SetName("TarnExposureMs");
    lF.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, lF.CreateFloatConverter("TarnExposure", "TO / 1000", "FROM * 1000"));
    lF.SetName("TarnMode");
    lF.SetCategory("TarnControl");
    lF.AddEnumEntry("Slow", 0);
    lF.AddEnumEntry("Fast", 1);
    EXPECT_CODE(TN_OK, lF.CreateEnum(lReg("M", 0xC010, 4)));
    lF.SetName("TarnLabel");
    lF.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, lF.CreateString(lReg("L", 0xC020, 16, true)));
    lF.SetName("TarnEnable");
    lF.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, lF.CreateBoolean(lReg("B", 0xC014, 4)));
    lF.SetName("TarnFire");
    lF.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, lF.CreateCommand(lReg("C", 0xC018, 4)));
    std::string lXml;
    const TnResult lBuilt = tn::genicam::WriteDescription(lF.GetFeatures(), lF.GetChanges(), TnDescriptionInfo(), lXml);
    ASSERT_TRUE(lBuilt.IsOK()) << tn::Describe(lBuilt);

    // The whole description of a device of two sources, standard features
    // included (the fake camera has no memory behind them: listed only).
    Device lDevice(2);
    const TnResult lStandard = lDevice.Build();
    ASSERT_TRUE(lStandard.IsOK()) << tn::Describe(lStandard);

    char lDirectory[] = "/tmp/tn-softdevice-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(lDirectory));
    const std::string lFile = std::string(lDirectory) + "/device.xml";
    const std::string lFull = std::string(lDirectory) + "/full.xml";
    const std::string lOutput = std::string(lDirectory) + "/output.txt";
    const std::string lListing = std::string(lDirectory) + "/listing.txt";
    std::ofstream(lFile) << lXml;
    std::ofstream(lFull) << lDevice.mXml;
    const std::string lTool = "arv-tool-0.8 -a 127.0.0.1 ";
    const std::string lScript =
        "ip link set lo up || exit 3; arv-fake-gv-camera-0.8 -i 127.0.0.1 -s TARNSOFT -g " + lFile +
        " >/dev/null 2>&1 & camera=$!; "
        "for attempt in 1 2 3 4 5 6 7 8 9 10; do sleep 0.5; " +
        lTool + "features > " + lOutput + " 2>&1 && grep -q TarnGain " + lOutput + " && break; done; " + lTool +
        "control TarnGain=10 TarnExposureMs=0.5 TarnMode=Fast TarnLabel=hello >> " + lOutput + " 2>&1; " + lTool +
        "control TarnGain TarnDoubleGain TarnExposure TarnMode TarnLabel >> " + lOutput +
        " 2>&1; kill $camera; wait $camera 2>/dev/null; "
        "arv-fake-gv-camera-0.8 -i 127.0.0.1 -s TARNFULL -g " +
        lFull +
        " >/dev/null 2>&1 & camera=$!; "
        "for attempt in 1 2 3 4 5 6 7 8 9 10; do sleep 0.5; " +
        lTool + "features > " + lListing + " 2>&1 && grep -q PixelFormat " + lListing +
        " && break; done; kill $camera; wait $camera 2>/dev/null";
    const int lStatus = system(("timeout 60 unshare -n sh -c '" + lScript + "' >/dev/null 2>&1").c_str());
    const auto lRead = [](const std::string &aFile) {
        std::ifstream lInput(aFile);
        std::stringstream lText;
        lText << lInput.rdbuf();
        unlink(aFile.c_str());
        return lText.str();
    };
    const std::string lResult = lRead(lOutput);
    const std::string lFeatures = lRead(lListing);
    unlink(lFile.c_str());
    unlink(lFull.c_str());
    rmdir(lDirectory);
    if (lResult.find("TarnGain") == std::string::npos)
    {
        GTEST_SKIP() << "the fake camera could not be reached (exit status " << lStatus << "): " << lResult;
    }
    for (const char *lName : {"TarnDoubleGain", "TarnExposureMs", "TarnMode", "TarnLabel", "TarnEnable", "TarnFire"})
    {
        EXPECT_NE(std::string::npos, lResult.find(lName)) << lName << " missing in:\n" << lResult;
    }
    for (const char *lLine :
         {"TarnGain = 10", "TarnDoubleGain = 20", "TarnExposure = 500", "TarnMode = Fast", "TarnLabel = hello"})
    {
        EXPECT_NE(std::string::npos, lResult.find(lLine)) << lLine << " missing in:\n" << lResult;
    }
    for (const char *lName :
         {"Width", "PixelFormat", "PayloadSize", "AcquisitionMode", "AcquisitionStart", "AcquisitionStop",
          "TLParamsLocked", "GevSCPSPacketSize", "GevTimestampValue", "DeviceModelName", "UserSetSelector",
          "UserSetLoad", "UserSetSave", "UserSetDefault", "SourceSelector", "ChunkEnable", "GevMACAddress"})
    {
        EXPECT_NE(std::string::npos, lFeatures.find(lName)) << lName << " missing in:\n" << lFeatures;
    }
}
