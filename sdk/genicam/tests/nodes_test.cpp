// Node kinds, register encodings, formulas and the loading of descriptions.
#include <gtest/gtest.h>

#include <math.h>

#include <string>
#include <utility>
#include <vector>

#include "GenICamTestUtil.h"

using tn::genicam::CreateParameterArray;
using tn::genicam::MemoryPort;
using tn::genicam::test::Description;
using tn::genicam::test::Device;
using tn::genicam::test::IntReg;

namespace
{
std::string Knife(const std::string &aName, const std::string &aFormula, bool aFloat = false)
{
    const char *kind = aFloat ? "SwissKnife" : "IntSwissKnife";
    return std::string("<") + kind + " Name=\"" + aName + "\">" +
           "<pVariable Name=\"A\">Seven</pVariable><pVariable Name=\"B\">MinusTwo</pVariable>"
           "<Constant Name=\"C\">0.5</Constant><Expression Name=\"D\">A*2</Expression>"
           "<Formula>" +
           aFormula + "</Formula></" + kind + ">\n";
}

const char *const kVariables = "<Integer Name=\"Seven\"><Value>7</Value></Integer>"
                               "<Integer Name=\"MinusTwo\"><Value>-2</Value><Min>-10</Min><Max>10</Max></Integer>";

TnResult Create(const std::string &aXml)
{
    TnResult result;
    TnGenParameterArray *array = CreateParameterArray(aXml, std::make_shared<MemoryPort>(16), result);
    delete array;
    EXPECT_EQ(array == nullptr, !result.IsOK());
    return result;
}
} // namespace

TEST(Formula, IntegerOperatorsAndPrecedence)
{
    const std::vector<std::pair<std::string, int64_t>> cases = {
        {"1 + 2 * 3", 7},
        {"(1 + 2) * 3", 9},
        {"7 / 2", 3},
        {"-7 / 2", -3},
        {"7 % 3", 1},
        {"2 ** 10", 1024},
        {"2 ** 3 ** 2", 512},
        {"-2 ** 2", -4},
        {"0xFF &amp; 0x0F", 15},
        {"0xF0 | 0x0F", 255},
        {"6 ^ 3", 5},
        {"~0", -1},
        {"1 &lt;&lt; 40", int64_t(1) << 40},
        {"-16 &gt;&gt; 2", -4},
        {"3 = 3", 1},
        {"3 &lt;&gt; 3", 0},
        {"2 &lt; 3 &amp;&amp; 3 &lt;= 3", 1},
        {"2 &gt; 3 || 3 &gt;= 4", 0},
        {"!0 + !5", 1},
        {"A &gt; 5 ? 100 : 200", 100},
        {"B &lt; 0 ? (A &lt; 0 ? 1 : 2) : 3", 2},
        {"0 ? 1 / 0 : 4", 4},
        {"A * B + D", 0},
        {"B.Min + B.Max", 0},
        {"(A + B) * 2 - -3", 13},
        {"1 + 2 &amp; 3 = 3", 1},
        {"ABS(B) + SGN(B) + NEG(A)", -6},
        {"TRUNC(7.9) + FLOOR(-1.5) + CEIL(1.2) + ROUND(2.5)", 10},
        {"C * 4", 2},
        {"0x7FFFFFFFFFFFFFFF + 1", INT64_MIN},
    };
    std::string nodes = kVariables;
    for (size_t i = 0; i < cases.size(); ++i)
    {
        nodes += Knife("F" + std::to_string(i), cases[i].first);
    }
    Device device(nodes);
    ASSERT_TRUE(device);
    for (size_t i = 0; i < cases.size(); ++i)
    {
        int64_t value = 0;
        const TnResult result = device->GetIntegerValue(("F" + std::to_string(i)).c_str(), value);
        EXPECT_TRUE(result.IsOK()) << cases[i].first << ": " << result.GetDescription().GetAscii();
        EXPECT_EQ(cases[i].second, value) << cases[i].first;
    }
}

