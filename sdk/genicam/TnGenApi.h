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

#include <stdint.h>

#include <chrono>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "TnGenApiFormula.h"
#include "TnGenICamInternal.h"
#include "TnGenParameter.h"
#include "TnGenTypes.h"
#include "TnResult.h"

namespace TN_GENAPI_NS
{

class INode;
class INodeMap;
class PortNode;

/// A failure inside the engine.
class GenApiError : public std::runtime_error
{
public:
    GenApiError(uint32_t aCode, const std::string &aMessage) : std::runtime_error(aMessage), mCode(aCode) {}
    uint32_t GetCode() const { return mCode; }

private:
    uint32_t mCode;
};

/// Throws GenApiError with TN_GENERIC_ERROR.
[[noreturn]] void Fail(const std::string &aMessage);
/// Throws GenApiError with TN_GENICAM_XML_ERROR.
[[noreturn]] void FailDefinition(const std::string &aMessage);

/// One element of a node definition, as in GenICam XML.
struct Element
{
    std::string mName;
    std::string mText;
    std::vector<std::pair<std::string, std::string>> mAttributes;
    std::vector<Element> mChildren;

    /// The attribute's value, or null.
    const std::string *GetAttribute(const std::string &aName) const;
};

/// The GenICam node kinds. StructReg entries become MaskedIntReg nodes.
enum class NodeKind
{
    Node,
    Category,
    Integer,
    IntReg,
    MaskedIntReg,
    Float,
    FloatReg,
    Enumeration,
    EnumEntry,
    Boolean,
    Command,
    String,
    StringReg,
    Register,
    IntSwissKnife,
    SwissKnife,
    Converter,
    IntConverter,
    Port
};

/// The interface a node offers to the parameter classes.
enum class InterfaceKind
{
    Base,
    Integer,
    Float,
    Enumeration,
    EnumEntry,
    Boolean,
    Command,
    String,
    Register,
    Category,
    Port
};

/// Access of a node, GenApi style.
enum class Access
{
    NI, // not implemented
    NA, // not available
    WO,
    RO,
    RW
};

/// The access both modes allow.
Access Combine(Access aFirst, Access aSecond);
/// The access left when a node is locked: RW gives RO, WO gives NA.
Access Lock(Access aAccess);
TnGenAccessMode ToAccessMode(Access aAccess);

/// A reference to another node by name, resolved by Finalize.
struct NodeRef
{
    std::string mName;
    INode *mNode = nullptr;

    bool IsSet() const { return !mName.empty(); }
};

/// A value given as a constant or as a reference (Value / pValue and alike).
template <typename T> struct ValueOrRef
{
    bool mHasValue = false;
    T mValue = T();
    NodeRef mRef;

    bool IsSet() const { return mHasValue || mRef.IsSet(); }
};

/// Counts the nesting of evaluations; throws when a chain of references runs
/// too deep (circular definitions).
class DepthGuard
{
public:
    explicit DepthGuard(INodeMap &aMap);
    ~DepthGuard();

private:
    INodeMap &mMap;
};

/// A node of a node map.
class INode
{
public:
    INode(INodeMap &aMap, NodeKind aKind, const std::string &aName);
    virtual ~INode();

    INodeMap &GetNodeMap() const { return mMap; }
    NodeKind GetKind() const { return mKind; }
    /// The XML element name of the kind ("IntReg", ...).
    const char *GetKindName() const;
    const std::string &GetName() const { return mName; }
    /// "IntReg 'WidthReg'", for messages.
    std::string Describe() const;
    size_t GetIndex() const { return mIndex; }
    virtual InterfaceKind GetInterface() const { return InterfaceKind::Base; }

    // Definition.
    /// Applies one element of the definition and records it.
    void Define(const Element &aElement);
    /// Applies an attribute of the node element (NameSpace and others).
    void DefineAttribute(const std::string &aName, const std::string &aValue);
    const std::vector<Element> &GetDefinition() const { return mDefinition; }
    const std::vector<std::pair<std::string, std::string>> &GetAttributes() const { return mAttributes; }

