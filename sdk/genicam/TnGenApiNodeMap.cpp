// The node map: building, the dependency graph, invalidation and chunk data.
#include <stdio.h>

#include <algorithm>
#include <deque>
#include <unordered_set>

#include "TnChunkTrailer.h"
#include "TnGenApi.h"
#include "TnGenApiText.h"

namespace TN_GENAPI_NS
{

namespace
{
template <typename T> std::unique_ptr<INode> Make(INodeMap &aMap, const std::string &aName)
{
    return std::unique_ptr<INode>(new T(aMap, aName));
}

class PlainNode : public INode
{
public:
    PlainNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Node, aName) {}
};

// Stands in for a name the description does not define: whatever reads
// through it fails, naming the name.
class MissingNode : public INode
{
public:
    MissingNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Node, aName)
    {
        mIndex = SIZE_MAX;
        mHidden = true;
    }
    bool IsMissing() const override { return true; }
    int64_t GetInt() override { FailMissing(); }
    void SetInt(int64_t) override { FailMissing(); }
    int64_t GetIntMin() override { FailMissing(); }
    int64_t GetIntMax() override { FailMissing(); }
    int64_t GetIntInc() override { FailMissing(); }
    double GetFloat() override { FailMissing(); }
    void SetFloat(double) override { FailMissing(); }
    double GetFloatMin() override { FailMissing(); }
    double GetFloatMax() override { FailMissing(); }
    bool GetBool() override { FailMissing(); }
    void SetBool(bool) override { FailMissing(); }
    std::string GetString() override { FailMissing(); }
    void SetString(const std::string &) override { FailMissing(); }
    int64_t GetMaxLength() override { FailMissing(); }
    int64_t GetLength() override { FailMissing(); }
    void GetBytes(uint8_t *, size_t) override { FailMissing(); }
    void SetBytes(const uint8_t *, size_t) override { FailMissing(); }
    bool IsCached() override { return false; }

protected:
    void ScanAccess(AccessScan &) override { FailMissing(); }

private:
    [[noreturn]] void FailMissing() const
    {
        throw GenApiError(TN_GENICAM_XML_ERROR,
                          "'" + mName + "' is referred to but the description does not define it");
    }
};

// Drops repeated nodes, keeping the first of each in place.
void Unique(std::vector<INode *> &aNodes)
{
    if (aNodes.size() < 2)
    {
        return;
    }
    if (aNodes.size() <= 32)
    {
        size_t lKept = 0;
        for (size_t lIndex = 0; lIndex < aNodes.size(); ++lIndex)
        {
            if (std::find(aNodes.begin(), aNodes.begin() + lKept, aNodes[lIndex]) == aNodes.begin() + lKept)
            {
                aNodes[lKept++] = aNodes[lIndex];
            }
        }
        aNodes.resize(lKept);
        return;
    }
    std::unordered_set<INode *> lSeen;
    std::vector<INode *> lUnique;
    for (INode *lNode : aNodes)
    {
        if (lSeen.insert(lNode).second)
        {
            lUnique.push_back(lNode);
        }
    }
    aNodes.swap(lUnique);
}

} // namespace

INodeMap::INodeMap() : mFinalized(false), mDepth(0), mSteps(0), mAccessStamp(1), mOperation(1), mChunksAttached(false)
{
}

INodeMap::~INodeMap() = default;

void INodeMap::CheckNodeCount() const
{
    if (mNodes.size() + mMissing.size() >= kMaxNodes)
    {
        throw LimitError("the description defines more than " + std::to_string(kMaxNodes) + " nodes");
    }
}

