// The engine's node base: failures, definitions as GenICam XML elements,
// access modes, references between nodes, and INode itself.
#ifndef TN_GENAPI_NODE_H
#define TN_GENAPI_NODE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <initializer_list>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "TnGenApiFormula.h"
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

/// A description past a limit of what it may cost: it refuses the whole
/// description, never just the node being defined.
class LimitError : public GenApiError
{
public:
    explicit LimitError(const std::string &aMessage) : GenApiError(TN_GENICAM_XML_ERROR, aMessage) {}
};

/// One element of a node definition, as in GenICam XML.
struct Element
{
    std::string mName;
    std::string mText;
    std::vector<std::pair<std::string, std::string>> mAttributes;
    std::vector<Element> mChildren;

    /// The attribute's value, or null.
    const std::string *GetAttribute(const std::string &aName) const;
    /// Whether the element's name is aName (a literal: its length is known).
    template <size_t N> bool Is(const char (&aName)[N]) const
    {
        return mName.size() == N - 1 && memcmp(mName.data(), aName, N - 1) == 0;
    }
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
    Port,
    ConfRom,
    TextDesc,
    IntKey,
    AdvFeatureLock,
    SmartFeature,
    DcamLock
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
/// RO, WO or RW; false for other texts.
bool ParseAccess(const std::string &aText, Access &aAccess);

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

/// Adds the reference of aValue, when it has one.
template <typename T> void CollectValue(ValueOrRef<T> &aValue, std::vector<NodeRef *> &aReferences)
{
    if (aValue.mRef.IsSet())
    {
        aReferences.push_back(&aValue.mRef);
    }
}

/// What INode::GetAccess learns from the nodes a node reads, GenApi style:
/// any of them not implemented makes the node not implemented, then any of
/// them not available makes it not available; the node the value passes
/// through also limits reading and writing. It also learns whether the
/// access rests on a value the host does not cache (see INode::GetAccess).
class AccessScan
{
public:
    /// A node read on the way to the value (an address, index, offset,
    /// length, limit or formula variable). A name the description does not
    /// define, or a faulty node, is left out: it fails where it is read.
    void Input(const NodeRef &aRef);
    /// A node whose value decides the access or the value's place (a
    /// predicate, the selector of an indexed value, a command value): not
    /// readable, it makes the node not available.
    void Read(const NodeRef &aRef);
    /// The node the value is read and written through (none: a constant).
    void Value(const NodeRef &aRef);
    /// An access mode of the node's own (a register's AccessMode, a port's).
    void Value(Access aAccess);
    /// A node whose access this one's rests on, found other than through
    /// the calls above (an enumeration's entry).
    void DependOn(INode &aNode);
    /// A node whose value the access rests on, just read (a predicate, the
    /// selector of an indexed value).
    void ValueRead(INode &aNode);
    void SetNotImplemented() { mNotImplemented = true; }
    void SetNotAvailable() { mNotAvailable = true; }
    /// Whether the scan found a node that is neither implemented nor
    /// available; what follows cannot change the outcome then.
    bool IsNotImplemented() const { return mNotImplemented; }
    bool IsNotAvailable() const { return mNotAvailable; }
    /// Whether nothing read so far stops the value from being reached.
    bool IsOpen() const { return !mNotImplemented && !mNotAvailable; }
    Access GetBase() const { return mBase; }
    /// Whether the access holds for the current operation only.
    bool IsVolatile() const { return mVolatile; }

private:
    /// The access of aRef's node, or false when it is to be left out.
    bool Scan(const NodeRef &aRef, bool aLeaveOutFaults, Access &aAccess);

