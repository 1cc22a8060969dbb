// GenICam triggers of a software streaming channel source: the trigger
// selectors (small state machines, one per GenICam trigger selector), the
// trigger callback, and the triggered source.
#ifndef TN_STREAMING_CHANNEL_SOURCE_TRIGGER_H
#define TN_STREAMING_CHANNEL_SOURCE_TRIGGER_H

#include <stdint.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "ITnRegister.h"
#include "ITnStreamingChannelSource.h"

/// The GenICam trigger selectors.
enum TriggerSelectorEnum
{
    TRIGGER_SELECTOR_FRAMESTART = 0,
    TRIGGER_SELECTOR_ACQUISITIONSTART = 1,
    TRIGGER_SELECTOR_ACQUISITIONEND = 2,
    TRIGGER_SELECTOR_ACQUISITIONACTIVE = 3,
    TRIGGER_SELECTOR_FRAMEBURSTSTART = 4,
    TRIGGER_SELECTOR_FRAMEBURSTEND = 5,
    TRIGGER_SELECTOR_FRAMEBURSTACTIVE = 6,
    TRIGGER_SELECTOR_FRAMEEND = 7,
    TRIGGER_SELECTOR_FRAMEACTIVE = 8,
    TRIGGER_SELECTOR_LINESTART = 9,
    TRIGGER_SELECTOR_EXPOSURESTART = 10,
    TRIGGER_SELECTOR_EXPOSUREEND = 11,
    TRIGGER_SELECTOR_EXPOSUREACTIVE = 12,
    TRIGGER_SELECTOR_LAST = 12
};

/// Trigger modes (the TriggerMode feature).
#define TRIGGER_MODE_OFF 0
#define TRIGGER_MODE_ON 1
/// Trigger sources (the TriggerSource feature).
#define TRIGGER_SOURCE_SOFTWARE 0
#define TRIGGER_SOURCE_USER 1

/// One GenICam trigger selector: whether its trigger is enabled, armed or
/// fired. An operation does nothing in a state its signal does not concern.
/// Not thread-safe: callers serialise their calls on one selector.
class ITnTriggerSelector
{
public:
    enum State
    {
        State_Disabled = 0, ///< trigger mode off
        State_Enabled = 1,  ///< trigger mode on, not armed
        State_Armed = 2,    ///< waiting for a trigger
        State_Fired = 3,    ///< triggered (per-frame and per-line selectors)
        State_OneShot = 4   ///< triggered for good (acquisition start)
    };

    /// Virtual destructor.
    virtual ~ITnTriggerSelector() {}
    /// Moves from Enabled to Armed; aHeight is the image height.
    virtual void Start(uint32_t aHeight) = 0;
    /// Moves back to Enabled, so that a waiting acquisition loop is released
    /// without acquiring an image.
    virtual void Stop() = 0;
    /// Fires a trigger signal towards Fired.
    virtual void FireTrigger() = 0;
    /// Moves from Fired to another state such as Armed (per-frame
    /// selectors); may do nothing for selectors that stay fired.
    virtual void Rearm() = 0;
    /// Sets the trigger mode (true enabled, false disabled).
    virtual void SetMode(bool aIsEnabled) = 0;
    /// The trigger mode.
    virtual bool GetMode() const = 0;
    /// Sets the trigger source index.
    virtual void SetSource(uint32_t aSource) = 0;
    /// The trigger source index.
    virtual uint32_t GetSource() const = 0;
    /// The selector's name.
    virtual TnString GetName() const = 0;
    /// The current state.
    virtual State GetState() const = 0;
    /// Whether the trigger is enabled (any state but Disabled).
    virtual bool IsEnabled() const = 0;
};

/// A selector whose Start, Stop, FireTrigger and Rearm do nothing.
class TnTriggerSelectorDefault : public ITnTriggerSelector
{
public:
    TnTriggerSelectorDefault(const char *const aName = "N/A")
        : mName(aName != nullptr ? aName : "N/A"), mSource(0), mState(State_Disabled)
    {
    }
    virtual ~TnTriggerSelectorDefault() {}

