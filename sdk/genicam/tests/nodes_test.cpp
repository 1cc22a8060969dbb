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
    const char *lKind = aFloat ? "SwissKnife" : "IntSwissKnife";
    return std::string("<") + lKind + " Name=\"" + aName + "\">" +
           "<pVariable Name=\"A\">Seven</pVariable><pVariable Name=\"B\">MinusTwo</pVariable>"
           "<Constant Name=\"C\">0.5</Constant><Expression Name=\"D\">A*2</Expression>"
           "<Formula>" +
           aFormula + "</Formula></" + lKind + ">\n";
}

const char *const kVariables = "<Integer Name=\"Seven\"><Value>7</Value></Integer>"
                               "<Integer Name=\"MinusTwo\"><Value>-2</Value><Min>-10</Min><Max>10</Max></Integer>";

TnResult Create(const std::string &aXml)
{
    TnResult lResult;
    TnGenParameterArray *lArray = CreateParameterArray(aXml, std::make_shared<MemoryPort>(16), lResult);
    delete lArray;
    EXPECT_EQ(lArray == nullptr, !lResult.IsOK());
    return lResult;
}
} // namespace

TEST(Formula, IntegerOperatorsAndPrecedence)
{
    const std::vector<std::pair<std::string, int64_t>> lCases = {
        {"1 + 2 * 3", 7},
        {"(1 + 2) * 3", 9},
        {"7 / 2", 3},
        {"-7 / 2", -3},
        {"7 % 3", 1},
        {"2 ** 10", 1024},
        // GenICam tools group operators in four levels, each left associative:
        // || && comparisons, then + -, then * / %, then ** shifts & | ^; a
        // sign binds tighter still, and ?: is left associative too.
        {"2 ** 3 ** 2", 64},
        {"-2 ** 2", 4},
        {"1 | 2 + 3", 6},
        {"2 * 3 &lt;&lt; 1", 12},
        {"A = 3 || A = 7", 0},
        {"2 + 3 = 5 + 0", 1},
        {"B &lt; 0 ? 1 : 0 ? 5 : 6", 5},
        {"1 &lt;&lt; 64", 1},
        {"1 &lt;&lt; -1", INT64_MIN},
        {"-1 &gt;&gt; 70", -1},
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
    std::string lNodes = kVariables;
    for (size_t lIndex = 0; lIndex < lCases.size(); ++lIndex)
    {
        lNodes += Knife("F" + std::to_string(lIndex), lCases[lIndex].first);
    }
    Device lDevice(lNodes);
    ASSERT_TRUE(lDevice);
    for (size_t lIndex = 0; lIndex < lCases.size(); ++lIndex)
    {
        int64_t lValue = 0;
        const TnResult lResult = lDevice->GetIntegerValue(("F" + std::to_string(lIndex)).c_str(), lValue);
        EXPECT_TRUE(lResult.IsOK()) << lCases[lIndex].first << ": " << lResult.GetDescription().GetAscii();
        EXPECT_EQ(lCases[lIndex].second, lValue) << lCases[lIndex].first;
    }
}

TEST(Formula, FloatFunctions)
{
    const std::vector<std::pair<std::string, double>> lCases = {
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
        // Bit operations of float formulas take the integer part and work on
        // 32-bit signed integers, hexadecimal constants too.
        {"(65336 &lt;&lt; 16) &gt;&gt; 16", -200.0},
        {"(A / 2 + 0.25) &amp; 0xFFFF", 3.0},
        {"-2.7 | 0", -2.0},
        {"0xFFFFFFFF", -1.0},
        {"1 &lt;&lt; 31", -2147483648.0},
    };
    std::string lNodes = kVariables;
    for (size_t lIndex = 0; lIndex < lCases.size(); ++lIndex)
    {
        lNodes += Knife("F" + std::to_string(lIndex), lCases[lIndex].first, true);
    }
    Device lDevice(lNodes);
    ASSERT_TRUE(lDevice);
    for (size_t lIndex = 0; lIndex < lCases.size(); ++lIndex)
    {
        EXPECT_NEAR(lCases[lIndex].second, lDevice.Float(("F" + std::to_string(lIndex)).c_str()), 1e-9)
            << lCases[lIndex].first;
    }
    // Beyond 32 bits a float formula's bit operation fails, and so does a
    // division by a value closer to zero than the double's epsilon.
    Device lFailing(std::string(kVariables) + Knife("Wide", "2147483648 | 0", true) +
                    Knife("Tiny", "A / 1e-17", true) + Knife("Narrow", "A / 1e-15", true));
    ASSERT_TRUE(lFailing);
    double lValue = 0;
    EXPECT_EQ(TN_GENERIC_ERROR, lFailing->GetFloatValue("Wide", lValue).GetCode());
    EXPECT_EQ(TN_GENERIC_ERROR, lFailing->GetFloatValue("Tiny", lValue).GetCode());
    EXPECT_NEAR(7e15, lFailing.Float("Narrow"), 1e3);
}

TEST(Formula, BadFormulasFailOnlyTheirFeature)
{
    std::string lDeep = std::string(5000, '(') + "1" + std::string(5000, ')');
    std::string lChain = "1";
    for (int lIndex = 0; lIndex < 3000; ++lIndex)
    {
        lChain += "+1";
    }
    // Deep nesting is refused instead of exhausting the stack.
    for (const std::string &lFormula :
         {std::string("1 +"), std::string("(1"), std::string("1 2"), std::string("FOO + 1"), std::string("SQRT(1, 2)"),
          std::string("0x"), std::string("1 $ 2"), std::string("A.Nothing"), lDeep, lChain})
    {
        Device lDevice(std::string(kVariables) + Knife("F", lFormula));
        ASSERT_TRUE(lDevice) << lFormula;
        int64_t lValue = 0;
        const TnResult lResult = lDevice->GetIntegerValue("F", lValue);
        EXPECT_EQ(TN_GENICAM_XML_ERROR, lResult.GetCode()) << lFormula;
        EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find("IntSwissKnife 'F'"), std::string::npos);
        EXPECT_EQ(7, lDevice.Int("Seven"));
        EXPECT_EQ(1u, tn::genicam::GetWarnings(lDevice.mArray.get()).size());
    }

    Device lDevice(
        std::string(kVariables) + Knife("Zero", "A / (B + 2)") +
        "<IntSwissKnife Name=\"Self\"><pVariable Name=\"X\">Self</pVariable><Formula>X + 1</Formula></IntSwissKnife>");
    ASSERT_TRUE(lDevice);
    int64_t lValue = 0;
    TnResult lResult = lDevice->GetIntegerValue("Zero", lValue);
    EXPECT_EQ(TN_GENERIC_ERROR, lResult.GetCode());
    EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find("division by zero"), std::string::npos);
    EXPECT_EQ(TN_GENERIC_ERROR, lDevice->GetIntegerValue("Self", lValue).GetCode());

    // Formulas that reuse each other twice per level would take 2^60 steps.
    std::string lDiamond = "<Integer Name=\"K0\"><Value>1</Value></Integer>";
    for (int lIndex = 1; lIndex <= 60; ++lIndex)
    {
        const std::string lPrevious = "K" + std::to_string(lIndex - 1);
        lDiamond += "<IntSwissKnife Name=\"K" + std::to_string(lIndex) + "\"><pVariable Name=\"X\">" + lPrevious +
                    "</pVariable><pVariable Name=\"Y\">" + lPrevious +
                    "</pVariable><Formula>X + Y</Formula></IntSwissKnife>";
    }
    Device lWide(lDiamond);
    ASSERT_TRUE(lWide);
    EXPECT_EQ(1024, lWide.Int("K10"));
    lResult = lWide->GetIntegerValue("K60", lValue);
    EXPECT_EQ(TN_GENERIC_ERROR, lResult.GetCode());
    EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find("too many steps"), std::string::npos);
}

