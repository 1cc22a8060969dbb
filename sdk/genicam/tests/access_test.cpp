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
    IntReg("Counter", 0x10, 4, "<AccessMode>RO</AccessMode>") + IntReg("Trigger", 0x14, 4, "<AccessMode>WO</AccessMode>") +
    IntReg("GainReg", 0x18) + IntReg("LockReg", 0x1C) + IntReg("EnableReg", 0x20) +
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
    Device device(kAccess);
    ASSERT_TRUE(device);
    device.PokeLittle(0x20, 1);

    EXPECT_TRUE(device->SetIntegerValue("Gain", 48).IsOK());
    TnResult result = device->SetIntegerValue("Gain", 50);
    EXPECT_CODE(TN_GENERIC_ERROR, result);
    EXPECT_TRUE(Mentions(result, "range")) << result.GetDescription().GetAscii();
    result = device->SetIntegerValue("Gain", 3);
    EXPECT_CODE(TN_GENERIC_ERROR, result);
    EXPECT_TRUE(Mentions(result, "increment"));
    EXPECT_EQ(48u, device.PeekLittle(0x18));
    EXPECT_TRUE(device->SetFloatValue("Ratio", 0.75).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetFloatValue("Ratio", 0.3));
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetFloatValue("Ratio", 1.5));
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetFloatValue("Ratio", std::nan("")));

    result = device->SetIntegerValue("Counter", 1);
    EXPECT_CODE(TN_GENERIC_ERROR, result);
    EXPECT_TRUE(Mentions(result, "not writable"));
    int64_t value = 0;
    result = device->GetIntegerValue("Trigger", value);
    EXPECT_CODE(TN_GENERIC_ERROR, result);
    EXPECT_TRUE(Mentions(result, "not readable"));
    EXPECT_TRUE(device->SetIntegerValue("Trigger", 1).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetIntegerValue("Shown", 2));
    EXPECT_EQ(48, device.Int("Shown"));

    // Locks and availability come from other features.
    EXPECT_TRUE(device->SetIntegerValue("LockReg", 1).IsOK());
    result = device->SetIntegerValue("Gain", 2);
    EXPECT_CODE(TN_GENERIC_ERROR, result);
    EXPECT_TRUE(Mentions(result, "locked"));
    EXPECT_EQ(48, device.Int("Gain"));
    bool flag = true;
    EXPECT_TRUE(device->Get("Hidden")->IsImplemented(flag).IsOK());
    EXPECT_TRUE(flag);
    EXPECT_TRUE(device->SetIntegerValue("LockReg", 0).IsOK());
    EXPECT_TRUE(device->Get("Hidden")->IsImplemented(flag).IsOK());
    EXPECT_FALSE(flag);
    EXPECT_TRUE(Mentions(device->GetIntegerValue("Hidden", value), "not implemented"));
    EXPECT_TRUE(device->SetIntegerValue("EnableReg", 0).IsOK());
    result = device->GetIntegerValue("Gain", value);
    EXPECT_CODE(TN_GENERIC_ERROR, result);
    EXPECT_TRUE(Mentions(result, "not available"));
    EXPECT_TRUE(device->Get("Gain")->IsAvailable(flag).IsOK());
    EXPECT_FALSE(flag);
    EXPECT_TRUE(device->Get("Gain")->IsReadable(flag).IsOK());
    EXPECT_FALSE(flag);
}