    void Start(uint32_t aHeight) override { (void)aHeight; }
    void Stop() override {}
    void FireTrigger() override {}
    void Rearm() override {}
    void SetMode(bool aIsEnabled) override { mState = aIsEnabled ? State_Enabled : State_Disabled; }
    bool GetMode() const override { return IsEnabled(); }
    void SetSource(uint32_t aSource) override { mSource = aSource; }
    uint32_t GetSource() const override { return mSource; }
    TnString GetName() const override { return mName; }
    State GetState() const override { return mState; }
    bool IsEnabled() const override { return mState != State_Disabled; }

protected:
    TnString mName;
    uint32_t mSource;
    State mState;
};

/// Acquisition start: Enabled → Armed on Start, Armed → OneShot on a
/// trigger, which stays until Stop or SetMode.
class TnTriggerSelectorAcquisitionStart : public TnTriggerSelectorDefault
{
public:
    TnTriggerSelectorAcquisitionStart(const char *const aName = "AcquisitionStart")
        : TnTriggerSelectorDefault(aName != nullptr ? aName : "AcquisitionStart")
    {
    }
    virtual ~TnTriggerSelectorAcquisitionStart() {}

    void Start(uint32_t aHeight) override
    {
        (void)aHeight;
        if (GetState() == State_Enabled)
        {
            mState = State_Armed;
        }
    }
    void Stop() override
    {
        if (GetState() != State_Disabled)
        {
            mState = State_Enabled;
        }
    }
    void FireTrigger() override
    {
        if (GetState() == State_Armed)
        {
            mState = State_OneShot;
        }
    }
};

/// Frame start: Armed → Fired on a trigger, Fired → Armed on Rearm.
class TnTriggerSelectorFrameStart : public TnTriggerSelectorAcquisitionStart
{
public:
    TnTriggerSelectorFrameStart(const char *const aName = "FrameStart")
        : TnTriggerSelectorAcquisitionStart(aName != nullptr ? aName : "FrameStart")
    {
    }
    virtual ~TnTriggerSelectorFrameStart() {}

    void FireTrigger() override
    {
        if (GetState() == State_Armed)
        {
            mState = State_Fired;
        }
    }
    void Rearm() override
    {
        if (GetState() == State_Fired)
        {
            mState = State_Armed;
        }
    }
};

/// Line start: fires after as many triggers as the height Start was given.
class TnTriggerSelectorLineStart : public TnTriggerSelectorFrameStart
{
public:
    TnTriggerSelectorLineStart(const char *const aName = "LineStart")
        : TnTriggerSelectorFrameStart(aName != nullptr ? aName : "LineStart"), mLinesLeft(1), mLineCount(1)
    {
    }
    virtual ~TnTriggerSelectorLineStart() {}

    void Start(uint32_t aHeight) override
    {
        if (GetState() == State_Enabled)
        {
            mState = State_Armed;
            mLinesLeft = aHeight;
            mLineCount = aHeight;
        }
    }
    void FireTrigger() override
    {
        if (GetState() == State_Armed)
        {
            --mLinesLeft;
            if (mLinesLeft == 0)
            {
                mState = State_Fired;
            }
        }
    }
    void Rearm() override
    {
        if (GetState() == State_Fired)
        {
            mState = State_Armed;
            mLinesLeft = mLineCount;
        }
    }

protected:
    uint32_t mLinesLeft;
    uint32_t mLineCount;
};

/// Told that a trigger was generated for a selector of a triggered source,
/// on the source's thread. It must not block: it only signals.
class TN_SOFTDEVICE_API ITnTriggerCallback
{
public:
    /// A callback for a subclass to implement.
    ITnTriggerCallback() {}
    virtual void TriggerCallbackMethod(const ITnTriggerSelector *aTriggerSelector) = 0;
    /// Virtual destructor.
    // It leaves the sources the callback is bound to, as
    // ITnRegisterEventSink's leaves its registers.
    virtual ~ITnTriggerCallback();
};

