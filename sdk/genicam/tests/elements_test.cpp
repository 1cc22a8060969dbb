// Event ports, the elements pAlias, pError, pValueCopy, DisplayNotation,
// DisplayPrecision, IsLinear and IsSelfClearing, and the IIDC nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "GenICamTestUtil.h"
#include "TnGenApi.h"

using tn::genicam::DeliverEvent;
using tn::genicam::test::Device;
using tn::genicam::test::IntReg;

namespace
{
std::string Text(TnGenParameter *aParameter)
{
    TnString lText;
    EXPECT_TRUE(aParameter->ToString(lText).IsOK());
    return lText.GetAscii();
}

struct Counter : TnGenEventSink
{
    void OnParameterUpdate(TnGenParameter *) override { ++mCalls; }
    int mCalls = 0;
};
} // namespace

TEST(Events, EventPortsServeTheLastEventNotDeviceMemory)
{
    Device lDevice(
        "<Port Name=\"ExposureEndPort\"><EventID>9C43</EventID></Port>"
        "<IntReg Name=\"ExposureEndStampReg\"><Address>0x8</Address><Length>8</Length><AccessMode>RO</AccessMode>"
        "<pPort>ExposureEndPort</pPort><Endianess>BigEndian</Endianess></IntReg>"
        "<Integer Name=\"ExposureEndStamp\"><pValue>ExposureEndStampReg</pValue></Integer>" +
        IntReg("Other", 0x40));
    ASSERT_TRUE(lDevice);
    lDevice.PokeBig(0x8, 1111, 8);
    const uint64_t lReads = lDevice.mPort->GetReadCount();
    // Before its first event an event port serves nothing: GenICam tools
    // call what reads through it not implemented.
    bool lImplemented = true;
    EXPECT_TRUE(lDevice->Get("ExposureEndStamp")->IsImplemented(lImplemented).IsOK());
    EXPECT_FALSE(lImplemented);
    int64_t lValue = 0;
    TnResult lResult = lDevice->GetIntegerValue("ExposureEndStamp", lValue);
    EXPECT_EQ(TN_GENERIC_ERROR, lResult.GetCode());
    EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find("not implemented"), std::string::npos);
    EXPECT_EQ(lReads, lDevice.mPort->GetReadCount());

    Counter lSink;
    ASSERT_TRUE(lDevice->Get("ExposureEndStamp")->RegisterEventSink(&lSink).IsOK());
    std::vector<uint8_t> lEvent(16, 0);
    lEvent[15] = 42;
    TnGenParameterList lChanged;
    EXPECT_TRUE(DeliverEvent(lDevice.mArray.get(), 0x9C43, lEvent.data(), 16, &lChanged).IsOK());
    EXPECT_EQ(42, lDevice.Int("ExposureEndStamp"));
    EXPECT_EQ(1, lSink.mCalls);
    std::vector<std::string> lNames;
    for (uint32_t lIndex = 0; lIndex < lChanged.GetSize(); ++lIndex)
    {
        TnString lName;
        lChanged.GetItem(lIndex)->GetName(lName);
        lNames.push_back(lName.GetAscii());
    }
    EXPECT_NE(lNames.end(), std::find(lNames.begin(), lNames.end(), "ExposureEndStamp"));
    EXPECT_EQ(lNames.end(), std::find(lNames.begin(), lNames.end(), "Other"));
    EXPECT_EQ(lReads, lDevice.mPort->GetReadCount());

    // The next event replaces the data; a short one leaves the feature failing.
    lEvent[15] = 43;
    EXPECT_TRUE(DeliverEvent(lDevice.mArray.get(), 0x9C43, lEvent.data(), 16, nullptr).IsOK());
    EXPECT_EQ(43, lDevice.Int("ExposureEndStamp"));
    EXPECT_EQ(2, lSink.mCalls);
    EXPECT_TRUE(DeliverEvent(lDevice.mArray.get(), 0x9C43, nullptr, 0, nullptr).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("ExposureEndStamp", lValue));
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetIntegerValue("ExposureEndStamp", 1));

    TnGenParameterList lNone;
    EXPECT_CODE(TN_NOT_FOUND, DeliverEvent(lDevice.mArray.get(), 0x9C44, lEvent.data(), 16, &lNone));
    EXPECT_EQ(0u, lNone.GetSize());
    EXPECT_CODE(TN_INVALID_PARAMETER, DeliverEvent(lDevice.mArray.get(), 0x9C43, nullptr, 4, nullptr));
    EXPECT_CODE(TN_INVALID_PARAMETER, DeliverEvent(nullptr, 0x9C43, lEvent.data(), 16, nullptr));
    EXPECT_TRUE(lDevice->Get("ExposureEndStamp")->UnregisterEventSink(&lSink).IsOK());
}

