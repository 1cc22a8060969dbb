// Descriptions as real cameras write them: malformed optional elements,
// references to undefined names and faulty nodes load with warnings and fail
// only what depends on them; formula inputs that are not implemented still
// evaluate; the one rounding and division rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GenICamTestUtil.h"
#include "TnLog.h"
#include "TnLogDispatch.h"

using tn::genicam::GetWarnings;
using tn::genicam::test::Description;
using tn::genicam::test::Device;
using tn::genicam::test::IntReg;

namespace
{
// The first warning that contains aText, or an empty text.
std::string FindWarning(Device &aDevice, const std::string &aText)
{
    for (const std::string &lWarning : GetWarnings(aDevice.mArray.get()))
    {
        if (lWarning.find(aText) != std::string::npos)
        {
            return lWarning;
        }
    }
    return std::string();
}

// The result of reading an integer feature.
TnResult ReadInt(Device &aDevice, const char *aName)
{
    int64_t lValue = 0;
    return aDevice->GetIntegerValue(aName, lValue);
}

const char *const kGood = "<Integer Name=\"Good\"><Value>5</Value></Integer>";
} // namespace

TEST(Tolerance, FaultsFailOnlyTheFeaturesThatDependOnThem)
{
    struct Case
    {
        std::string mNodes;
        const char *mFeature; // fails with TN_GENICAM_XML_ERROR
        const char *mReason;  // in its failure and in a warning
    };
    const std::vector<Case> lCases = {
        {"<Integer Name=\"A\"><pValue>Missing</pValue></Integer>", "A", "'Missing'"},
        {"<Integer Name=\"A\"><Value>one</Value></Integer>", "A", "not an integer"},
        {"<Integer Name=\"A\"><Min>1</Min></Integer>", "A", "neither Value"},
        {IntReg("A", 0, 9), "A", "Length"},
        {"<Integer Name=\"A\"><pValue>C</pValue></Integer><Category Name=\"C\"/>", "A", "cannot serve"},
        {"<Port Name=\"Chunk\"><ChunkID>XYZ</ChunkID></Port><IntReg Name=\"A\"><Address>0</Address><Length>4</Length>"
         "<pPort>Chunk</pPort></IntReg>",
         "A", "ChunkID"},
        {"<IntReg Name=\"A\"><Address>0</Address><Length>4</Length><pPort>Nowhere</pPort></IntReg>", "A", "'Nowhere'"},
        {"<Integer Name=\"A\"><pValue>B</pValue></Integer><Integer Name=\"B\"><pValue>Missing</pValue></Integer>", "A",
         "'Missing'"},
    };
    for (const Case &lCase : lCases)
    {
        SCOPED_TRACE(lCase.mNodes);
        Device lDevice(lCase.mNodes + kGood);
        ASSERT_TRUE(lDevice);
        EXPECT_EQ(5, lDevice.Int("Good"));
        const TnResult lResult = ReadInt(lDevice, lCase.mFeature);
        EXPECT_EQ(TN_GENICAM_XML_ERROR, lResult.GetCode());
        EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find(lCase.mReason), std::string::npos)
            << lResult.GetDescription().GetAscii();
        EXPECT_NE("", FindWarning(lDevice, lCase.mReason));
    }

    // A missing limit fails the limit only; a missing predicate the access.
    Device lDevice(
        std::string("<Integer Name=\"A\"><Value>3</Value><pMax>NoMax</pMax></Integer>"
                    "<Integer Name=\"B\"><Value>4</Value><pIsImplemented>NoFlag</pIsImplemented></Integer>") +
        kGood);
    ASSERT_TRUE(lDevice);
    EXPECT_EQ(3, lDevice.Int("A"));
    int64_t lValue = 0;
    EXPECT_CODE(TN_GENICAM_XML_ERROR, lDevice->GetInteger("A")->GetMax(lValue));
    bool lImplemented = true;
    EXPECT_CODE(TN_GENICAM_XML_ERROR, lDevice->Get("B")->IsImplemented(lImplemented));
}

