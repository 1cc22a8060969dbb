// Category nodes.
#ifndef TN_GENAPI_CATEGORY_H
#define TN_GENAPI_CATEGORY_H

#include <vector>

#include "TnGenApiNodeMap.h"

namespace TN_GENAPI_NS
{

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

} // namespace TN_GENAPI_NS

#endif