INode *INodeMap::CreateNode(const std::string &aKind, const std::string &aName)
{
    typedef std::unique_ptr<INode> (*Factory)(INodeMap &, const std::string &);
    static const std::pair<const char *, Factory> kKinds[] = {
        {"Node", &Make<PlainNode>},
        {"Category", &Make<CategoryNode>},
        {"Integer", &Make<IntegerNode>},
        {"IntReg", &Make<IntRegNode>},
        {"MaskedIntReg", &Make<MaskedIntRegNode>},
        {"Float", &Make<FloatNode>},
        {"FloatReg", &Make<FloatRegNode>},
        {"Enumeration", &Make<EnumerationNode>},
        {"EnumEntry", &Make<EnumEntryNode>},
        {"Boolean", &Make<BooleanNode>},
        {"Command", &Make<CommandNode>},
        {"String", &Make<StringNode>},
        {"StringReg", &Make<StringRegNode>},
        {"Register", &Make<RegisterNode>},
        {"IntSwissKnife", &Make<IntSwissKnifeNode>},
        {"SwissKnife", &Make<SwissKnifeNode>},
        {"Converter", &Make<ConverterNode>},
        {"IntConverter", &Make<IntConverterNode>},
        {"Port", &Make<PortNode>},
        {"ConfRom", &Make<ConfRomNode>},
        {"TextDesc", &Make<TextDescNode>},
        {"IntKey", &Make<IntKeyNode>},
        {"AdvFeatureLock", &Make<AdvFeatureLockNode>},
        {"SmartFeature", &Make<SmartFeatureNode>},
        {"DcamLock", &Make<DcamLockNode>},
    };
    if (aName.empty())
    {
        FailDefinition("a " + aKind + " node without a Name");
    }
    if (mByName.count(aName) != 0)
    {
        FailDefinition("the description defines the node '" + aName + "' twice");
    }
    CheckNodeCount();
    Factory lFactory = nullptr;
    if (!tn::genicam::LookupName(kKinds, aKind, lFactory))
    {
        FailDefinition("the node '" + aName + "' is of the unknown kind " + aKind);
    }
    std::unique_ptr<INode> lNode = lFactory(*this, aName);
    lNode->mIndex = mOrder.size();
    INode *lPointer = lNode.get();
    mNodes.push_back(std::move(lNode));
    mOrder.push_back(lPointer);
    mByName[aName] = lPointer;
    mFinalized = false;
    return lPointer;
}

void INodeMap::SetAttribute(const std::string &aName, const std::string &aValue)
{
    mAttributes.emplace_back(aName, aValue);
}

INode *INodeMap::GetNode(const std::string &aName) const
{
    const auto lFound = mByName.find(aName);
    return lFound != mByName.end() ? lFound->second : nullptr;
}

std::vector<PortNode *> INodeMap::GetPorts() const
{
    std::vector<PortNode *> lPorts;
    for (INode *lNode : mOrder)
    {
        if (lNode->GetKind() == NodeKind::Port)
        {
            lPorts.push_back(static_cast<PortNode *>(lNode));
        }
    }
    return lPorts;
}

void INodeMap::AddWarning(const std::string &aWarning)
{
    if (mWarnings.size() > kMaxWarnings)
    {
        return;
    }
    if (mWarnings.size() == kMaxWarnings)
    {
        mWarnings.push_back("more than " + std::to_string(kMaxWarnings) + " warnings; the rest are left out");
        return;
    }
    if (mWarningSet.insert(aWarning).second)
    {
        mWarnings.push_back(aWarning);
    }
}