TEST(Registers, IntegerEncodings)
{
    Device lDevice(
        IntReg("BigSigned", 0x10, 3, "<AccessMode>RW</AccessMode><Sign>Signed</Sign><Endianess>BigEndian</Endianess>") +
        IntReg("Little", 0x20, 2) + IntReg("Wide", 0x30, 8, "<AccessMode>RW</AccessMode><Sign>Signed</Sign>") +
        "<MaskedIntReg Name=\"LittleField\"><Address>0x40</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort><LSB>4</LSB><MSB>11</MSB></MaskedIntReg>"
        "<MaskedIntReg Name=\"BigField\"><Address>0x50</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort><LSB>31</LSB><MSB>28</MSB><Sign>Signed</Sign><Endianess>BigEndian</Endianess></MaskedIntReg>"
        "<MaskedIntReg Name=\"BigBit\"><Address>0x50</Address><Length>4</Length><AccessMode>RW</AccessMode>"
        "<pPort>Device</pPort><Bit>0</Bit><Endianess>BigEndian</Endianess></MaskedIntReg>");
    ASSERT_TRUE(lDevice);

    lDevice.PokeBig(0x10, 0xFFFFFE, 3);
    EXPECT_EQ(-2, lDevice.Int("BigSigned"));
    EXPECT_TRUE(lDevice->SetIntegerValue("BigSigned", -8388608).IsOK());
    EXPECT_EQ(0x800000u, lDevice.PeekBig(0x10, 3));
    int64_t lMinimum = 0, lMaximum = 0;
    EXPECT_TRUE(lDevice->GetIntegerRange("BigSigned", lMinimum, lMaximum).IsOK());
    EXPECT_EQ(-8388608, lMinimum);
    EXPECT_EQ(8388607, lMaximum);

    lDevice.PokeLittle(0x20, 0xBEEF, 2);
    EXPECT_EQ(0xBEEF, lDevice.Int("Little"));
    EXPECT_TRUE(lDevice->GetIntegerRange("Little", lMinimum, lMaximum).IsOK());
    EXPECT_EQ(0, lMinimum);
    EXPECT_EQ(65535, lMaximum);

    EXPECT_TRUE(lDevice->SetIntegerValue("Wide", INT64_MIN).IsOK());
    EXPECT_EQ(0x8000000000000000ull, lDevice.PeekLittle(0x30, 8));
    EXPECT_EQ(INT64_MIN, lDevice.Int("Wide"));

    // A field keeps the bits around it.
    lDevice.PokeLittle(0x40, 0xFFFFFFFF);
    EXPECT_EQ(0xFF, lDevice.Int("LittleField"));
    EXPECT_TRUE(lDevice->SetIntegerValue("LittleField", 0x5A).IsOK());
    EXPECT_EQ(0xFFFFF5AFu, lDevice.PeekLittle(0x40));
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetIntegerValue("LittleField", 256));

    // Big-endian registers number bits from the most significant one.
    EXPECT_TRUE(lDevice->SetIntegerValue("BigField", -1).IsOK());
    EXPECT_EQ(0x0000000Fu, lDevice.PeekBig(0x50));
    EXPECT_TRUE(lDevice->GetIntegerRange("BigField", lMinimum, lMaximum).IsOK());
    EXPECT_EQ(-8, lMinimum);
    EXPECT_EQ(7, lMaximum);
    EXPECT_TRUE(lDevice->SetIntegerValue("BigBit", 1).IsOK());
    EXPECT_EQ(0x8000000Fu, lDevice.PeekBig(0x50));
    EXPECT_EQ(-1, lDevice.Int("BigField"));
}

