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
//
// Descriptions as real cameras write them. Only XML that is not well-formed,
// or whose root is no RegisterDescription of the GenApi schema, is refused,
// and what goes past the loader's limits (TnGenApiXml.cpp: entity
// declarations, attributes and text of an element, elements, nodes, text).
// Everything else loads, and each fault is a warning (INodeMap::GetWarnings,
// logged when a parameter array is created):
// - a malformed optional element (Visibility, AccessMode, Streamable, Sign,
//   Cachable, Min, OnValue, DisplayNotation, ...) or attribute (NameSpace)
//   leaves its default;
// - a reference to a name the description does not define fails, with
//   TN_GENICAM_XML_ERROR, only what reads through it (a missing pMax fails
//   GetMax, not the value); optional references (pFeature, pSelected,
//   pInvalidator, pAlias, pCastAlias, pValueCopy, pError) are left out;
// - a node whose definition does not hold (a malformed Address, no Value, a
//   formula that does not parse, ...) is faulty: it and whatever reads
//   through it fail with TN_GENICAM_XML_ERROR naming the fault, the rest of
//   the map works; enumeration entries that are faulty are left out;
// - nodes without a name, or defined a second time, are left out;
// - a register without pPort uses the port Device, and a description that
//   uses Device without defining it gets one.
// Formulas are parsed when first evaluated, so a syntax error shows then.
//
// Rules of evaluation:
// - Division and remainder by zero fail the evaluation, in integer and float
//   arithmetic alike ("division by zero"); no infinity or NaN comes of it.
// - Wherever a float becomes an integer (a formula's result in integer mode,
//   an IntConverter, a Converter writing an integer pValue, an integer
//   feature written as a float) it is rounded to the nearest integer, halves
//   away from zero (RoundToInteger), as is a float feature read as an
//   integer; integer limits taken from float limits
//   round inward, so that every integer between them lies within them
//   (LimitToInt). Integer division truncates toward zero, as integer
//   arithmetic does.
// - A formula's variables, and the nodes that pIsImplemented, pIsAvailable
//   and pIsLocked name, are read whether or not they are themselves
//   implemented or available (INodeMap::ReferenceRead): a formula over an
//   input that is not implemented evaluates, and so does IsImplemented.
// - A Boolean is true when its value equals OnValue and false otherwise,
//   also when the register holds neither OnValue nor OffValue.
// - After a write, the value is copied to the pValueCopy nodes, then the
//   pError node is read afresh and a non-zero value fails the write with the
//   error's enumeration entry.
// - Chunk ports (ChunkID) and event ports (EventID) never reach the device:
//   they read the attached chunk data or the last event's data with their
//   ID, and are not available without it.
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
