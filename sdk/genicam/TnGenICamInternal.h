// What the rest of the SDK (and the test hooks) use of libTnGenICam beyond
// the public parameter classes: the port through which a node map reaches its
// device, a port over plain memory, and the creation of a parameter array from
// GenICam XML.
//
//   tn::genicam::IPort           the abstract register space of a device
//   tn::genicam::MemoryPort      an IPort over a byte vector (tests, soft devices)
//   tn::genicam::SettingsImagePort
//                                an IPort over an object's settings and
//                                statistics, rendered for each read
//   tn::genicam::CreateParameterArray(xml, port, result)
//                                a parameter array over a node map built from
//                                the XML, its non-chunk ports bound to the port
//   tn::genicam::GetDevicePort(array)
//                                the port an array was created with
//
// Every call is thread-safe.
//
// What a parameter array made by CreateParameterArray holds:
// - Get(index) follows the node map's feature order: the nodes in the order
//   the XML defines them (a StructReg's entries in place of the StructReg, in
//   their order), leaving out Category nodes (GetCategory(index) has those,
//   in the same document order), EnumEntry nodes (their enumeration's
//   entries) and address formulas embedded in a register. Private nodes
//   (registers behind features, converters, SwissKnifes) and Port nodes are
//   parameters too.
// - Each parameter's dynamic type follows the node's interface: Integer,
//   IntReg, MaskedIntReg, IntSwissKnife, IntConverter, ConfRom, IntKey,
//   AdvFeatureLock, SmartFeature, DcamLock -> TnGenInteger; Float, FloatReg,
//   SwissKnife, Converter -> TnGenFloat; Enumeration -> TnGenEnum; Boolean ->
//   TnGenBoolean; Command -> TnGenCommand; String, StringReg, TextDesc ->
//   TnGenString; Register -> TnGenRegister; Port and Node -> TnGenParameter.
// - Enumeration entries are in XML order; an entry's name is its symbolic
//   name (the EnumEntry's Name attribute).
// - Results: GenApi-level failures (limits, increment, access, locks,
//   availability, unknown entries, inconsistent values) TN_GENERIC_ERROR
//   with a description; a feature whose definition is faulty, or that reads
//   through a faulty node or an undefined name, TN_GENICAM_XML_ERROR naming
//   the fault (TnGenApi.h tells which faults a description may have and
//   still load); a port's failure keeps the port's code; the array's
//   name-keyed shortcuts answer TN_NOT_FOUND for a missing feature or one of
//   another type; UnregisterEventSink answers TN_NOT_FOUND for a sink that is
//   not registered; GetEntryByIndex past the last entry TN_INVALID_PARAMETER,
//   GetEntryByValue and GetEntryByName without a match TN_NOT_FOUND.
// - AttachDataChunks copies the chunks the node map has chunk ports for, so
//   the caller's memory is not read after it returns; a failed attach leaves
//   no chunk data attached.
#ifndef TN_GENICAM_INTERNAL_H
#define TN_GENICAM_INTERNAL_H

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TnExport.h"
#include "TnGenTypes.h"
#include "TnResult.h"

class TnGenParameterArray;
class TnGenParameterList;

namespace tn
{
namespace genicam
{

/// The register space behind a node map's Port node: a device's control
/// channel, a chunk buffer or plain memory.
///
/// Node maps call Read and Write with their own lock held and never from
/// Python: an implementation must not call back into the parameter array.
class TN_GENICAM_API IPort
{
public:
    virtual ~IPort();

    /// Reads aLength bytes at aAddress into aData. Anything but TN_OK fails
    /// the feature access that caused the read, with this result's code.
    virtual TnResult Read(uint64_t aAddress, void *aData, size_t aLength) = 0;

    /// Writes aLength bytes from aData at aAddress.
    virtual TnResult Write(uint64_t aAddress, const void *aData, size_t aLength) = 0;

    /// TnGenAccessModeReadWrite, TnGenAccessModeReadOnly,
    /// TnGenAccessModeWriteOnly or TnGenAccessModeNotAvailable; the default
    /// is TnGenAccessModeReadWrite.
    virtual TnGenAccessMode GetAccessMode() const;
};

/// A port over a zero-filled byte vector of a fixed size.
///
/// Accesses outside the vector answer TN_INVALID_PARAMETER. The test helpers
/// (Peek, Poke, the access counters, SetAccessMode and SetFailure) work on
/// the same bytes without counting as port accesses.
class TN_GENICAM_API MemoryPort : public IPort
{
public:
    explicit MemoryPort(size_t aSize);
    ~MemoryPort() override;

    TnResult Read(uint64_t aAddress, void *aData, size_t aLength) override;
    TnResult Write(uint64_t aAddress, const void *aData, size_t aLength) override;
    TnGenAccessMode GetAccessMode() const override;

    size_t GetSize() const;
    /// Reads bytes directly; TN_INVALID_PARAMETER outside the vector.
    TnResult Peek(uint64_t aAddress, void *aData, size_t aLength) const;
    /// Writes bytes directly; TN_INVALID_PARAMETER outside the vector.
    TnResult Poke(uint64_t aAddress, const void *aData, size_t aLength);
    /// The number of Read and Write calls so far, failed ones included.
    uint64_t GetReadCount() const;
    uint64_t GetWriteCount() const;
    /// The access mode GetAccessMode reports (ReadWrite at first).
    void SetAccessMode(TnGenAccessMode aAccessMode);
    /// Makes every following Read and Write fail with aCode (TN_OK ends it).
    void SetFailure(uint32_t aCode);

private:
    bool InRange(uint64_t aAddress, size_t aLength) const;
    /// Copies between the bytes and a caller's buffer; TN_INVALID_PARAMETER
    /// outside the vector.
    TnResult CopyOut(uint64_t aAddress, void *aData, size_t aLength) const;
    TnResult CopyIn(uint64_t aAddress, const void *aData, size_t aLength);

