// Limits, access and result codes; the parameter list, the state stack and
// arrays without a description.
#include <gtest/gtest.h>

#include <math.h>
#include <string.h>

#include <string>

#include "GenICamTestUtil.h"

using tn::genicam::CreateParameterArray;
using tn::genicam::GetDevicePort;
using tn::genicam::MemoryPort;
using tn::genicam::test::Description;
using tn::genicam::test::Device;
using tn::genicam::test::IntReg;

namespace
{
bool Mentions(const TnResult &aResult, const std::string &aText)
{
    return std::string(aResult.GetDescription().GetAscii()).find(aText) != std::string::npos;
}

const std::string kAccess =
    IntReg("Counter", 0x10, 4, "<AccessMode>RO</AccessMode>") +
    IntReg("Trigger", 0x14, 4, "<AccessMode>WO</AccessMode>") + IntReg("GainReg", 0x18) + IntReg("LockReg", 0x1C) +
    IntReg("EnableReg", 0x20) +
    "<Integer Name=\"Gain\"><pValue>GainReg</pValue><Min>0</Min><Max>48</Max><Inc>2</Inc>"
    "<pIsLocked>LockReg</pIsLocked><pIsAvailable>EnableReg</pIsAvailable></Integer>"
    "<Integer Name=\"Shown\"><pValue>GainReg</pValue><ImposedAccessMode>RO</ImposedAccessMode></Integer>"
    "<Integer Name=\"Hidden\"><Value>1</Value><pIsImplemented>LockReg</pIsImplemented></Integer>"
    "<Float Name=\"Ratio\"><Value>0.5</Value><Min>0</Min><Max>1</Max><Inc>0.25</Inc></Float>"
    "<Register Name=\"Block\"><Address>0x40</Address><Length>8</Length><AccessMode>RW</AccessMode>"
    "<pPort>Device</pPort></Register>";
} // namespace

TEST(Access, LimitsIncrementsAndAccessModes)
{
    Device lDevice(kAccess);
    ASSERT_TRUE(lDevice);
    lDevice.PokeLittle(0x20, 1);

    EXPECT_TRUE(lDevice->SetIntegerValue("Gain", 48).IsOK());
    TnResult lResult = lDevice->SetIntegerValue("Gain", 50);
    EXPECT_CODE(TN_GENERIC_ERROR, lResult);
    EXPECT_TRUE(Mentions(lResult, "range")) << lResult.GetDescription().GetAscii();
    lResult = lDevice->SetIntegerValue("Gain", 3);
    EXPECT_CODE(TN_GENERIC_ERROR, lResult);
    EXPECT_TRUE(Mentions(lResult, "increment"));
    EXPECT_EQ(48u, lDevice.PeekLittle(0x18));
    EXPECT_TRUE(lDevice->SetFloatValue("Ratio", 0.75).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetFloatValue("Ratio", 0.3));
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetFloatValue("Ratio", 1.5));
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetFloatValue("Ratio", std::nan("")));

    lResult = lDevice->SetIntegerValue("Counter", 1);
    EXPECT_CODE(TN_GENERIC_ERROR, lResult);
    EXPECT_TRUE(Mentions(lResult, "not writable"));
    int64_t lValue = 0;
    lResult = lDevice->GetIntegerValue("Trigger", lValue);
    EXPECT_CODE(TN_GENERIC_ERROR, lResult);
    EXPECT_TRUE(Mentions(lResult, "not readable"));
    EXPECT_TRUE(lDevice->SetIntegerValue("Trigger", 1).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetIntegerValue("Shown", 2));
    EXPECT_EQ(48, lDevice.Int("Shown"));

    // Locks and availability come from other features.
    EXPECT_TRUE(lDevice->SetIntegerValue("LockReg", 1).IsOK());
    lResult = lDevice->SetIntegerValue("Gain", 2);
    EXPECT_CODE(TN_GENERIC_ERROR, lResult);
    EXPECT_TRUE(Mentions(lResult, "locked"));
    EXPECT_EQ(48, lDevice.Int("Gain"));
    bool lFlag = true;
    EXPECT_TRUE(lDevice->Get("Hidden")->IsImplemented(lFlag).IsOK());
    EXPECT_TRUE(lFlag);
    EXPECT_TRUE(lDevice->SetIntegerValue("LockReg", 0).IsOK());
    EXPECT_TRUE(lDevice->Get("Hidden")->IsImplemented(lFlag).IsOK());
    EXPECT_FALSE(lFlag);
    EXPECT_TRUE(Mentions(lDevice->GetIntegerValue("Hidden", lValue), "not implemented"));
    EXPECT_TRUE(lDevice->SetIntegerValue("EnableReg", 0).IsOK());
    lResult = lDevice->GetIntegerValue("Gain", lValue);
    EXPECT_CODE(TN_GENERIC_ERROR, lResult);
    EXPECT_TRUE(Mentions(lResult, "not available"));
    EXPECT_TRUE(lDevice->Get("Gain")->IsAvailable(lFlag).IsOK());
    EXPECT_FALSE(lFlag);
    EXPECT_TRUE(lDevice->Get("Gain")->IsReadable(lFlag).IsOK());
    EXPECT_FALSE(lFlag);
}