    // Descriptive attributes.
    const std::string &GetDisplayName() const { return mDisplayName.empty() ? mName : mDisplayName; }
    const std::string &GetToolTip() const { return mToolTip; }
    const std::string &GetDescription() const { return mDescription; }
    TnGenNameSpace GetNameSpace() const { return mNameSpace; }
    TnGenVisibility GetVisibility() const { return mVisibility; }
    bool IsStreamable() const { return mStreamable; }
    int64_t GetPollingTime() const { return mPollingTime; }
    /// Nodes embedded in another node's definition are no features.
    bool IsHidden() const { return mHidden; }
    void SetHidden(bool aHidden) { mHidden = aHidden; }

    // Relations built by Finalize.
    const std::vector<INode *> &GetSelected() const { return mSelectedNodes; }
    const std::vector<INode *> &GetSelecting() const { return mSelecting; }
    const std::vector<INode *> &GetDependents() const { return mDependents; }
    /// The nodes this one takes values from (downward edges).
    const std::vector<INode *> &GetReferences() const { return mReferences; }
    INode *GetCategory() const { return mCategory; }

    // Access.
    Access GetAccess();
    bool IsImplemented();
    bool IsAvailable();
    bool IsReadable();
    bool IsWritable();
    /// Throws a descriptive GenApiError unless readable (writable).
    void CheckReadable();
    void CheckWritable();

    // Values; each throws GenApiError where the node has no such value.
    virtual int64_t GetInt();
    virtual void SetInt(int64_t aValue);
    virtual int64_t GetIntMin();
    virtual int64_t GetIntMax();
    virtual int64_t GetIntInc();
    virtual double GetFloat();
    virtual void SetFloat(double aValue);
    virtual double GetFloatMin();
    virtual double GetFloatMax();
    virtual bool GetBool();
    virtual void SetBool(bool aValue);
    virtual std::string GetString();
    virtual void SetString(const std::string &aValue);
    virtual int64_t GetMaxLength();
    virtual int64_t GetLength();
    virtual void GetBytes(uint8_t *aData, size_t aLength);
    virtual void SetBytes(const uint8_t *aData, size_t aLength);
    virtual void Execute();
    virtual bool IsDone();
    virtual std::string ToString();
    virtual void FromString(const std::string &aValue);
    virtual TnGenRepresentation GetRepresentation() { return TnGenRepresentationUndefined; }
    virtual std::string GetUnit() { return std::string(); }

    /// Whether reading the value now would be served from the host's cache.
    virtual bool IsCached();
    /// Drops the node's own cached register contents.
    virtual void DropCache() {}
    /// The node a delegating node (pValue) reads and writes, or null.
    virtual INode *GetValueTarget() { return nullptr; }

    // Building (INodeMap::Finalize).
    virtual void CollectReferences(std::vector<NodeRef *> &aReferences);
    void CollectAllReferences(std::vector<NodeRef *> &aValues, std::vector<NodeRef *> &aInvalidators,
                              std::vector<NodeRef *> &aSelected, std::vector<NodeRef *> &aFeatures);
    virtual void CollectFeatures(std::vector<NodeRef *> &) {}
    /// Checks the definition once references are resolved; throws
    /// GenApiError with TN_GENICAM_XML_ERROR.
    virtual void Validate() {}

    // Used by the node map.
    std::chrono::steady_clock::time_point mLastInvalidated;

protected:
    /// Applies a kind-specific element; false when the node has no such element.
    virtual bool ApplyElement(const Element &aElement);
    /// The access of the kind before availability, locks and imposed modes.
    virtual Access GetBaseAccess() { return Access::RO; }

    // Helpers for definitions.
    int64_t ParseInteger(const Element &aElement) const;
    double ParseFloat(const Element &aElement) const;
    bool ParseYesNo(const Element &aElement) const;
    void SetRef(NodeRef &aRef, const Element &aElement) const;
    void RequireInterface(const NodeRef &aRef, const char *aWhat, std::initializer_list<InterfaceKind> aKinds) const;

    // Helpers for values.
    int64_t RefInt(const NodeRef &aRef);
    double RefFloat(const NodeRef &aRef);
    bool RefBool(const NodeRef &aRef);
    int64_t ValueInt(const ValueOrRef<int64_t> &aValue);
    double ValueFloat(const ValueOrRef<double> &aValue);
    void CheckIntRange(int64_t aValue);
    void CheckFloatRange(double aValue);

