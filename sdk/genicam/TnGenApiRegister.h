// Registers: where a register lies and how it is read, written and cached,
// for every node over a register.
#ifndef TN_GENAPI_REGISTER_H
#define TN_GENAPI_REGISTER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "TnGenApiNode.h"

namespace TN_GENAPI_NS
{

/// The Endianess element's value; fails for other texts than BigEndian and
/// LittleEndian.
TnGenEndianness ParseEndianness(const INode &aNode, const Element &aElement);

/// Where a register lies: Address, pAddress, pIndex (with Offset or pOffset),
/// embedded IntSwissKnife formulas, Length / pLength, AccessMode, pPort,
/// Cachable.
class RegisterSpec
{
public:
    bool Apply(INode &aOwner, const Element &aElement);
    /// Adds the references; a register without pPort gets the Device port.
    void Collect(const INode &aOwner, std::vector<NodeRef *> &aReferences);
    void Validate(const INode &aOwner, int64_t aMinLength, int64_t aMaxLength);

    uint64_t GetAddress(INode &aOwner);
    size_t GetLength(INode &aOwner);
    /// The placement's nodes, AccessMode and the port's access.
    void ScanAccess(AccessScan &aScan) const;
    /// AccessMode and the port's access (whether the register can be read
    /// or written, whatever the placement).
    Access GetAccess();
    PortNode *GetPort() const;
    TnGenCache GetCachable() const { return mCachable; }

    /// Reads the whole register, from the cache when the node may use it.
    void Read(INode &aOwner, uint8_t *aData, size_t aLength);
    /// Writes aLength bytes (at most the register's length) at its address.
    void Write(INode &aOwner, const uint8_t *aData, size_t aLength);
    bool IsCached(INode &aOwner);
    void DropCache();
    /// Reads or writes bytes at an offset from the register's address,
    /// beyond its length too, without the cache (for nodes that walk
    /// structures in device memory).
    void ReadAt(INode &aOwner, uint64_t aOffset, uint8_t *aData, size_t aLength);
    void WriteAt(INode &aOwner, uint64_t aOffset, const uint8_t *aData, size_t aLength);
    /// The length and access mode of a node kind whose description may leave
    /// them out.
    void SetDefaults(int64_t aLength, Access aAccess);
    void SetCachable(TnGenCache aCachable) { mCachable = aCachable; }

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
        mRegister.Collect(*this, aReferences);
        Base::CollectReferences(aReferences);
    }

protected:
    bool ApplyElement(const Element &aElement) override
    {
        return mRegister.Apply(*this, aElement) || Base::ApplyElement(aElement);
    }
    void ScanAccess(AccessScan &aScan) override { mRegister.ScanAccess(aScan); }

    RegisterSpec mRegister;
};

} // namespace TN_GENAPI_NS

#endif