TEST(Formula, FloatFunctions)
{
    const std::vector<std::pair<std::string, double>> cases = {
        {"7 / 2", 3.5},
        {"SQRT(16) + EXP(0) + LN(E) + LG(1000)", 9.0},
        {"SIN(PI / 2) + COS(0) + TAN(0)", 2.0},
        {"ASIN(1) * 2 - PI()", 0.0},
        {"ACOS(1) + ATAN(1) * 4", M_PI},
        {"ROUND(3.14159, 2)", 3.14},
        {"2 ** -1", 0.5},
        {"1.5e3 + .5", 1500.5},
        {"A / 2 + C", 4.0},
        {"7.5 % 2", 1.5},
    };
    std::string nodes = kVariables;
    for (size_t i = 0; i < cases.size(); ++i)
    {
        nodes += Knife("F" + std::to_string(i), cases[i].first, true);
    }
    Device device(nodes);
    ASSERT_TRUE(device);
    for (size_t i = 0; i < cases.size(); ++i)
    {
        EXPECT_NEAR(cases[i].second, device.Float(("F" + std::to_string(i)).c_str()), 1e-9) << cases[i].first;
    }
}

TEST(Formula, BadFormulasAreRefused)
{
    for (const char *formula : {"1 +", "(1", "1 2", "FOO + 1", "SQRT(1, 2)", "0x", "1 $ 2", "A.Nothing"})
    {
        const TnResult result = Create(Description(std::string(kVariables) + Knife("F", formula)));
        EXPECT_EQ(TN_GENICAM_XML_ERROR, result.GetCode()) << formula;
        EXPECT_NE(std::string(result.GetDescription().GetAscii()).find("F"), std::string::npos);
    }
    // Deep nesting is refused instead of exhausting the stack.
    const std::string deep = std::string(5000, '(') + "1" + std::string(5000, ')');
    EXPECT_EQ(TN_GENICAM_XML_ERROR, Create(Description(std::string(kVariables) + Knife("F", deep))).GetCode());
    std::string chain = "1";
    for (int i = 0; i < 3000; ++i)
    {
        chain += "+1";
    }
    EXPECT_EQ(TN_GENICAM_XML_ERROR, Create(Description(std::string(kVariables) + Knife("F", chain))).GetCode());

    Device device(std::string(kVariables) + Knife("Zero", "A / (B + 2)") +
                  "<IntSwissKnife Name=\"Self\"><pVariable Name=\"X\">Self</pVariable><Formula>X + 1</Formula></IntSwissKnife>");
    ASSERT_TRUE(device);
    int64_t value = 0;
    TnResult result = device->GetIntegerValue("Zero", value);
    EXPECT_EQ(TN_GENERIC_ERROR, result.GetCode());
    EXPECT_NE(std::string(result.GetDescription().GetAscii()).find("division by zero"), std::string::npos);
    EXPECT_EQ(TN_GENERIC_ERROR, device->GetIntegerValue("Self", value).GetCode());

    // Formulas that reuse each other twice per level would take 2^60 steps.
    std::string diamond = "<Integer Name=\"K0\"><Value>1</Value></Integer>";
    for (int i = 1; i <= 60; ++i)
    {
        const std::string previous = "K" + std::to_string(i - 1);
        diamond += "<IntSwissKnife Name=\"K" + std::to_string(i) + "\"><pVariable Name=\"X\">" + previous +
                   "</pVariable><pVariable Name=\"Y\">" + previous + "</pVariable><Formula>X + Y</Formula></IntSwissKnife>";
    }
    Device wide(diamond);
    ASSERT_TRUE(wide);
    EXPECT_EQ(1024, wide.Int("K10"));
    result = wide->GetIntegerValue("K60", value);
    EXPECT_EQ(TN_GENERIC_ERROR, result.GetCode());
    EXPECT_NE(std::string(result.GetDescription().GetAscii()).find("too many steps"), std::string::npos);
}

