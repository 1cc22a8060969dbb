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

/// The calls of a node's integer or float interface, by value type, for the
/// code that serves both (defined after INode).
template <typename T> struct NumberCalls;

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
    virtual int64_t GetInt() { FailUnsupported("has no integer value"); }
    virtual void SetInt(int64_t) { FailUnsupported("has no integer value"); }
    virtual int64_t GetIntMin() { FailUnsupported("has no integer value"); }
    virtual int64_t GetIntMax() { FailUnsupported("has no integer value"); }
    virtual int64_t GetIntInc() { FailUnsupported("has no integer value"); }
    virtual double GetFloat() { FailUnsupported("has no float value"); }
    virtual void SetFloat(double) { FailUnsupported("has no float value"); }
    virtual double GetFloatMin() { FailUnsupported("has no float value"); }
    virtual double GetFloatMax() { FailUnsupported("has no float value"); }
    virtual bool GetBool() { FailUnsupported("has no Boolean value"); }
    virtual void SetBool(bool) { FailUnsupported("has no Boolean value"); }
    virtual std::string GetString() { FailUnsupported("has no string value"); }
    virtual void SetString(const std::string &) { FailUnsupported("has no string value"); }
    virtual int64_t GetMaxLength() { FailUnsupported("has no string value"); }
    virtual int64_t GetLength() { FailUnsupported("is no register"); }
    virtual void GetBytes(uint8_t *, size_t) { FailUnsupported("is no register"); }
    virtual void SetBytes(const uint8_t *, size_t) { FailUnsupported("is no register"); }
    virtual void Execute() { FailUnsupported("is no command"); }
    virtual bool IsDone() { FailUnsupported("is no command"); }
    virtual std::string ToString() { FailUnsupported("has no value to show as text"); }
    virtual void FromString(const std::string &) { FailUnsupported("has no value to set from text"); }
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

    /// Throws GenApiError naming the node and what it lacks ("has no float value").
    [[noreturn]] void FailUnsupported(const char *aWhat) const { Fail(Describe() + " " + aWhat); }

    // Helpers for definitions.
    int64_t ParseInteger(const Element &aElement) const;
    double ParseFloat(const Element &aElement) const;
    void ParseValue(const Element &aElement, int64_t &aValue) const { aValue = ParseInteger(aElement); }
    void ParseValue(const Element &aElement, double &aValue) const { aValue = ParseFloat(aElement); }
    bool ParseYesNo(const Element &aElement) const;
    void SetRef(NodeRef &aRef, const Element &aElement) const;
    void RequireInterface(const NodeRef &aRef, const char *aWhat, std::initializer_list<InterfaceKind> aKinds) const;
    /// Applies aElement when it is the constant (aConstant, "Min") or the
    /// reference (aReference, "pMin") of aValue; false for other elements.
    template <typename T>
    bool ApplyValue(const Element &aElement, const char *aConstant, const char *aReference, ValueOrRef<T> &aValue) const
    {
        if (aElement.mName == aConstant)
        {
            aValue.mHasValue = true;
            ParseValue(aElement, aValue.mValue);
            return true;
        }
        if (aElement.mName == aReference)
        {
            SetRef(aValue.mRef, aElement);
            return true;
        }
        return false;
    }

    // Helpers for values.
    int64_t RefInt(const NodeRef &aRef);
    bool RefBool(const NodeRef &aRef);
    /// The constant, or the value of the node referred to.
    template <typename T> T ValueOf(const ValueOrRef<T> &aValue)
    {
        if (aValue.mRef.mNode == nullptr)
        {
            return aValue.mValue;
        }
        DepthGuard guard(mMap);
        return NumberCalls<T>::Get(*aValue.mRef.mNode);
    }
    /// Writes to the node referred to, or keeps the constant and reports the
    /// change of this node.
    template <typename T> void WriteValue(ValueOrRef<T> &aValue, T aNewValue);
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

template <> struct NumberCalls<int64_t>
{
    static int64_t Get(INode &aNode) { return aNode.GetInt(); }
    static void Set(INode &aNode, int64_t aValue) { aNode.SetInt(aValue); }
    static int64_t Min(INode &aNode) { return aNode.GetIntMin(); }
    static int64_t Max(INode &aNode) { return aNode.GetIntMax(); }
};

