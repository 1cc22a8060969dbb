// Port nodes: the device's register space, or the data of a chunk.
#ifndef TN_GENAPI_PORT_H
#define TN_GENAPI_PORT_H

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "TnGenApiNode.h"
#include "TnGenICamInternal.h"

namespace TN_GENAPI_NS
{

/// A Port node: the device's register space, or a chunk's data (ChunkID).
class PortNode : public INode
{
public:
    PortNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Port, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Port; }
    bool IsChunkPort() const { return mHasChunkId; }
    uint32_t GetChunkId() const { return mChunkId; }
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
    std::shared_ptr<tn::genicam::IPort> mPort;
    std::map<std::pair<uint64_t, size_t>, std::vector<uint8_t>> mCache;
    size_t mLongestCached = 0;
};

} // namespace TN_GENAPI_NS

#endif
