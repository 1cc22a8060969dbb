// The device's GenICam description: the features of TnFeatureModel.h turned
// into GenICam XML (GenApi schema, RegisterDescription root, Port "Device"),
// written with libxml2's tree API and checked by loading it into the SDK's
// own GenICam engine.
//
// What the XML holds, besides the features themselves:
// - a Category "Root" over the top-level categories, one Category per level;
// - for a feature whose value lies in a register, chunk or event: a private
//   register node named after the feature with "_Reg" added (string and
//   register features are the register node themselves), on the Port
//   "Device", on "ChunkPort_<ID>" (with ChunkID) or "EventPort_<ID>" (with
//   EventID);
// - for features made by some of several sources (owners): availability,
//   register address and differing limits that follow SourceSelector, as
//   private IntSwissKnife or SwissKnife nodes named after the feature with
//   "_Avail", "_Address", "_Min", "_Max" or "_Inc" added; an enumeration shows
//   the entries of the selected source ("<feature>_<entry>_Avail");
// - a feature locked both while streaming and by its pIsLocked gets
//   "<feature>_Locked".
//
// A description that cannot be built answers TN_GENICAM_XML_ERROR with a
// description that begins "feature '<name>': " for the feature at fault.
#ifndef TN_DESCRIPTION_H
#define TN_DESCRIPTION_H

#include <stdint.h>

#include <string>
#include <vector>

#include "TnFeatureModel.h"
#include "TnResult.h"

namespace tn
{
namespace softdevice
{
struct TnDescriptionInfo
{
    std::string mModelName = "SoftDevice";
    std::string mVendorName = "Tarn";
    std::string mToolTip = "Software GigE Vision device";
    uint32_t mMajorVersion = 1;
    uint32_t mMinorVersion = 0;
    uint32_t mSubMinorVersion = 0;
    std::string mProductGuid = "7A1E5D30-0000-4000-8000-000000000001";
    std::string mVersionGuid = "7A1E5D30-0000-4000-8000-000000000002";
    /// The number of sources; features of sources need mSourceSelector when
    /// there are several.
    int mSourceCount = 1;
    std::string mSourceSelector = "SourceSelector";
    /// The feature that locks the features made with SetTLLocked.
    std::string mTLParamsLocked = "TLParamsLocked";
};

/// Builds the XML into aXml.
TnResult BuildDescription(const std::vector<FeatureSpec> &aFeatures, const std::vector<FeatureChange> &aChanges,
                          const TnDescriptionInfo &aInfo, std::string &aXml);

/// The display name made from a feature's name and category: the first word
/// of the category's last level is taken off the name's front and blanks go
/// between the words ("DeviceType" in "DeviceControl" shows as "Type").
std::string GenerateDisplayName(const std::string &aName, const std::string &aCategory);
} // namespace softdevice
} // namespace tn

#endif
