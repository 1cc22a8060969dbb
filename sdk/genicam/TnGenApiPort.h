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

/// A Port node: the device's register space, a chunk's data (ChunkID) or
/// the data of the last event with its ID (EventID). Chunk and event ports
/// never reach the device: they read the data the node map was given and
/// are not available without it.
class PortNode : public INode
{
public:
    enum class Source
    {
        Device,
        Chunk,
        Event
    };

    PortNode(INodeMap &aMap, const std::string &aName) : INode(aMap, NodeKind::Port, aName) {}
    InterfaceKind GetInterface() const override { return InterfaceKind::Port; }
    Source GetSource() const { return mSource; }
    bool IsChunkPort() const { return mSource == Source::Chunk; }
    bool IsEventPort() const { return mSource == Source::Event; }
    uint32_t GetChunkId() const { return static_cast<uint32_t>(mId); }
    uint64_t GetEventId() const { return mId; }
    void Bind(std::shared_ptr<tn::genicam::IPort> aPort) { mPort = std::move(aPort); }
    /// Whether the access the bound port allows differs from what it
    /// allowed when last asked.
    bool AccessChanged();
    const std::shared_ptr<tn::genicam::IPort> &GetBoundPort() const { return mPort; }

    /// Reads and writes through the bound port, or reads the chunk's or
    /// event's data; throws GenApiError with the port's result code.
    void Read(uint64_t aAddress, uint8_t *aData, size_t aLength);
    void Write(uint64_t aAddress, const uint8_t *aData, size_t aLength);

    // The register cache of this port, by address and length (device ports
    // only: chunk and event data are the host's own).
    bool FindCached(uint64_t aAddress, uint8_t *aData, size_t aLength) const;
    bool HasCached(uint64_t aAddress, size_t aLength) const;
    void StoreCached(uint64_t aAddress, const uint8_t *aData, size_t aLength);
    void EraseCached(uint64_t aAddress, size_t aLength);
    void ClearCache() { mCache.clear(); }

protected:
    bool ApplyElement(const Element &aElement) override;
    void ScanAccess(AccessScan &aScan) override;

private:
    /// The access the source allows now, kept as the one seen last.
    Access GetPortAccess();
    Access ReadPortAccess();
    /// The data a chunk or event port reads, or null while there is none.
    const std::vector<uint8_t> *GetData() const;

    Source mSource = Source::Device;
    uint64_t mId = 0;
    std::shared_ptr<tn::genicam::IPort> mPort;
    /// The access the source allowed when last asked.
    Access mSeenAccess = Access::NI;
    std::map<std::pair<uint64_t, size_t>, std::vector<uint8_t>> mCache;
    size_t mLongestCached = 0;
};

} // namespace TN_GENAPI_NS

#endif