void INodeMap::Finalize()
{
    // Finalize may run again after more nodes were created: start afresh.
    for (INode *lNode : mOrder)
    {
        lNode->mSelectedNodes.clear();
        lNode->mSelecting.clear();
        lNode->mDependents.clear();
        lNode->mReferences.clear();
        lNode->mCategory = nullptr;
    }
    struct References
    {
        std::vector<NodeRef *> mValues, mInvalidators, mSelected, mFeatures, mOptional;
    };
    std::vector<References> lReferences(mOrder.size());
    for (size_t lIndex = 0; lIndex < mOrder.size(); ++lIndex)
    {
        References &lRefs = lReferences[lIndex];
        mOrder[lIndex]->CollectAllReferences(lRefs.mValues, lRefs.mInvalidators, lRefs.mSelected, lRefs.mFeatures,
                                             lRefs.mOptional);
    }
    // Registers without a pPort use the Device port; a description that
    // uses one without defining it gets one (collecting may add nodes).
    bool lUsesDevice = false;
    for (const References &lRefs : lReferences)
    {
        for (const NodeRef *lRef : lRefs.mValues)
        {
            lUsesDevice = lUsesDevice || lRef->mName == "Device";
        }
    }
    if (lUsesDevice && GetNode("Device") == nullptr)
    {
        AddWarning("the description uses the port 'Device' without defining it; the engine supplies it");
        CreateNode("Port", "Device");
        lReferences.resize(mOrder.size());
    }
    for (size_t lIndex = 0; lIndex < mOrder.size(); ++lIndex)
    {
        INode *lNode = mOrder[lIndex];
        References &lRefs = lReferences[lIndex];
        for (NodeRef *lRef : lRefs.mValues)
        {
            lRef->mNode = GetNode(lRef->mName);
            if (lRef->mNode == nullptr)
            {
                // What reads through the name fails; the rest of the node works.
                auto lMissing = mMissing.find(lRef->mName);
                if (lMissing == mMissing.end())
                {
                    CheckNodeCount();
                    std::unique_ptr<INode> lNode(new MissingNode(*this, lRef->mName));
                    lMissing = mMissing.emplace(lRef->mName, std::move(lNode)).first;
                }
                lRef->mNode = lMissing->second.get();
                lNode->Warn("refers to '" + lRef->mName + "', which the description does not define");
            }
        }
        for (auto *lList : {&lRefs.mInvalidators, &lRefs.mSelected, &lRefs.mFeatures, &lRefs.mOptional})
        {
            for (NodeRef *lRef : *lList)
            {
                lRef->mNode = GetNode(lRef->mName);
                if (lRef->mNode == nullptr)
                {
                    lNode->Warn("refers to '" + lRef->mName +
                                "', which the description does not define; it is left out");
                }
            }
        }
    }
    for (INode *lNode : mOrder)
    {
        try
        {
            lNode->Validate();
        }
        catch (const GenApiError &lError)
        {
            lNode->MarkFaulty(lError.what());
        }
    }
    for (size_t lIndex = 0; lIndex < mOrder.size(); ++lIndex)
    {
        INode *lNode = mOrder[lIndex];
        const References &lRefs = lReferences[lIndex];
        for (NodeRef *lRef : lRefs.mValues)
        {
            if (lRef->mNode != lNode && !lRef->mNode->IsMissing())
            {
                lRef->mNode->mDependents.push_back(lNode);
                lNode->mReferences.push_back(lRef->mNode);
            }
        }
        for (NodeRef *lRef : lRefs.mInvalidators)
        {
            if (lRef->mNode != nullptr && lRef->mNode != lNode)
            {
                lRef->mNode->mDependents.push_back(lNode);
            }
        }
        for (NodeRef *lRef : lRefs.mSelected)
        {
            if (lRef->mNode != nullptr)
            {
                lNode->mSelectedNodes.push_back(lRef->mNode);
                lRef->mNode->mSelecting.push_back(lNode);
            }
        }
        for (NodeRef *lRef : lRefs.mFeatures)
        {
            if (lRef->mNode != nullptr && lRef->mNode->mCategory == nullptr && lRef->mNode != lNode)
            {
                lRef->mNode->mCategory = lNode;
            }
        }
    }
    const auto lNow = std::chrono::steady_clock::now();
    for (INode *lNode : mOrder)
    {
        Unique(lNode->mSelectedNodes);
        Unique(lNode->mSelecting);
        Unique(lNode->mDependents);
        Unique(lNode->mReferences);
        lNode->mLastInvalidated = lNow;
    }
    mChangedFlags.assign(mOrder.size(), false);
    mChanged.clear();
    mDevicePorts.clear();
    for (PortNode *lPort : GetPorts())
    {
        if (lPort->GetSource() == PortNode::Source::Device)
        {
            mDevicePorts.push_back(lPort);
        }
    }
    ++mAccessStamp;
    mFinalized = true;
}

void INodeMap::BeginOperation()
{
    ++mOperation;
    for (PortNode *lPort : mDevicePorts)
    {
        if (lPort->AccessChanged())
        {
            ++mAccessStamp;
        }
    }
}

