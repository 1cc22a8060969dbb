// The software device's register: bytes in the address space, with event
// sinks. See ITnRegister.h for what programs see.
//
// Locks: the register's data mutex guards its bytes only and is held for a
// copy; the sinks are a registry of their own (a sink destroyed while
// registered leaves it), and the sink mutex orders their changes with the
// register's retirement. None is held while a sink runs.
#ifndef TN_REGISTER_H
#define TN_REGISTER_H

#include <stddef.h>
#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ITnRegister.h"
#include "TnSinkRegistry.h"
#include "TnThreads.h"

namespace tn
{
namespace softdevice
{
/// The accesses in progress to the registers of one owner (the device's).
/// During one, the thread works for the owner (WorkingFor): a sink that
/// destroys the owner there is seen, the owner's end waits until the access
/// is over, and the access answers TN_ABORTED, calling no further sink.
class TnRegisterUse
{
public:
    explicit TnRegisterUse(const void *aOwner) : mOwner(aOwner) {}
    TnRegisterUse(const TnRegisterUse &) = delete;
    TnRegisterUse &operator=(const TnRegisterUse &) = delete;

    /// Waits until no access of another thread is in progress.
    void AwaitIdle();

    /// One access, from its start to its end.
    class Scope
    {
    public:
        explicit Scope(TnRegisterUse *aUse);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

        /// Whether the owner's destruction was asked for meanwhile.
        bool OwnerEnds() const { return mMark.ObjectEnds(); }

    private:
        TnRegisterUse *mUse;
        WorkingFor mMark;
    };

private:
    const void *mOwner;
    std::mutex mMutex;
    std::condition_variable mIdle;
    std::vector<std::thread::id> mAccessing; // one entry per access in progress
};

class TnRegister final : public ITnRegister
{
public:
    /// A zero-filled register; aLength > 0.
    TnRegister(const std::string &aName, uint32_t aAddress, uint32_t aLength, bool aReadable, bool aWritable,
               bool aByteArray, void *aContext);
    ~TnRegister() override;
    TnRegister(const TnRegister &) = delete;
    TnRegister &operator=(const TnRegister &) = delete;

    // ITnRegisterInfo
    const TnString &GetName() override { return mName; }
    uint32_t GetAddress() const override { return mAddress; }
    size_t GetLength() const override { return mLength; }
    const void *GetContext() const override { return mContext; }
    void *GetContext() override { return mContext; }
    bool IsWritable() const override { return mWritable; }
    bool IsReadable() const override { return mReadable; }
    bool IsArrayOfBytes() const override { return mByteArray; }

    // ITnRegister
    TnResult ReadBytes(uint8_t *aData, uint32_t aDataLength, uint32_t aOffset = 0) override;
    TnResult Write(const uint8_t *aData, uint32_t aDataLength, uint32_t aOffset = 0) override;
    TnResult ReadInt(uint32_t &aValue, uint32_t aOffset = 0) override;
    TnResult Write(uint32_t aValue, uint32_t aOffset = 0) override;
    TnResult ReadString(TnString &aValue) override;
    TnResult Write(const TnString &aValue) override;
    TnResult ReadFloat(float &aValue) override;
    TnResult WriteFloat(float aValue) override;
    TnResult ReadDouble(double &aValue) override;
    TnResult WriteDouble(double aValue) override;
    TnResult AddEventSink(ITnRegisterEventSink *aEventSink) override;
    TnResult RemoveEventSink(ITnRegisterEventSink *aEventSink) override;

    // The device's side.
    const std::string &GetNameText() const { return mNameText; }
    uint32_t GetEnd() const { return mAddress + mLength; } // one past the last byte (may wrap to 0)
    uint64_t GetEnd64() const { return static_cast<uint64_t>(mAddress) + mLength; }

    /// Reads and writes with the sinks called (ReadBytes and Write without
    /// their argument checks' public wording).
    TnResult Read(uint32_t aOffset, uint8_t *aData, uint32_t aLength);
    TnResult WriteAt(uint32_t aOffset, const uint8_t *aData, uint32_t aLength);

    /// The plain content, without sinks; false outside the register.
    bool Peek(uint32_t aOffset, uint8_t *aData, uint32_t aLength) const;
    bool Poke(uint32_t aOffset, const uint8_t *aData, uint32_t aLength);
    /// A copy of the whole content.
    std::vector<uint8_t> Content() const;
    /// The 4-byte big-endian value at aOffset of the plain content.
    uint32_t PeekInt(uint32_t aOffset = 0) const;
    void PokeInt(uint32_t aValue, uint32_t aOffset = 0);
    /// Fills the content with a string's bytes and zero bytes (truncating).
    void PokeString(const std::string &aValue);

    /// A self-clearing register (a command's) returns to zero once the
    /// PostWrite sinks of a write have run.
    void SetSelfClearing(bool aSelfClearing) { mSelfClearing = aSelfClearing; }
    bool IsSelfClearing() const { return mSelfClearing; }

    /// The feature a user set saves the register under, and the order among
    /// the persistent registers (set once its feature is streamable).
    void SetPersistence(const std::string &aFeatureName, uint64_t aOrder);
    bool IsPersistent() const { return mPersistent; }
    const std::string &GetFeatureName() const { return mFeatureName; }
    uint64_t GetPersistOrder() const { return mPersistOrder; }

    /// The sinks: calls of one outside an access go through them (see
    /// SinkRegistry::CallIfRegistered).
    SinkRegistry<ITnRegisterEventSink> &Sinks() { return mSinks; }

    /// The device stopped: the sinks are dropped (once the notifications of
    /// other threads that may call them end), and from now on the register
    /// keeps its last content. Reads answer it; writes and sink changes
    /// answer TN_STATE_ERROR.
    void Retire();
    bool IsRetired() const;

    /// The owner's accesses this register's count among (before it is
    /// shared; none at first).
    void SetUse(TnRegisterUse *aUse) { mUse = aUse; }

private:
    class Notification;

    bool InRange(uint32_t aOffset, uint32_t aLength) const;
    /// Whether this thread runs a sink of this register now.
    bool NotifyingHere() const;
    TnResult RetiredFailure(const char *aWhat) const;
    TnResult NotifyPre(bool aWrite, const std::vector<ITnRegisterEventSink *> &aSinks,
                       const TnRegisterUse::Scope &aAccess);
    void NotifyPost(bool aWrite, const std::vector<ITnRegisterEventSink *> &aSinks,
                    const TnRegisterUse::Scope &aAccess);
    /// The failure of an access whose owner was destroyed from a sink.
    TnResult EndedFailure(bool aWrite) const;

    const TnString mName;
    const std::string mNameText;
    const uint32_t mAddress;
    const uint32_t mLength;
    const bool mReadable;
    const bool mWritable;
    const bool mByteArray;
    void *const mContext;

    mutable std::mutex mDataMutex;
    std::vector<uint8_t> mData;

    mutable std::mutex mSinkMutex;
    bool mRetired; // guarded by the sink mutex
    SinkRegistry<ITnRegisterEventSink> mSinks{TrackSinks()};

    bool mSelfClearing;
    bool mPersistent;
    std::string mFeatureName;
    uint64_t mPersistOrder;
    TnRegisterUse *mUse = nullptr;
};

} // namespace softdevice
} // namespace tn

#endif