TEST(Registers, IntegerEncodings)
{
    Device device(IntReg("BigSigned", 0x10, 3, "<AccessMode>RW</AccessMode><Sign>Signed</Sign><Endianess>BigEndian</Endianess>") +
                  IntReg("Little", 0x20, 2) + IntReg("Wide", 0x30, 8, "<AccessMode>RW</AccessMode><Sign>Signed</Sign>") +
                  "<MaskedIntReg Name=\"LittleField\"><Address>0x40</Address><Length>4</Length><AccessMode>RW</AccessMode>"
                  "<pPort>Device</pPort><LSB>4</LSB><MSB>11</MSB></MaskedIntReg>"
                  "<MaskedIntReg Name=\"BigField\"><Address>0x50</Address><Length>4</Length><AccessMode>RW</AccessMode>"
                  "<pPort>Device</pPort><LSB>31</LSB><MSB>28</MSB><Sign>Signed</Sign><Endianess>BigEndian</Endianess></MaskedIntReg>"
                  "<MaskedIntReg Name=\"BigBit\"><Address>0x50</Address><Length>4</Length><AccessMode>RW</AccessMode>"
                  "<pPort>Device</pPort><Bit>0</Bit><Endianess>BigEndian</Endianess></MaskedIntReg>");
    ASSERT_TRUE(device);

    device.PokeBig(0x10, 0xFFFFFE, 3);
    EXPECT_EQ(-2, device.Int("BigSigned"));
    EXPECT_TRUE(device->SetIntegerValue("BigSigned", -8388608).IsOK());
    EXPECT_EQ(0x800000u, device.PeekBig(0x10, 3));
    int64_t minimum = 0, maximum = 0;
    EXPECT_TRUE(device->GetIntegerRange("BigSigned", minimum, maximum).IsOK());
    EXPECT_EQ(-8388608, minimum);
    EXPECT_EQ(8388607, maximum);

    device.PokeLittle(0x20, 0xBEEF, 2);
    EXPECT_EQ(0xBEEF, device.Int("Little"));
    EXPECT_TRUE(device->GetIntegerRange("Little", minimum, maximum).IsOK());
    EXPECT_EQ(0, minimum);
    EXPECT_EQ(65535, maximum);

    EXPECT_TRUE(device->SetIntegerValue("Wide", INT64_MIN).IsOK());
    EXPECT_EQ(0x8000000000000000ull, device.PeekLittle(0x30, 8));
    EXPECT_EQ(INT64_MIN, device.Int("Wide"));

    // A field keeps the bits around it.
    device.PokeLittle(0x40, 0xFFFFFFFF);
    EXPECT_EQ(0xFF, device.Int("LittleField"));
    EXPECT_TRUE(device->SetIntegerValue("LittleField", 0x5A).IsOK());
    EXPECT_EQ(0xFFFFF5AFu, device.PeekLittle(0x40));
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetIntegerValue("LittleField", 256));

    // Big-endian registers number bits from the most significant one.
    EXPECT_TRUE(device->SetIntegerValue("BigField", -1).IsOK());
    EXPECT_EQ(0x0000000Fu, device.PeekBig(0x50));
    EXPECT_TRUE(device->GetIntegerRange("BigField", minimum, maximum).IsOK());
    EXPECT_EQ(-8, minimum);
    EXPECT_EQ(7, maximum);
    EXPECT_TRUE(device->SetIntegerValue("BigBit", 1).IsOK());
    EXPECT_EQ(0x8000000Fu, device.PeekBig(0x50));
    EXPECT_EQ(-1, device.Int("BigField"));
}