    mutable std::mutex mMutex;
    std::vector<uint8_t> mBytes;
    uint64_t mReads;
    uint64_t mWrites;
    TnGenAccessMode mAccessMode;
    uint32_t mFailure;
};

/// A port over a settings image: an object's settings and statistics laid
/// out as big-endian registers that the object renders afresh for each read.
///
/// A read renders the whole image (zero-filled first) and copies the bytes
/// asked for; outside the image it answers TN_INVALID_PARAMETER with the
/// layout's read refusal. A write takes whole 32-bit values: one value at a
/// command address goes to the command rule; values in the settings window
/// go to the write rule together, as (address, value) pairs in rising order,
/// which applies the object's own rules in one step; anything else answers
/// TN_INVALID_PARAMETER with the layout's write refusal.
class TN_GENICAM_API SettingsImagePort : public IPort
{
public:
    struct Layout
    {
        uint32_t mImageSize;
        uint32_t mSettingsBegin; ///< the writable settings: [begin, end)
        uint32_t mSettingsEnd;
        std::vector<uint32_t> mCommands; ///< 32-bit command registers
        std::string mReadRefusal;
        std::string mWriteRefusal;
    };
    typedef std::function<void(uint8_t *aImage)> Render;
    typedef std::function<void(const std::vector<std::pair<uint32_t, uint32_t>> &aValues)> WriteRule;
    typedef std::function<void(uint32_t aAddress, uint32_t aValue)> CommandRule;

    SettingsImagePort(Layout aLayout, Render aRender, WriteRule aWrite, CommandRule aCommand = CommandRule());
    ~SettingsImagePort() override;

    TnResult Read(uint64_t aAddress, void *aData, size_t aLength) override;
    TnResult Write(uint64_t aAddress, const void *aData, size_t aLength) override;

private:
    Layout mLayout;
    Render mRender;
    WriteRule mWrite;
    CommandRule mCommand;
};

/// Builds a node map from GenICam XML (a RegisterDescription in the GenApi
/// schema) and returns a new parameter array over it, which the caller
/// deletes. The Port node named "Device" and every other Port without a
/// ChunkID or EventID read and write through aDevicePort (which may be null:
/// the features behind it are then not available). Faults of the description
/// are warnings (GetWarnings; each is logged by the logger "TnGenICam"). For
/// XML that is not well-formed, whose root is no RegisterDescription of the
/// GenApi schema, or that goes past the loader's limits (entities, sizes and
/// counts), returns null and sets aResult to TN_GENICAM_XML_ERROR with a
/// description naming the fault; TN_ABORTED when the calling thread's waits
/// are interrupted (TnWaitInterrupt.h) while it loads; on success aResult is
/// TN_OK.
TN_GENICAM_API TnGenParameterArray *CreateParameterArray(const std::string &aXml, std::shared_ptr<IPort> aDevicePort,
                                                         TnResult &aResult);

/// The port aArray was created with; null for a null array or one made by
/// the default constructor.
TN_GENICAM_API std::shared_ptr<IPort> GetDevicePort(TnGenParameterArray *aArray);

/// What the description gave warnings for while aArray was built (each is
/// also logged): malformed optional elements, references to names it does
/// not define, faulty nodes. Empty for a null array.
TN_GENICAM_API std::vector<std::string> GetWarnings(TnGenParameterArray *aArray);

/// The strict check of a description, for those who write one: parses every
/// formula now (the engine otherwise parses a formula when it is first
/// evaluated) and returns every fault of the definitions, each naming its
/// node: formulas that do not parse, references to names the description
/// does not define, faulty nodes (the warnings of GetWarnings after the
/// parse). Empty for a sound description or a null array.
TN_GENICAM_API std::vector<std::string> CheckDefinitions(TnGenParameterArray *aArray);

/// Delivers the data of an event (aData, aLength bytes; null and 0 for an
/// event without data) to aArray's event ports with that event ID: their
/// features read it until the next event with the ID. The addresses of those
/// features count from the first byte of aData, so the caller passes the
/// event as the device describes it (for GigE Vision the event item from its
/// first header byte on). aChanged, when not null, receives the parameters
/// whose values changed or were invalidated (the update sinks of those
/// parameters are called too). TN_NOT_FOUND when no event port has that ID
/// (nothing changes then), TN_INVALID_PARAMETER for a null array or a null
/// aData with a length.
TN_GENICAM_API TnResult DeliverEvent(TnGenParameterArray *aArray, uint64_t aEventId, const uint8_t *aData,
                                     uint32_t aLength, TnGenParameterList *aChanged);

/// Whether the calling thread is inside an operation on aArray's features (a
/// port it reads or writes, or an update sink, calls the caller back).
TN_GENICAM_API bool Operating(TnGenParameterArray *aArray);

/// Waits until no other thread is inside an operation on aArray's features,
/// update sinks included: before an owner that another thread may be
/// working through deletes the array.
TN_GENICAM_API void AwaitOperations(TnGenParameterArray *aArray);

} // namespace genicam
} // namespace tn

#endif