TEST(Elements, AliasErrorAndValueCopies)
{
    Device lDevice(
        IntReg("LoadReg", 0x10) + IntReg("ErrorReg", 0x14) + IntReg("CopyA", 0x18) + IntReg("CopyB", 0x1C) +
        IntReg("MainReg", 0x20) +
        "<Enumeration Name=\"LoadError\"><pValue>ErrorReg</pValue>"
        "<EnumEntry Name=\"None\"><Value>0</Value></EnumEntry>"
        "<EnumEntry Name=\"Busy\"><Value>3</Value><ToolTip>the camera is acquiring</ToolTip></EnumEntry>"
        "</Enumeration>"
        "<Command Name=\"Load\"><pValue>LoadReg</pValue><CommandValue>1</CommandValue><pError>LoadError</pError></Command>"
        "<Integer Name=\"Main\"><pValue>MainReg</pValue><pValueCopy>CopyA</pValueCopy>"
        "<pValueCopy>CopyB</pValueCopy><pValueCopy>NoSuchCopy</pValueCopy><pAlias>Other</pAlias>"
        "<pError>LoadError</pError></Integer>"
        "<Integer Name=\"Other\"><pValue>MainReg</pValue></Integer>"
        "<Integer Name=\"Lonely\"><Value>1</Value><pAlias>Undefined</pAlias></Integer>");
    ASSERT_TRUE(lDevice);
    EXPECT_TRUE(lDevice->ExecuteCommand("Load").IsOK());
    EXPECT_EQ(1u, lDevice.PeekLittle(0x10));

    // The error the device reports after the write fails it.
    lDevice.PokeLittle(0x14, 3);
    const TnResult lResult = lDevice->ExecuteCommand("Load");
    EXPECT_EQ(TN_GENERIC_ERROR, lResult.GetCode());
    EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find("Busy (the camera is acquiring)"),
              std::string::npos)
        << lResult.GetDescription().GetAscii();
    lDevice.PokeLittle(0x14, 0);

    EXPECT_TRUE(lDevice->SetIntegerValue("Main", 9).IsOK());
    EXPECT_EQ(9u, lDevice.PeekLittle(0x20));
    EXPECT_EQ(9u, lDevice.PeekLittle(0x18));
    EXPECT_EQ(9u, lDevice.PeekLittle(0x1C));

    TnGenApi::INode *lMain = lDevice->Get("Main")->GetNode();
    ASSERT_NE(nullptr, lMain->GetAlias());
    EXPECT_EQ("Other", lMain->GetAlias()->GetName());
    EXPECT_EQ(nullptr, lDevice->Get("Lonely")->GetNode()->GetAlias());
}