TEST(Registers, FloatStringAndRawRegisters)
{
    Device device("<FloatReg Name=\"Single\"><Address>0x10</Address><Length>4</Length><AccessMode>RW</AccessMode>"
                  "<pPort>Device</pPort><Endianess>BigEndian</Endianess><Unit>dB</Unit></FloatReg>"
                  "<FloatReg Name=\"Double\"><Address>0x18</Address><Length>8</Length><AccessMode>RW</AccessMode>"
                  "<pPort>Device</pPort></FloatReg>"
                  "<StringReg Name=\"Text\"><Address>0x40</Address><Length>8</Length><AccessMode>RW</AccessMode>"
                  "<pPort>Device</pPort></StringReg>"
                  "<Register Name=\"Raw\"><Address>0x80</Address><Length>6</Length><AccessMode>RW</AccessMode>"
                  "<pPort>Device</pPort></Register>");
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->SetFloatValue("Single", 1.5).IsOK());
    EXPECT_EQ(0x3FC00000u, device.PeekBig(0x10));
    EXPECT_EQ(1.5, device.Float("Single"));
    TnString unit;
    EXPECT_TRUE(device->GetFloat("Single")->GetUnit(unit).IsOK());
    EXPECT_STREQ("dB", unit.GetAscii());
    EXPECT_TRUE(device->SetFloatValue("Double", -0.1).IsOK());
    EXPECT_EQ(-0.1, device.Float("Double"));

    TnString text;
    EXPECT_TRUE(device->SetStringValue("Text", "abc").IsOK());
    EXPECT_TRUE(device->GetStringValue("Text", text).IsOK());
    EXPECT_STREQ("abc", text.GetAscii());
    EXPECT_EQ(0u, device.PeekBig(0x44));
    EXPECT_TRUE(device->SetStringValue("Text", "12345678").IsOK());
    EXPECT_TRUE(device->GetStringValue("Text", text).IsOK());
    EXPECT_STREQ("12345678", text.GetAscii());
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetStringValue("Text", "123456789"));
    int64_t length = 0;
    EXPECT_TRUE(device->GetString("Text")->GetMaxLength(length).IsOK());
    EXPECT_EQ(8, length);

    TnGenRegister *raw = device->GetRegister("Raw");
    ASSERT_NE(nullptr, raw);
    const uint8_t bytes[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_TRUE(raw->Set(bytes, 6).IsOK());
    TnString hex;
    EXPECT_TRUE(raw->ToString(hex).IsOK());
    EXPECT_STREQ("010203040506", hex.GetAscii());
    EXPECT_TRUE(raw->FromString("A0B1").IsOK());
    uint8_t read[6] = {0};
    EXPECT_TRUE(raw->Get(read, 6).IsOK());
    const uint8_t expected[6] = {0xA0, 0xB1, 3, 4, 5, 6};
    EXPECT_EQ(0, memcmp(expected, read, 6));
}

TEST(Nodes, IntegerFloatAndConverters)
{
    Device device(IntReg("RawReg", 0x10) + IntReg("LimitReg", 0x14) +
                  "<Integer Name=\"Value\"><pValue>RawReg</pValue><Min>10</Min><pMax>LimitReg</pMax><Inc>5</Inc>"
                  "<Unit>px</Unit><Representation>HexNumber</Representation></Integer>"
                  "<Integer Name=\"Scale\"><Value>4</Value></Integer>"
                  "<Float Name=\"Exposure\"><pValue>ExposureConverter</pValue><Min>1</Min><Max>1000</Max></Float>"
                  "<Converter Name=\"ExposureConverter\"><pVariable Name=\"S\">Scale</pVariable>"
                  "<FormulaTo>FROM * S</FormulaTo><FormulaFrom>TO / S</FormulaFrom><pValue>RawReg</pValue></Converter>"
                  "<Float Name=\"Rate\"><pValue>RateConverter</pValue></Float>"
                  "<Converter Name=\"RateConverter\"><FormulaTo>1000 / FROM</FormulaTo><FormulaFrom>1000 / TO</FormulaFrom>"
                  "<pValue>Period</pValue><Slope>Decreasing</Slope></Converter>"
                  "<Integer Name=\"Period\"><Value>100</Value><Min>10</Min><Max>500</Max></Integer>"
                  "<IntConverter Name=\"Half\"><FormulaTo>FROM * 2</FormulaTo><FormulaFrom>TO / 2</FormulaFrom>"
                  "<pValue>Period</pValue></IntConverter>");
    ASSERT_TRUE(device);
    device.PokeLittle(0x14, 100);
    int64_t minimum = 0, maximum = 0, increment = 0;
    TnGenInteger *value = device->GetInteger("Value");
    ASSERT_NE(nullptr, value);
    EXPECT_TRUE(device->GetIntegerRange("Value", minimum, maximum).IsOK());
    EXPECT_EQ(10, minimum);
    EXPECT_EQ(100, maximum);
    EXPECT_TRUE(value->GetIncrement(increment).IsOK());
    EXPECT_EQ(5, increment);
    EXPECT_TRUE(value->SetValue(35).IsOK());
    EXPECT_EQ(35u, device.PeekLittle(0x10));
    TnString text;
    EXPECT_TRUE(value->ToString(text).IsOK());
    EXPECT_STREQ("0x23", text.GetAscii());
    EXPECT_TRUE(value->FromString("0x28").IsOK());
    EXPECT_EQ(40, device.Int("Value"));
    TnGenRepresentation representation = TnGenRepresentationUndefined;
    EXPECT_TRUE(value->GetRepresentation(representation).IsOK());
    EXPECT_EQ(TnGenRepresentationHexNumber, representation);

    // Through a converter with a variable: the register holds 4 times the value.
    EXPECT_TRUE(device->SetFloatValue("Exposure", 12.5).IsOK());
    EXPECT_EQ(50u, device.PeekLittle(0x10));
    EXPECT_DOUBLE_EQ(12.5, device.Float("Exposure"));
    EXPECT_TRUE(device->SetIntegerValue("Scale", 2).IsOK());
    EXPECT_DOUBLE_EQ(25.0, device.Float("Exposure"));

    // A decreasing converter swaps the limits of what it converts.
    double low = 0, high = 0;
    EXPECT_TRUE(device->GetFloatRange("Rate", low, high).IsOK());
    EXPECT_DOUBLE_EQ(2.0, low);
    EXPECT_DOUBLE_EQ(100.0, high);
    EXPECT_TRUE(device->SetFloatValue("Rate", 4).IsOK());
    EXPECT_EQ(250, device.Int("Period"));
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetFloatValue("Rate", 1));
    EXPECT_EQ(250, device.Int("Period"));

    EXPECT_EQ(125, device.Int("Half"));
    EXPECT_TRUE(device->SetIntegerValue("Half", 30).IsOK());
    EXPECT_EQ(60, device.Int("Period"));
    EXPECT_TRUE(device->GetIntegerRange("Half", minimum, maximum).IsOK());
    EXPECT_EQ(5, minimum);
    EXPECT_EQ(250, maximum);
}