template <> struct NumberCalls<double>
{
    static double Get(INode &aNode) { return aNode.GetFloat(); }
    static void Set(INode &aNode, double aValue) { aNode.SetFloat(aValue); }
    static double Min(INode &aNode) { return aNode.GetFloatMin(); }
    static double Max(INode &aNode) { return aNode.GetFloatMax(); }
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

/// What the integer and float interfaces share: Unit and Representation.
class NumberBase : public INode
{
public:
    using INode::INode;
    int64_t GetIntInc() override { return 1; }
    TnGenRepresentation GetRepresentation() override { return mRepresentation; }
    std::string GetUnit() override { return mUnit; }

protected:
    bool ApplyElement(const Element &aElement) override;

    TnGenRepresentation mRepresentation = TnGenRepresentationPureNumber;
    std::string mUnit;
};

/// Integer, IntReg, MaskedIntReg, IntSwissKnife, IntConverter: the integer
/// interface.
class IntegerBase : public NumberBase
{
public:
    using NumberBase::NumberBase;
    InterfaceKind GetInterface() const override { return InterfaceKind::Integer; }
    double GetFloat() override { return static_cast<double>(GetInt()); }
    void SetFloat(double aValue) override;
    double GetFloatMin() override { return static_cast<double>(GetIntMin()); }
    double GetFloatMax() override { return static_cast<double>(GetIntMax()); }
    bool GetBool() override { return GetInt() != 0; }
    int64_t GetIntMin() override { return INT64_MIN; }
    int64_t GetIntMax() override { return INT64_MAX; }
    std::string ToString() override;
    void FromString(const std::string &aValue) override;

protected:
    /// Checks access, limits and increment before a write.
    void CheckWrite(int64_t aValue);
};

/// Float, FloatReg, SwissKnife, Converter: the float interface.
class FloatBase : public NumberBase
{
public:
    using NumberBase::NumberBase;
    InterfaceKind GetInterface() const override { return InterfaceKind::Float; }
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override { SetFloat(static_cast<double>(aValue)); }
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    bool GetBool() override { return GetFloat() != 0.0; }
    double GetFloatMin() override { return -std::numeric_limits<double>::max(); }
    double GetFloatMax() override { return std::numeric_limits<double>::max(); }
    /// The increment, when the node has one.
    virtual bool GetFloatInc(double &aIncrement);
    std::string ToString() override;
    void FromString(const std::string &aValue) override;

protected:
    /// Checks access, limits and increment before a write.
    void CheckWrite(double aValue);
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

/// What Integer and Float share: a value given as Value / pValue or chosen by
/// pIndex, and limits given as Min / pMin, Max / pMax and Inc / pInc. T is
/// int64_t over IntegerBase or double over FloatBase (TnGenApiValues.cpp).
template <typename T, typename Base> class NumberNode : public Base
{
public:
    using Base::Base;
    INode *GetValueTarget() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override;
    /// The value, or the indexed value the selector chooses now.
    ValueOrRef<T> &Current();
    T GetValue();
    void SetValue(T aValue);
    T GetMin();
    T GetMax();
    /// Checks the references; pValue, pValueIndexed and pValueDefault may
    /// name nodes of aValueKinds.
    void ValidateNumber(std::initializer_list<InterfaceKind> aValueKinds);

    ValueOrRef<T> mValue;
    IndexedValue<T> mIndexed;
    ValueOrRef<T> mMin;
    ValueOrRef<T> mMax;
    ValueOrRef<T> mInc;

private:
    /// A limit: its own, else the one of the node the value comes from.
    T Limit(const ValueOrRef<T> &aLimit, T (*aTargetLimit)(INode &), T aDefault);
};

extern template class NumberNode<int64_t, IntegerBase>;
extern template class NumberNode<double, FloatBase>;

class IntegerNode : public NumberNode<int64_t, IntegerBase>
{
public:
    IntegerNode(INodeMap &aMap, const std::string &aName) : NumberNode(aMap, NodeKind::Integer, aName) {}
    int64_t GetInt() override { return GetValue(); }
    void SetInt(int64_t aValue) override { SetValue(aValue); }
    int64_t GetIntMin() override { return GetMin(); }
    int64_t GetIntMax() override { return GetMax(); }
    int64_t GetIntInc() override;
    void Validate() override;
};

class FloatNode : public NumberNode<double, FloatBase>
{
public:
    FloatNode(INodeMap &aMap, const std::string &aName) : NumberNode(aMap, NodeKind::Float, aName) {}
    double GetFloat() override { return GetValue(); }
    void SetFloat(double aValue) override { SetValue(aValue); }
    double GetFloatMin() override { return GetMin(); }
    double GetFloatMax() override { return GetMax(); }
    bool GetFloatInc(double &aIncrement) override;
    void Validate() override;
};

/// A node over a register: IntReg, MaskedIntReg, FloatReg, StringReg and
/// Register, over the interface of Base.
template <typename Base> class WithRegister : public Base
{
public:
    using Base::Base;
    bool IsCached() override { return mRegister.IsCached(*this); }
    void DropCache() override { mRegister.DropCache(); }
    void CollectReferences(std::vector<NodeRef *> &aReferences) override
    {
        mRegister.Collect(aReferences);
        Base::CollectReferences(aReferences);
    }

protected:
    bool ApplyElement(const Element &aElement) override
    {
        return mRegister.Apply(*this, aElement) || Base::ApplyElement(aElement);
    }
    Access GetBaseAccess() override { return mRegister.GetAccess(); }

    RegisterSpec mRegister;
};

class IntRegNode : public WithRegister<IntegerBase>
{
public:
    IntRegNode(INodeMap &aMap, const std::string &aName) : WithRegister(aMap, NodeKind::IntReg, aName) {}
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    void Validate() override;
    RegisterSpec &GetRegister() { return mRegister; }

protected:
    bool ApplyElement(const Element &aElement) override;
    /// The number of bits the value takes.
    virtual int GetValueBits();

    TnGenSign mSign = TnGenSignUnsigned;
    TnGenEndianness mEndianness = TnGenEndiannessLittle;
};

class MaskedIntRegNode : public IntRegNode
{
public:
    MaskedIntRegNode(INodeMap &aMap, const std::string &aName);
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    int GetValueBits() override;

private:
    /// The field's bits counted from the register's least significant bit;
    /// big-endian registers number their bits from the most significant one.
    void Bits(size_t aLength, int &aLow, int &aHigh) const;

    int64_t mLsb = -1;
    int64_t mMsb = -1;
};

class FloatRegNode : public WithRegister<FloatBase>
{
public:
    FloatRegNode(INodeMap &aMap, const std::string &aName) : WithRegister(aMap, NodeKind::FloatReg, aName) {}
    double GetFloat() override;
    void SetFloat(double aValue) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
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

/// Enumeration, Boolean and Command: a node over an integer Value or pValue.
class IntValueNode : public INode
{
public:
    using INode::INode;
    INode *GetValueTarget() override { return mValue.mRef.mNode; }
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    Access GetBaseAccess() override;

    ValueOrRef<int64_t> mValue;
};

class EnumerationNode : public IntValueNode
{
public:
    EnumerationNode(INodeMap &aMap, const std::string &aName) : IntValueNode(aMap, NodeKind::Enumeration, aName) {}
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
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    void WriteEntry(EnumEntryNode &aEntry);

    std::vector<EnumEntryNode *> mEntries;
    std::vector<NodeRef> mEntryRefs;
};

class BooleanNode : public IntValueNode
{
public:
    BooleanNode(INodeMap &aMap, const std::string &aName) : IntValueNode(aMap, NodeKind::Boolean, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Boolean; }
    bool GetBool() override;
    void SetBool(bool aValue) override;
    int64_t GetInt() override { return GetBool() ? 1 : 0; }
    double GetFloat() override { return GetBool() ? 1.0 : 0.0; }
    std::string ToString() override { return GetBool() ? "true" : "false"; }
    void FromString(const std::string &aValue) override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    int64_t mOnValue = 1;
    int64_t mOffValue = 0;
};

class CommandNode : public IntValueNode
{
public:
    CommandNode(INodeMap &aMap, const std::string &aName) : IntValueNode(aMap, NodeKind::Command, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Command; }
    void Execute() override;
    bool IsDone() override;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
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

class StringRegNode : public WithRegister<INode>
{
public:
    StringRegNode(INodeMap &aMap, const std::string &aName) : WithRegister(aMap, NodeKind::StringReg, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::String; }
    std::string GetString() override;
    void SetString(const std::string &aValue) override;
    int64_t GetMaxLength() override;
    std::string ToString() override { return GetString(); }
    void FromString(const std::string &aValue) override { SetString(aValue); }
    void Validate() override;
};

class RegisterNode : public WithRegister<INode>
{
public:
    RegisterNode(INodeMap &aMap, const std::string &aName) : WithRegister(aMap, NodeKind::Register, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Register; }
    int64_t GetLength() override;
    void GetBytes(uint8_t *aData, size_t aLength) override;
    void SetBytes(const uint8_t *aData, size_t aLength) override;
    /// The bytes in hexadecimal, two digits each, in register order.
    std::string ToString() override;
    void FromString(const std::string &aValue) override;
    void Validate() override;
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

/// IntSwissKnife and SwissKnife: a value computed by a Formula over
/// variables, over the interface of Base (TnGenApiFormulaNodes.cpp).
template <typename Base> class WithFormula : public Base
{
public:
    using Base::Base;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    /// The formula's value, computed the integer way when aIntegerMode is set.
    tn::genicam::FormulaValue Evaluate(bool aIntegerMode);

private:
    FormulaVariables mVariables;
    std::string mFormulaText;
    tn::genicam::Formula mFormula;
};

extern template class WithFormula<IntegerBase>;
extern template class WithFormula<FloatBase>;

class IntSwissKnifeNode : public WithFormula<IntegerBase>
{
public:
    IntSwissKnifeNode(INodeMap &aMap, const std::string &aName) : WithFormula(aMap, NodeKind::IntSwissKnife, aName) {}
    int64_t GetInt() override;
};

class SwissKnifeNode : public WithFormula<FloatBase>
{
public:
    SwissKnifeNode(INodeMap &aMap, const std::string &aName) : WithFormula(aMap, NodeKind::SwissKnife, aName) {}
    double GetFloat() override;
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

/// Converter and IntConverter: a value converted from and to pValue's, over
/// the interface of Base.
template <typename Base> class WithConverter : public Base
{
public:
    using Base::Base;
    INode *GetValueTarget() override { return mConverter.GetTarget(); }
    void CollectReferences(std::vector<NodeRef *> &aReferences) override
    {
        mConverter.Collect(aReferences);
        Base::CollectReferences(aReferences);
    }
    void Validate() override { mConverter.Validate(*this); }

protected:
    bool ApplyElement(const Element &aElement) override
    {
        return mConverter.Apply(*this, aElement) || Base::ApplyElement(aElement);
    }
    Access GetBaseAccess() override { return mConverter.GetAccess(); }

    ConverterSpec mConverter;
};

class ConverterNode : public WithConverter<FloatBase>
{
public:
    ConverterNode(INodeMap &aMap, const std::string &aName) : WithConverter(aMap, NodeKind::Converter, aName) {}
    double GetFloat() override;
    void SetFloat(double aValue) override;
    double GetFloatMin() override;
    double GetFloatMax() override;
};

class IntConverterNode : public WithConverter<IntegerBase>
{
public:
    IntConverterNode(INodeMap &aMap, const std::string &aName) : WithConverter(aMap, NodeKind::IntConverter, aName) {}
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
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
    /// A port over the data of a device event (EventID).
    bool IsEventPort() const { return mHasEventId; }
    uint64_t GetEventId() const { return mEventId; }
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
    bool mHasEventId = false;
    uint64_t mEventId = 0;
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

    // Event data.
    /// Keeps a copy of the data of a device event for the ports whose
    /// EventID is aEventId, invalidates what reads them, and returns the
    /// feature nodes that depend on those ports (in node-map order); empty
    /// when no port takes the event.
    std::vector<INode *> DeliverEvent(uint64_t aEventId, const uint8_t *aData, size_t aLength);
    /// The data of the last event of an ID, or null.
    const std::vector<uint8_t> *GetEventData(uint64_t aEventId) const;

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
    std::map<uint64_t, std::vector<uint8_t>> mEvents;
};

template <typename T> void INode::WriteValue(ValueOrRef<T> &aValue, T aNewValue)
{
    if (aValue.mRef.mNode != nullptr)
    {
        DepthGuard guard(mMap);
        NumberCalls<T>::Set(*aValue.mRef.mNode, aNewValue);
    }
    else
    {
        aValue.mValue = aNewValue;
        mMap.NodeChanged(*this);
    }
}

/// Builds and finalizes a node map from GenICam XML; throws GenApiError with
/// TN_GENICAM_XML_ERROR and a description of the fault.
std::unique_ptr<INodeMap> LoadXml(const std::string &aXml);

} // namespace TN_GENAPI_NS

#endif
