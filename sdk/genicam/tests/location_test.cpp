// Where descriptions are found: the URLs devices announce them with.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "TnGenApiLocation.h"

using tn::genicam::ParseXmlLocation;
using tn::genicam::XmlLocation;

TEST(XmlLocation, DeviceMemoryFilesAndWebAddresses)
{
    XmlLocation lLocation;
    std::string lPadded("Local:arv-fake-camera.xml;10000;3e67");
    lPadded.append(20, '\0');
    ASSERT_TRUE(ParseXmlLocation(lPadded, lLocation));
    EXPECT_EQ(lLocation.mKind, XmlLocation::kLocal);
    EXPECT_EQ(lLocation.mFileName, "arv-fake-camera.xml");
    EXPECT_EQ(lLocation.mAddress, 0x10000u);
    EXPECT_EQ(lLocation.mLength, 0x3E67u);
    EXPECT_FALSE(lLocation.IsZip());

    ASSERT_TRUE(ParseXmlLocation("local:///Cam_v1.ZIP;0x8000000;0X1F00?SchemaVersion=1.1.0", lLocation));
    EXPECT_EQ(lLocation.mFileName, "Cam_v1.ZIP");
    EXPECT_EQ(lLocation.mAddress, 0x8000000u);
    EXPECT_EQ(lLocation.mLength, 0x1F00u);
    EXPECT_TRUE(lLocation.IsZip());

    ASSERT_TRUE(ParseXmlLocation("File:///opt/cam/desc.xml", lLocation));
    EXPECT_EQ(lLocation.mKind, XmlLocation::kFile);
    EXPECT_EQ(lLocation.mPath, "/opt/cam/desc.xml");
    EXPECT_EQ(lLocation.mFileName, "desc.xml");
    ASSERT_TRUE(ParseXmlLocation("http://example.invalid/desc.xml", lLocation));
    EXPECT_EQ(lLocation.mKind, XmlLocation::kHttp);

    for (const char *lBad :
         {"", "Local:", "Local:a.xml;10000", "Local:a.xml;10000;0", "Local:;10000;10", "Local:a.xml;1000g;10",
          "Local:a.xml;FFFFFFF0;20", "Local:a.xml;1;2;3", "Local:a.xml;123456789;10", "ftp://x/y.xml", "File:"})
    {
        EXPECT_FALSE(ParseXmlLocation(lBad, lLocation)) << lBad;
    }
}

TEST(XmlLocation, FilesAreAbsolutePathsOfThisHost)
{
    XmlLocation lLocation;
    for (const char *lGood : {"file:/opt/cam/desc.xml", "FILE://localhost/opt/cam/desc.xml", "File:///opt/cam/..d.xml"})
    {
        ASSERT_TRUE(ParseXmlLocation(lGood, lLocation)) << lGood;
        EXPECT_EQ(lLocation.mPath.substr(0, 9), "/opt/cam/") << lGood;
    }
    // Relative to wherever the program runs, climbing, or on another host.
    for (const char *lBad : {"File:desc.xml", "File:../desc.xml", "File:///opt/../etc/passwd", "File:///opt/cam/..",
                             "File:/..\\etc\\passwd", "File://otherhost/desc.xml", "File:////desc.xml"})
    {
        EXPECT_FALSE(ParseXmlLocation(lBad, lLocation)) << lBad;
    }
}

TEST(XmlLocation, DefaultFileNamesArePlainNames)
{
    using tn::genicam::PlainFileName;
    for (const auto &lCase : {std::make_pair("Cam_v1-2.ZIP", "Cam_v1-2.ZIP"), {"../../tmp/x/wrote.sh", "wrote.sh"},
                              {"..\\..\\evil.xml", "evil.xml"}, {".bashrc", "bashrc"},
                              {"a b;c\n\x7f\xc3\xa9$(x).xml", "a_b_c______x_.xml"}, {"..", "device.xml"},
                              {"../..", "device.xml"}, {"x/", "device.xml"}, {"", "device.xml"}})
    {
        EXPECT_EQ(PlainFileName(lCase.first, false), lCase.second) << lCase.first;
    }
    EXPECT_EQ(PlainFileName("...", true), "device.zip");
    const std::string lLong = PlainFileName(std::string(1000, 'a') + ".zip", true);
    EXPECT_EQ(lLong, std::string(tn::genicam::kMaxPlainFileName - 4, 'a') + ".zip");
}
