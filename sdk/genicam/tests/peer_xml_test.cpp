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
    const std::string command = std::string("command -v ") + aName + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

// Runs the fake camera and the client in a network namespace of their own.
std::string FetchPeerXml(std::string &aWhy)
{
    for (const char *program : {"unshare", "ip", "timeout", "arv-fake-gv-camera-0.8", "arv-tool-0.8"})
    {
        if (!HaveProgram(program))
        {
            aWhy = std::string(program) + " is not installed" +
                   (strncmp(program, "arv-", 4) == 0 ? " (apt packages aravis-tools, aravis-tools-cli)" : "");
            return std::string();
        }
    }
    char directory[] = "/tmp/tn-peer-xml-XXXXXX";
    if (mkdtemp(directory) == nullptr)
    {
        aWhy = "no temporary directory";
        return std::string();
    }
    const std::string file = std::string(directory) + "/description.xml";
    const std::string script =
        "ip link set lo up || exit 3; "
        "arv-fake-gv-camera-0.8 -i 127.0.0.1 -s TARNTEST >/dev/null 2>&1 & camera=$!; "
        "for attempt in 1 2 3 4 5 6 7 8 9 10; do sleep 0.5; "
        "arv-tool-0.8 -a 127.0.0.1 genicam > " +
        file + " 2>/dev/null && grep -q RegisterDescription " + file + " && break; done; kill $camera; wait $camera 2>/dev/null";
    const std::string command = "timeout 30 unshare -n sh -c '" + script + "' >/dev/null 2>&1";
    const int status = system(command.c_str());
    std::ifstream input(file);
    std::stringstream text;
    text << input.rdbuf();
    unlink(file.c_str());
    rmdir(directory);
    const std::string xml = text.str();
    if (xml.find("RegisterDescription") == std::string::npos)
    {
        aWhy = "the fake camera's XML could not be fetched (exit status " + std::to_string(status) +
               "; unshare needs root or user namespaces)";
        return std::string();
    }
    return xml;
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
        xmlNodePtr node = Node(aNode);
        for (xmlNodePtr child = node != nullptr ? node->children : nullptr; child != nullptr; child = child->next)
        {
            if (child->type == XML_ELEMENT_NODE && aElement == reinterpret_cast<const char *>(child->name))
            {
                xmlChar *content = xmlNodeGetContent(child);
                std::string text = content != nullptr ? reinterpret_cast<const char *>(content) : "";
                xmlFree(content);
                const size_t begin = text.find_first_not_of(" \t\r\n");
                const size_t end = text.find_last_not_of(" \t\r\n");
                return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
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
        for (int depth = 0; depth < 8; ++depth)
        {
            const std::string next = Text(aName, "pValue");
            if (next.empty())
            {
                return aName;
            }
            aName = next;
        }
        return aName;
    }

    bool BigEndian(const std::string &aRegister) const { return Text(aRegister, "Endianess") == "BigEndian"; }

    /// The first name of the list the XML defines.
    std::string FirstOf(std::initializer_list<const char *> aNames) const
    {
        for (const char *name : aNames)
        {
            if (Has(name))
            {
                return name;
            }
        }
        return std::string();
    }

    std::vector<std::pair<std::string, int64_t>> Entries(const std::string &aEnumeration) const
    {
        std::vector<std::pair<std::string, int64_t>> entries;
        xmlNodePtr node = Node(aEnumeration);
        for (xmlNodePtr child = node != nullptr ? node->children : nullptr; child != nullptr; child = child->next)
        {
            if (child->type == XML_ELEMENT_NODE && strcmp(reinterpret_cast<const char *>(child->name), "EnumEntry") == 0)
            {
                xmlChar *name = xmlGetProp(child, reinterpret_cast<const xmlChar *>("Name"));
                int64_t value = 0;
                for (xmlNodePtr element = child->children; element != nullptr; element = element->next)
                {
                    if (element->type == XML_ELEMENT_NODE && strcmp(reinterpret_cast<const char *>(element->name), "Value") == 0)
                    {
                        xmlChar *content = xmlNodeGetContent(element);
                        value = strtoll(reinterpret_cast<const char *>(content), nullptr, 0);
                        xmlFree(content);
                    }
                }
                entries.emplace_back(reinterpret_cast<const char *>(name), value);
                xmlFree(name);
            }
        }
        return entries;
    }

private:
    static xmlNodePtr Find(xmlNodePtr aNode, const std::string &aName)
    {
        for (xmlNodePtr node = aNode; node != nullptr; node = node->next)
        {
            if (node->type != XML_ELEMENT_NODE)
            {
                continue;
            }
            xmlChar *name = xmlGetProp(node, reinterpret_cast<const xmlChar *>("Name"));
            const bool match = name != nullptr && aName == reinterpret_cast<const char *>(name);
            xmlFree(name);
            if (match && strcmp(reinterpret_cast<const char *>(node->name), "EnumEntry") != 0)
            {
                return node;
            }
            if (xmlNodePtr found = Find(node->children, aName))
            {
                return found;
            }
        }
        return nullptr;
    }

    xmlDocPtr mDocument;
};

class PeerXml : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        sXml = new std::string(FetchPeerXml(*(sWhy = new std::string)));
    }

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
        TnResult result;
        mArray.reset(CreateParameterArray(*sXml, mPort, result));
        ASSERT_TRUE(result.IsOK()) << result.GetDescription().GetAscii();
        ASSERT_NE(nullptr, mArray);
    }

    // Register contents in the register's byte order.
    void Poke(const std::string &aRegister, uint64_t aValue)
    {
        const int length = static_cast<int>(mFacts->Number(aRegister, "Length"));
        uint8_t bytes[8];
        for (int i = 0; i < length; ++i)
        {
            const int shift = mFacts->BigEndian(aRegister) ? 8 * (length - 1 - i) : 8 * i;
            bytes[i] = static_cast<uint8_t>(aValue >> shift);
        }
        ASSERT_TRUE(mPort->Poke(mFacts->Number(aRegister, "Address"), bytes, length).IsOK());
    }

    uint64_t Peek(const std::string &aRegister, uint64_t aOffset = 0)
    {
        const int length = static_cast<int>(mFacts->Number(aRegister, "Length"));
        uint8_t bytes[8] = {0};
        EXPECT_TRUE(mPort->Peek(mFacts->Number(aRegister, "Address") + aOffset, bytes, length).IsOK());
        uint64_t value = 0;
        for (int i = 0; i < length; ++i)
        {
            const int index = mFacts->BigEndian(aRegister) ? i : length - 1 - i;
            value = (value << 8) | bytes[index];
        }
        return value;
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

    for (const char *name : {"Width", "Height"})
    {
        int64_t minimum = 0, maximum = 0;
        ASSERT_TRUE(mArray->GetIntegerRange(name, minimum, maximum).IsOK()) << name;
        EXPECT_EQ(mFacts->Number(name, "Min"), minimum) << name;
        EXPECT_EQ(std::string(name) == "Width" ? 1920 : 1080, maximum) << name;
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetIntegerValue(name, maximum + 1));
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetIntegerValue(name, minimum - 1));
    }
    EXPECT_TRUE(mArray->SetIntegerValue("Width", 640).IsOK());
    EXPECT_TRUE(mArray->SetIntegerValue("Height", 480).IsOK());
    EXPECT_EQ(640u, Peek(mFacts->Register("Width")));
    EXPECT_EQ(480u, Peek(mFacts->Register("Height")));

    // Every entry of the pixel format writes its own value.
    TnGenEnum *pixelFormat = mArray->GetEnum("PixelFormat");
    ASSERT_NE(nullptr, pixelFormat);
    const auto entries = mFacts->Entries("PixelFormat");
    int64_t count = 0;
    EXPECT_TRUE(pixelFormat->GetEntriesCount(count).IsOK());
    EXPECT_EQ(static_cast<int64_t>(entries.size()), count);
    for (const auto &entry : entries)
    {
        EXPECT_TRUE(pixelFormat->SetValue(TnString(entry.first.c_str())).IsOK()) << entry.first;
        EXPECT_EQ(static_cast<uint64_t>(entry.second), Peek(mFacts->Register("PixelFormat"))) << entry.first;
        TnString name;
        EXPECT_TRUE(pixelFormat->GetValue(name).IsOK());
        EXPECT_EQ(entry.first, name.GetAscii());
    }
    EXPECT_CODE(TN_GENERIC_ERROR, pixelFormat->SetValue(TnString("NoSuchFormat")));

    // The payload size formula of the XML over these values.
    if (mFacts->Has("PayloadSize"))
    {
        for (const auto &entry : entries)
        {
            ASSERT_TRUE(pixelFormat->SetValue(entry.second).IsOK());
            int64_t payload = 0;
            ASSERT_TRUE(mArray->GetIntegerValue("PayloadSize", payload).IsOK());
            EXPECT_EQ(640 * 480 * ((entry.second >> 16) & 0xFF) / 8, payload) << entry.first;
        }
    }

    // The strings the device reports, read-only.
    const std::string vendor = mFacts->Register("DeviceVendorName");
    ASSERT_TRUE(mPort->Poke(mFacts->Number(vendor, "Address"), "Aravis", 7).IsOK());
    ASSERT_TRUE(mArray->InvalidateCache().IsOK());
    TnString text;
    EXPECT_TRUE(mArray->GetStringValue("DeviceVendorName", text).IsOK());
    EXPECT_STREQ("Aravis", text.GetAscii());
    EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetStringValue("DeviceVendorName", "Other"));
}