    friend class INodeMap;

    INodeMap &mMap;
    NodeKind mKind;
    std::string mName;
    size_t mIndex;
    std::vector<Element> mDefinition;
    std::vector<std::pair<std::string, std::string>> mAttributes;

    std::string mDisplayName;
    std::string mToolTip;
    std::string mDescription;
    TnGenNameSpace mNameSpace;
    TnGenVisibility mVisibility;
    bool mStreamable;
    bool mHasImposedAccess;
    Access mImposedAccess;
    int64_t mPollingTime;
    bool mHidden;
    NodeRef mIsImplemented;
    NodeRef mIsAvailable;
    NodeRef mIsLocked;
    std::vector<NodeRef> mInvalidators;
    std::vector<NodeRef> mSelected;

    std::vector<INode *> mSelectedNodes;
    std::vector<INode *> mSelecting;
    std::vector<INode *> mDependents;
    std::vector<INode *> mReferences;
    INode *mCategory;
};

/// Where a register lies: Address, pAddress, pIndex (with Offset or pOffset),
/// embedded IntSwissKnife formulas, Length / pLength, AccessMode, pPort,
/// Cachable.
class RegisterSpec
{
public:
    bool Apply(INode &aOwner, const Element &aElement);
    void Collect(std::vector<NodeRef *> &aReferences);
    void Validate(const INode &aOwner, int64_t aMinLength, int64_t aMaxLength);

    uint64_t GetAddress(INode &aOwner);
    size_t GetLength(INode &aOwner);
    Access GetAccess();
    PortNode *GetPort() const;
    TnGenCache GetCachable() const { return mCachable; }

    /// Reads the whole register, from the cache when the node may use it.
    void Read(INode &aOwner, uint8_t *aData, size_t aLength);
    /// Writes aLength bytes (at most the register's length) at its address.
    void Write(INode &aOwner, const uint8_t *aData, size_t aLength);
    bool IsCached(INode &aOwner);
    void DropCache();

private:
    struct Index
    {
        NodeRef mIndex;
        bool mHasOffset = false;
        int64_t mOffset = 0;
        NodeRef mOffsetRef;
    };

    bool UsesCache() const;

    std::vector<int64_t> mAddresses;
    std::vector<NodeRef> mAddressRefs;
    std::vector<Index> mIndexes;
    ValueOrRef<int64_t> mLength;
    Access mAccessMode = Access::RO;
    NodeRef mPort;
    TnGenCache mCachable = TnGenCacheWriteThrough;
    bool mHasCachedRange = false;
    uint64_t mCachedAddress = 0;
    size_t mCachedLength = 0;
};

/// Integer, IntReg, MaskedIntReg, IntSwissKnife, IntConverter: the integer
/// interface, with Unit and Representation.
class IntegerBase : public INode
{
public:
    using INode::INode;
    InterfaceKind GetInterface() const override { return InterfaceKind::Integer; }
    double GetFloat() override { return static_cast<double>(GetInt()); }
    void SetFloat(double aValue) override;
    double GetFloatMin() override { return static_cast<double>(GetIntMin()); }
    double GetFloatMax() override { return static_cast<double>(GetIntMax()); }
    bool GetBool() override { return GetInt() != 0; }
    int64_t GetIntMin() override { return INT64_MIN; }
    int64_t GetIntMax() override { return INT64_MAX; }
    int64_t GetIntInc() override { return 1; }
    std::string ToString() override;
    void FromString(const std::string &aValue) override;
    TnGenRepresentation GetRepresentation() override { return mRepresentation; }
    std::string GetUnit() override { return mUnit; }

protected:
    bool ApplyElement(const Element &aElement) override;
    /// Checks access, limits and increment before a write.
    void CheckIntWrite(int64_t aValue);