TEST(Tolerance, MalformedOptionalElementsTakeTheirDefaults)
{
    Device lDevice(
        "<Boolean Name=\"Flag\"><Streamable></Streamable><Visibility>Hidden</Visibility><pValue>FlagReg</pValue></Boolean>" +
        IntReg("FlagReg", 0x10, 4, "<AccessMode>R</AccessMode><Cachable>Sometimes</Cachable><Sign>Maybe</Sign>") +
        "<Integer Name=\"Mine\" NameSpace=\"Mine\"><Value>1</Value><Representation>Bogus</Representation>"
        "<Min>low</Min><pInvalidator>Nothing</pInvalidator><pSelected>NothingEither</pSelected></Integer>"
        "<Category Name=\"Root\"><pFeature>Flag</pFeature><pFeature>Undefined</pFeature></Category>"
        "<Enumeration Name=\"Mode\"><Value>1</Value><EnumEntry Name=\"Bad\"><Value>x</Value></EnumEntry>"
        "<EnumEntry Name=\"Good\"><Value>1</Value></EnumEntry><EnumEntry><Value>2</Value></EnumEntry></Enumeration>"
        "<Integer><Value>1</Value></Integer><Integer Name=\"Mine\"><Value>2</Value></Integer>");
    ASSERT_TRUE(lDevice);
    for (const char *lWarning :
         {"Streamable", "Visibility", "AccessMode 'R'", "Cachable", "Sign", "NameSpace", "Representation",
          "'Undefined'", "'Nothing'", "'NothingEither'", "entry 'Bad'", "without a Name", "defined again"})
    {
        EXPECT_NE("", FindWarning(lDevice, lWarning)) << lWarning;
    }
    // AccessMode defaults to RO; the other defaults leave the values alone.
    bool lFlag = true;
    EXPECT_TRUE(lDevice->GetBooleanValue("Flag", lFlag).IsOK());
    EXPECT_FALSE(lFlag);
    bool lWritable = true;
    EXPECT_TRUE(lDevice->Get("Flag")->IsWritable(lWritable).IsOK());
    EXPECT_FALSE(lWritable);
    TnString lCategory;
    EXPECT_TRUE(lDevice->Get("Flag")->GetCategory(lCategory).IsOK());
    EXPECT_STREQ("Root", lCategory.GetAscii());
    EXPECT_EQ(1, lDevice.Int("Mine"));
    int64_t lMinimum = 0;
    EXPECT_TRUE(lDevice->GetInteger("Mine")->GetMin(lMinimum).IsOK());
    EXPECT_EQ(INT64_MIN, lMinimum);
    int64_t lCount = 0;
    EXPECT_TRUE(lDevice->GetEnum("Mode")->GetEntriesCount(lCount).IsOK());
    EXPECT_EQ(1, lCount);
    TnString lEntry;
    EXPECT_TRUE(lDevice->GetEnumValue("Mode", lEntry).IsOK());
    EXPECT_STREQ("Good", lEntry.GetAscii());
}

TEST(Tolerance, WarningsAreLogged)
{
    struct Sink : TnLogSink
    {
        void Log(TnLogLevelEnum aLevel, const char *, uint32_t, const char *, const char *aLogger,
                 const char *aMessage) override
        {
            if (aLevel == TnLogLevelWarning && std::string(aLogger) == "TnGenICam")
            {
                mLines.push_back(aMessage);
            }
        }
        std::vector<std::string> mLines;
    } lSink;
    tn::AddLogSink(&lSink);
    Device lDevice("<Integer Name=\"A\"><Value>1</Value><Visibility>Hidden</Visibility></Integer>");
    tn::RemoveLogSink(&lSink);
    ASSERT_TRUE(lDevice);
    ASSERT_EQ(1u, lSink.mLines.size());
    EXPECT_EQ(GetWarnings(lDevice.mArray.get()).front(), lSink.mLines.front());
    EXPECT_NE(lSink.mLines.front().find("Integer 'A': unknown Visibility 'Hidden'"), std::string::npos);
}