    bool mNotImplemented = false;
    bool mNotAvailable = false;
    bool mVolatile = false;
    Access mBase = Access::RW;
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
    /// Applies one element of the definition and records it. A malformed
    /// optional element is a warning and leaves the default; any other
    /// malformed element makes the node faulty.
    void Define(Element aElement);
    /// Define for an element that other nodes share (a StructReg's, which
    /// every entry shares): the node keeps it by reference, and its ToolTip,
    /// Description and DisplayName texts are not copied.
    void DefineShared(const std::shared_ptr<const Element> &aElement);
    void ReserveDefinition(size_t aCount) { mDefinition.reserve(mDefinition.size() + aCount); }
    /// Applies an attribute of the node element (NameSpace and others); a
    /// malformed one is a warning and leaves the default.
    void DefineAttribute(const std::string &aName, const std::string &aValue);
    /// The node's own elements; GetSharedDefinition has those it shares,
    /// which come before them.
    const std::vector<Element> &GetDefinition() const { return mDefinition; }
    const std::vector<std::shared_ptr<const Element>> &GetSharedDefinition() const { return mSharedDefinition; }
    const std::vector<std::pair<std::string, std::string>> &GetAttributes() const { return mAttributes; }
    /// Records a warning about this node's definition with the node map.
    void Warn(const std::string &aMessage) const;
    /// Makes the node faulty: every use of it fails with aFault (the first
    /// fault recorded wins). Also a warning.
    void MarkFaulty(const std::string &aFault);
    bool IsFaulty() const { return !mFault.empty(); }
    const std::string &GetFault() const { return mFault; }
    /// Yes or No; fails (TN_GENICAM_XML_ERROR) for other texts.
    bool ParseYesNo(const Element &aElement) const;
    /// Fails (TN_GENICAM_XML_ERROR) when aRef's node offers none of aKinds;
    /// a missing node passes (it fails by itself where it is read).
    void CheckInterface(const NodeRef &aRef, const char *aWhat, std::initializer_list<InterfaceKind> aKinds) const;
    /// Whether the node stands in for a name the description does not define.
    virtual bool IsMissing() const { return false; }

    // Descriptive attributes.
    const std::string &GetDisplayName() const { return mDisplayName && !mDisplayName->empty() ? *mDisplayName : mName; }
    const std::string &GetToolTip() const { return TextOf(mToolTip); }
    const std::string &GetDescription() const { return TextOf(mDescription); }
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
    /// The nodes pAlias and pCastAlias name, or null.
    INode *GetAlias() const { return mAlias.mNode; }
    INode *GetCastAlias() const { return mCastAlias.mNode; }

    // Access, as GenApi derives it: not implemented when pIsImplemented is
    // false or a node read on the way (AccessScan) is not implemented; else
    // not available when pIsAvailable is false, a node read on the way is
    // not available, or a predicate cannot be read; else the access of the
    // value's path, read-only while pIsLocked is true, combined with
    // ImposedAccessMode. The node keeps its access until a value changes, a
    // cache is invalidated or a device port's access changes (the node map's
    // access stamp), or, when it rests on a value the host does not cache
    // (a register read afresh each time), until the next operation begins.
    Access GetAccess();
    bool IsAccessVolatile() const { return mAccessVolatile; }
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
    /// The references by role: aValues are read (a missing node fails the
    /// features that use it); aOptional (invalidators, selections, category
    /// features, aliases, value copies, error flags) are left out when the
    /// node they name is missing.
    void CollectAllReferences(std::vector<NodeRef *> &aValues, std::vector<NodeRef *> &aInvalidators,
                              std::vector<NodeRef *> &aSelected, std::vector<NodeRef *> &aFeatures,
                              std::vector<NodeRef *> &aOptional);
    virtual void CollectFeatures(std::vector<NodeRef *> &) {}
    /// Checks the definition once references are resolved; throws
    /// GenApiError with TN_GENICAM_XML_ERROR.
    virtual void Validate() {}
    /// Parses the node's formulas now rather than when first evaluated; a
    /// formula that does not parse makes the node faulty (the strict check
    /// of a description, CheckDefinitions).
    virtual void ParseFormulas() {}

    // Used by the node map.
    std::chrono::steady_clock::time_point mLastInvalidated;

protected:
    /// Applies a kind-specific element; false when the node has no such element.
    virtual bool ApplyElement(const Element &aElement);
    /// Adds what the kind reads to aScan (AccessScan) and the access of its
    /// value's path; a node of no other kind is read-only.
    virtual void ScanAccess(AccessScan &aScan) { aScan.Value(Access::RO); }