TEST(Registers, FloatStringAndRawRegisters)
{
    Device lDevice("<FloatReg Name=\"Single\"><Address>0x10</Address><Length>4</Length><AccessMode>RW</AccessMode>"
                   "<pPort>Device</pPort><Endianess>BigEndian</Endianess><Unit>dB</Unit></FloatReg>"
                   "<FloatReg Name=\"Double\"><Address>0x18</Address><Length>8</Length><AccessMode>RW</AccessMode>"
                   "<pPort>Device</pPort></FloatReg>"
                   "<StringReg Name=\"Text\"><Address>0x40</Address><Length>8</Length><AccessMode>RW</AccessMode>"
                   "<pPort>Device</pPort></StringReg>"
                   "<Register Name=\"Raw\"><Address>0x80</Address><Length>6</Length><AccessMode>RW</AccessMode>"
                   "<pPort>Device</pPort></Register>");
    ASSERT_TRUE(lDevice);
    EXPECT_TRUE(lDevice->SetFloatValue("Single", 1.5).IsOK());
    EXPECT_EQ(0x3FC00000u, lDevice.PeekBig(0x10));
    EXPECT_EQ(1.5, lDevice.Float("Single"));
    TnString lUnit;
    EXPECT_TRUE(lDevice->GetFloat("Single")->GetUnit(lUnit).IsOK());
    EXPECT_STREQ("dB", lUnit.GetAscii());
    EXPECT_TRUE(lDevice->SetFloatValue("Double", -0.1).IsOK());
    EXPECT_EQ(-0.1, lDevice.Float("Double"));

    TnString lText;
    EXPECT_TRUE(lDevice->SetStringValue("Text", "abc").IsOK());
    EXPECT_TRUE(lDevice->GetStringValue("Text", lText).IsOK());
    EXPECT_STREQ("abc", lText.GetAscii());
    EXPECT_EQ(0u, lDevice.PeekBig(0x44));
    EXPECT_TRUE(lDevice->SetStringValue("Text", "12345678").IsOK());
    EXPECT_TRUE(lDevice->GetStringValue("Text", lText).IsOK());
    EXPECT_STREQ("12345678", lText.GetAscii());
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetStringValue("Text", "123456789"));
    int64_t lLength = 0;
    EXPECT_TRUE(lDevice->GetString("Text")->GetMaxLength(lLength).IsOK());
    EXPECT_EQ(8, lLength);

    TnGenRegister *lRaw = lDevice->GetRegister("Raw");
    ASSERT_NE(nullptr, lRaw);
    const uint8_t lBytes[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_TRUE(lRaw->Set(lBytes, 6).IsOK());
    TnString lHex;
    EXPECT_TRUE(lRaw->ToString(lHex).IsOK());
    EXPECT_STREQ("010203040506", lHex.GetAscii());
    EXPECT_TRUE(lRaw->FromString("A0B1").IsOK());
    uint8_t lRead[6] = {0};
    EXPECT_TRUE(lRaw->Get(lRead, 6).IsOK());
    const uint8_t lExpected[6] = {0xA0, 0xB1, 3, 4, 5, 6};
    EXPECT_EQ(0, memcmp(lExpected, lRead, 6));
}

