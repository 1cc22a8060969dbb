// User sets: saved copies of the registers behind the device's streamable
// features, and the store handed to register event sinks' Persist.
//
// A save or load walks the persistent registers in the order their features
// were created. For each register it asks every event sink's Persist with
// the store: TN_OK means the sink persisted the register itself (through
// the store, once per selector combination), TN_NOT_IMPLEMENTED from every
// sink (or no sink) makes the device persist the plain content, any other
// code is a failure of that register, reported in the result while the
// others go on. A load writes the saved bytes through the register's sinks
// (PreWrite and PostWrite), so the device and the program react to them.
//
// No lock is held while sinks run; a save or load started while another
// runs answers TN_BUSY.
#ifndef TN_USER_SETS_H
#define TN_USER_SETS_H

#include <stdint.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ITnRegister.h"
#include "TnRegisterMap.h"

namespace tn
{
namespace softdevice
{
class TnUserSets;

/// The store handed to Persist; usable only during a save or load (else
/// TN_STATE_ERROR), so that one kept past its callback harms nothing.
class TnRegisterStore final : public ITnRegisterStore
{
public:
    TnResult Persist(ITnRegister *aRegister, const TnString &aNameSuffix) override;

private:
    friend class TnUserSets;
    TnRegisterStore() = default;
    ~TnRegisterStore() override = default;

    std::mutex mMutex;
    bool mActive = false;
    bool mSave = false;
    std::map<std::string, std::vector<uint8_t>> *mSet = nullptr;
};

class TnUserSets
{
public:
    static constexpr uint32_t kMaxCount = 256;

    explicit TnUserSets(TnRegisterMap &aMap);
    ~TnUserSets();
    TnUserSets(const TnUserSets &) = delete;
    TnUserSets &operator=(const TnUserSets &) = delete;

    /// The number of user sets besides the default one (set 0), at most
    /// kMaxCount: TN_INVALID_PARAMETER above.
    TnResult SetCount(uint32_t aCount);
    uint32_t GetCount() const;

    /// Saves the registers as they are into set 0, the default set (the
    /// device does this once its registers and features are built).
    TnResult SaveDefault();
    /// Saves into user set aIndex, 1 to the count; TN_INVALID_PARAMETER for
    /// another index (the default set is read-only).
    TnResult Save(uint32_t aIndex);
    /// Loads set aIndex, 0 to the count; a set never saved loads the
    /// default set.
    TnResult Load(uint32_t aIndex);
    /// Whether set aIndex holds a save.
    bool IsSaved(uint32_t aIndex) const;

    /// The store handed to sinks (for tests).
    ITnRegisterStore *GetStore() { return &mStore; }

private:
    using Set = std::map<std::string, std::vector<uint8_t>>;

    TnResult SaveInto(uint32_t aIndex);
    /// Checks the index and marks a run; copies the set to load when asked.
    TnResult Begin(uint32_t aIndex, Set *aLoaded);
    TnResult Run(bool aSave, Set &aSet);

    TnRegisterMap &mMap;
    mutable std::mutex mMutex; // guards the fields below, never held while sinks run
    uint32_t mCount;
    bool mBusy;
    std::vector<Set> mSets;
    std::vector<bool> mSaved;
    TnRegisterStore mStore;
};
} // namespace softdevice
} // namespace tn

#endif