TEST(Nodes, EnumerationBooleanCommandAndString)
{
    Device device(IntReg("ModeReg", 0x10) + IntReg("FlagReg", 0x14) + IntReg("GoReg", 0x18) +
                  "<Integer Name=\"Allow\"><Value>1</Value></Integer>"
                  "<Enumeration Name=\"Mode\"><pValue>ModeReg</pValue>"
                  "<EnumEntry Name=\"Off\"><Value>0</Value></EnumEntry>"
                  "<EnumEntry Name=\"On\" NameSpace=\"Standard\"><Value>5</Value><DisplayName>Switched on</DisplayName></EnumEntry>"
                  "<EnumEntry Name=\"Special\"><Value>9</Value><pIsAvailable>Allow</pIsAvailable></EnumEntry>"
                  "</Enumeration>"
                  "<Boolean Name=\"Flag\"><pValue>FlagReg</pValue><OnValue>321</OnValue><OffValue>123</OffValue></Boolean>"
                  "<Command Name=\"Go\"><pValue>GoReg</pValue><CommandValue>7</CommandValue></Command>"
                  "<String Name=\"Label\"><Value>first</Value></String>");
    ASSERT_TRUE(device);
    TnGenEnum *mode = device->GetEnum("Mode");
    ASSERT_NE(nullptr, mode);
    EXPECT_TRUE(device->SetEnumValue("Mode", "On").IsOK());
    EXPECT_EQ(5u, device.PeekLittle(0x10));
    int64_t number = 0;
    TnString name;
    EXPECT_TRUE(mode->GetValue(number).IsOK());
    EXPECT_EQ(5, number);
    EXPECT_TRUE(mode->GetValue(name).IsOK());
    EXPECT_STREQ("On", name.GetAscii());
    EXPECT_TRUE(mode->SetValue(int64_t(9)).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, mode->SetValue(int64_t(4)));
    EXPECT_CODE(TN_GENERIC_ERROR, mode->SetValue(TnString("Nothing")));
    EXPECT_TRUE(device->SetIntegerValue("Allow", 0).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, mode->SetValue(TnString("Special")));
    device.PokeLittle(0x10, 3);
    EXPECT_TRUE(device->InvalidateCache().IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, mode->GetValue(name));

    int64_t count = 0;
    EXPECT_TRUE(mode->GetEntriesCount(count).IsOK());
    EXPECT_EQ(3, count);
    const TnGenEnumEntry *entry = nullptr;
    EXPECT_TRUE(mode->GetEntryByIndex(1, &entry).IsOK());
    ASSERT_NE(nullptr, entry);
    EXPECT_TRUE(entry->GetName(name).IsOK());
    EXPECT_STREQ("On", name.GetAscii());
    EXPECT_TRUE(entry->GetDisplayName(name).IsOK());
    EXPECT_STREQ("Switched on", name.GetAscii());
    TnGenNameSpace nameSpace = TnGenNameSpaceUndefined;
    EXPECT_TRUE(entry->GetNameSpace(nameSpace).IsOK());
    EXPECT_EQ(TnGenNameSpaceStandard, nameSpace);
    EXPECT_TRUE(mode->GetEntryByValue(9, &entry).IsOK());
    bool available = true;
    EXPECT_TRUE(entry->IsAvailable(available).IsOK());
    EXPECT_FALSE(available);
    EXPECT_CODE(TN_INVALID_PARAMETER, mode->GetEntryByIndex(3, &entry));
    EXPECT_EQ(nullptr, entry);
    EXPECT_CODE(TN_NOT_FOUND, mode->GetEntryByName("Nothing", &entry));
    EXPECT_CODE(TN_NOT_FOUND, mode->GetEntryByValue(4, &entry));
    EXPECT_CODE(TN_INVALID_PARAMETER, mode->GetEntryByName("On", nullptr));

    bool flag = false;
    EXPECT_TRUE(device->SetBooleanValue("Flag", true).IsOK());
    EXPECT_EQ(321u, device.PeekLittle(0x14));
    EXPECT_TRUE(device->GetBooleanValue("Flag", flag).IsOK());
    EXPECT_TRUE(flag);
    EXPECT_TRUE(device->GetBoolean("Flag")->FromString("false").IsOK());
    EXPECT_EQ(123u, device.PeekLittle(0x14));
    device.PokeLittle(0x14, 5);
    EXPECT_TRUE(device->InvalidateCache().IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, device->GetBooleanValue("Flag", flag));

    // A command is done once the device has cleared its register.
    TnGenCommand *go = device->GetCommand("Go");
    ASSERT_NE(nullptr, go);
    EXPECT_TRUE(go->Execute().IsOK());
    EXPECT_EQ(7u, device.PeekLittle(0x18));
    bool done = true;
    EXPECT_TRUE(go->IsDone(done).IsOK());
    EXPECT_FALSE(done);
    device.PokeLittle(0x18, 0);
    EXPECT_TRUE(go->IsDone(done).IsOK());
    EXPECT_TRUE(done);

    TnString label;
    EXPECT_TRUE(device->GetStringValue("Label", label).IsOK());
    EXPECT_STREQ("first", label.GetAscii());
    EXPECT_TRUE(device->SetStringValue("Label", "second").IsOK());
    EXPECT_TRUE(device->GetStringValue("Label", label).IsOK());
    EXPECT_STREQ("second", label.GetAscii());
}