    TnGenRepresentation mRepresentation = TnGenRepresentationPureNumber;
    std::string mUnit;
};

/// Float, FloatReg, SwissKnife, Converter: the float interface.
class FloatBase : public INode
{
public:
    using INode::INode;
    InterfaceKind GetInterface() const override { return InterfaceKind::Float; }
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override { SetFloat(static_cast<double>(aValue)); }
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    int64_t GetIntInc() override { return 1; }
    bool GetBool() override { return GetFloat() != 0.0; }
    double GetFloatMin() override { return -std::numeric_limits<double>::max(); }
    double GetFloatMax() override { return std::numeric_limits<double>::max(); }
    /// The increment, when the node has one.
    virtual bool GetFloatInc(double &aIncrement);
    std::string ToString() override;
    void FromString(const std::string &aValue) override;
    TnGenRepresentation GetRepresentation() override { return mRepresentation; }
    std::string GetUnit() override { return mUnit; }

protected:
    bool ApplyElement(const Element &aElement) override;
    void CheckFloatWrite(double aValue);

    TnGenRepresentation mRepresentation = TnGenRepresentationPureNumber;
    std::string mUnit;
};

/// A value chosen by a selector: pIndex with ValueIndexed / pValueIndexed
/// entries and a ValueDefault / pValueDefault.
template <typename T> struct IndexedValue
{
    NodeRef mIndex;
    std::vector<std::pair<int64_t, ValueOrRef<T>>> mEntries;
    ValueOrRef<T> mDefault;

    bool IsSet() const { return mIndex.IsSet(); }
};

class IntegerNode : public IntegerBase
{
public:
    IntegerNode(INodeMap &aMap, const std::string &aName) : IntegerBase(aMap, NodeKind::Integer, aName) {}
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    int64_t GetIntInc() override;
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override;

private:
    ValueOrRef<int64_t> &Current();

    ValueOrRef<int64_t> mValue;
    IndexedValue<int64_t> mIndexed;
    ValueOrRef<int64_t> mMin;
    ValueOrRef<int64_t> mMax;
    ValueOrRef<int64_t> mInc;
};

class IntRegNode : public IntegerBase
{
public:
    IntRegNode(INodeMap &aMap, const std::string &aName) : IntegerBase(aMap, NodeKind::IntReg, aName) {}
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    bool IsCached() override { return mRegister.IsCached(*this); }
    void DropCache() override { mRegister.DropCache(); }
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;
    RegisterSpec &GetRegister() { return mRegister; }

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override { return mRegister.GetAccess(); }

    RegisterSpec mRegister;
    TnGenSign mSign = TnGenSignUnsigned;
    TnGenEndianness mEndianness = TnGenEndiannessLittle;
};

class MaskedIntRegNode : public IntRegNode
{
public:
    MaskedIntRegNode(INodeMap &aMap, const std::string &aName);
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    /// The field's bits counted from the register's least significant bit;
    /// big-endian registers number their bits from the most significant one.
    void Bits(size_t aLength, int &aLow, int &aHigh) const;

    int64_t mLsb = -1;
    int64_t mMsb = -1;
};

class FloatNode : public FloatBase
{
public:
    FloatNode(INodeMap &aMap, const std::string &aName) : FloatBase(aMap, NodeKind::Float, aName) {}
    double GetFloat() override;
    void SetFloat(double aValue) override;
    double GetFloatMin() override;
    double GetFloatMax() override;
    bool GetFloatInc(double &aIncrement) override;
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override;

private:
    ValueOrRef<double> &Current();

    ValueOrRef<double> mValue;
    IndexedValue<double> mIndexed;
    ValueOrRef<double> mMin;
    ValueOrRef<double> mMax;
    ValueOrRef<double> mInc;
};

class FloatRegNode : public FloatBase
{
public:
    FloatRegNode(INodeMap &aMap, const std::string &aName) : FloatBase(aMap, NodeKind::FloatReg, aName) {}
    double GetFloat() override;
    void SetFloat(double aValue) override;
    bool IsCached() override { return mRegister.IsCached(*this); }
    void DropCache() override { mRegister.DropCache(); }
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override { return mRegister.GetAccess(); }

private:
    RegisterSpec mRegister;
    TnGenEndianness mEndianness = TnGenEndiannessLittle;
};

class EnumEntryNode : public INode
{
public:
    EnumEntryNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::EnumEntry, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::EnumEntry; }
    int64_t GetInt() override { return mValue; }
    int64_t GetValue() const { return mValue; }
    /// The entry's symbolic name ("Mono8").
    const std::string &GetSymbolic() const { return mSymbolic; }
    void SetSymbolic(const std::string &aSymbolic) { mSymbolic = aSymbolic; }
    std::string ToString() override { return mSymbolic; }

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    int64_t mValue = 0;
    std::string mSymbolic;
};