TEST(Elements, DisplayNotationAndPrecision)
{
    Device lDevice("<Float Name=\"Plain\"><Value>3.14159265</Value></Float>"
                   "<Float Name=\"Fixed\"><Value>3.14159265</Value><DisplayNotation>Fixed</DisplayNotation>"
                   "<DisplayPrecision>2</DisplayPrecision></Float>"
                   "<Float Name=\"Science\"><Value>31415.9265</Value><DisplayNotation>Scientific</DisplayNotation>"
                   "<DisplayPrecision>3</DisplayPrecision></Float>"
                   "<Float Name=\"Automatic\"><Value>1234567.5</Value><DisplayPrecision>4</DisplayPrecision></Float>"
                   "<Float Name=\"Odd\"><Value>1.5</Value><DisplayNotation>Roman</DisplayNotation></Float>");
    ASSERT_TRUE(lDevice);
    EXPECT_EQ("3.14159265", Text(lDevice->Get("Plain")));
    EXPECT_EQ("3.14", Text(lDevice->Get("Fixed")));
    EXPECT_EQ("3.142e+04", Text(lDevice->Get("Science")));
    EXPECT_EQ("1.235e+06", Text(lDevice->Get("Automatic")));
    EXPECT_EQ("1.5", Text(lDevice->Get("Odd")));

    // A state stack restores the exact value, not its display text.
    {
        TnGenStateStack lStack(lDevice.mArray.get());
        EXPECT_TRUE(lStack.SetFloatValue("Fixed", 2.0).IsOK());
    }
    EXPECT_DOUBLE_EQ(3.14159265, lDevice.Float("Fixed"));
}

TEST(Elements, LinearConvertersAndSelfClearingEntries)
{
    Device lDevice(IntReg("RawReg", 0x10) +
                   IntReg("AutoReg", 0x14, 4, "<AccessMode>RW</AccessMode><Cachable>WriteThrough</Cachable>") +
                   "<Integer Name=\"Raw\"><pValue>RawReg</pValue><Min>0</Min><Max>1000</Max><Inc>4</Inc></Integer>"
                   "<IntConverter Name=\"Linear\"><pValue>Raw</pValue><FormulaFrom>TO * 3</FormulaFrom>"
                   "<FormulaTo>FROM / 3</FormulaTo><IsLinear>Yes</IsLinear></IntConverter>"
                   "<IntConverter Name=\"Curved\"><pValue>Raw</pValue><FormulaFrom>TO * 3</FormulaFrom>"
                   "<FormulaTo>FROM / 3</FormulaTo></IntConverter>"
                   "<Enumeration Name=\"BalanceAuto\"><pValue>AutoReg</pValue>"
                   "<EnumEntry Name=\"Off\"><Value>0</Value></EnumEntry>"
                   "<EnumEntry Name=\"Once\"><Value>1</Value><IsSelfClearing>Yes</IsSelfClearing></EnumEntry>"
                   "<EnumEntry Name=\"Continuous\"><Value>2</Value></EnumEntry></Enumeration>");
    ASSERT_TRUE(lDevice);
    int64_t lIncrement = 0;
    EXPECT_TRUE(lDevice->GetInteger("Linear")->GetIncrement(lIncrement).IsOK());
    EXPECT_EQ(12, lIncrement);
    EXPECT_TRUE(lDevice->GetInteger("Curved")->GetIncrement(lIncrement).IsOK());
    EXPECT_EQ(1, lIncrement);

    bool lCached = true;
    EXPECT_TRUE(lDevice->SetEnumValue("BalanceAuto", "Continuous").IsOK());
    EXPECT_TRUE(lDevice->Get("BalanceAuto")->IsValueCached(lCached).IsOK());
    EXPECT_TRUE(lCached);
    EXPECT_TRUE(lDevice->SetEnumValue("BalanceAuto", "Once").IsOK());
    EXPECT_TRUE(lDevice->Get("BalanceAuto")->IsValueCached(lCached).IsOK());
    EXPECT_FALSE(lCached);
    // The device has finished and cleared it: the next read asks the device.
    lDevice.PokeLittle(0x14, 0);
    TnString lValue;
    EXPECT_TRUE(lDevice->GetEnumValue("BalanceAuto", lValue).IsOK());
    EXPECT_STREQ("Off", lValue.GetAscii());
}