TEST(Nodes, SelectorsIndexesAndStructures)
{
    Device device("<Enumeration Name=\"Selector\"><pValue>SelectorValue</pValue><pSelected>Gain</pSelected>"
                  "<pSelected>Offset</pSelected>"
                  "<EnumEntry Name=\"Red\"><Value>0</Value></EnumEntry><EnumEntry Name=\"Blue\"><Value>1</Value></EnumEntry>"
                  "</Enumeration>"
                  "<Integer Name=\"SelectorValue\"><Value>0</Value></Integer>"
                  "<Integer Name=\"Gain\"><pValue>GainReg</pValue></Integer>" +
                  IntReg("GainReg", 0x100, 4, "<pIndex Offset=\"0x10\">SelectorValue</pIndex><AccessMode>RW</AccessMode>") +
                  "<Integer Name=\"Offset\"><pIndex>SelectorValue</pIndex><ValueIndexed Index=\"0\">11</ValueIndexed>"
                  "<ValueIndexed Index=\"1\">22</ValueIndexed></Integer>"
                  "<StructReg Comment=\"Packed\"><Address>0x200</Address><Length>2</Length><AccessMode>RW</AccessMode>"
                  "<pPort>Device</pPort>"
                  "<StructEntry Name=\"Low\"><LSB>0</LSB><MSB>7</MSB></StructEntry>"
                  "<StructEntry Name=\"High\"><LSB>8</LSB><MSB>15</MSB><AccessMode>RO</AccessMode></StructEntry>"
                  "</StructReg>");
    ASSERT_TRUE(device);
    EXPECT_TRUE(device->SetIntegerValue("Gain", 3).IsOK());
    EXPECT_TRUE(device->SetEnumValue("Selector", "Blue").IsOK());
    EXPECT_TRUE(device->SetIntegerValue("Gain", 4).IsOK());
    EXPECT_EQ(3u, device.PeekLittle(0x100));
    EXPECT_EQ(4u, device.PeekLittle(0x110));
    EXPECT_EQ(22, device.Int("Offset"));
    EXPECT_TRUE(device->SetEnumValue("Selector", int64_t(0)).IsOK());
    EXPECT_EQ(3, device.Int("Gain"));
    EXPECT_EQ(11, device.Int("Offset"));

    bool selector = false;
    EXPECT_TRUE(device->Get("Selector")->IsSelector(selector).IsOK());
    EXPECT_TRUE(selector);
    TnGenParameterList list;
    EXPECT_TRUE(device->Get("Selector")->GetSelectedParameters(list).IsOK());
    ASSERT_EQ(2u, list.GetSize());
    EXPECT_EQ(device->Get("Gain"), list.GetItem(0));
    EXPECT_EQ(device->Get("Offset"), list.GetItem(1));
    EXPECT_TRUE(device->Get("Gain")->GetSelectingParameters(list).IsOK());
    ASSERT_EQ(1u, list.GetSize());
    EXPECT_EQ(device->Get("Selector"), list.GetItem(0));
    EXPECT_TRUE(device->Get("Gain")->GetSelectedParameters(list).IsOK());
    EXPECT_EQ(0u, list.GetSize());

    // Structure entries share the register; an entry's own elements win.
    EXPECT_TRUE(device->SetIntegerValue("Low", 0xAB).IsOK());
    device.PokeLittle(0x201, 0xCD, 1);
    EXPECT_TRUE(device->InvalidateCache().IsOK());
    EXPECT_EQ(0xCD, device.Int("High"));
    EXPECT_EQ(0xAB, device.Int("Low"));
    EXPECT_CODE(TN_GENERIC_ERROR, device->SetIntegerValue("High", 1));
}

