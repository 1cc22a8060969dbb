// Where descriptions are found: the URLs devices announce them with.
#include <gtest/gtest.h>

#include <string>

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