TEST(Tolerance, RegistersWithoutPortUseTheDevicePort)
{
    // Neither a pPort nor a Device port: the engine supplies the port.
    Device lDevice("<IntReg Name=\"R\"><Address>0x20</Address><Length>4</Length><AccessMode>RW</AccessMode></IntReg>",
                   0x100, false);
    ASSERT_TRUE(lDevice);
    lDevice.PokeLittle(0x20, 77);
    EXPECT_EQ(77, lDevice.Int("R"));
    EXPECT_NE("", FindWarning(lDevice, "no pPort"));
    EXPECT_NE("", FindWarning(lDevice, "'Device' without defining it"));
}

TEST(Tolerance, WhatANodeReadsDecidesWhetherItIsImplementedAndAvailable)
{
    // As GenICam tools derive it: a node is not implemented when anything it
    // reads (a formula's variable, a predicate, an index, ...) is not, and
    // not available when anything it reads is not; a predicate that cannot
    // be read leaves the node not available. Not implemented comes first.
    Device lDevice("<Integer Name=\"Zero\"><Value>0</Value></Integer>"
                   "<Integer Name=\"Hidden\"><pIsImplemented>Zero</pIsImplemented><Value>6</Value></Integer>"
                   "<Integer Name=\"Away\"><pIsAvailable>Zero</pIsAvailable><Value>1</Value></Integer>"
                   "<IntSwissKnife Name=\"Sum\"><pVariable Name=\"H\">Hidden</pVariable>"
                   "<pVariable Name=\"A\">Away</pVariable><Formula>H + A</Formula></IntSwissKnife>"
                   "<IntSwissKnife Name=\"Twice\"><pVariable Name=\"A\">Away</pVariable><Formula>2</Formula></IntSwissKnife>"
                   "<Integer Name=\"Shown\"><pIsImplemented>Twice</pIsImplemented><pIsAvailable>Zero</pIsAvailable>"
                   "<Value>2</Value></Integer>"
                   "<Integer Name=\"Written\"><pIsAvailable>Blind</pIsAvailable><Value>2</Value></Integer>" +
                   IntReg("Blind", 0x10, 4, "<AccessMode>WO</AccessMode>") +
                   "<IntReg Name=\"Indexed\"><Address>0x20</Address><pIndex Offset=\"4\">Hidden</pIndex>"
                   "<Length>4</Length><AccessMode>RW</AccessMode><pPort>Device</pPort></IntReg>");
    ASSERT_TRUE(lDevice);
    const auto lAccess = [&](const char *aName) {
        bool lImplemented = true;
        bool lAvailable = true;
        EXPECT_TRUE(lDevice->Get(aName)->IsImplemented(lImplemented).IsOK()) << aName;
        EXPECT_TRUE(lDevice->Get(aName)->IsAvailable(lAvailable).IsOK()) << aName;
        return std::make_pair(lImplemented, lAvailable);
    };
    EXPECT_EQ(std::make_pair(false, false), lAccess("Sum"));
    EXPECT_EQ(std::make_pair(true, false), lAccess("Twice"));
    EXPECT_EQ(std::make_pair(true, false), lAccess("Shown"));
    EXPECT_EQ(std::make_pair(true, false), lAccess("Written"));
    EXPECT_EQ(std::make_pair(false, false), lAccess("Indexed"));
    const TnResult lResult = ReadInt(lDevice, "Sum");
    EXPECT_CODE(TN_GENERIC_ERROR, lResult);
    EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find("not implemented"), std::string::npos);
}