TEST(Nodes, IntegerFloatAndConverters)
{
    Device lDevice(
        IntReg("RawReg", 0x10) + IntReg("LimitReg", 0x14) +
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
    ASSERT_TRUE(lDevice);
    lDevice.PokeLittle(0x14, 100);
    int64_t lMinimum = 0, lMaximum = 0, lIncrement = 0;
    TnGenInteger *lValue = lDevice->GetInteger("Value");
    ASSERT_NE(nullptr, lValue);
    EXPECT_TRUE(lDevice->GetIntegerRange("Value", lMinimum, lMaximum).IsOK());
    EXPECT_EQ(10, lMinimum);
    EXPECT_EQ(100, lMaximum);
    EXPECT_TRUE(lValue->GetIncrement(lIncrement).IsOK());
    EXPECT_EQ(5, lIncrement);
    EXPECT_TRUE(lValue->SetValue(35).IsOK());
    EXPECT_EQ(35u, lDevice.PeekLittle(0x10));
    TnString lText;
    EXPECT_TRUE(lValue->ToString(lText).IsOK());
    EXPECT_STREQ("0x23", lText.GetAscii());
    EXPECT_TRUE(lValue->FromString("0x28").IsOK());
    EXPECT_EQ(40, lDevice.Int("Value"));
    TnGenRepresentation lRepresentation = TnGenRepresentationUndefined;
    EXPECT_TRUE(lValue->GetRepresentation(lRepresentation).IsOK());
    EXPECT_EQ(TnGenRepresentationHexNumber, lRepresentation);

    // Through a converter with a variable: the register holds 4 times the value.
    EXPECT_TRUE(lDevice->SetFloatValue("Exposure", 12.5).IsOK());
    EXPECT_EQ(50u, lDevice.PeekLittle(0x10));
    EXPECT_DOUBLE_EQ(12.5, lDevice.Float("Exposure"));
    EXPECT_TRUE(lDevice->SetIntegerValue("Scale", 2).IsOK());
    EXPECT_DOUBLE_EQ(25.0, lDevice.Float("Exposure"));

    // A decreasing converter swaps the limits of what it converts.
    double lLow = 0, lHigh = 0;
    EXPECT_TRUE(lDevice->GetFloatRange("Rate", lLow, lHigh).IsOK());
    EXPECT_DOUBLE_EQ(2.0, lLow);
    EXPECT_DOUBLE_EQ(100.0, lHigh);
    EXPECT_TRUE(lDevice->SetFloatValue("Rate", 4).IsOK());
    EXPECT_EQ(250, lDevice.Int("Period"));
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetFloatValue("Rate", 1));
    EXPECT_EQ(250, lDevice.Int("Period"));

    EXPECT_EQ(125, lDevice.Int("Half"));
    EXPECT_TRUE(lDevice->SetIntegerValue("Half", 30).IsOK());
    EXPECT_EQ(60, lDevice.Int("Period"));
    EXPECT_TRUE(lDevice->GetIntegerRange("Half", lMinimum, lMaximum).IsOK());
    EXPECT_EQ(5, lMinimum);
    EXPECT_EQ(250, lMaximum);
}