TEST(Access, PortModesAndFailuresPassThrough)
{
    Device lDevice(kAccess);
    ASSERT_TRUE(lDevice);
    EXPECT_EQ(TnGenAccessModeReadWrite, lDevice->GetAccessMode());
    EXPECT_EQ(lDevice.mPort, GetDevicePort(lDevice.mArray.get()));

    lDevice.mPort->SetAccessMode(TnGenAccessModeReadOnly);
    EXPECT_EQ(TnGenAccessModeReadOnly, lDevice->GetAccessMode());
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetIntegerValue("LockReg", 1));
    EXPECT_EQ(0, lDevice.Int("LockReg"));
    lDevice.mPort->SetAccessMode(TnGenAccessModeNotAvailable);
    EXPECT_EQ(TnGenAccessModeNotAvailable, lDevice->GetAccessMode());
    int64_t lValue = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Counter", lValue));
    lDevice.mPort->SetAccessMode(TnGenAccessModeReadWrite);

    // What the port answers is what the caller gets.
    lDevice.mPort->SetFailure(TN_TIMEOUT);
    TnResult lResult = lDevice->GetIntegerValue("Counter", lValue);
    EXPECT_CODE(TN_TIMEOUT, lResult);
    EXPECT_TRUE(Mentions(lResult, "Device"));
    EXPECT_CODE(TN_TIMEOUT, lDevice->SetIntegerValue("LockReg", 1));
    lDevice.mPort->SetFailure(TN_OK);
    EXPECT_EQ(0, lDevice.Int("Counter"));

    // A register outside the memory fails with the port's own code.
    Device lOutside(IntReg("Far", 0x2000));
    ASSERT_TRUE(lOutside);
    EXPECT_CODE(TN_INVALID_PARAMETER, lOutside->GetIntegerValue("Far", lValue));

    // Without a port nothing behind it is available.
    TnResult lCreated;
    std::unique_ptr<TnGenParameterArray> lUnbound(CreateParameterArray(Description(kAccess), nullptr, lCreated));
    ASSERT_NE(nullptr, lUnbound);
    EXPECT_EQ(TnGenAccessModeNotAvailable, lUnbound->GetAccessMode());
    EXPECT_CODE(TN_GENERIC_ERROR, lUnbound->GetIntegerValue("Counter", lValue));
    EXPECT_EQ(nullptr, GetDevicePort(lUnbound.get()));
    EXPECT_EQ(nullptr, GetDevicePort(nullptr));

    TnResult lBad;
    EXPECT_EQ(nullptr, CreateParameterArray("not xml", nullptr, lBad));
    EXPECT_CODE(TN_GENICAM_XML_ERROR, lBad);
    EXPECT_TRUE(lBad.HasDescription());
}

