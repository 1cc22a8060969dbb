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
        for (size_t index = 0; index < aSources; ++index)
        {
            TnSourceDescription source;
            source.mWidth = 320 + 16 * static_cast<uint32_t>(index);
            source.mHeight = 240;
            source.mWidthMin = 16;
            source.mHeightMin = 16;
            source.mWidthMax = 1024;
            source.mHeightMax = 768;
            source.mWidthInc = 4;
            source.mPixelTypes = {TnPixelMono8, TnPixelMono16};
            source.mChunks = {{0x4001, "ChunkTimestamp"}, {0x4002, "ChunkCounter"}};
            mConfig.mSources.push_back(source);
        }
        EXPECT_CODE(TN_OK, CreateDeviceRegisters(mMap, mConfig.mIdentity, aSources, &mDeviceSink, mRegisters));
        EXPECT_CODE(TN_OK, mUserSets.SetCount(aUserSets));
        mRegisters.mUserSetLoad->AddEventSink(&mControl);
        mRegisters.mUserSetSave->AddEventSink(&mControl);
    }

    TnResult Build()
    {
        TnResult result = BuildDeviceDescription(mMap, mConfig, mRegisters, mFactory, TnDescriptionInfo(), mXml);
        mRegisterFactory.Close();
        mFactory.Close();
        if (result.IsOK())
        {
            result = mUserSets.SaveDefault();
            mMap.SetRunning(true);
        }
        return result;
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
    Device device;
    const TnResult built = device.Build();
    ASSERT_TRUE(built.IsOK()) << Text(built);

    // The first URL points at the description in device memory.
    uint8_t urlBytes[tn::gev::kUrlSize] = {0};
    ASSERT_EQ(0, device.mMap.ReadMemory(tn::gev::kRegFirstUrl, urlBytes, sizeof(urlBytes)).mStatus);
    tn::genicam::XmlLocation location;
    ASSERT_TRUE(tn::genicam::ParseXmlLocation(reinterpret_cast<const char *>(urlBytes), location));
    EXPECT_EQ(tn::genicam::XmlLocation::kLocal, location.mKind);
    std::string served(location.mLength, '\0');
    for (uint32_t done = 0; done < location.mLength; done += 512)
    {
        const uint32_t size = std::min<uint32_t>(512, (location.mLength - done + 3) & ~3u);
        std::vector<uint8_t> chunk(size);
        ASSERT_EQ(0, device.mMap.ReadMemory(location.mAddress + done, chunk.data(), size).mStatus);
        memcpy(&served[done], chunk.data(), std::min<uint32_t>(size, location.mLength - done));
    }
    EXPECT_EQ(device.mXml, served);

    // The discovery block is whole and tells the identity.
    uint8_t discovery[tn::gev::kDiscoveryDataSize];
    ASSERT_EQ(0, device.mMap.ReadMemory(0, discovery, sizeof(discovery)).mStatus);
    tn::gev::TnGvcpDeviceInfo info;
    ASSERT_TRUE(tn::gev::DecodeDeviceInfo(discovery, sizeof(discovery), info));
    EXPECT_EQ("TestModel", info.mModelName);
    EXPECT_EQ(0x0011223344AAull, info.GetMacValue());
    EXPECT_TRUE(info.IsBigEndian());

    Client client(served, device.mMap);
    ASSERT_TRUE(client);
    EXPECT_EQ(320, client.Int("Width"));
    EXPECT_EQ(240, client.Int("Height"));
    EXPECT_EQ(320 * 240, client.Int("PayloadSize"));
    EXPECT_EQ(1024, client.Int("WidthMax"));
    EXPECT_EQ(0x0011223344AA, client.Int("GevMACAddress"));
    EXPECT_EQ(0x7F000001, client.Int("GevCurrentIPAddress"));
    EXPECT_EQ(2, client.Int("GevVersionMajor"));
    EXPECT_EQ(1000000000, client.Int("GevTimestampTickFrequency"));
    TnString text;
    EXPECT_CODE(TN_OK, client->GetStringValue("DeviceModelName", text));
    EXPECT_STREQ("TestModel", text.GetAscii());
    EXPECT_CODE(TN_OK, client->GetStringValue("DeviceSerialNumber", text));
    EXPECT_STREQ("SN42", text.GetAscii());
    EXPECT_CODE(TN_OK, client->SetStringValue("DeviceUserID", "cam"));
    EXPECT_CODE(TN_OK, client->GetStringValue("GevFirstURL", text));
    EXPECT_EQ(0, strncmp(text.GetAscii(), "Local:", 6));

    // Writes reach the registers and the device's sink.
    device.mDeviceSink.Clear();
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Width", 640));
    EXPECT_EQ(640u, device.mRegisters.mSources[0].mWidth->PeekInt());
    std::vector<std::string> calls = device.mDeviceSink.Calls();
    calls.erase(std::remove_if(calls.begin(), calls.end(),
                               [](const std::string &aCall) { return aCall.find("TLParamsLocked") != std::string::npos; }),
                calls.end());
    EXPECT_EQ((std::vector<std::string>{"PreWrite Width0", "PostWrite Width0"}), calls);
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetIntegerValue("Width", 642));
    EXPECT_CODE(TN_OK, client->SetEnumValue("PixelFormat", TnString("Mono16")));
    EXPECT_EQ(static_cast<uint32_t>(TnPixelMono16), device.mRegisters.mSources[0].mPixelFormat->PeekInt());
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetEnumValue("PixelFormat", TnString("RGB8")));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("GevSCPSPacketSize", 8000));
    EXPECT_EQ(8000u, device.mRegisters.mSources[0].mPacketSize->PeekInt());
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetIntegerValue("GevSCPSPacketSize", 9004));
    EXPECT_CODE(TN_OK, client->SetBooleanValue("GevSCPSDoNotFragment", true));
    EXPECT_EQ(0x40000000u | 8000u, device.mRegisters.mSources[0].mPacketSize->PeekInt());
    device.mDeviceSink.Clear();
    EXPECT_CODE(TN_OK, client->ExecuteCommand("AcquisitionStart"));
    EXPECT_EQ((std::vector<std::string>{"PreWrite AcquisitionStart0", "PostWrite AcquisitionStart0"}),
              device.mDeviceSink.Calls());
    EXPECT_EQ(0u, device.mRegisters.mSources[0].mAcquisitionStart->PeekInt());
    bool done = false;
    EXPECT_CODE(TN_OK, client->GetCommand("AcquisitionStart")->IsDone(done));
    EXPECT_TRUE(done);
    EXPECT_CODE(TN_OK, client->ExecuteCommand("GevTimestampControlLatch"));

    // Chunk control, one flag per chunk behind ChunkSelector.
    EXPECT_CODE(TN_OK, client->SetEnumValue("ChunkSelector", TnString("Counter")));
    EXPECT_CODE(TN_OK, client->SetBooleanValue("ChunkEnable", true));
    EXPECT_EQ(1u, device.mRegisters.mSources[0].mChunkEnable->PeekInt(4));
    EXPECT_EQ(0u, device.mRegisters.mSources[0].mChunkEnable->PeekInt(0));
    EXPECT_EQ((std::vector<uint32_t>{0x4001, 0x4002}), device.mRegisters.mSources[0].mChunkIds);

    // TLParamsLocked locks the image format.
    EXPECT_CODE(TN_OK, client->SetIntegerValue("TLParamsLocked", 1));
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetIntegerValue("Width", 320));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("TLParamsLocked", 0));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Width", 320));
}

