// A description is the camera's to write: what loading one may cost is
// bounded, entity declarations are refused, a StructReg's shared elements
// are shared by its entries, an empty description says so, and the loading
// ends when the thread's waits are interrupted.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GenICamTestUtil.h"
#include "TnGenApi.h"
#include "TnText.h"
#include "TnWaitInterrupt.h"

using tn::genicam::CreateParameterArray;
using tn::genicam::test::Description;
using tn::genicam::test::Device;

namespace
{
// The result of loading aXml.
TnResult Load(const std::string &aXml)
{
    TnResult lResult;
    delete CreateParameterArray(aXml, std::make_shared<tn::genicam::MemoryPort>(16), lResult);
    return lResult;
}

std::string Repeat(const std::string &aText, size_t aCount)
{
    std::string lText;
    lText.reserve(aText.size() * aCount);
    for (size_t lIndex = 0; lIndex < aCount; ++lIndex)
    {
        lText += aText;
    }
    return lText;
}

// A StructReg of aEntries entries sharing aShared.
std::string Struct(const std::string &aShared, size_t aEntries)
{
    std::string lEntries;
    for (size_t lIndex = 0; lIndex < aEntries; ++lIndex)
    {
        lEntries += "<StructEntry Name=\"E" + std::to_string(lIndex) + "\"><Bit>" + std::to_string(lIndex % 32) +
                    "</Bit></StructEntry>";
    }
    return "<StructReg Comment=\"S\"><Address>0</Address><Length>4</Length><AccessMode>RW</AccessMode>"
           "<pPort>Device</pPort>" +
           aShared + lEntries + "</StructReg>";
}

// aXml with a document type declaration after its XML declaration.
std::string WithDoctype(const std::string &aDoctype, std::string aXml)
{
    return aXml.insert(aXml.find('\n') + 1, aDoctype + "\n");
}

class Always : public TnWaitInterrupter
{
public:
    bool IsInterrupted() override
    {
        ++mAsked;
        return true;
    }
    int mAsked = 0;
};
} // namespace

TEST(Limits, RefusesWhatNoRealDescriptionHolds)
{
    std::string lAttributes; // a '>' in a value does not end the tag
    for (int lIndex = 0; lIndex < 65; ++lIndex)
    {
        lAttributes += " a" + std::to_string(lIndex) + "='>'";
    }
    // Nodes that refer to names never defined, and enumeration entries.
    std::string lUndefined;
    std::string lEntries;
    for (int lIndex = 0; lIndex < 10001; ++lIndex)
    {
        lUndefined += "<Integer Name=\"A" + std::to_string(lIndex) + "\"><pValue>M" + std::to_string(lIndex) +
                      "</pValue></Integer>";
        lEntries += "<EnumEntry Name=\"V" + std::to_string(lIndex) + "\"/>";
    }
    const std::string lBody = Description("<Integer Name=\"A\"><ToolTip>&e;</ToolTip><Value>1</Value></Integer>");
    struct Case
    {
        std::string mXml;
        const char *mReason;
    };
    const std::vector<Case> lCases = {
        {WithDoctype("<!DOCTYPE RegisterDescription [<!ENTITY e \"" + std::string(1000, 'x') + "\">]>", lBody),
         "entity 'e'"},
        {WithDoctype("<!DOCTYPE RegisterDescription [<!ENTITY e SYSTEM \"file:///etc/hostname\">]>", lBody),
         "entity 'e'"},
        {WithDoctype("<!DOCTYPE RegisterDescription [<!ENTITY % p \"x\">]>", Description("")), "entity 'p'"},
        {WithDoctype("<!DOCTYPE RegisterDescription [<!NOTATION n SYSTEM \"n\"><!ENTITY u SYSTEM \"u\" NDATA n>]>",
                     Description("")),
         "entity 'u'"},
        {Description("<Integer Name=\"A\"><ToolTip>" + std::string(300 << 10, 'x') +
                     "</ToolTip><Value>1</Value></Integer>"),
         "longer than 256 KiB"},
        {Description("<Integer Name=\"A\"><Value>1</Value>" + Repeat("<x/>", 20000) + "</Integer>"),
         "the Integer element holds more than 16384 elements"},
        {Description(Repeat("<Integer Name=\"A\"><Value>1</Value>" + Repeat("<x/>", 9999) + "</Integer>", 21)),
         "more than 200000 elements"},
        {Description(lUndefined), "more than 20000 nodes"},
        {Description("<Enumeration Name=\"E\">" + lEntries + "<Value>0</Value></Enumeration><Enumeration Name=\"F\">" +
                     lEntries + "<Value>0</Value></Enumeration>"),
         "more than 20000 nodes"},
        {Description("<Integer Name=\"A\"" + lAttributes + "><Value>1</Value></Integer>"),
         "line 3: an element has more than 64 attributes"},
        // Each entry would hold every shared element.
        {Description(Struct(Repeat("<pInvalidator>A</pInvalidator>", 500), 500)), "more than 200000 elements"},
        {Description(
             Repeat("<Integer Name=\"A\"><ToolTip>" + std::string(200 << 10, 't') + "</ToolTip></Integer>", 41)),
         "more than 8 MiB of text"},
    };
    for (const Case &lCase : lCases)
    {
        const TnResult lResult = Load(lCase.mXml);
        const std::string lDescription = tn::ToString(lResult.GetDescription());
        EXPECT_EQ(TN_GENICAM_XML_ERROR, lResult.GetCode()) << lCase.mReason << ": " << lDescription;
        EXPECT_NE(std::string::npos, lDescription.find(lCase.mReason)) << lDescription;
    }
    // A declaration without entities is no fault.
    EXPECT_TRUE(Load(WithDoctype("<!DOCTYPE RegisterDescription>", Description(""))).IsOK());
}