TEST(Access, ShortcutsReportMissingAndMistypedFeatures)
{
    Device lDevice(kAccess);
    ASSERT_TRUE(lDevice);
    int64_t lInteger = 0, lMinimum = 0, lMaximum = 0;
    double lNumber = 0, lLow = 0, lHigh = 0;
    bool lFlag = false;
    TnString lText;
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetIntegerValue("Nothing", lInteger));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetIntegerValue("Ratio", lInteger));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->SetIntegerValue("Ratio", 1));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetFloatValue("Gain", lNumber));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->SetFloatValue("Gain", 1));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetBooleanValue("Gain", lFlag));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->SetBooleanValue("Gain", true));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetStringValue("Gain", lText));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->SetStringValue("Gain", "x"));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetEnumValue("Gain", lInteger));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetEnumValue("Gain", lText));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->SetEnumValue("Gain", int64_t(1)));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->SetEnumValue("Gain", "x"));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->ExecuteCommand("Gain"));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetIntegerRange("Ratio", lMinimum, lMaximum));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetFloatRange("Gain", lLow, lHigh));
    EXPECT_CODE(TN_NOT_FOUND, lDevice->GetIntegerValue(TnString(static_cast<const char *>(nullptr)), lInteger));
    EXPECT_EQ(nullptr, lDevice->Get(TnString(static_cast<const char *>(nullptr))));
    EXPECT_CODE(TN_INVALID_PARAMETER, lDevice->Get("Gain")->FromString(TnString(static_cast<const char *>(nullptr))));

    // Outputs stay untouched on failure.
    lInteger = 77;
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Trigger", lInteger));
    EXPECT_EQ(77, lInteger);
}

TEST(Access, RegisterTransfersStayWithinTheRegister)
{
    Device lDevice(kAccess);
    ASSERT_TRUE(lDevice);
    TnGenRegister *lBlock = lDevice->GetRegister("Block");
    ASSERT_NE(nullptr, lBlock);
    int64_t lLength = 0;
    EXPECT_TRUE(lBlock->GetLength(lLength).IsOK());
    EXPECT_EQ(8, lLength);
    uint8_t lData[16];
    memset(lData, 0xAA, sizeof(lData));
    EXPECT_CODE(TN_INVALID_PARAMETER, lBlock->Set(lData, 9));
    EXPECT_CODE(TN_INVALID_PARAMETER, lBlock->Get(lData, 16));
    EXPECT_CODE(TN_INVALID_PARAMETER, lBlock->Get(nullptr, 4));
    EXPECT_CODE(TN_INVALID_PARAMETER, lBlock->Set(nullptr, 4));
    EXPECT_CODE(TN_INVALID_PARAMETER, lBlock->Get(lData, -1));
    EXPECT_TRUE(lBlock->Get(nullptr, 0).IsOK());
    EXPECT_EQ(0u, lDevice.PeekLittle(0x48));

    // Shorter transfers move that many bytes.
    EXPECT_TRUE(lBlock->Set(lData, 3).IsOK());
    EXPECT_EQ(0xAAAAAAu, lDevice.PeekLittle(0x40));
    memset(lData, 0, sizeof(lData));
    EXPECT_TRUE(lBlock->Get(lData, 2).IsOK());
    EXPECT_EQ(0xAA, lData[1]);
    EXPECT_EQ(0x00, lData[2]);
    EXPECT_TRUE(lBlock->Get(lData, 8).IsOK());
    EXPECT_EQ(0xAA, lData[2]);
    EXPECT_EQ(0x00, lData[3]);
}

TEST(Array, DefaultArrayIsEmptyAndBehaves)
{
    TnGenParameterArray lArray;
    EXPECT_EQ(0u, lArray.GetCount());
    EXPECT_EQ(0u, lArray.GetCategoryCount());
    EXPECT_EQ(nullptr, lArray.Get(0u));
    EXPECT_EQ(nullptr, lArray["Width"]);
    EXPECT_EQ(nullptr, lArray.GetInteger("Width"));
    EXPECT_EQ(nullptr, lArray.GetCategory(0u));
    EXPECT_EQ(nullptr, lArray.GetCategory("Root"));
    int64_t lValue = 0;
    EXPECT_CODE(TN_NOT_FOUND, lArray.GetIntegerValue("Width", lValue));
    EXPECT_CODE(TN_NOT_FOUND, lArray.ExecuteCommand("Start"));
    EXPECT_TRUE(lArray.InvalidateCache().IsOK());
    EXPECT_TRUE(lArray.Poll().IsOK());
    EXPECT_TRUE(lArray.DetachDataChunks().IsOK());
    EXPECT_CODE(TN_INVALID_PARAMETER, lArray.AttachDataChunks(nullptr, 0));
    EXPECT_EQ(TnGenAccessModeNotAvailable, lArray.GetAccessMode());
    EXPECT_NE(nullptr, lArray.GetNodeMap());
    EXPECT_EQ(nullptr, GetDevicePort(&lArray));
}

