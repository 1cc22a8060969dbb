// The GenICam XML of a third-party device: the fake camera of the aravis
// tools serves it, fetched at test time inside a private network namespace
// (nothing reaches the host's network) and never stored in the repository.
// The expected values and limits are read from the same XML.
#include <gtest/gtest.h>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "GenICamTestUtil.h"

using tn::genicam::CreateParameterArray;
using tn::genicam::MemoryPort;

namespace
{
bool HaveProgram(const char *aName)
{
    const std::string lCommand = std::string("command -v ") + aName + " >/dev/null 2>&1";
    return system(lCommand.c_str()) == 0;
}

// Runs the fake camera and the client in a network namespace of their own.
std::string FetchPeerXml(std::string &aWhy)
{
    for (const char *lProgram : {"unshare", "ip", "timeout", "arv-fake-gv-camera-0.8", "arv-tool-0.8"})
    {
        if (!HaveProgram(lProgram))
        {
            aWhy = std::string(lProgram) + " is not installed" +
                   (strncmp(lProgram, "arv-", 4) == 0 ? " (apt packages aravis-tools, aravis-tools-cli)" : "");
            return std::string();
        }
    }
    char lDirectory[] = "/tmp/tn-peer-xml-XXXXXX";
    if (mkdtemp(lDirectory) == nullptr)
    {
        aWhy = "no temporary directory";
        return std::string();
    }
    const std::string lFile = std::string(lDirectory) + "/description.xml";
    const std::string lScript = "ip link set lo up || exit 3; "
                                "arv-fake-gv-camera-0.8 -i 127.0.0.1 -s TARNTEST >/dev/null 2>&1 & camera=$!; "
                                "for attempt in 1 2 3 4 5 6 7 8 9 10; do sleep 0.5; "
                                "arv-tool-0.8 -a 127.0.0.1 genicam > " +
                                lFile + " 2>/dev/null && grep -q RegisterDescription " + lFile +
                                " && break; done; kill $camera; wait $camera 2>/dev/null";
    const std::string lCommand = "timeout 30 unshare -n sh -c '" + lScript + "' >/dev/null 2>&1";
    const int lStatus = system(lCommand.c_str());
    std::ifstream lInput(lFile);
    std::stringstream lText;
    lText << lInput.rdbuf();
    unlink(lFile.c_str());
    rmdir(lDirectory);
    const std::string lXml = lText.str();
    if (lXml.find("RegisterDescription") == std::string::npos)
    {
        aWhy = "the fake camera's XML could not be fetched (exit status " + std::to_string(lStatus) +
               "; unshare needs root or user namespaces)";
        return std::string();
    }
    return lXml;
}

// Reads facts out of the XML independently of the engine.
class Facts
{
public:
    explicit Facts(const std::string &aXml)
        : mDocument(xmlReadMemory(aXml.data(), static_cast<int>(aXml.size()), "peer.xml", nullptr, XML_PARSE_NONET))
    {
    }
    ~Facts() { xmlFreeDoc(mDocument); }

    bool IsValid() const { return mDocument != nullptr; }

    xmlNodePtr Node(const std::string &aName) const { return Find(xmlDocGetRootElement(mDocument), aName); }

    bool Has(const std::string &aName) const { return Node(aName) != nullptr; }

    std::string Text(const std::string &aNode, const std::string &aElement) const
    {
        xmlNodePtr lNode = Node(aNode);
        for (xmlNodePtr lChild = lNode != nullptr ? lNode->children : nullptr; lChild != nullptr; lChild = lChild->next)
        {
            if (lChild->type == XML_ELEMENT_NODE && aElement == reinterpret_cast<const char *>(lChild->name))
            {
                xmlChar *lContent = xmlNodeGetContent(lChild);
                std::string lText = lContent != nullptr ? reinterpret_cast<const char *>(lContent) : "";
                xmlFree(lContent);
                const size_t lBegin = lText.find_first_not_of(" \t\r\n");
                const size_t lEnd = lText.find_last_not_of(" \t\r\n");
                return lBegin == std::string::npos ? std::string() : lText.substr(lBegin, lEnd - lBegin + 1);
            }
        }
        return std::string();
    }