TEST(Limits, WarningsAreBounded)
{
    std::string lReferences;
    for (int lIndex = 0; lIndex < 10050; ++lIndex)
    {
        lReferences += "<pInvalidator>M" + std::to_string(lIndex) + "</pInvalidator>";
    }
    Device lDevice("<Integer Name=\"A\"><Value>1</Value>" + lReferences + "</Integer>");
    ASSERT_TRUE(lDevice);
    const std::vector<std::string> lWarnings = tn::genicam::GetWarnings(lDevice.mArray.get());
    ASSERT_EQ(10001u, lWarnings.size());
    EXPECT_EQ("more than 10000 warnings; the rest are left out", lWarnings.back());
}

TEST(Limits, StructEntriesShareTheRegistersElements)
{
    const std::string lToolTip(100 << 10, 't');
    Device lDevice(Struct("<ToolTip>" + lToolTip + "</ToolTip>", 200));
    ASSERT_TRUE(lDevice);
    const std::string &lFirst = lDevice->Get("E0")->GetNode()->GetToolTip();
    EXPECT_EQ(lToolTip, lFirst);
    for (const char *lName : {"E1", "E199"})
    {
        // The same text, not a copy of it.
        EXPECT_EQ(lFirst.data(), lDevice->Get(lName)->GetNode()->GetToolTip().data()) << lName;
    }
}

TEST(Limits, AnEmptyDescriptionSaysSo)
{
    for (const std::string &lXml : {std::string(), std::string(8, '\0'), std::string(" \r\n\t")})
    {
        const TnResult lResult = Load(lXml);
        EXPECT_EQ(TN_GENICAM_XML_ERROR, lResult.GetCode()) << lXml.size();
        const std::string lDescription = tn::ToString(lResult.GetDescription());
        EXPECT_TRUE(lDescription.find("empty") != std::string::npos ||
                    lDescription.find("holds no XML") != std::string::npos)
            << lDescription;
    }
}

TEST(Limits, LoadingEndsWhenTheWaitsAreInterrupted)
{
    std::string lNodes;
    for (int lIndex = 0; lIndex < 5000; ++lIndex)
    {
        lNodes += "<Integer Name=\"I" + std::to_string(lIndex) + "\"><Value>1</Value></Integer>";
    }
    Always lInterrupter;
    TnWaitInterruptScope lScope(lInterrupter, 1);
    TnResult lResult;
    // The first ask comes after a slice of the scope has passed.
    for (int lTry = 0; lTry < 100 && lResult.GetCode() != TN_ABORTED; ++lTry)
    {
        lResult = Load(Description(lNodes));
    }
    EXPECT_EQ(TN_ABORTED, lResult.GetCode()) << lResult.GetDescription().GetAscii();
    EXPECT_GT(lInterrupter.mAsked, 0);
}