class EnumerationNode : public INode
{
public:
    EnumerationNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Enumeration, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Enumeration; }
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    double GetFloat() override { return static_cast<double>(GetInt()); }
    bool GetBool() override { return GetInt() != 0; }
    std::string GetString() override;
    void SetString(const std::string &aValue) override;
    std::string ToString() override { return GetString(); }
    void FromString(const std::string &aValue) override { SetString(aValue); }
    const std::vector<EnumEntryNode *> &GetEntries() const { return mEntries; }
    EnumEntryNode *FindEntry(const std::string &aSymbolic) const;
    EnumEntryNode *FindEntry(int64_t aValue) const;
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override;

private:
    void WriteEntry(EnumEntryNode &aEntry);

    ValueOrRef<int64_t> mValue;
    std::vector<EnumEntryNode *> mEntries;
    std::vector<NodeRef> mEntryRefs;
};

class BooleanNode : public INode
{
public:
    BooleanNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Boolean, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Boolean; }
    bool GetBool() override;
    void SetBool(bool aValue) override;
    int64_t GetInt() override { return GetBool() ? 1 : 0; }
    double GetFloat() override { return GetBool() ? 1.0 : 0.0; }
    std::string ToString() override { return GetBool() ? "true" : "false"; }
    void FromString(const std::string &aValue) override;
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override;

private:
    ValueOrRef<int64_t> mValue;
    int64_t mOnValue = 1;
    int64_t mOffValue = 0;
};

class CommandNode : public INode
{
public:
    CommandNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Command, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Command; }
    void Execute() override;
    bool IsDone() override;
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override;

private:
    ValueOrRef<int64_t> mValue;
    ValueOrRef<int64_t> mCommandValue;
};

class StringNode : public INode
{
public:
    StringNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::String, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::String; }
    std::string GetString() override;
    void SetString(const std::string &aValue) override;
    int64_t GetMaxLength() override;
    std::string ToString() override { return GetString(); }
    void FromString(const std::string &aValue) override { SetString(aValue); }
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override;

private:
    bool mHasValue = false;
    std::string mValue;
    NodeRef mValueRef;
};

class StringRegNode : public INode
{
public:
    StringRegNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::StringReg, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::String; }
    std::string GetString() override;
    void SetString(const std::string &aValue) override;
    int64_t GetMaxLength() override;
    std::string ToString() override { return GetString(); }
    void FromString(const std::string &aValue) override { SetString(aValue); }
    bool IsCached() override { return mRegister.IsCached(*this); }
    void DropCache() override { mRegister.DropCache(); }
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override { return mRegister.GetAccess(); }

private:
    RegisterSpec mRegister;
};

class RegisterNode : public INode
{
public:
    RegisterNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Register, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Register; }
    int64_t GetLength() override;
    void GetBytes(uint8_t *aData, size_t aLength) override;
    void SetBytes(const uint8_t *aData, size_t aLength) override;
    /// The bytes in hexadecimal, two digits each, in register order.
    std::string ToString() override;
    void FromString(const std::string &aValue) override;
    bool IsCached() override { return mRegister.IsCached(*this); }
    void DropCache() override { mRegister.DropCache(); }
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override { return mRegister.GetAccess(); }

private:
    RegisterSpec mRegister;
};

/// The variables of a formula node: pVariable, Constant and Expression.
class FormulaVariables
{
public:
    bool Apply(INode &aOwner, const Element &aElement);
    void Collect(std::vector<NodeRef *> &aReferences);
    /// Parses a formula; FROM and TO are known when aConverter is set.
    void Parse(INode &aOwner, tn::genicam::Formula &aFormula, const std::string &aText, bool aConverter);
    /// Evaluates a parsed formula; aInput is the value of FROM and TO.
    tn::genicam::FormulaValue Evaluate(INode &aOwner, const tn::genicam::Formula &aFormula, bool aIntegerMode,
                                       const tn::genicam::FormulaValue *aInput);

private:
    enum class Attribute
    {
        Value,
        Min,
        Max,
        Inc
    };
    struct Variable
    {
        std::string mName;
        NodeRef mRef;
    };
    struct Expression
    {
        std::string mName;
        std::string mText;
        tn::genicam::Formula mFormula;
    };
    struct Use
    {
        int mKind; // 0 variable, 1 constant, 2 expression, 3 input
        size_t mIndex;
        Attribute mAttribute;
    };