TEST(Tolerance, OneRuleForDivisionAndRounding)
{
    Device lDevice(
        IntReg("Raw", 0x10, 4) +
        "<Integer Name=\"Nothing\"><Value>0</Value></Integer>"
        "<SwissKnife Name=\"FloatDivide\"><pVariable Name=\"N\">Nothing</pVariable><Formula>1.5 / N</Formula></SwissKnife>"
        "<SwissKnife Name=\"FloatModulo\"><pVariable Name=\"N\">Nothing</pVariable><Formula>1.5 % N</Formula></SwissKnife>"
        "<IntSwissKnife Name=\"IntDivide\"><pVariable Name=\"N\">Nothing</pVariable><Formula>3 / N</Formula></IntSwissKnife>"
        "<IntSwissKnife Name=\"Guarded\"><pVariable Name=\"N\">Nothing</pVariable><Formula>N = 0 ? 0 : 3 / N</Formula></IntSwissKnife>"
        "<IntSwissKnife Name=\"Half\"><Formula>7 * 0.5</Formula></IntSwissKnife>"
        "<IntSwissKnife Name=\"MinusHalf\"><Formula>-5 * 0.5</Formula></IntSwissKnife>"
        "<IntSwissKnife Name=\"Truncated\"><Formula>-7 / 2</Formula></IntSwissKnife>"
        "<IntConverter Name=\"Tenths\"><pValue>Raw</pValue><FormulaFrom>TO * 0.1</FormulaFrom>"
        "<FormulaTo>FROM * 10</FormulaTo></IntConverter>"
        "<Converter Name=\"Halves\"><pValue>Raw</pValue><FormulaFrom>TO</FormulaFrom>"
        "<FormulaTo>FROM / 2</FormulaTo></Converter>"
        "<IntConverter Name=\"Bounded\"><pValue>Limited</pValue><FormulaFrom>TO / 4.0</FormulaFrom>"
        "<FormulaTo>FROM * 4</FormulaTo></IntConverter>"
        "<Integer Name=\"Limited\"><Value>8</Value><Min>5</Min><Max>27</Max></Integer>");
    ASSERT_TRUE(lDevice);
    for (const char *lName : {"IntDivide"})
    {
        const TnResult lResult = ReadInt(lDevice, lName);
        EXPECT_EQ(TN_GENERIC_ERROR, lResult.GetCode());
        EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find("division by zero"), std::string::npos);
    }
    for (const char *lName : {"FloatDivide", "FloatModulo"})
    {
        double lValue = 0;
        const TnResult lResult = lDevice->GetFloatValue(lName, lValue);
        EXPECT_EQ(TN_GENERIC_ERROR, lResult.GetCode()) << lName;
        EXPECT_NE(std::string(lResult.GetDescription().GetAscii()).find("division by zero"), std::string::npos);
    }
    EXPECT_EQ(0, lDevice.Int("Guarded"));
    // Halves round away from zero; integer division truncates.
    EXPECT_EQ(4, lDevice.Int("Half"));
    EXPECT_EQ(-3, lDevice.Int("MinusHalf"));
    EXPECT_EQ(-3, lDevice.Int("Truncated"));
    lDevice.PokeLittle(0x10, 25);
    EXPECT_EQ(3, lDevice.Int("Tenths"));
    lDevice.PokeLittle(0x10, 24);
    EXPECT_TRUE(lDevice->InvalidateCache().IsOK());
    EXPECT_EQ(2, lDevice.Int("Tenths"));
    EXPECT_TRUE(lDevice->SetFloatValue("Halves", 5.0).IsOK());
    EXPECT_EQ(3u, lDevice.PeekLittle(0x10));
    // Integer limits round inward: 5 / 4 and 27 / 4 give 2 and 6.
    int64_t lMinimum = 0;
    int64_t lMaximum = 0;
    EXPECT_TRUE(lDevice->GetIntegerRange("Bounded", lMinimum, lMaximum).IsOK());
    EXPECT_EQ(2, lMinimum);
    EXPECT_EQ(6, lMaximum);
}