#ifndef SWIG
/// As TnSoftDeviceRelease(ITnRegisterEventSink *), for the triggered sources.
TN_SOFTDEVICE_API void TnSoftDeviceRelease(ITnTriggerCallback *aCallback);
#endif

/// A trigger-capable streaming source for a channel.
///
/// It adds, at aRegisterBaseAddress (16 bytes): TriggerSelector, TriggerMode,
/// TriggerSource and TriggerSoftware registers with their features, one
/// selector per TriggerSelectorEnum value it was given (AddSelector), an
/// optional callback per selector, named trigger sources (AddSource; the
/// software source is there from the start), and a pre-queue step that
/// holds a buffer back until the frame-start and acquisition-start triggers
/// that are on allow it. The program derives from it and supplies what every
/// software source supplies (geometry, pixel types, chunks, buffers).
class TN_SOFTDEVICE_API TnStreamingChannelSourceTrigger : public ITnSWStreamingChannelSource,
                                                          public ITnRegisterEventSink
{
public:
    typedef ITnTriggerSelector *SelectorEntry;

    TnStreamingChannelSourceTrigger(uint32_t mChannel, uint32_t aRegisterBaseAddress);
    virtual ~TnStreamingChannelSourceTrigger();

    /// Adds (or replaces) the selector for aIndex. Held by address.
    void AddSelector(TriggerSelectorEnum aIndex, SelectorEntry aSelector);
    /// Binds a callback to the selector of aIndex. Held by address.
    void AddSelectorTriggerCallback(TriggerSelectorEnum aIndex, ITnTriggerCallback *aCallback);
    /// Registers a trigger source with that index (unique across sources)
    /// and display name.
    void AddSource(uint32_t aIndex, const TnString &aName);
    /// The active trigger source index of the current selector.
    uint32_t GetSource() const;
    /// True when the trigger mode of the current selector is On.
    bool GetMode() const;

    void OnStreamingStart() override;
    void OnStreamingStop() override;
    void CreateRegisters(ITnRegisterMap *aRegisterMap, ITnRegisterFactory *aFactory) override;
    void CreateGenApiFeatures(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory) override;
    /// Whether the enabled frame-start and acquisition-start selectors allow
    /// the next buffer (a fired frame-start trigger allows one). Waits at
    /// most 10 ms for a trigger, and not at all once streaming stopped;
    /// false to skip the buffer for now.
    bool PreQueueBufferProc() override;
    void PostRetrieveBufferProc() override;

    TnResult PreRead(ITnRegister *aRegister) override;
    TnResult PreWrite(ITnRegister *aRegister) override;
    TnResult Persist(ITnRegister *aRegister, ITnRegisterStore *aStore) override;
    /// Fires a software trigger for the current selector when its source is
    /// TRIGGER_SOURCE_SOFTWARE.
    virtual void FireTrigger() const;

protected:
    /// Adds the TriggerSelector feature and its register; called from
    /// CreateGenApiFeatures.
    virtual void CreateTriggerSelector(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory);
    /// Adds the TriggerMode feature (Off, On) of the selected trigger.
    virtual void CreateTriggerMode(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory);
    /// Adds the TriggerSource feature (Software, User) of the selected
    /// trigger.
    virtual void CreateTriggerSource(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory);
    /// Adds the TriggerSoftware command, which fires the selected trigger
    /// when its source is Software.
    virtual void CreateTriggerSoftware(ITnRegisterMap *aRegisterMap, ITnGenApiFactory *aFactory);

#ifndef SWIG
private:
    void Fire(int aIndex) const;

    uint32_t mChannelIndex;
    uint32_t mBase;
    mutable std::mutex mMutex;
    mutable std::condition_variable mChanged;
    std::map<int, ITnTriggerSelector *> mSelectors;
    struct Callbacks;
    std::unique_ptr<Callbacks> mCallbacks; // per selector; a callback destroyed while bound leaves it
    std::vector<std::pair<uint32_t, std::string>> mSources;
    int mCurrent;
    bool mStreaming;
    uint32_t mHeight;
#endif
};

#endif