TEST(Nodes, EnumerationBooleanCommandAndString)
{
    Device lDevice(
        IntReg("ModeReg", 0x10) + IntReg("FlagReg", 0x14) + IntReg("GoReg", 0x18) +
        "<Integer Name=\"Allow\"><Value>1</Value></Integer>"
        "<Enumeration Name=\"Mode\"><pValue>ModeReg</pValue>"
        "<EnumEntry Name=\"Off\"><Value>0</Value></EnumEntry>"
        "<EnumEntry Name=\"On\" NameSpace=\"Standard\"><Value>5</Value><DisplayName>Switched on</DisplayName></EnumEntry>"
        "<EnumEntry Name=\"Special\"><Value>9</Value><pIsAvailable>Allow</pIsAvailable></EnumEntry>"
        "</Enumeration>"
        "<Boolean Name=\"Flag\"><pValue>FlagReg</pValue><OnValue>321</OnValue><OffValue>123</OffValue></Boolean>"
        "<Command Name=\"Go\"><pValue>GoReg</pValue><CommandValue>7</CommandValue></Command>"
        "<String Name=\"Label\"><Value>first</Value></String>");
    ASSERT_TRUE(lDevice);
    TnGenEnum *lMode = lDevice->GetEnum("Mode");
    ASSERT_NE(nullptr, lMode);
    EXPECT_TRUE(lDevice->SetEnumValue("Mode", "On").IsOK());
    EXPECT_EQ(5u, lDevice.PeekLittle(0x10));
    int64_t lNumber = 0;
    TnString lName;
    EXPECT_TRUE(lMode->GetValue(lNumber).IsOK());
    EXPECT_EQ(5, lNumber);
    EXPECT_TRUE(lMode->GetValue(lName).IsOK());
    EXPECT_STREQ("On", lName.GetAscii());
    EXPECT_TRUE(lMode->SetValue(int64_t(9)).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, lMode->SetValue(int64_t(4)));
    EXPECT_CODE(TN_GENERIC_ERROR, lMode->SetValue(TnString("Nothing")));
    EXPECT_TRUE(lDevice->SetIntegerValue("Allow", 0).IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, lMode->SetValue(TnString("Special")));
    lDevice.PokeLittle(0x10, 3);
    EXPECT_TRUE(lDevice->InvalidateCache().IsOK());
    EXPECT_CODE(TN_GENERIC_ERROR, lMode->GetValue(lName));

    int64_t lCount = 0;
    EXPECT_TRUE(lMode->GetEntriesCount(lCount).IsOK());
    EXPECT_EQ(3, lCount);
    const TnGenEnumEntry *lEntry = nullptr;
    EXPECT_TRUE(lMode->GetEntryByIndex(1, &lEntry).IsOK());
    ASSERT_NE(nullptr, lEntry);
    EXPECT_TRUE(lEntry->GetName(lName).IsOK());
    EXPECT_STREQ("On", lName.GetAscii());
    EXPECT_TRUE(lEntry->GetDisplayName(lName).IsOK());
    EXPECT_STREQ("Switched on", lName.GetAscii());
    TnGenNameSpace lNameSpace = TnGenNameSpaceUndefined;
    EXPECT_TRUE(lEntry->GetNameSpace(lNameSpace).IsOK());
    EXPECT_EQ(TnGenNameSpaceStandard, lNameSpace);
    EXPECT_TRUE(lMode->GetEntryByValue(9, &lEntry).IsOK());
    bool lAvailable = true;
    EXPECT_TRUE(lEntry->IsAvailable(lAvailable).IsOK());
    EXPECT_FALSE(lAvailable);
    EXPECT_CODE(TN_INVALID_PARAMETER, lMode->GetEntryByIndex(3, &lEntry));
    EXPECT_EQ(nullptr, lEntry);
    EXPECT_CODE(TN_NOT_FOUND, lMode->GetEntryByName("Nothing", &lEntry));
    EXPECT_CODE(TN_NOT_FOUND, lMode->GetEntryByValue(4, &lEntry));
    EXPECT_CODE(TN_INVALID_PARAMETER, lMode->GetEntryByName("On", nullptr));

    bool lFlag = false;
    EXPECT_TRUE(lDevice->SetBooleanValue("Flag", true).IsOK());
    EXPECT_EQ(321u, lDevice.PeekLittle(0x14));
    EXPECT_TRUE(lDevice->GetBooleanValue("Flag", lFlag).IsOK());
    EXPECT_TRUE(lFlag);
    EXPECT_TRUE(lDevice->GetBoolean("Flag")->FromString("false").IsOK());
    EXPECT_EQ(123u, lDevice.PeekLittle(0x14));
    // Neither the OnValue nor the OffValue: a failure naming the value.
    lDevice.PokeLittle(0x14, 5);
    EXPECT_TRUE(lDevice->InvalidateCache().IsOK());
    const TnResult lNeither = lDevice->GetBooleanValue("Flag", lFlag);
    EXPECT_EQ(TN_GENERIC_ERROR, lNeither.GetCode());
    EXPECT_NE(std::string(lNeither.GetDescription().GetAscii()).find("the value 5"), std::string::npos);

    // A command not executed is done; once executed, it is done when the
    // device has changed its register from the command value.
    TnGenCommand *lGo = lDevice->GetCommand("Go");
    ASSERT_NE(nullptr, lGo);
    lDevice.PokeLittle(0x18, 7);
    bool lIdle = false;
    EXPECT_TRUE(lGo->IsDone(lIdle).IsOK());
    EXPECT_TRUE(lIdle);
    EXPECT_TRUE(lGo->Execute().IsOK());
    EXPECT_EQ(7u, lDevice.PeekLittle(0x18));
    bool lDone = true;
    EXPECT_TRUE(lGo->IsDone(lDone).IsOK());
    EXPECT_FALSE(lDone);
    lDevice.PokeLittle(0x18, 0);
    EXPECT_TRUE(lGo->IsDone(lDone).IsOK());
    EXPECT_TRUE(lDone);

    TnString lLabel;
    EXPECT_TRUE(lDevice->GetStringValue("Label", lLabel).IsOK());
    EXPECT_STREQ("first", lLabel.GetAscii());
    EXPECT_TRUE(lDevice->SetStringValue("Label", "second").IsOK());
    EXPECT_TRUE(lDevice->GetStringValue("Label", lLabel).IsOK());
    EXPECT_STREQ("second", lLabel.GetAscii());
}