TEST(Iidc, ConfigurationRomAndLockNodes)
{
    Device lDevice(
        "<ConfRom Name=\"VendorId\"><Address>0x400</Address><pPort>Device</pPort><Mask>0x00FFFFFF</Mask></ConfRom>"
        "<ConfRom Name=\"Generation\"><Address>0x400</Address><pPort>Device</pPort><Mask>0xFF000000</Mask></ConfRom>"
        "<IntKey Name=\"UnitSpec\"><Address>0x410</Address><pPort>Device</pPort><Key>0x12</Key></IntKey>"
        "<IntKey Name=\"Absent\"><Address>0x410</Address><pPort>Device</pPort><Key>0x77</Key></IntKey>"
        "<TextDesc Name=\"Vendor\"><Address>0x440</Address><pPort>Device</pPort></TextDesc>"
        "<AdvFeatureLock Name=\"Advanced\"><Address>0x480</Address><pPort>Device</pPort><FeatureID>0x0030533B73C3</FeatureID>"
        "<Timeout>0x0100</Timeout></AdvFeatureLock>"
        "<SmartFeature Name=\"Smart\"><Address>0x500</Address><pPort>Device</pPort>"
        "<FeatureID>{12345678-9ABC-DEF0-1122-334455667788}</FeatureID></SmartFeature>"
        "<DcamLock Name=\"Lock\"><Address>0x520</Address><pPort>Device</pPort><Mask>0x00000F00</Mask></DcamLock>"
        "<Integer Name=\"ViaVendor\"><pValue>VendorId</pValue></Integer>"
        "<String Name=\"VendorText\"><pValue>Vendor</pValue></String>",
        0x1000);
    ASSERT_TRUE(lDevice);
    EXPECT_TRUE(tn::genicam::GetWarnings(lDevice.mArray.get()).empty());
    lDevice.PokeBig(0x400, 0x04A0B0C0);
    // A directory of two entries: unit specifier id 0x12 = 0x00A02D, version 0x13 = 0x000102.
    lDevice.PokeBig(0x410, 0x00020000);
    lDevice.PokeBig(0x414, 0x1200A02D);
    lDevice.PokeBig(0x418, 0x13000102);
    // A leaf of five quadlets: specifier, language, then "Tarn Cam" padded.
    lDevice.PokeBig(0x440, 0x00050000);
    const char lText[] = "Tarn Cam\0\0\0";
    lDevice.mPort->Poke(0x44C, lText, 12);
    lDevice.PokeBig(0x520, 0xFFFFF5FF);

    EXPECT_EQ(0xA0B0C0, lDevice.Int("VendorId"));
    EXPECT_EQ(0x04, lDevice.Int("Generation"));
    EXPECT_EQ(0xA0B0C0, lDevice.Int("ViaVendor"));
    EXPECT_EQ(0xA02D, lDevice.Int("UnitSpec"));
    int64_t lValue = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Absent", lValue));
    TnString lVendor;
    EXPECT_TRUE(lDevice->GetStringValue("VendorText", lVendor).IsOK());
    EXPECT_STREQ("Tarn Cam", lVendor.GetAscii());
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetIntegerValue("VendorId", 1));

    EXPECT_EQ(0, lDevice.Int("Advanced"));
    EXPECT_TRUE(lDevice->SetIntegerValue("Advanced", 1).IsOK());
    EXPECT_EQ(0x0030533B73C30100u, lDevice.PeekBig(0x480, 8));
    EXPECT_EQ(1, lDevice.Int("Advanced"));
    EXPECT_TRUE(lDevice->SetIntegerValue("Advanced", 0).IsOK());
    EXPECT_EQ(0u, lDevice.PeekBig(0x480, 8));

    lDevice.PokeBig(0x510, 0xF0F00000);
    EXPECT_EQ(0xF0F00000, lDevice.Int("Smart"));
    EXPECT_EQ(0x12345678u, lDevice.PeekBig(0x500));
    EXPECT_EQ(0x334455667788u, lDevice.PeekBig(0x50A, 6));

    EXPECT_EQ(5, lDevice.Int("Lock"));
    EXPECT_TRUE(lDevice->SetIntegerValue("Lock", 0xA).IsOK());
    EXPECT_EQ(0xFFFFFAFFu, lDevice.PeekBig(0x520));
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetIntegerValue("Lock", 0x10));
}