void INodeMap::Record(INode &aNode)
{
    if (aNode.mIndex >= mChangedFlags.size())
    {
        mChangedFlags.resize(mOrder.size(), false);
    }
    if (!mChangedFlags[aNode.mIndex])
    {
        mChangedFlags[aNode.mIndex] = true;
        mChanged.push_back(&aNode);
    }
}

std::vector<INode *> INodeMap::TakeChangedNodes()
{
    std::vector<INode *> lChanged;
    lChanged.swap(mChanged);
    for (INode *lNode : lChanged)
    {
        mChangedFlags[lNode->mIndex] = false;
    }
    return lChanged;
}

void INodeMap::DropDownward(INode &aNode, std::vector<bool> &aVisited)
{
    std::vector<INode *> lPending{&aNode};
    while (!lPending.empty())
    {
        INode *lNode = lPending.back();
        lPending.pop_back();
        if (aVisited[lNode->mIndex])
        {
            continue;
        }
        aVisited[lNode->mIndex] = true;
        lNode->DropCache();
        for (INode *lReference : lNode->mReferences)
        {
            if (!aVisited[lReference->mIndex])
            {
                lPending.push_back(lReference);
            }
        }
    }
}

void INodeMap::DropCaches(INode &aNode)
{
    ++mAccessStamp;
    std::vector<bool> lVisited(mOrder.size(), false);
    DropDownward(aNode, lVisited);
}

void INodeMap::Propagate(std::vector<INode *> aStart, bool aDropStartCaches)
{
    ++mAccessStamp;
    const auto lNow = std::chrono::steady_clock::now();
    std::vector<bool> lQueued(mOrder.size(), false);
    std::vector<bool> lDropped(mOrder.size(), false);
    std::deque<INode *> lQueue;
    for (INode *lNode : aStart)
    {
        if (!lQueued[lNode->mIndex])
        {
            lQueued[lNode->mIndex] = true;
            lQueue.push_back(lNode);
            if (aDropStartCaches)
            {
                DropDownward(*lNode, lDropped);
            }
        }
    }
    const size_t lStartCount = lQueue.size();
    size_t lPosition = 0;
    while (!lQueue.empty())
    {
        INode *lNode = lQueue.front();
        lQueue.pop_front();
        // Nodes that depend on a changed one hold stale cached values.
        if (lPosition++ >= lStartCount)
        {
            lNode->DropCache();
        }
        lNode->mLastInvalidated = lNow;
        Record(*lNode);
        for (INode *lDependent : lNode->mDependents)
        {
            if (!lQueued[lDependent->mIndex])
            {
                lQueued[lDependent->mIndex] = true;
                lQueue.push_back(lDependent);
            }
        }
        // A selector switches what its selected features show.
        for (INode *lSelected : lNode->mSelectedNodes)
        {
            DropDownward(*lSelected, lDropped);
            if (!lQueued[lSelected->mIndex])
            {
                lQueued[lSelected->mIndex] = true;
                lQueue.push_back(lSelected);
            }
        }
    }
}

void INodeMap::NodeChanged(INode &aNode)
{
    Propagate({&aNode}, false);
}

void INodeMap::InvalidateNode(INode &aNode)
{
    Propagate({&aNode}, true);
}

void INodeMap::InvalidateAll()
{
    ++mAccessStamp;
    const auto lNow = std::chrono::steady_clock::now();
    for (INode *lNode : mOrder)
    {
        lNode->DropCache();
        if (lNode->GetKind() == NodeKind::Port)
        {
            static_cast<PortNode *>(lNode)->ClearCache();
        }
        lNode->mLastInvalidated = lNow;
        Record(*lNode);
    }
}

void INodeMap::Poll()
{
    const auto lNow = std::chrono::steady_clock::now();
    std::vector<INode *> lDue;
    for (INode *lNode : mOrder)
    {
        if (lNode->mPollingTime >= 0 &&
            lNow - lNode->mLastInvalidated >= std::chrono::milliseconds(lNode->mPollingTime))
        {
            lDue.push_back(lNode);
        }
    }
    if (!lDue.empty())
    {
        Propagate(lDue, true);
    }
}