TEST(Nodes, CategoriesAndFeatureOrder)
{
    Device device("<Category Name=\"Root\"><pFeature>Control</pFeature><pFeature>Width</pFeature></Category>"
                  "<Category Name=\"Control\"><DisplayName>Device control</DisplayName><pFeature>Mode</pFeature>"
                  "<pIsImplemented>Zero</pIsImplemented></Category>"
                  "<Integer Name=\"Width\"><Value>1</Value><Visibility>Expert</Visibility><Streamable>Yes</Streamable></Integer>"
                  "<Enumeration Name=\"Mode\"><Value>0</Value><EnumEntry Name=\"A\"><Value>0</Value></EnumEntry></Enumeration>"
                  "<Integer Name=\"Zero\"><Value>0</Value></Integer>"
                  "<Group Comment=\"grouped\"><Float Name=\"Inner\"><Value>1.5</Value></Float></Group>"
                  "<Register Name=\"Raw\"><Address>0</Address><Length>4</Length><AccessMode>RO</AccessMode>"
                  "<pPort>Device</pPort></Register>"
                  "<Boolean Name=\"Flag\"><Value>1</Value></Boolean>"
                  "<Command Name=\"Go\"><Value>0</Value><CommandValue>1</CommandValue></Command>"
                  "<String Name=\"Text\"><Value>x</Value></String>");
    ASSERT_TRUE(device);
    // Definition order, without categories and enumeration entries.
    const char *const order[] = {"Width", "Mode", "Zero", "Inner", "Raw", "Flag", "Go", "Text", "Device"};
    ASSERT_EQ(9u, device->GetCount());
    for (uint32_t i = 0; i < 9; ++i)
    {
        TnString name;
        EXPECT_TRUE(device->Get(i)->GetName(name).IsOK());
        EXPECT_STREQ(order[i], name.GetAscii());
    }
    EXPECT_EQ(nullptr, device->Get(9u));
    EXPECT_NE(nullptr, dynamic_cast<TnGenInteger *>(device->Get(0u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenEnum *>(device->Get(1u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenFloat *>(device->Get(3u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenRegister *>(device->Get(4u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenBoolean *>(device->Get(5u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenCommand *>(device->Get(6u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenString *>(device->Get(7u)));
    TnGenParameter *port = device->Get(8u);
    EXPECT_EQ(nullptr, dynamic_cast<TnGenInteger *>(port));
    TnGenType type = TnGenTypeInteger;
    EXPECT_TRUE(port->GetType(type).IsOK());
    EXPECT_EQ(TnGenTypeUndefined, type);
    EXPECT_EQ(nullptr, device->GetInteger("Inner"));
    EXPECT_EQ(nullptr, device->Get("Nothing"));

    ASSERT_EQ(2u, device->GetCategoryCount());
    TnGenCategory *control = device->GetCategory("Control");
    ASSERT_NE(nullptr, control);
    EXPECT_EQ(control, device->GetCategory(1u));
    EXPECT_EQ(nullptr, device->GetCategory(2u));
    TnString text;
    EXPECT_TRUE(control->GetDisplayName(text).IsOK());
    EXPECT_STREQ("Device control", text.GetAscii());
    bool implemented = true;
    EXPECT_TRUE(control->IsImplemented(implemented).IsOK());
    EXPECT_FALSE(implemented);
    EXPECT_TRUE(device->Get("Mode")->GetCategory(text).IsOK());
    EXPECT_STREQ("Control", text.GetAscii());
    EXPECT_TRUE(device->Get("Width")->GetCategory(text).IsOK());
    EXPECT_STREQ("Root", text.GetAscii());

    bool flag = false;
    TnGenVisibility visibility = TnGenVisibilityUndefined;
    TnGenParameter *width = device->Get("Width");
    EXPECT_TRUE(width->GetVisibility(visibility).IsOK());
    EXPECT_EQ(TnGenVisibilityExpert, visibility);
    EXPECT_TRUE(width->IsVisible(TnGenVisibilityBeginner, flag).IsOK());
    EXPECT_FALSE(flag);
    EXPECT_TRUE(width->IsVisible(TnGenVisibilityGuru, flag).IsOK());
    EXPECT_TRUE(flag);
    EXPECT_TRUE(width->IsPersistent(flag).IsOK());
    EXPECT_TRUE(flag);
}

TEST(Loading, FaultyDescriptionsAreRefusedWithReasons)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<RegisterDescription><Integer", "well-formed"},
        {"<Other xmlns=\"http://www.genicam.org/GenApi/Version_1_1\"/>", "root element"},
        {"<RegisterDescription xmlns=\"urn:elsewhere\"/>", "namespace"},
        {Description("<Integer Name=\"A\"><pValue>Missing</pValue></Integer>"), "Missing"},
        {Description("<Integer Name=\"A\"><Value>1</Value></Integer><Float Name=\"A\"><Value>1</Value></Float>"), "twice"},
        {Description("<Integer Name=\"A\"><Value>one</Value></Integer>"), "not an integer"},
        {Description("<Integer Name=\"A\"><Min>1</Min></Integer>"), "neither Value"},
        {Description(IntReg("R", 0, 9)), "Length"},
        {Description("<IntReg Name=\"R\"><Address>0</Address><Length>4</Length></IntReg>"), "pPort"},
        {Description("<Integer Name=\"A\"><pValue>C</pValue></Integer><Category Name=\"C\"/>"), "cannot serve"},
        {Description("<Integer Name=\"A\"><pValue>K</pValue></Integer><ConfRom Name=\"K\"/>"), "not supported"},
        {Description("<Port Name=\"Chunk\"><ChunkID>XYZ</ChunkID></Port>"), "ChunkID"},
        {Description("<Integer Name=\"A\" NameSpace=\"Mine\"><Value>1</Value></Integer>"), "NameSpace"},
    };
    for (const auto &testCase : cases)
    {
        const TnResult result = Create(testCase.first);
        EXPECT_EQ(TN_GENICAM_XML_ERROR, result.GetCode()) << testCase.first;
        EXPECT_NE(std::string(result.GetDescription().GetAscii()).find(testCase.second), std::string::npos)
            << result.GetDescription().GetAscii();
    }
    // External entities are never fetched or expanded.
    TnResult result;
    std::unique_ptr<TnGenParameterArray> array(CreateParameterArray(
        "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>"
        "<RegisterDescription xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">"
        "<String Name=\"S\"><Value>&e;</Value></String></RegisterDescription>",
        nullptr, result));
    if (array)
    {
        TnString value;
        EXPECT_TRUE(array->GetStringValue("S", value).IsOK());
        EXPECT_EQ(std::string(value.GetAscii()).find("root"), std::string::npos);
    }
}