TEST(List, WalkAndCopies)
{
    Device lDevice(kAccess);
    ASSERT_TRUE(lDevice);
    TnGenParameter *lGain = lDevice->Get("Gain");
    TnGenParameter *lRatio = lDevice->Get("Ratio");
    TnGenParameterList lList;
    EXPECT_EQ(0u, lList.GetSize());
    EXPECT_EQ(nullptr, lList.GetFirst());
    EXPECT_EQ(nullptr, lList.GetNext());
    lList.Add(lGain);
    lList.Add(lRatio);
    // GetNext without GetFirst starts at the first item.
    EXPECT_EQ(lGain, lList.GetNext());
    EXPECT_EQ(lRatio, lList.GetNext());
    EXPECT_EQ(nullptr, lList.GetNext());
    EXPECT_EQ(nullptr, lList.GetNext());
    EXPECT_EQ(lGain, lList.GetFirst());
    // Adding starts the walk again.
    lList.Add(lGain);
    EXPECT_EQ(lGain, lList.GetNext());
    EXPECT_EQ(lRatio, lList[1]);
    EXPECT_EQ(nullptr, lList.GetItem(3));
    TnGenParameterList lCopy(lList);
    EXPECT_EQ(3u, lCopy.GetSize());
    lList.Clear();
    EXPECT_EQ(0u, lList.GetSize());
    EXPECT_EQ(nullptr, lList.GetNext());
    lList = lCopy;
    EXPECT_EQ(3u, lList.GetSize());
}

TEST(StateStack, RestoresEarlierValuesLastChangeFirst)
{
    Device lDevice(
        kAccess +
        "<Enumeration Name=\"Selector\"><Value>0</Value><pSelected>Level</pSelected>"
        "<EnumEntry Name=\"A\"><Value>0</Value></EnumEntry><EnumEntry Name=\"B\"><Value>1</Value></EnumEntry>"
        "</Enumeration>"
        "<Integer Name=\"SelectorValue\"><pValue>Selector</pValue></Integer>"
        "<Integer Name=\"Level\"><pValue>LevelReg</pValue></Integer>" +
        IntReg("LevelReg", 0x100, 4, "<pIndex Offset=\"4\">SelectorValue</pIndex><AccessMode>RW</AccessMode>") +
        "<String Name=\"Label\"><Value>start</Value></String>");
    ASSERT_TRUE(lDevice);
    lDevice.PokeLittle(0x20, 1);
    lDevice.PokeLittle(0x100, 5);
    lDevice.PokeLittle(0x104, 6);
    {
        TnGenStateStack lStack(lDevice.mArray.get());
        EXPECT_TRUE(lStack.SetIntegerValue("Gain", 10).IsOK());
        EXPECT_TRUE(lStack.SetIntegerValue("Gain", 12).IsOK());
        EXPECT_TRUE(lStack.SetFloatValue("Ratio", 0.25).IsOK());
        EXPECT_TRUE(lStack.SetEnumValue("Selector", "B").IsOK());
        EXPECT_TRUE(lStack.SetIntegerValue("Level", 60).IsOK());
        EXPECT_TRUE(lStack.SetStringValue("Label", "changed").IsOK());
        EXPECT_CODE(TN_NOT_FOUND, lStack.SetIntegerValue("Nothing", 1));
        EXPECT_CODE(TN_GENERIC_ERROR, lStack.SetIntegerValue("Counter", 1));
        EXPECT_EQ(12, lDevice.Int("Gain"));
        EXPECT_EQ(60u, lDevice.PeekLittle(0x104));
    }
    EXPECT_EQ(0, lDevice.Int("Gain"));
    EXPECT_EQ(0.5, lDevice.Float("Ratio"));
    TnString lText;
    EXPECT_TRUE(lDevice->GetEnumValue("Selector", lText).IsOK());
    EXPECT_STREQ("A", lText.GetAscii());
    // Level was restored while the selector still chose B.
    EXPECT_EQ(6u, lDevice.PeekLittle(0x104));
    EXPECT_EQ(5u, lDevice.PeekLittle(0x100));
    EXPECT_TRUE(lDevice->GetStringValue("Label", lText).IsOK());
    EXPECT_STREQ("start", lText.GetAscii());

    TnGenStateStack lEmpty(nullptr);
    EXPECT_CODE(TN_INVALID_PARAMETER, lEmpty.SetIntegerValue("Gain", 1));
    EXPECT_CODE(TN_INVALID_PARAMETER, lEmpty.SetEnumValue("Selector", int64_t(0)));
}