TEST(Access, PortModesAndFailuresPassThrough)
{
    Device device(kAccess);
    ASSERT_TRUE(device);
    EXPECT_EQ(TnGenAccessModeReadWrite, device->GetAccessMode());
    EXPECT_EQ(device.mPort, GetDevicePort(device.mArray.get()));

    device.mPort->SetAccessMode(TnGenAccessModeReadOnly);
    EXPECT_EQ(TnGenAccessModeReadOnly, device->GetAccessMode());
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetIntegerValue("LockReg", 1));
    EXPECT_EQ(0, device.Int("LockReg"));
    device.mPort->SetAccessMode(TnGenAccessModeNotAvailable);
    EXPECT_EQ(TnGenAccessModeNotAvailable, device->GetAccessMode());
    int64_t value = 0;
    EXPECT_CODE(TN_GENERIC_ERROR, device->GetIntegerValue("Counter", value));
    device.mPort->SetAccessMode(TnGenAccessModeReadWrite);

    // What the port answers is what the caller gets.
    device.mPort->SetFailure(TN_TIMEOUT);
    TnResult result = device->GetIntegerValue("Counter", value);
    EXPECT_CODE(TN_TIMEOUT, result);
    EXPECT_TRUE(Mentions(result, "Device"));
    EXPECT_CODE(TN_TIMEOUT, device->SetIntegerValue("LockReg", 1));
    device.mPort->SetFailure(TN_OK);
    EXPECT_EQ(0, device.Int("Counter"));

    // A register outside the memory fails with the port's own code.
    Device outside(IntReg("Far", 0x2000));
    ASSERT_TRUE(outside);
    EXPECT_CODE(TN_INVALID_PARAMETER, outside->GetIntegerValue("Far", value));

    // Without a port nothing behind it is available.
    TnResult created;
    std::unique_ptr<TnGenParameterArray> unbound(CreateParameterArray(Description(kAccess), nullptr, created));
    ASSERT_NE(nullptr, unbound);
    EXPECT_EQ(TnGenAccessModeNotAvailable, unbound->GetAccessMode());
    EXPECT_CODE(TN_GENERIC_ERROR, unbound->GetIntegerValue("Counter", value));
    EXPECT_EQ(nullptr, GetDevicePort(unbound.get()));
    EXPECT_EQ(nullptr, GetDevicePort(nullptr));

    TnResult bad;
    EXPECT_EQ(nullptr, CreateParameterArray("not xml", nullptr, bad));
    EXPECT_CODE(TN_GENICAM_XML_ERROR, bad);
    EXPECT_TRUE(bad.HasDescription());
}

TEST(Access, ShortcutsReportMissingAndMistypedFeatures)
{
    Device device(kAccess);
    ASSERT_TRUE(device);
    int64_t integer = 0, minimum = 0, maximum = 0;
    double number = 0, low = 0, high = 0;
    bool flag = false;
    TnString text;
    EXPECT_CODE(TN_NOT_FOUND, device->GetIntegerValue("Nothing", integer));
    EXPECT_CODE(TN_NOT_FOUND, device->GetIntegerValue("Ratio", integer));
    EXPECT_CODE(TN_NOT_FOUND, device->SetIntegerValue("Ratio", 1));
    EXPECT_CODE(TN_NOT_FOUND, device->GetFloatValue("Gain", number));
    EXPECT_CODE(TN_NOT_FOUND, device->SetFloatValue("Gain", 1));
    EXPECT_CODE(TN_NOT_FOUND, device->GetBooleanValue("Gain", flag));
    EXPECT_CODE(TN_NOT_FOUND, device->SetBooleanValue("Gain", true));
    EXPECT_CODE(TN_NOT_FOUND, device->GetStringValue("Gain", text));
    EXPECT_CODE(TN_NOT_FOUND, device->SetStringValue("Gain", "x"));
    EXPECT_CODE(TN_NOT_FOUND, device->GetEnumValue("Gain", integer));
    EXPECT_CODE(TN_NOT_FOUND, device->GetEnumValue("Gain", text));
    EXPECT_CODE(TN_NOT_FOUND, device->SetEnumValue("Gain", int64_t(1)));
    EXPECT_CODE(TN_NOT_FOUND, device->SetEnumValue("Gain", "x"));
    EXPECT_CODE(TN_NOT_FOUND, device->ExecuteCommand("Gain"));
    EXPECT_CODE(TN_NOT_FOUND, device->GetIntegerRange("Ratio", minimum, maximum));
    EXPECT_CODE(TN_NOT_FOUND, device->GetFloatRange("Gain", low, high));
    EXPECT_CODE(TN_NOT_FOUND, device->GetIntegerValue(TnString(static_cast<const char *>(nullptr)), integer));
    EXPECT_EQ(nullptr, device->Get(TnString(static_cast<const char *>(nullptr))));
    EXPECT_CODE(TN_INVALID_PARAMETER, device->Get("Gain")->FromString(TnString(static_cast<const char *>(nullptr))));

    // Outputs stay untouched on failure.
    integer = 77;
    EXPECT_CODE(TN_GENERIC_ERROR, device->GetIntegerValue("Trigger", integer));
    EXPECT_EQ(77, integer);
}