    int64_t Number(const std::string &aNode, const std::string &aElement) const
    {
        return strtoll(Text(aNode, aElement).c_str(), nullptr, 0);
    }

    /// The register a feature reads through pValue, followed to its end.
    std::string Register(std::string aName) const
    {
        for (int lDepth = 0; lDepth < 8; ++lDepth)
        {
            const std::string lNext = Text(aName, "pValue");
            if (lNext.empty())
            {
                return aName;
            }
            aName = lNext;
        }
        return aName;
    }

    bool BigEndian(const std::string &aRegister) const { return Text(aRegister, "Endianess") == "BigEndian"; }

    /// The first name of the list the XML defines.
    std::string FirstOf(std::initializer_list<const char *> aNames) const
    {
        for (const char *lName : aNames)
        {
            if (Has(lName))
            {
                return lName;
            }
        }
        return std::string();
    }

    std::vector<std::pair<std::string, int64_t>> Entries(const std::string &aEnumeration) const
    {
        std::vector<std::pair<std::string, int64_t>> lEntries;
        xmlNodePtr lNode = Node(aEnumeration);
        for (xmlNodePtr lChild = lNode != nullptr ? lNode->children : nullptr; lChild != nullptr; lChild = lChild->next)
        {
            if (lChild->type == XML_ELEMENT_NODE &&
                strcmp(reinterpret_cast<const char *>(lChild->name), "EnumEntry") == 0)
            {
                xmlChar *lName = xmlGetProp(lChild, reinterpret_cast<const xmlChar *>("Name"));
                int64_t lValue = 0;
                for (xmlNodePtr lElement = lChild->children; lElement != nullptr; lElement = lElement->next)
                {
                    if (lElement->type == XML_ELEMENT_NODE &&
                        strcmp(reinterpret_cast<const char *>(lElement->name), "Value") == 0)
                    {
                        xmlChar *lContent = xmlNodeGetContent(lElement);
                        lValue = strtoll(reinterpret_cast<const char *>(lContent), nullptr, 0);
                        xmlFree(lContent);
                    }
                }
                lEntries.emplace_back(reinterpret_cast<const char *>(lName), lValue);
                xmlFree(lName);
            }
        }
        return lEntries;
    }

private:
    static xmlNodePtr Find(xmlNodePtr aNode, const std::string &aName)
    {
        for (xmlNodePtr lNode = aNode; lNode != nullptr; lNode = lNode->next)
        {
            if (lNode->type != XML_ELEMENT_NODE)
            {
                continue;
            }
            xmlChar *lName = xmlGetProp(lNode, reinterpret_cast<const xmlChar *>("Name"));
            const bool lMatch = lName != nullptr && aName == reinterpret_cast<const char *>(lName);
            xmlFree(lName);
            if (lMatch && strcmp(reinterpret_cast<const char *>(lNode->name), "EnumEntry") != 0)
            {
                return lNode;
            }
            if (xmlNodePtr lFound = Find(lNode->children, aName))
            {
                return lFound;
            }
        }
        return nullptr;
    }

    xmlDocPtr mDocument;
};

class PeerXml : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { sXml = new std::string(FetchPeerXml(*(sWhy = new std::string))); }

    static void TearDownTestSuite()
    {
        delete sXml;
        delete sWhy;
        sXml = sWhy = nullptr;
    }

    void SetUp() override
    {
        if (sXml->empty())
        {
            GTEST_SKIP() << *sWhy;
        }
        mFacts.reset(new Facts(*sXml));
        ASSERT_TRUE(mFacts->IsValid());
        mPort = std::make_shared<MemoryPort>(0x100000);
    }

