// The nodes of IIDC (IEEE 1394 digital) cameras: ConfRom, TextDesc, IntKey,
// AdvFeatureLock, SmartFeature and DcamLock. Each lies in device memory
// reached through its pPort (Device when it has none), at Address (and the
// other placement elements of registers); IIDC memory is big-endian and
// organised in 4-byte quadlets. How the engine reads them:
//
// - ConfRom (integer, RO): the quadlet at Address, masked by Mask (all 32
//   bits by default) and shifted down to the mask's lowest bit: an entry of
//   the configuration ROM.
// - IntKey (integer, RO): the 24-bit value of the entry whose key (its top
//   byte) is Key in the configuration-ROM directory at Address (a header
//   quadlet whose upper 16 bits count the entries that follow); fails when
//   the directory has no such entry.
// - TextDesc (string, RO): the text of the textual descriptor leaf at Address
//   (a header quadlet whose upper 16 bits count the quadlets that follow,
//   two quadlets of specifier and language, then the text, padded with NULs).
// - AdvFeatureLock (integer, RW): the 8-byte advanced-feature access register
//   at Address. It reads 1 while the register holds FeatureID (48 bits) in
//   its upper 6 bytes, that is while the advanced features are unlocked, and
//   0 otherwise; writing a non-zero value writes FeatureID and Timeout (16
//   bits, 0 by default) to unlock them, writing 0 clears the register.
// - SmartFeature (integer, RO): the address of the smart feature that
//   FeatureID (a 128-bit GUID, hexadecimal, dashes and braces allowed) names:
//   the GUID is written to the 16-byte inquiry register at Address and the
//   feature's quadlet address read from the quadlet after it (0 when the
//   camera lacks the feature).
// - DcamLock (integer, RW): the Mask bits (all 32 by default) of the quadlet
//   at Address, a lock of a DCAM feature; writing changes only those bits.
#ifndef TN_GENAPI_IIDC_H
#define TN_GENAPI_IIDC_H

#include <stdint.h>

#include <string>

#include "TnGenApiNumber.h"
#include "TnGenApiRegister.h"

namespace TN_GENAPI_NS
{

/// ConfRom, IntKey, AdvFeatureLock, SmartFeature and DcamLock.
class IidcIntegerNode : public WithRegister<IntegerBase>
{
public:
    IidcIntegerNode(INodeMap &aMap, NodeKind aKind, const std::string &aName);
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    int64_t GetIntMin() override;
    int64_t GetIntMax() override;
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    uint32_t ReadQuadlet(uint64_t aOffset);
    int GetMaskShift() const;

    uint32_t mMask = 0xFFFFFFFF;
    bool mHasKey = false;
    uint32_t mKey = 0;
    bool mHasFeatureId = false;
    uint8_t mFeatureId[16] = {0};
    size_t mFeatureIdLength = 0;
    uint16_t mTimeout = 0;
};

class ConfRomNode : public IidcIntegerNode
{
public:
    ConfRomNode(INodeMap &aMap, const std::string &aName) : IidcIntegerNode(aMap, NodeKind::ConfRom, aName) {}
};

class IntKeyNode : public IidcIntegerNode
{
public:
    IntKeyNode(INodeMap &aMap, const std::string &aName) : IidcIntegerNode(aMap, NodeKind::IntKey, aName) {}
};

class AdvFeatureLockNode : public IidcIntegerNode
{
public:
    AdvFeatureLockNode(INodeMap &aMap, const std::string &aName)
        : IidcIntegerNode(aMap, NodeKind::AdvFeatureLock, aName)
    {
    }
};

class SmartFeatureNode : public IidcIntegerNode
{
public:
    SmartFeatureNode(INodeMap &aMap, const std::string &aName) : IidcIntegerNode(aMap, NodeKind::SmartFeature, aName) {}
};

class DcamLockNode : public IidcIntegerNode
{
public:
    DcamLockNode(INodeMap &aMap, const std::string &aName) : IidcIntegerNode(aMap, NodeKind::DcamLock, aName) {}
};

/// TextDesc: the text of a configuration-ROM leaf.
class TextDescNode : public WithRegister<INode>
{
public:
    TextDescNode(INodeMap &aMap, const std::string &aName);
    InterfaceKind GetInterface() const override { return InterfaceKind::String; }
    std::string GetString() override;
    int64_t GetMaxLength() override;
    std::string ToString() override { return GetString(); }
    void Validate() override;
};

} // namespace TN_GENAPI_NS

#endif
