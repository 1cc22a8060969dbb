// The GenICam descriptions of the streams' parameters, which the library
// carries (built from the .xml files beside this header).
#ifndef TN_STREAM_XML_H
#define TN_STREAM_XML_H

#include <string>

namespace tn
{
namespace stream
{
/// TnStreamGEV.xml.
const std::string &StreamGevXml();

/// TnStreamRTP.xml.
const std::string &StreamRtpXml();

/// TnStreamU3V.xml.
const std::string &StreamU3vXml();
} // namespace stream
} // namespace tn

#endif
