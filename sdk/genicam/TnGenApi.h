// The GenICam engine: node maps and their nodes.
//
// A node map is built in two steps, whatever the source: nodes are created by
// kind and name and receive their definition as GenICam XML elements
// (Element, the same names and texts as in the XML), then Finalize resolves
// the references between nodes, checks the definitions and builds the
// dependency graph. The XML loader (LoadXml) is one such builder; code can
// build a node map the same way, and since each node keeps the elements it
// was defined with (INode::GetDefinition) a node map can be written back as
// GenICam XML.
//
// Everything here runs under the node map's recursive mutex (GetMutex), which
// the public parameter classes take around every call. Failures are thrown as
// GenApiError carrying a TnResult code.
#ifndef TN_GENAPI_H
#define TN_GENAPI_H

// The node families, each in a header of its own.
#include "TnGenApiBoolean.h"
#include "TnGenApiCategory.h"
#include "TnGenApiEnum.h"
#include "TnGenApiFormulaNodes.h"
#include "TnGenApiIidc.h"
#include "TnGenApiNode.h"
#include "TnGenApiNodeMap.h"
#include "TnGenApiNumber.h"
#include "TnGenApiPort.h"
#include "TnGenApiRegister.h"
#include "TnGenApiString.h"

#endif