TEST(Nodes, SelectorsIndexesAndStructures)
{
    Device lDevice(
        "<Enumeration Name=\"Selector\"><pValue>SelectorValue</pValue><pSelected>Gain</pSelected>"
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
    ASSERT_TRUE(lDevice);
    EXPECT_TRUE(lDevice->SetIntegerValue("Gain", 3).IsOK());
    EXPECT_TRUE(lDevice->SetEnumValue("Selector", "Blue").IsOK());
    EXPECT_TRUE(lDevice->SetIntegerValue("Gain", 4).IsOK());
    EXPECT_EQ(3u, lDevice.PeekLittle(0x100));
    EXPECT_EQ(4u, lDevice.PeekLittle(0x110));
    EXPECT_EQ(22, lDevice.Int("Offset"));
    EXPECT_TRUE(lDevice->SetEnumValue("Selector", int64_t(0)).IsOK());
    EXPECT_EQ(3, lDevice.Int("Gain"));
    EXPECT_EQ(11, lDevice.Int("Offset"));

    bool lSelector = false;
    EXPECT_TRUE(lDevice->Get("Selector")->IsSelector(lSelector).IsOK());
    EXPECT_TRUE(lSelector);
    TnGenParameterList lList;
    EXPECT_TRUE(lDevice->Get("Selector")->GetSelectedParameters(lList).IsOK());
    ASSERT_EQ(2u, lList.GetSize());
    EXPECT_EQ(lDevice->Get("Gain"), lList.GetItem(0));
    EXPECT_EQ(lDevice->Get("Offset"), lList.GetItem(1));
    EXPECT_TRUE(lDevice->Get("Gain")->GetSelectingParameters(lList).IsOK());
    ASSERT_EQ(1u, lList.GetSize());
    EXPECT_EQ(lDevice->Get("Selector"), lList.GetItem(0));
    EXPECT_TRUE(lDevice->Get("Gain")->GetSelectedParameters(lList).IsOK());
    EXPECT_EQ(0u, lList.GetSize());

    // Structure entries share the register; an entry's own elements win.
    EXPECT_TRUE(lDevice->SetIntegerValue("Low", 0xAB).IsOK());
    lDevice.PokeLittle(0x201, 0xCD, 1);
    EXPECT_TRUE(lDevice->InvalidateCache().IsOK());
    EXPECT_EQ(0xCD, lDevice.Int("High"));
    EXPECT_EQ(0xAB, lDevice.Int("Low"));
    EXPECT_CODE(TN_GENERIC_ERROR, lDevice->SetIntegerValue("High", 1));
}

TEST(Nodes, CategoriesAndFeatureOrder)
{
    Device lDevice(
        "<Category Name=\"Root\"><pFeature>Control</pFeature><pFeature>Width</pFeature></Category>"
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
    ASSERT_TRUE(lDevice);
    // Definition order, without categories and enumeration entries.
    const char *const lOrder[] = {"Width", "Mode", "Zero", "Inner", "Raw", "Flag", "Go", "Text", "Device"};
    ASSERT_EQ(9u, lDevice->GetCount());
    for (uint32_t lIndex = 0; lIndex < 9; ++lIndex)
    {
        TnString lName;
        EXPECT_TRUE(lDevice->Get(lIndex)->GetName(lName).IsOK());
        EXPECT_STREQ(lOrder[lIndex], lName.GetAscii());
    }
    EXPECT_EQ(nullptr, lDevice->Get(9u));
    EXPECT_NE(nullptr, dynamic_cast<TnGenInteger *>(lDevice->Get(0u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenEnum *>(lDevice->Get(1u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenFloat *>(lDevice->Get(3u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenRegister *>(lDevice->Get(4u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenBoolean *>(lDevice->Get(5u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenCommand *>(lDevice->Get(6u)));
    EXPECT_NE(nullptr, dynamic_cast<TnGenString *>(lDevice->Get(7u)));
    TnGenParameter *lPort = lDevice->Get(8u);
    EXPECT_EQ(nullptr, dynamic_cast<TnGenInteger *>(lPort));
    TnGenType lType = TnGenTypeInteger;
    EXPECT_TRUE(lPort->GetType(lType).IsOK());
    EXPECT_EQ(TnGenTypeUndefined, lType);
    EXPECT_EQ(nullptr, lDevice->GetInteger("Inner"));
    EXPECT_EQ(nullptr, lDevice->Get("Nothing"));

    ASSERT_EQ(2u, lDevice->GetCategoryCount());
    TnGenCategory *lControl = lDevice->GetCategory("Control");
    ASSERT_NE(nullptr, lControl);
    EXPECT_EQ(lControl, lDevice->GetCategory(1u));
    EXPECT_EQ(nullptr, lDevice->GetCategory(2u));
    TnString lText;
    EXPECT_TRUE(lControl->GetDisplayName(lText).IsOK());
    EXPECT_STREQ("Device control", lText.GetAscii());
    bool lImplemented = true;
    EXPECT_TRUE(lControl->IsImplemented(lImplemented).IsOK());
    EXPECT_FALSE(lImplemented);
    EXPECT_TRUE(lDevice->Get("Mode")->GetCategory(lText).IsOK());
    EXPECT_STREQ("Control", lText.GetAscii());
    EXPECT_TRUE(lDevice->Get("Width")->GetCategory(lText).IsOK());
    EXPECT_STREQ("Root", lText.GetAscii());

    bool lFlag = false;
    TnGenVisibility lVisibility = TnGenVisibilityUndefined;
    TnGenParameter *lWidth = lDevice->Get("Width");
    EXPECT_TRUE(lWidth->GetVisibility(lVisibility).IsOK());
    EXPECT_EQ(TnGenVisibilityExpert, lVisibility);
    EXPECT_TRUE(lWidth->IsVisible(TnGenVisibilityBeginner, lFlag).IsOK());
    EXPECT_FALSE(lFlag);
    EXPECT_TRUE(lWidth->IsVisible(TnGenVisibilityGuru, lFlag).IsOK());
    EXPECT_TRUE(lFlag);
    EXPECT_TRUE(lWidth->IsPersistent(lFlag).IsOK());
    EXPECT_TRUE(lFlag);
}

TEST(Loading, OnlyMalformedXmlIsRefused)
{
    const std::vector<std::pair<std::string, std::string>> lCases = {
        {"<RegisterDescription><Integer", "well-formed"},
        {"<Other xmlns=\"http://www.genicam.org/GenApi/Version_1_1\"/>", "root element"},
        {"<RegisterDescription xmlns=\"urn:elsewhere\"/>", "namespace"},
    };
    for (const auto &lTestCase : lCases)
    {
        const TnResult lResult = Create(lTestCase.first);
        EXPECT_EQ(TN_GENICAM_XML_ERROR, lResult.GetCode()) << lTestCase.first;
        EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find(lTestCase.second), std::string::npos)
            << lResult.GetDescription().GetAscii();
    }
    // External entities are never fetched or expanded.
    TnResult lResult;
    std::unique_ptr<TnGenParameterArray> lArray(
        CreateParameterArray("<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>"
                             "<RegisterDescription xmlns=\"http://www.genicam.org/GenApi/Version_1_1\">"
                             "<String Name=\"S\"><Value>&e;</Value></String></RegisterDescription>",
                             nullptr, lResult));
    if (lArray)
    {
        TnString lValue;
        EXPECT_TRUE(lArray->GetStringValue("S", lValue).IsOK());
        EXPECT_EQ(std::string(lValue.GetAscii()).find("root"), std::string::npos);
    }
}