TEST(StandardFeatures, UserSetsThroughTheFeatures)
{
    Device device;
    // A custom streamable feature, and one whose value follows a selector.
    TnRegister *level = nullptr;
    TnRegister *lut = nullptr;
    TnRegister *lutIndex = nullptr;
    uint32_t address = 0;
    ASSERT_TRUE(device.mRegisterFactory.AddRegisterAuto("LevelReg", address, 4, TnGenAccessModeReadWrite, nullptr).IsOK());
    level = static_cast<TnRegister *>(device.mMap.GetRegisterByAddress(address));
    ASSERT_TRUE(device.mRegisterFactory.AddRegisterAuto("LutIndexReg", address, 4, TnGenAccessModeReadWrite, nullptr).IsOK());
    lutIndex = static_cast<TnRegister *>(device.mMap.GetRegisterByAddress(address));
    uint32_t table[4] = {0, 0, 0, 0};
    RecordingSink lutSink;
    lutSink.mAction = [&](const std::string &aCall, ITnRegister *aRegister) {
        if (aCall == "PreRead")
        {
            aRegister->Write(table[lutIndex->PeekInt() & 3]);
        }
        else if (aCall == "PostWrite")
        {
            aRegister->ReadInt(table[lutIndex->PeekInt() & 3]);
        }
    };
    lutSink.mPersist = [&](ITnRegister *aRegister, ITnRegisterStore *aStore) {
        const uint32_t former = lutIndex->PeekInt();
        TnResult result;
        for (uint32_t index = 0; index < 4 && result.IsOK(); ++index)
        {
            lutIndex->PokeInt(index);
            result = aStore->Persist(aRegister, TnString(("[" + std::to_string(index) + "]").c_str()));
        }
        lutIndex->PokeInt(former);
        return result;
    };
    ASSERT_TRUE(device.mRegisterFactory.AddRegisterAuto("LutReg", address, 4, TnGenAccessModeReadWrite, &lutSink).IsOK());
    lut = static_cast<TnRegister *>(device.mMap.GetRegisterByAddress(address));

    TnGenApiFactory &f = device.mFactory;
    f.SetOwner(-1);
    f.SetName("Level");
    f.SetStreamable(true);
    ASSERT_TRUE(f.CreateInteger(level, 0, 100).IsOK());
    f.SetName("LutIndex");
    ASSERT_TRUE(f.CreateInteger(lutIndex, 0, 3).IsOK());
    f.SetName("LutValue");
    f.AddSelected("LutIndex");
    f.SetStreamable(true);
    ASSERT_TRUE(f.CreateInteger(lut).IsOK());
    const TnResult built = device.Build();
    ASSERT_TRUE(built.IsOK()) << Text(built);
    Client client(device.mXml, device.mMap);
    ASSERT_TRUE(client);

    EXPECT_CODE(TN_OK, client->SetIntegerValue("Level", 7));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Width", 400));
    for (int index = 0; index < 4; ++index)
    {
        EXPECT_CODE(TN_OK, client->SetIntegerValue("LutIndex", index));
        EXPECT_CODE(TN_OK, client->SetIntegerValue("LutValue", 100 + index));
    }
    EXPECT_CODE(TN_OK, client->SetEnumValue("UserSetSelector", TnString("UserSet1")));
    EXPECT_CODE(TN_OK, client->ExecuteCommand("UserSetSave"));

    EXPECT_CODE(TN_OK, client->SetIntegerValue("Level", 9));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Width", 512));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("LutIndex", 2));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("LutValue", 1));
    EXPECT_CODE(TN_OK, client->ExecuteCommand("UserSetLoad"));
    EXPECT_CODE(TN_OK, client->InvalidateCache());
    EXPECT_EQ(7, client.Int("Level"));
    EXPECT_EQ(400, client.Int("Width"));
    EXPECT_EQ((std::vector<uint32_t>{100, 101, 102, 103}), std::vector<uint32_t>(table, table + 4));

    // The default set holds the values from the start, and cannot be saved.
    EXPECT_CODE(TN_OK, client->SetEnumValue("UserSetSelector", TnString("Default")));
    EXPECT_CODE(TN_OK, client->ExecuteCommand("UserSetLoad"));
    EXPECT_EQ(0, client.Int("Level"));
    EXPECT_EQ(320, client.Int("Width"));
    EXPECT_FALSE(client->ExecuteCommand("UserSetSave").IsOK());
    EXPECT_EQ(tn::gev::kGvcpStatusAccessDenied, client.mPort->mLastStatus);
}

