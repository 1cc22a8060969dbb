// libTnBuffer's GenDC engine, for the buffer and for the SDK's own sources,
// transmitters and receivers.
//
// A container is read and written in the bytes that hold it: a received
// buffer's memory, a buffer the manager laid a container into, any area a
// caller names, or a manager's descriptor. Its bytes are asked for anew on
// every call and nothing read from them is kept, so that what a program
// writes into a header shows at once and no header can point a read outside
// the bytes: a component or part whose header does not fit answers as one
// that does not exist.
//
// The send side builds with a GenDCManager: components and parts are added to
// its descriptor, a program fills in their headers, and WriteContainer lays
// the container into a buffer's memory (TnBuffer::AttachGenDCManager) or any
// area, for a source to fill the parts' data.
//
// Layout the manager writes: the container header and its component offsets,
// the flow table, the component headers with their part offsets, the part
// headers (together the descriptor, flow 0 starting with it), then each
// flow's part data in flow order, each part's data 8-byte aligned, flows
// following one another. A part's data size is what its header says, at
// least what a 1-D or 2-D geometry needs. In the laid container a GenICam
// chunk part's data size is that of its chunks, none yet; its room reaches to
// the next part's data.
#ifndef TN_GENDC_CONTAINER_H
#define TN_GENDC_CONTAINER_H

#include <stdint.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "TnExport.h"
#include "TnGenDC.h"
#include "TnResult.h"

namespace tn
{
namespace buffer
{
/// What AddComponent and AddPart answer when they add nothing.
constexpr uint32_t kGenDCInvalidComponent = 0xFFFFFFFFu;
constexpr uint32_t kGenDCInvalidPart = 0xFFFFu;

/// The bytes a container lives in.
struct GenDCBytes
{
    uint8_t *mData = nullptr;
    /// Bytes of the container: what its headers and data must lie within.
    uint64_t mLength = 0;
    /// Bytes that may be handed out as header records (at least mLength).
    uint64_t mAddressable = 0;
    /// Whether the parts' data follows the descriptor (not so for a manager's
    /// descriptor alone).
    bool mHoldsData = true;
};

/// What holds a container's bytes, asked on every call.
class TN_BUFFER_API GenDCSource
{
public:
    virtual ~GenDCSource();

    virtual GenDCBytes GetBytes() const = 0;

    /// The reception time of the bytes; 0 unless they were received.
    virtual uint64_t GetReceptionTime() const;

    /// Structure changes: only a manager's descriptor takes them.
    virtual uint32_t AddComponent(TnComponentType aType);
    virtual uint32_t AddPart(uint32_t aComponent, TnGenDCPartType aType, uint32_t aFlow);
};

class GenDCComponent;

/// A container over the bytes of a source. Components and parts are made
/// when first asked for and kept until the container goes, so that a pointer
/// once handed out stays an object: after the descriptor changed it answers
/// for whatever the bytes then hold at its index, or as gone.
class TN_BUFFER_API GenDCContainer final : public ITnGenericDataContainer
{
public:
    explicit GenDCContainer(GenDCSource &aSource);
    ~GenDCContainer() override;

    GenDCContainer(const GenDCContainer &) = delete;
    GenDCContainer &operator=(const GenDCContainer &) = delete;

    uint32_t GetComponentCount() const override;
    uint32_t GetFlowCount() const override;
    ITnGenericDataComponent *GetComponent(uint32_t aIndex) override;
    const GenDCFlowTable *GetFlowTable() const override;
    GenDCFlowTable *GetMutableFlowTable() override;
    uint64_t GetDataSize() const override;
    uint64_t GetDescriptorSize() const override;
    bool IsValid() const override;
    const GenDCContainerHeader *GetHeader() const override;
    GenDCContainerHeader *GetMutableHeader() override;
    uint32_t AddComponent(TnComponentType aComponentType) override;

    GenDCSource &GetSource() const { return mSource; }

    /// The bytes from aAddress to the end of the bytes of the live container
    /// that holds it; 0 when it lies in none.
    static uint64_t BytesAt(const void *aAddress);

private:
    GenDCSource &mSource;
    std::mutex mLock;
    std::unordered_map<uint32_t, std::unique_ptr<GenDCComponent>> mComponents;
};

/// A container over aLength bytes at aData, which the caller keeps in place
/// while the container lives; no structure can be added to it.
class TN_BUFFER_API GenDCArea final : public GenDCSource
{
public:
    GenDCArea(uint8_t *aData, uint64_t aLength);
    ~GenDCArea() override;

    GenDCBytes GetBytes() const override;
    ITnGenericDataContainer &GetContainer() { return mContainer; }

private:
    uint8_t *mData;
    uint64_t mLength;
    GenDCContainer mContainer;
};

/// The send side's manager of one container descriptor.
///
/// The descriptor lives in memory of the manager's own that never moves or
/// shrinks while the manager lives, so header records taken from its
/// container stay within it; a record taken before a component or part was
/// added may show another header afterwards, since headers move up to make
/// room. Thread-safe.
class TN_BUFFER_API GenDCManager final : public ITnGenDCManager, private GenDCSource
{
public:
    /// Room of the descriptor in bytes.
    static constexpr uint64_t kDescriptorCapacity = 1u << 20;

    GenDCManager();
    ~GenDCManager();

    GenDCManager(const GenDCManager &) = delete;
    GenDCManager &operator=(const GenDCManager &) = delete;

    uint64_t GetTotalPayloadSize() const override;
    ITnGenericDataContainer *GetGenDC() const override;
    void ResetContainer() override;

    /// Lays the container into aSize bytes at aArea: the descriptor, with the
    /// parts' data offsets, and room for their data, which is left as it was.
    /// aWritten gets the container's size.
    ///
    /// Returns TN_BUFFER_TOO_SMALL when the container needs more than aSize
    /// bytes (aWritten then tells how many), TN_INVALID_PARAMETER for a null
    /// area.
    TnResult WriteContainer(uint8_t *aArea, uint64_t aSize, uint64_t &aWritten) const;

private:
    /// Header sizes of each component's parts, in order.
    using Structure = std::vector<std::vector<uint32_t>>;
    /// Where the headers of a structure lie.
    struct Places
    {
        uint64_t mFlowTable = 0;
        std::vector<uint64_t> mComponents;
        std::vector<std::vector<uint64_t>> mParts;
        uint64_t mEnd = 0;
    };
    static Places Place(const Structure &aStructure, uint32_t aFlows);

    GenDCBytes GetBytes() const override;
    uint32_t AddComponent(TnComponentType aType) override;
    uint32_t AddPart(uint32_t aComponent, TnGenDCPartType aType, uint32_t aFlow) override;

    /// Rewrites the descriptor for aStructure, with at least aLeastFlows
    /// flows, keeping what the headers hold besides their sizes, counts and
    /// offsets; headers beyond the present structure start zeroed. False,
    /// with nothing changed, when it does not fit.
    bool Rebuild(const Structure &aStructure, uint32_t aLeastFlows);
    /// Sets the data sizes, offsets and flow sizes from the headers, the flow
    /// table grown to the flows they name first; the container's size.
    uint64_t LayOut();

    mutable std::mutex mLock;
    std::unique_ptr<uint8_t[]> mDescriptor;
    std::atomic<uint64_t> mDescriptorSize{0};
    Structure mStructure;
    uint32_t mFlows = 0;
    std::unique_ptr<GenDCContainer> mContainer;
};
} // namespace buffer
} // namespace tn

#endif