    int Lookup(const std::string &aName, bool aConverter);

    std::vector<Variable> mVariables;
    std::vector<std::pair<std::string, tn::genicam::FormulaValue>> mConstants;
    std::vector<std::unique_ptr<Expression>> mExpressions;
    std::vector<Use> mUses;
};

class IntSwissKnifeNode : public IntegerBase
{
public:
    IntSwissKnifeNode(INodeMap &aMap, const std::string &aName) : IntegerBase(aMap, NodeKind::IntSwissKnife, aName) {}
    int64_t GetInt() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    FormulaVariables mVariables;
    std::string mFormulaText;
    tn::genicam::Formula mFormula;
};

class SwissKnifeNode : public FloatBase
{
public:
    SwissKnifeNode(INodeMap &aMap, const std::string &aName) : FloatBase(aMap, NodeKind::SwissKnife, aName) {}
    double GetFloat() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    FormulaVariables mVariables;
    std::string mFormulaText;
    tn::genicam::Formula mFormula;
};

/// What a converter shares between its float and integer forms.
class ConverterSpec
{
public:
    enum class Slope
    {
        Automatic,
        Increasing,
        Decreasing,
        Varying
    };

    bool Apply(INode &aOwner, const Element &aElement);
    void Collect(std::vector<NodeRef *> &aReferences);
    void Validate(INode &aOwner);
    /// The converter's value: FormulaFrom applied to pValue's value.
    tn::genicam::FormulaValue From(INode &aOwner, bool aIntegerMode);
    /// Writes aValue through FormulaTo to pValue.
    void To(INode &aOwner, const tn::genicam::FormulaValue &aValue, bool aIntegerMode);
    /// The limits: pValue's limits through FormulaFrom.
    void Limits(INode &aOwner, bool aIntegerMode, double &aMin, double &aMax);
    Access GetAccess();
    INode *GetTarget() const { return mValue.mNode; }

private:
    FormulaVariables mVariables;
    std::string mToText;
    std::string mFromText;
    tn::genicam::Formula mTo;
    tn::genicam::Formula mFrom;
    NodeRef mValue;
    Slope mSlope = Slope::Automatic;
};

class ConverterNode : public FloatBase
{
public:
    ConverterNode(INodeMap &aMap, const std::string &aName) : FloatBase(aMap, NodeKind::Converter, aName) {}
    double GetFloat() override;
    void SetFloat(double aValue) override;
    double GetFloatMin() override;
    double GetFloatMax() override;
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override { return mConverter.GetAccess(); }

private:
    ConverterSpec mConverter;
};

class IntConverterNode : public IntegerBase
{
public:
    IntConverterNode(INodeMap &aMap, const std::string &aName) : IntegerBase(aMap, NodeKind::IntConverter, aName) {}
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override { return mConverter.GetAccess(); }

private:
    ConverterSpec mConverter;
};

class CategoryNode : public INode
{
public:
    CategoryNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Category, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Category; }
    const std::vector<NodeRef> &GetFeatures() const { return mFeatures; }
    void CollectFeatures(std::vector<NodeRef *> &aFeatures) override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    std::vector<NodeRef> mFeatures;
};

/// A Port node: the device's register space, or a chunk's data (ChunkID).
class PortNode : public INode
{
public:
    PortNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Port, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Port; }
    bool IsChunkPort() const { return mHasChunkId; }
    uint32_t GetChunkId() const { return mChunkId; }
    void Bind(std::shared_ptr<tn::genicam::IPort> aPort) { mPort = std::move(aPort); }
    const std::shared_ptr<tn::genicam::IPort> &GetBoundPort() const { return mPort; }

    /// Reads and writes through the bound port or the chunk's data; throws
    /// GenApiError with the port's result code.
    void Read(uint64_t aAddress, uint8_t *aData, size_t aLength);
    void Write(uint64_t aAddress, const uint8_t *aData, size_t aLength);

    // The register cache of this port, by address and length.
    bool FindCached(uint64_t aAddress, uint8_t *aData, size_t aLength) const;
    bool HasCached(uint64_t aAddress, size_t aLength) const;
    void StoreCached(uint64_t aAddress, const uint8_t *aData, size_t aLength);
    void EraseCached(uint64_t aAddress, size_t aLength);
    void ClearCache() { mCache.clear(); }

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override;