    void Load()
    {
        TnResult lResult;
        mArray.reset(CreateParameterArray(*sXml, mPort, lResult));
        ASSERT_TRUE(lResult.IsOK()) << lResult.GetDescription().GetAscii();
        ASSERT_NE(nullptr, mArray);
    }

    // Register contents in the register's byte order.
    void Poke(const std::string &aRegister, uint64_t aValue)
    {
        const int lLength = static_cast<int>(mFacts->Number(aRegister, "Length"));
        uint8_t lBytes[8];
        for (int lIndex = 0; lIndex < lLength; ++lIndex)
        {
            const int lShift = mFacts->BigEndian(aRegister) ? 8 * (lLength - 1 - lIndex) : 8 * lIndex;
            lBytes[lIndex] = static_cast<uint8_t>(aValue >> lShift);
        }
        ASSERT_TRUE(mPort->Poke(mFacts->Number(aRegister, "Address"), lBytes, lLength).IsOK());
    }

    uint64_t Peek(const std::string &aRegister, uint64_t aOffset = 0)
    {
        const int lLength = static_cast<int>(mFacts->Number(aRegister, "Length"));
        uint8_t lBytes[8] = {0};
        EXPECT_TRUE(mPort->Peek(mFacts->Number(aRegister, "Address") + aOffset, lBytes, lLength).IsOK());
        uint64_t lValue = 0;
        for (int lPosition = 0; lPosition < lLength; ++lPosition)
        {
            const int lIndex = mFacts->BigEndian(aRegister) ? lPosition : lLength - 1 - lPosition;
            lValue = (lValue << 8) | lBytes[lIndex];
        }
        return lValue;
    }

    static std::string *sXml;
    static std::string *sWhy;
    std::unique_ptr<Facts> mFacts;
    std::shared_ptr<MemoryPort> mPort;
    std::unique_ptr<TnGenParameterArray> mArray;
};

std::string *PeerXml::sXml = nullptr;
std::string *PeerXml::sWhy = nullptr;
} // namespace

TEST_F(PeerXml, ImageFormatFeatures)
{
    Poke(mFacts->Register("SensorWidth"), 1920);
    Poke(mFacts->Register("SensorHeight"), 1080);
    Load();
    EXPECT_GT(mArray->GetCount(), 20u);
    EXPECT_NE(nullptr, mArray->GetCategory("Root"));

    for (const char *lName : {"Width", "Height"})
    {
        int64_t lMinimum = 0, lMaximum = 0;
        ASSERT_TRUE(mArray->GetIntegerRange(lName, lMinimum, lMaximum).IsOK()) << lName;
        EXPECT_EQ(mFacts->Number(lName, "Min"), lMinimum) << lName;
        EXPECT_EQ(std::string(lName) == "Width" ? 1920 : 1080, lMaximum) << lName;
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetIntegerValue(lName, lMaximum + 1));
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetIntegerValue(lName, lMinimum - 1));
    }
    EXPECT_TRUE(mArray->SetIntegerValue("Width", 640).IsOK());
    EXPECT_TRUE(mArray->SetIntegerValue("Height", 480).IsOK());
    EXPECT_EQ(640u, Peek(mFacts->Register("Width")));
    EXPECT_EQ(480u, Peek(mFacts->Register("Height")));

    // Every entry of the pixel format writes its own value.
    TnGenEnum *lPixelFormat = mArray->GetEnum("PixelFormat");
    ASSERT_NE(nullptr, lPixelFormat);
    const auto lEntries = mFacts->Entries("PixelFormat");
    int64_t lCount = 0;
    EXPECT_TRUE(lPixelFormat->GetEntriesCount(lCount).IsOK());
    EXPECT_EQ(static_cast<int64_t>(lEntries.size()), lCount);
    for (const auto &lEntry : lEntries)
    {
        EXPECT_TRUE(lPixelFormat->SetValue(TnString(lEntry.first.c_str())).IsOK()) << lEntry.first;
        EXPECT_EQ(static_cast<uint64_t>(lEntry.second), Peek(mFacts->Register("PixelFormat"))) << lEntry.first;
        TnString lName;
        EXPECT_TRUE(lPixelFormat->GetValue(lName).IsOK());
        EXPECT_EQ(lEntry.first, lName.GetAscii());
    }
    EXPECT_CODE(TN_GENERIC_ERROR, lPixelFormat->SetValue(TnString("NoSuchFormat")));

    // The payload size formula of the XML over these values.
    if (mFacts->Has("PayloadSize"))
    {
        for (const auto &lEntry : lEntries)
        {
            ASSERT_TRUE(lPixelFormat->SetValue(lEntry.second).IsOK());
            int64_t lPayload = 0;
            ASSERT_TRUE(mArray->GetIntegerValue("PayloadSize", lPayload).IsOK());
            EXPECT_EQ(640 * 480 * ((lEntry.second >> 16) & 0xFF) / 8, lPayload) << lEntry.first;
        }
    }

    // The strings the device reports, read-only.
    const std::string lVendor = mFacts->Register("DeviceVendorName");
    ASSERT_TRUE(mPort->Poke(mFacts->Number(lVendor, "Address"), "Aravis", 7).IsOK());
    ASSERT_TRUE(mArray->InvalidateCache().IsOK());
    TnString lText;
    EXPECT_TRUE(mArray->GetStringValue("DeviceVendorName", lText).IsOK());
    EXPECT_STREQ("Aravis", lText.GetAscii());
    EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetStringValue("DeviceVendorName", "Other"));
}

