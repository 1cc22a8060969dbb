// Category nodes.
#include "TnGenApiCategory.h"

namespace TN_GENAPI_NS
{

// --- Category -------------------------------------------------------------------

bool CategoryNode::ApplyElement(const Element &aElement)
{
    if (aElement.Is("pFeature"))
    {
        mFeatures.emplace_back();
        SetRef(mFeatures.back(), aElement);
        return true;
    }
    return INode::ApplyElement(aElement);
}

void CategoryNode::CollectFeatures(std::vector<NodeRef *> &aFeatures)
{
    for (NodeRef &lRef : mFeatures)
    {
        aFeatures.push_back(&lRef);
    }
}

} // namespace TN_GENAPI_NS
