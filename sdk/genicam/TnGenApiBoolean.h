// Boolean and Command nodes.
#ifndef TN_GENAPI_BOOLEAN_H
#define TN_GENAPI_BOOLEAN_H

#include <stdint.h>

#include <string>

#include "TnGenApiNodeMap.h"

namespace TN_GENAPI_NS
{

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
    void ScanAccess(AccessScan &aScan) override
    {
        aScan.Read(mCommandValue.mRef);
        IntValueNode::ScanAccess(aScan);
    }

private:
    ValueOrRef<int64_t> mCommandValue;
    /// Executed, and not seen done since.
    bool mPending = false;
};

} // namespace TN_GENAPI_NS

#endif
