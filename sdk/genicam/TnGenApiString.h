// String, StringReg and Register nodes.
#ifndef TN_GENAPI_STRING_H
#define TN_GENAPI_STRING_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "TnGenApiNodeMap.h"
#include "TnGenApiRegister.h"

namespace TN_GENAPI_NS
{

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
    void ScanAccess(AccessScan &aScan) override { aScan.Value(mValueRef); }

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

} // namespace TN_GENAPI_NS

#endif