private:
    bool mHasChunkId = false;
    uint32_t mChunkId = 0;
    std::shared_ptr<tn::genicam::IPort> mPort;
    std::map<std::pair<uint64_t, size_t>, std::vector<uint8_t>> mCache;
    size_t mLongestCached = 0;
};

/// A node map: the nodes of one GenICam description.
class INodeMap
{
public:
    INodeMap();
    ~INodeMap();
    INodeMap(const INodeMap &) = delete;
    INodeMap &operator=(const INodeMap &) = delete;

    std::recursive_mutex &GetMutex() const { return mMutex; }

    // Building.
    /// Creates a node of a kind given by its XML element name; throws
    /// GenApiError (TN_GENICAM_XML_ERROR) for an unknown kind or a name in use.
    INode *CreateNode(const std::string &aKind, const std::string &aName);
    /// Resolves references, checks definitions, builds the dependency graph.
    void Finalize();
    bool IsFinalized() const { return mFinalized; }
    /// Attributes of the description (ModelName, VendorName, ...).
    void SetAttribute(const std::string &aName, const std::string &aValue);
    const std::vector<std::pair<std::string, std::string>> &GetAttributes() const { return mAttributes; }

    // Lookup.
    INode *GetNode(const std::string &aName) const;
    /// Every node in the order of creation.
    const std::vector<INode *> &GetNodes() const { return mOrder; }
    std::vector<PortNode *> GetPorts() const;

    // Changes. Each records the nodes whose value changed or was invalidated;
    // TakeChangedNodes hands them out (once each, in the order recorded).
    /// A node's value was written: notifies it and every node depending on it.
    void NodeChanged(INode &aNode);
    /// Drops the cached values the node is read from and notifies it and its
    /// dependents.
    void InvalidateNode(INode &aNode);
    void InvalidateAll();
    /// Drops the cached values the node is read from, without notifying.
    void DropCaches(INode &aNode);
    /// Invalidates every node whose polling time elapsed since its last
    /// invalidation.
    void Poll();
    std::vector<INode *> TakeChangedNodes();

    // Chunk data.
    /// Parses a GigE Vision chunk layout and keeps a copy of the chunks that
    /// chunk ports read; returns TN_OK, TN_INVALID_PARAMETER or
    /// TN_INVALID_DATA_FORMAT (the earlier attachment is gone then).
    uint32_t AttachChunks(const uint8_t *aData, uint32_t aLength, std::string &aError);
    void DetachChunks();
    bool AreChunksAttached() const { return mChunksAttached; }
    /// The copied data of a chunk, or null.
    const std::vector<uint8_t> *GetChunk(uint32_t aChunkId) const;

private:
    friend class DepthGuard;
    void Record(INode &aNode);
    void Propagate(std::vector<INode *> aStart, bool aDropStartCaches);
    void DropDownward(INode &aNode, std::vector<bool> &aVisited);

    mutable std::recursive_mutex mMutex;
    std::vector<std::unique_ptr<INode>> mNodes;
    std::vector<INode *> mOrder;
    std::unordered_map<std::string, INode *> mByName;
    std::vector<std::pair<std::string, std::string>> mAttributes;
    bool mFinalized;
    int mDepth;
    uint64_t mSteps;

    std::vector<INode *> mChanged;
    std::vector<bool> mChangedFlags;

    bool mChunksAttached;
    std::map<uint32_t, std::vector<uint8_t>> mChunks;
};

/// Builds and finalizes a node map from GenICam XML; throws GenApiError with
/// TN_GENICAM_XML_ERROR and a description of the fault.
std::unique_ptr<INodeMap> LoadXml(const std::string &aXml);

} // namespace TN_GENAPI_NS

#endif