uint32_t INodeMap::AttachChunks(const uint8_t *aData, uint32_t aLength, std::string &aError)
{
    if (aData == nullptr || aLength == 0)
    {
        aError = "no chunk data given";
        return TN_INVALID_PARAMETER;
    }
    struct Chunk
    {
        uint32_t mId;
        size_t mOffset;
        size_t mLength;
    };
    std::vector<Chunk> lChunks;
    uint32_t lCode = TN_OK;
    const tn::ChunkWalkEnd lEnd =
        tn::WalkChunkTrailers(aData, aLength, 0, false, [&](uint32_t aId, uint32_t aStart, uint32_t aChunkLength) {
            lChunks.push_back(Chunk{aId, aStart, aChunkLength});
            return true;
        });
    if (lEnd.mReason == tn::ChunkWalkEnd::NoTag)
    {
        aError = "the chunk layout leaves " + std::to_string(lEnd.mPosition) + " bytes without a tag at its start";
        lCode = TN_INVALID_DATA_FORMAT;
    }
    else if (lEnd.mReason == tn::ChunkWalkEnd::Overlong)
    {
        aError = "chunk " + tn::genicam::FormatHex(lEnd.mId) + " claims " + std::to_string(lEnd.mLength) +
                 " bytes, but only " + std::to_string(lEnd.mPosition - tn::kChunkTagSize) + " precede its tag";
        lCode = TN_INVALID_DATA_FORMAT;
    }
    std::map<uint32_t, std::vector<uint8_t>> lCopies;
    if (lCode == TN_OK)
    {
        // Copy what chunk ports read, so the caller's memory is not needed
        // after this call; of several chunks with one ID the last one wins.
        for (PortNode *lPort : GetPorts())
        {
            if (!lPort->IsChunkPort() || lCopies.count(lPort->GetChunkId()) != 0)
            {
                continue;
            }
            for (const Chunk &lChunk : lChunks)
            {
                if (lChunk.mId == lPort->GetChunkId())
                {
                    lCopies[lChunk.mId].assign(aData + lChunk.mOffset, aData + lChunk.mOffset + lChunk.mLength);
                    break;
                }
            }
        }
    }
    mChunks.swap(lCopies);
    mChunksAttached = lCode == TN_OK;
    std::vector<INode *> lChunkPorts;
    for (PortNode *lPort : GetPorts())
    {
        if (lPort->IsChunkPort())
        {
            lChunkPorts.push_back(lPort);
        }
    }
    Propagate(lChunkPorts, true);
    return lCode;
}

void INodeMap::DetachChunks()
{
    if (!mChunksAttached)
    {
        return;
    }
    mChunks.clear();
    mChunksAttached = false;
    std::vector<INode *> lChunkPorts;
    for (PortNode *lPort : GetPorts())
    {
        if (lPort->IsChunkPort())
        {
            lChunkPorts.push_back(lPort);
        }
    }
    Propagate(lChunkPorts, true);
}

const std::vector<uint8_t> *INodeMap::GetChunk(uint32_t aChunkId) const
{
    if (!mChunksAttached)
    {
        return nullptr;
    }
    const auto lFound = mChunks.find(aChunkId);
    return lFound != mChunks.end() ? &lFound->second : nullptr;
}

bool INodeMap::DeliverEvent(uint64_t aEventId, const uint8_t *aData, uint32_t aLength)
{
    std::vector<INode *> lPorts;
    for (PortNode *lPort : GetPorts())
    {
        if (lPort->IsEventPort() && lPort->GetEventId() == aEventId)
        {
            lPorts.push_back(lPort);
        }
    }
    if (lPorts.empty())
    {
        return false;
    }
    std::vector<uint8_t> &lData = mEvents[aEventId];
    lData.assign(aData, aData + (aData != nullptr ? aLength : 0));
    Propagate(lPorts, true);
    return true;
}

const std::vector<uint8_t> *INodeMap::GetEventData(uint64_t aEventId) const
{
    const auto lFound = mEvents.find(aEventId);
    return lFound != mEvents.end() ? &lFound->second : nullptr;
}

} // namespace TN_GENAPI_NS