TEST_F(PeerXml, AcquisitionAndAnalogFeatures)
{
    Load();
    // Gain and exposure under whichever names this XML uses.
    const std::string lGain = mFacts->FirstOf({"Gain", "GainRaw"});
    ASSERT_FALSE(lGain.empty());
    if (mArray->GetInteger(lGain.c_str()) != nullptr)
    {
        int64_t lMinimum = 0, lMaximum = 0;
        ASSERT_TRUE(mArray->GetIntegerRange(lGain.c_str(), lMinimum, lMaximum).IsOK());
        EXPECT_EQ(mFacts->Number(lGain, "Min"), lMinimum);
        EXPECT_EQ(mFacts->Number(lGain, "Max"), lMaximum);
        EXPECT_TRUE(mArray->SetIntegerValue(lGain.c_str(), lMaximum).IsOK());
        EXPECT_EQ(static_cast<uint64_t>(lMaximum), Peek(mFacts->Register(lGain)));
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetIntegerValue(lGain.c_str(), lMaximum + 1));
    }
    else
    {
        double lMinimum = 0, lMaximum = 0;
        ASSERT_TRUE(mArray->GetFloatRange(lGain.c_str(), lMinimum, lMaximum).IsOK());
        EXPECT_TRUE(mArray->SetFloatValue(lGain.c_str(), lMaximum).IsOK());
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetFloatValue(lGain.c_str(), lMaximum * 2 + 1));
    }

    const std::string lExposure = mFacts->FirstOf({"ExposureTime", "ExposureTimeAbs"});
    ASSERT_FALSE(lExposure.empty());
    double lMinimum = 0, lMaximum = 0;
    ASSERT_TRUE(mArray->GetFloatRange(lExposure.c_str(), lMinimum, lMaximum).IsOK());
    EXPECT_DOUBLE_EQ(strtod(mFacts->Text(lExposure, "Min").c_str(), nullptr), lMinimum);
    EXPECT_DOUBLE_EQ(strtod(mFacts->Text(lExposure, "Max").c_str(), nullptr), lMaximum);
    EXPECT_TRUE(mArray->SetFloatValue(lExposure.c_str(), 5000.0).IsOK());
    double lValue = 0;
    EXPECT_TRUE(mArray->GetFloatValue(lExposure.c_str(), lValue).IsOK());
    EXPECT_DOUBLE_EQ(5000.0, lValue);
    ASSERT_TRUE(mArray->InvalidateCache().IsOK());
    EXPECT_TRUE(mArray->GetFloatValue(lExposure.c_str(), lValue).IsOK());
    EXPECT_DOUBLE_EQ(5000.0, lValue);
    if (lMinimum > 0)
    {
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetFloatValue(lExposure.c_str(), lMinimum / 2));
    }

    if (mFacts->Has("AcquisitionFrameRate"))
    {
        EXPECT_TRUE(mArray->SetFloatValue("AcquisitionFrameRate", 25.0).IsOK());
        EXPECT_TRUE(mArray->GetFloatValue("AcquisitionFrameRate", lValue).IsOK());
        EXPECT_NEAR(25.0, lValue, 1e-9);
    }

    // The commands write their command values.
    for (const char *lCommand : {"AcquisitionStart", "AcquisitionStop"})
    {
        TnGenCommand *lParameter = mArray->GetCommand(lCommand);
        ASSERT_NE(nullptr, lParameter) << lCommand;
        EXPECT_TRUE(lParameter->Execute().IsOK());
        EXPECT_EQ(static_cast<uint64_t>(mFacts->Number(lCommand, "CommandValue")), Peek(mFacts->Register(lCommand)));
        bool lDone = false;
        EXPECT_TRUE(lParameter->IsDone(lDone).IsOK());
    }
    const auto lModes = mFacts->Entries("AcquisitionMode");
    ASSERT_FALSE(lModes.empty());
    EXPECT_TRUE(mArray->SetEnumValue("AcquisitionMode", lModes.back().first.c_str()).IsOK());
    EXPECT_EQ(static_cast<uint64_t>(lModes.back().second), Peek(mFacts->Register("AcquisitionMode")));

    // A selector moves the register its selected features use.
    if (mFacts->Has("TriggerSelector") && mFacts->Has("TriggerMode"))
    {
        const std::string lMode = mFacts->Register("TriggerMode");
        const auto lSelectors = mFacts->Entries("TriggerSelector");
        const auto lStates = mFacts->Entries("TriggerMode");
        ASSERT_GE(lSelectors.size(), 2u);
        ASSERT_GE(lStates.size(), 2u);
        xmlNodePtr lIndex = nullptr;
        for (xmlNodePtr lChild = mFacts->Node(lMode)->children; lChild != nullptr; lChild = lChild->next)
        {
            if (lChild->type == XML_ELEMENT_NODE && strcmp(reinterpret_cast<const char *>(lChild->name), "pIndex") == 0)
            {
                lIndex = lChild;
            }
        }
        if (lIndex != nullptr)
        {
            xmlChar *lOffsetText = xmlGetProp(lIndex, reinterpret_cast<const xmlChar *>("Offset"));
            const int64_t lOffset =
                lOffsetText != nullptr ? strtoll(reinterpret_cast<const char *>(lOffsetText), nullptr, 0) : 0;
            xmlFree(lOffsetText);
            EXPECT_TRUE(mArray->SetEnumValue("TriggerSelector", lSelectors[1].first.c_str()).IsOK());
            EXPECT_TRUE(mArray->SetEnumValue("TriggerMode", lStates[1].first.c_str()).IsOK());
            EXPECT_EQ(static_cast<uint64_t>(lStates[1].second), Peek(lMode, lOffset * lSelectors[1].second));
            EXPECT_EQ(0u, Peek(lMode, lOffset * lSelectors[0].second));
            // The other selector's register still holds zero.
            EXPECT_TRUE(mArray->SetEnumValue("TriggerSelector", lSelectors[0].first.c_str()).IsOK());
            int64_t lState = -1;
            EXPECT_TRUE(mArray->GetEnumValue("TriggerMode", lState).IsOK());
            EXPECT_EQ(0, lState);
        }
    }
}