TEST(StandardFeatures, ChangesToTheDeviceFeatures)
{
    Device device;
    TnRegister *flag = nullptr;
    TnRegister *limit = nullptr;
    uint32_t address = 0;
    ASSERT_TRUE(device.mRegisterFactory.AddRegisterAuto("FlagReg", address, 4, TnGenAccessModeReadWrite, nullptr).IsOK());
    flag = static_cast<TnRegister *>(device.mMap.GetRegisterByAddress(address));
    ASSERT_TRUE(device.mRegisterFactory.AddRegisterAuto("LimitReg", address, 4, TnGenAccessModeReadWrite, nullptr).IsOK());
    limit = static_cast<TnRegister *>(device.mMap.GetRegisterByAddress(address));
    TnGenApiFactory &f = device.mFactory;
    f.SetName("Mono16Allowed");
    ASSERT_TRUE(f.CreateBoolean(flag).IsOK());
    f.SetName("WidthLimit");
    ASSERT_TRUE(f.CreateInteger(limit).IsOK());
    EXPECT_CODE(TN_OK, f.SetPIsAvailableForEnumEntry("PixelFormat", "Mono16", "Mono16Allowed"));
    EXPECT_CODE(TN_OK, f.SetPMaxFor("Width", "WidthLimit"));
    EXPECT_CODE(TN_OK, f.AddInvalidatorTo("PayloadSize", "Mono16Allowed"));
    EXPECT_CODE(TN_OK, f.AddSelectedTo("Mono16Allowed", "OffsetX"));
    const TnResult built = device.Build();
    ASSERT_TRUE(built.IsOK()) << Text(built);
    EXPECT_NE(std::string::npos, device.mXml.find("<pSelected>OffsetX</pSelected>"));
    Client client(device.mXml, device.mMap);
    ASSERT_TRUE(client);

    EXPECT_CODE(TN_GENERIC_ERROR, client->SetEnumValue("PixelFormat", TnString("Mono16")));
    EXPECT_CODE(TN_OK, client->SetBooleanValue("Mono16Allowed", true));
    EXPECT_CODE(TN_OK, client->SetEnumValue("PixelFormat", TnString("Mono16")));
    limit->PokeInt(400);
    EXPECT_CODE(TN_GENERIC_ERROR, client->SetIntegerValue("Width", 404));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Width", 400));

    // A change that names no feature makes the build fail with that name.
    Device broken;
    broken.mFactory.SetPIsLockedFor("NoSuchFeature", "Width");
    const TnResult failed = broken.Build();
    EXPECT_CODE(TN_GENICAM_XML_ERROR, failed);
    EXPECT_EQ(0u, Text(failed).find("feature 'NoSuchFeature'")) << Text(failed);
}