TEST_F(PeerXml, AcquisitionAndAnalogFeatures)
{
    Load();
    // Gain and exposure under whichever names this XML uses.
    const std::string gain = mFacts->FirstOf({"Gain", "GainRaw"});
    ASSERT_FALSE(gain.empty());
    if (mArray->GetInteger(gain.c_str()) != nullptr)
    {
        int64_t minimum = 0, maximum = 0;
        ASSERT_TRUE(mArray->GetIntegerRange(gain.c_str(), minimum, maximum).IsOK());
        EXPECT_EQ(mFacts->Number(gain, "Min"), minimum);
        EXPECT_EQ(mFacts->Number(gain, "Max"), maximum);
        EXPECT_TRUE(mArray->SetIntegerValue(gain.c_str(), maximum).IsOK());
        EXPECT_EQ(static_cast<uint64_t>(maximum), Peek(mFacts->Register(gain)));
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetIntegerValue(gain.c_str(), maximum + 1));
    }
    else
    {
        double minimum = 0, maximum = 0;
        ASSERT_TRUE(mArray->GetFloatRange(gain.c_str(), minimum, maximum).IsOK());
        EXPECT_TRUE(mArray->SetFloatValue(gain.c_str(), maximum).IsOK());
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetFloatValue(gain.c_str(), maximum * 2 + 1));
    }

    const std::string exposure = mFacts->FirstOf({"ExposureTime", "ExposureTimeAbs"});
    ASSERT_FALSE(exposure.empty());
    double minimum = 0, maximum = 0;
    ASSERT_TRUE(mArray->GetFloatRange(exposure.c_str(), minimum, maximum).IsOK());
    EXPECT_DOUBLE_EQ(strtod(mFacts->Text(exposure, "Min").c_str(), nullptr), minimum);
    EXPECT_DOUBLE_EQ(strtod(mFacts->Text(exposure, "Max").c_str(), nullptr), maximum);
    EXPECT_TRUE(mArray->SetFloatValue(exposure.c_str(), 5000.0).IsOK());
    double value = 0;
    EXPECT_TRUE(mArray->GetFloatValue(exposure.c_str(), value).IsOK());
    EXPECT_DOUBLE_EQ(5000.0, value);
    ASSERT_TRUE(mArray->InvalidateCache().IsOK());
    EXPECT_TRUE(mArray->GetFloatValue(exposure.c_str(), value).IsOK());
    EXPECT_DOUBLE_EQ(5000.0, value);
    if (minimum > 0)
    {
        EXPECT_CODE(TN_GENERIC_ERROR, mArray->SetFloatValue(exposure.c_str(), minimum / 2));
    }

    if (mFacts->Has("AcquisitionFrameRate"))
    {
        EXPECT_TRUE(mArray->SetFloatValue("AcquisitionFrameRate", 25.0).IsOK());
        EXPECT_TRUE(mArray->GetFloatValue("AcquisitionFrameRate", value).IsOK());
        EXPECT_NEAR(25.0, value, 1e-9);
    }

    // The commands write their command values.
    for (const char *command : {"AcquisitionStart", "AcquisitionStop"})
    {
        TnGenCommand *parameter = mArray->GetCommand(command);
        ASSERT_NE(nullptr, parameter) << command;
        EXPECT_TRUE(parameter->Execute().IsOK());
        EXPECT_EQ(static_cast<uint64_t>(mFacts->Number(command, "CommandValue")), Peek(mFacts->Register(command)));
        bool done = false;
        EXPECT_TRUE(parameter->IsDone(done).IsOK());
    }
    const auto modes = mFacts->Entries("AcquisitionMode");
    ASSERT_FALSE(modes.empty());
    EXPECT_TRUE(mArray->SetEnumValue("AcquisitionMode", modes.back().first.c_str()).IsOK());
    EXPECT_EQ(static_cast<uint64_t>(modes.back().second), Peek(mFacts->Register("AcquisitionMode")));

    // A selector moves the register its selected features use.
    if (mFacts->Has("TriggerSelector") && mFacts->Has("TriggerMode"))
    {
        const std::string mode = mFacts->Register("TriggerMode");
        const auto selectors = mFacts->Entries("TriggerSelector");
        const auto states = mFacts->Entries("TriggerMode");
        ASSERT_GE(selectors.size(), 2u);
        ASSERT_GE(states.size(), 2u);
        xmlNodePtr index = nullptr;
        for (xmlNodePtr child = mFacts->Node(mode)->children; child != nullptr; child = child->next)
        {
            if (child->type == XML_ELEMENT_NODE && strcmp(reinterpret_cast<const char *>(child->name), "pIndex") == 0)
            {
                index = child;
            }
        }
        if (index != nullptr)
        {
            xmlChar *offsetText = xmlGetProp(index, reinterpret_cast<const xmlChar *>("Offset"));
            const int64_t offset = offsetText != nullptr ? strtoll(reinterpret_cast<const char *>(offsetText), nullptr, 0) : 0;
            xmlFree(offsetText);
            EXPECT_TRUE(mArray->SetEnumValue("TriggerSelector", selectors[1].first.c_str()).IsOK());
            EXPECT_TRUE(mArray->SetEnumValue("TriggerMode", states[1].first.c_str()).IsOK());
            EXPECT_EQ(static_cast<uint64_t>(states[1].second), Peek(mode, offset * selectors[1].second));
            EXPECT_EQ(0u, Peek(mode, offset * selectors[0].second));
            // The other selector's register still holds zero.
            EXPECT_TRUE(mArray->SetEnumValue("TriggerSelector", selectors[0].first.c_str()).IsOK());
            int64_t state = -1;
            EXPECT_TRUE(mArray->GetEnumValue("TriggerMode", state).IsOK());
            EXPECT_EQ(0, state);
        }
    }
}
