// Enumeration nodes and their entries.
#ifndef TN_GENAPI_ENUM_H
#define TN_GENAPI_ENUM_H

#include <stdint.h>

#include <string>
#include <vector>

#include "TnGenApiNodeMap.h"

namespace TN_GENAPI_NS
{

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
    /// Whether the device sets its enumeration back by itself once this
    /// entry was written (IsSelfClearing).
    bool IsSelfClearing() const { return mSelfClearing; }

protected:
    bool ApplyElement(const Element &aElement) override;

private:
    int64_t mValue = 0;
    std::string mSymbolic;
    bool mSelfClearing = false;
};

class EnumerationNode : public IntValueNode
{
public:
    EnumerationNode(INodeMap &aMap, const std::string &aName) : IntValueNode(aMap, NodeKind::Enumeration, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Enumeration; }
    /// The value as the nodes that read it as an integer see it: that of the
    /// current entry; fails when the value belongs to no entry.
    int64_t GetInt() override;
    void SetInt(int64_t aValue) override;
    double GetFloat() override { return static_cast<double>(GetInt()); }
    /// As a predicate: whether the value, entry or not, is not zero.
    bool GetBool() override { return GetRawValue() != 0; }
    /// The value as it is, whether or not an entry has it.
    int64_t GetRawValue();
    std::string GetString() override;
    void SetString(const std::string &aValue) override;
    std::string ToString() override { return GetString(); }
    void FromString(const std::string &aValue) override { SetString(aValue); }
    const std::vector<EnumEntryNode *> &GetEntries() const { return mEntries; }
    EnumEntryNode *FindEntry(const std::string &aSymbolic) const;
    EnumEntryNode *FindEntry(int64_t aValue) const;
    void CollectReferences(std::vector<NodeRef *> &aReferences) override;
    /// Also leaves out (with a warning) the entries whose definition is faulty.
    void Validate() override;

protected:
    bool ApplyElement(const Element &aElement) override;
    /// The value's access; not implemented when no entry is, not available
    /// when none is available.
    void ScanAccess(AccessScan &aScan) override;

private:
    /// The entry of the current value; fails when no entry has it.
    EnumEntryNode &CurrentEntry();
    void WriteEntry(EnumEntryNode &aEntry);

    std::vector<EnumEntryNode *> mEntries;
    std::vector<NodeRef> mEntryRefs;
};

} // namespace TN_GENAPI_NS

#endif