TEST(StandardFeatures, TwoSourcesShareTheFeatureNames)
{
    Device device(2);
    const TnResult built = device.Build();
    ASSERT_TRUE(built.IsOK()) << Text(built);
    Client client(device.mXml, device.mMap);
    ASSERT_TRUE(client);
    EXPECT_EQ(320, client.Int("Width"));
    EXPECT_CODE(TN_OK, client->SetEnumValue("SourceSelector", TnString("Source1")));
    EXPECT_EQ(336, client.Int("Width"));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("Width", 500));
    EXPECT_CODE(TN_OK, client->SetIntegerValue("GevSCPSPacketSize", 1200));
    EXPECT_EQ(500u, device.mRegisters.mSources[1].mWidth->PeekInt());
    EXPECT_EQ(320u, device.mRegisters.mSources[0].mWidth->PeekInt());
    EXPECT_EQ(1200u, device.mRegisters.mSources[1].mPacketSize->PeekInt());
    EXPECT_EQ(2, client.Int("GevStreamChannelCount"));
}

// An independent client: aravis's fake camera serves a description with
// features of every kind over its own memory, and aravis's tool lists, reads
// and writes them, inside a private network namespace.
TEST(StandardFeatures, AravisReadsTheDescription)
{
    for (const char *program : {"unshare", "ip", "timeout", "arv-fake-gv-camera-0.8", "arv-tool-0.8"})
    {
        if (!HaveProgram(program))
        {
            GTEST_SKIP() << program << " is not installed";
        }
    }
    TnRegisterMap map;
    TnGenApiFactory f(map);
    TnRegisterFactory registers(map);
    const auto reg = [&](const char *aName, uint32_t aAddress, uint32_t aLength, bool aArray = false) {
        EXPECT_CODE(TN_OK, aArray ? registers.AddByteArray(aName, aAddress, aLength, TnGenAccessModeReadWrite)
                                  : registers.AddRegister(aName, aAddress, aLength, TnGenAccessModeReadWrite));
        return map.GetRegisterByAddress(aAddress);
    };
    f.SetName("TarnGain");
    f.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, f.CreateInteger(reg("G", 0xC000, 4), 0, 100, 2));
    f.SetName("TarnDoubleGain");
    f.SetCategory("TarnControl");
    f.AddVariable("TarnGain");
    EXPECT_CODE(TN_OK, f.CreateIntSwissKnife("TarnGain * 2"));
    f.SetName("TarnExposure");
    f.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, f.CreateFloat(reg("E", 0xC008, 8), 0.0, 1000.0));
    f.SetName("TarnExposureMs");
    f.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, f.CreateFloatConverter("TarnExposure", "TO / 1000", "FROM * 1000"));
    f.SetName("TarnMode");
    f.SetCategory("TarnControl");
    f.AddEnumEntry("Slow", 0);
    f.AddEnumEntry("Fast", 1);
    EXPECT_CODE(TN_OK, f.CreateEnum(reg("M", 0xC010, 4)));
    f.SetName("TarnLabel");
    f.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, f.CreateString(reg("L", 0xC020, 16, true)));
    f.SetName("TarnEnable");
    f.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, f.CreateBoolean(reg("B", 0xC014, 4)));
    f.SetName("TarnFire");
    f.SetCategory("TarnControl");
    EXPECT_CODE(TN_OK, f.CreateCommand(reg("C", 0xC018, 4)));
    std::string xml;
    const TnResult built = BuildDescription(f.GetFeatures(), f.GetChanges(), TnDescriptionInfo(), xml);
    ASSERT_TRUE(built.IsOK()) << Text(built);

    // The whole description of a device of two sources, standard features
    // included (the fake camera has no memory behind them: listed only).
    Device device(2);
    const TnResult standard = device.Build();
    ASSERT_TRUE(standard.IsOK()) << Text(standard);

    char directory[] = "/tmp/tn-softdevice-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(directory));
    const std::string file = std::string(directory) + "/device.xml";
    const std::string full = std::string(directory) + "/full.xml";
    const std::string output = std::string(directory) + "/output.txt";
    const std::string listing = std::string(directory) + "/listing.txt";
    std::ofstream(file) << xml;
    std::ofstream(full) << device.mXml;
    const std::string tool = "arv-tool-0.8 -a 127.0.0.1 ";
    const std::string script =
        "ip link set lo up || exit 3; arv-fake-gv-camera-0.8 -i 127.0.0.1 -s TARNSOFT -g " + file +
        " >/dev/null 2>&1 & camera=$!; "
        "for attempt in 1 2 3 4 5 6 7 8 9 10; do sleep 0.5; " + tool + "features > " + output +
        " 2>&1 && grep -q TarnGain " + output + " && break; done; " + tool +
        "control TarnGain=10 TarnExposureMs=0.5 TarnMode=Fast TarnLabel=hello >> " + output + " 2>&1; " + tool +
        "control TarnGain TarnDoubleGain TarnExposure TarnMode TarnLabel >> " + output +
        " 2>&1; kill $camera; wait $camera 2>/dev/null; "
        "arv-fake-gv-camera-0.8 -i 127.0.0.1 -s TARNFULL -g " + full + " >/dev/null 2>&1 & camera=$!; "
        "for attempt in 1 2 3 4 5 6 7 8 9 10; do sleep 0.5; " + tool + "features > " + listing +
        " 2>&1 && grep -q PixelFormat " + listing + " && break; done; kill $camera; wait $camera 2>/dev/null";
    const int status = system(("timeout 60 unshare -n sh -c '" + script + "' >/dev/null 2>&1").c_str());
    const auto read = [](const std::string &aFile) {
        std::ifstream input(aFile);
        std::stringstream text;
        text << input.rdbuf();
        unlink(aFile.c_str());
        return text.str();
    };
    const std::string result = read(output);
    const std::string features = read(listing);
    unlink(file.c_str());
    unlink(full.c_str());
    rmdir(directory);
    if (result.find("TarnGain") == std::string::npos)
    {
        GTEST_SKIP() << "the fake camera could not be reached (exit status " << status << "): " << result;
    }
    for (const char *name : {"TarnDoubleGain", "TarnExposureMs", "TarnMode", "TarnLabel", "TarnEnable", "TarnFire"})
    {
        EXPECT_NE(std::string::npos, result.find(name)) << name << " missing in:\n" << result;
    }
    for (const char *line : {"TarnGain = 10", "TarnDoubleGain = 20", "TarnExposure = 500", "TarnMode = Fast",
                             "TarnLabel = hello"})
    {
        EXPECT_NE(std::string::npos, result.find(line)) << line << " missing in:\n" << result;
    }
    for (const char *name : {"Width", "PixelFormat", "PayloadSize", "AcquisitionMode", "AcquisitionStart",
                             "AcquisitionStop", "TLParamsLocked", "GevSCPSPacketSize", "GevTimestampValue",
                             "DeviceModelName", "UserSetSelector", "UserSetLoad", "UserSetSave", "UserSetDefault",
                             "SourceSelector", "ChunkEnable", "GevMACAddress"})
    {
        EXPECT_NE(std::string::npos, features.find(name)) << name << " missing in:\n" << features;
    }
}