TEST(Access, RegisterTransfersStayWithinTheRegister)
{
    Device device(kAccess);
    ASSERT_TRUE(device);
    TnGenRegister *block = device->GetRegister("Block");
    ASSERT_NE(nullptr, block);
    int64_t length = 0;
    EXPECT_TRUE(block->GetLength(length).IsOK());
    EXPECT_EQ(8, length);
    uint8_t data[16];
    memset(data, 0xAA, sizeof(data));
    EXPECT_CODE(TN_INVALID_PARAMETER, block->Set(data, 9));
    EXPECT_CODE(TN_INVALID_PARAMETER, block->Get(data, 16));
    EXPECT_CODE(TN_INVALID_PARAMETER, block->Get(nullptr, 4));
    EXPECT_CODE(TN_INVALID_PARAMETER, block->Set(nullptr, 4));
    EXPECT_CODE(TN_INVALID_PARAMETER, block->Get(data, -1));
    EXPECT_TRUE(block->Get(nullptr, 0).IsOK());
    EXPECT_EQ(0u, device.PeekLittle(0x48));

    // Shorter transfers move that many bytes.
    EXPECT_TRUE(block->Set(data, 3).IsOK());
    EXPECT_EQ(0xAAAAAAu, device.PeekLittle(0x40));
    memset(data, 0, sizeof(data));
    EXPECT_TRUE(block->Get(data, 2).IsOK());
    EXPECT_EQ(0xAA, data[1]);
    EXPECT_EQ(0x00, data[2]);
    EXPECT_TRUE(block->Get(data, 8).IsOK());
    EXPECT_EQ(0xAA, data[2]);
    EXPECT_EQ(0x00, data[3]);
}

TEST(Array, DefaultArrayIsEmptyAndBehaves)
{
    TnGenParameterArray array;
    EXPECT_EQ(0u, array.GetCount());
    EXPECT_EQ(0u, array.GetCategoryCount());
    EXPECT_EQ(nullptr, array.Get(0u));
    EXPECT_EQ(nullptr, array["Width"]);
    EXPECT_EQ(nullptr, array.GetInteger("Width"));
    EXPECT_EQ(nullptr, array.GetCategory(0u));
    EXPECT_EQ(nullptr, array.GetCategory("Root"));
    int64_t value = 0;
    EXPECT_CODE(TN_NOT_FOUND, array.GetIntegerValue("Width", value));
    EXPECT_CODE(TN_NOT_FOUND, array.ExecuteCommand("Start"));
    EXPECT_TRUE(array.InvalidateCache().IsOK());
    EXPECT_TRUE(array.Poll().IsOK());
    EXPECT_TRUE(array.DetachDataChunks().IsOK());
    EXPECT_CODE(TN_INVALID_PARAMETER, array.AttachDataChunks(nullptr, 0));
    EXPECT_EQ(TnGenAccessModeNotAvailable, array.GetAccessMode());
    EXPECT_NE(nullptr, array.GetNodeMap());
    EXPECT_EQ(nullptr, GetDevicePort(&array));
}