    static const std::string &TextOf(const std::shared_ptr<const std::string> &aText)
    {
        static const std::string kNone;
        return aText ? *aText : kNone;
    }
    /// Applies an element, catching a malformed one's failure; aShared, when
    /// not null, holds the element for the texts the node keeps of it.
    void Apply(const Element &aElement, const std::shared_ptr<const Element> *aShared);

    /// Throws GenApiError naming the node and what it lacks ("has no float value").
    [[noreturn]] void FailUnsupported(const char *aWhat) const { Fail(Describe() + " " + aWhat); }

    // Helpers for definitions.
    int64_t ParseInteger(const Element &aElement) const;
    double ParseFloat(const Element &aElement) const;
    void ParseValue(const Element &aElement, int64_t &aValue) const { aValue = ParseInteger(aElement); }
    void ParseValue(const Element &aElement, double &aValue) const { aValue = ParseFloat(aElement); }
    void SetRef(NodeRef &aRef, const Element &aElement) const;

    /// Applies aElement when it is the constant (aConstant, "Min") or the
    /// reference (aReference, "pMin") of aValue; false for other elements.
    template <typename T, size_t C, size_t R>
    bool ApplyValue(const Element &aElement, const char (&aConstant)[C], const char (&aReference)[R],
                    ValueOrRef<T> &aValue) const
    {
        if (aElement.Is(aConstant))
        {
            T lValue = T();
            ParseValue(aElement, lValue);
            aValue.mValue = lValue;
            aValue.mHasValue = true;
            return true;
        }
        if (aElement.Is(aReference))
        {
            SetRef(aValue.mRef, aElement);
            return true;
        }
        return false;
    }

    // Helpers for values.
    /// The value of the node referred to.
    int64_t RefInt(const NodeRef &aRef);
    bool RefBool(const NodeRef &aRef);
    /// The constant, or the value of the node referred to.
    template <typename T> T ValueOf(const ValueOrRef<T> &aValue)
    {
        if (aValue.mRef.mNode == nullptr)
        {
            return aValue.mValue;
        }
        DepthGuard lGuard(mMap);
        return NumberCalls<T>::Get(*aValue.mRef.mNode);
    }
    /// Writes to the node referred to, or keeps the constant and reports the
    /// change of this node.
    template <typename T> void WriteValue(ValueOrRef<T> &aValue, T aNewValue);
    /// After a write: writes the value to the pValueCopy nodes, then fails
    /// when the pError node reports an error.
    template <typename T> void FinishWrite(const T &aNewValue);
    /// Fails when the pError node (read afresh) is not zero, naming the
    /// error's enumeration entry when it has one.
    void CheckDeviceError();
    void CheckIntRange(int64_t aValue);
    void CheckFloatRange(double aValue);

    friend class INodeMap;

    INodeMap &mMap;
    NodeKind mKind;
    std::string mName;
    size_t mIndex;
    std::vector<Element> mDefinition;
    std::vector<std::shared_ptr<const Element>> mSharedDefinition;
    std::vector<std::pair<std::string, std::string>> mAttributes;

    // Texts that may lie in an element that nodes share; null when absent.
    std::shared_ptr<const std::string> mDisplayName;
    std::shared_ptr<const std::string> mToolTip;
    std::shared_ptr<const std::string> mDescription;
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
    NodeRef mAlias;
    NodeRef mCastAlias;
    NodeRef mError;
    std::vector<NodeRef> mValueCopies;
    std::string mFault;

    std::vector<INode *> mSelectedNodes;
    std::vector<INode *> mSelecting;
    std::vector<INode *> mDependents;
    std::vector<INode *> mReferences;
    INode *mCategory;
    /// The access GetAccess derived, the node map's access stamp and
    /// operation then, and whether it holds for that operation only.
    Access mAccess;
    uint64_t mAccessStamp;
    uint64_t mAccessOperation;
    bool mAccessVolatile;
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

/// Texts, for the writes of String nodes.
template <> struct NumberCalls<std::string>
{
    static std::string Get(INode &aNode) { return aNode.GetString(); }
    static void Set(INode &aNode, const std::string &aValue) { aNode.SetString(aValue); }
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
    void ScanAccess(AccessScan &aScan) override { aScan.Value(mValue.mRef); }

    ValueOrRef<int64_t> mValue;
};

} // namespace TN_GENAPI_NS

#endif