TEST(List, WalkAndCopies)
{
    Device device(kAccess);
    ASSERT_TRUE(device);
    TnGenParameter *gain = device->Get("Gain");
    TnGenParameter *ratio = device->Get("Ratio");
    TnGenParameterList list;
    EXPECT_EQ(0u, list.GetSize());
    EXPECT_EQ(nullptr, list.GetFirst());
    EXPECT_EQ(nullptr, list.GetNext());
    list.Add(gain);
    list.Add(ratio);
    // GetNext without GetFirst starts at the first item.
    EXPECT_EQ(gain, list.GetNext());
    EXPECT_EQ(ratio, list.GetNext());
    EXPECT_EQ(nullptr, list.GetNext());
    EXPECT_EQ(nullptr, list.GetNext());
    EXPECT_EQ(gain, list.GetFirst());
    // Adding starts the walk again.
    list.Add(gain);
    EXPECT_EQ(gain, list.GetNext());
    EXPECT_EQ(ratio, list[1]);
    EXPECT_EQ(nullptr, list.GetItem(3));
    TnGenParameterList copy(list);
    EXPECT_EQ(3u, copy.GetSize());
    list.Clear();
    EXPECT_EQ(0u, list.GetSize());
    EXPECT_EQ(nullptr, list.GetNext());
    list = copy;
    EXPECT_EQ(3u, list.GetSize());
}

TEST(StateStack, RestoresEarlierValuesLastChangeFirst)
{
    Device device(kAccess +
                  "<Enumeration Name=\"Selector\"><Value>0</Value><pSelected>Level</pSelected>"
                  "<EnumEntry Name=\"A\"><Value>0</Value></EnumEntry><EnumEntry Name=\"B\"><Value>1</Value></EnumEntry>"
                  "</Enumeration>"
                  "<Integer Name=\"SelectorValue\"><pValue>Selector</pValue></Integer>"
                  "<Integer Name=\"Level\"><pValue>LevelReg</pValue></Integer>" +
                  IntReg("LevelReg", 0x100, 4, "<pIndex Offset=\"4\">SelectorValue</pIndex><AccessMode>RW</AccessMode>") +
                  "<String Name=\"Label\"><Value>start</Value></String>");
    ASSERT_TRUE(device);
    device.PokeLittle(0x20, 1);
    device.PokeLittle(0x100, 5);
    device.PokeLittle(0x104, 6);
    {
        TnGenStateStack stack(device.mArray.get());
        EXPECT_TRUE(stack.SetIntegerValue("Gain", 10).IsOK());
        EXPECT_TRUE(stack.SetIntegerValue("Gain", 12).IsOK());
        EXPECT_TRUE(stack.SetFloatValue("Ratio", 0.25).IsOK());
        EXPECT_TRUE(stack.SetEnumValue("Selector", "B").IsOK());
        EXPECT_TRUE(stack.SetIntegerValue("Level", 60).IsOK());
        EXPECT_TRUE(stack.SetStringValue("Label", "changed").IsOK());
        EXPECT_CODE(TN_NOT_FOUND, stack.SetIntegerValue("Nothing", 1));
        EXPECT_CODE(TN_GENERIC_ERROR, stack.SetIntegerValue("Counter", 1));
        EXPECT_EQ(12, device.Int("Gain"));
        EXPECT_EQ(60u, device.PeekLittle(0x104));
    }
    EXPECT_EQ(0, device.Int("Gain"));
    EXPECT_EQ(0.5, device.Float("Ratio"));
    TnString text;
    EXPECT_TRUE(device->GetEnumValue("Selector", text).IsOK());
    EXPECT_STREQ("A", text.GetAscii());
    // Level was restored while the selector still chose B.
    EXPECT_EQ(6u, device.PeekLittle(0x104));
    EXPECT_EQ(5u, device.PeekLittle(0x100));
    EXPECT_TRUE(device->GetStringValue("Label", text).IsOK());
    EXPECT_STREQ("start", text.GetAscii());

    TnGenStateStack empty(nullptr);
    EXPECT_CODE(TN_INVALID_PARAMETER, empty.SetIntegerValue("Gain", 1));
    EXPECT_CODE(TN_INVALID_PARAMETER, empty.SetEnumValue("Selector", int64_t(0)));
}
