// A registry of callback receivers ("sinks") that SDK threads call.
//
// Calls run without the registry's lock, so a sink may register, unregister
// (itself included) or call back into the SDK. Remove waits for the calls to
// that sink in progress on other threads; called from inside a call on the
// same thread it returns at once, since waiting would never end. Whatever a
// sink throws is handed to an error handler and goes no further, except the
// unwinding that ends a thread (a thread that the Python interpreter ends
// while it waits for the interpreter lock at exit): that goes on, and the
// call still counts as over.
//
// A tracked registry is one that its sinks leave as they are destroyed: the
// sink class's destructor calls SinkRegistry<Sink>::Forget(this), which
// removes the sink from every tracked registry that holds it as Remove does,
// so that the SDK never calls a sink that is gone, even where the program
// destroys it while it is registered.
//
// In a forked child the calls its parent's threads had in progress never
// end: they are not waited for.
#ifndef TN_SINK_REGISTRY_H
#define TN_SINK_REGISTRY_H

#include <cxxabi.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "TnFork.h"
#include "TnResult.h"

namespace tn
{
/// What registering a sink that is registered already answers, wherever it
/// is registered: the sink is no sink to add. (The serial ports' echo sinks
/// keep TN_NOT_SUPPORTED.)
constexpr uint32_t kSinkRegisteredTwice = TN_INVALID_PARAMETER;

/// Makes a tracked registry.
struct TrackSinks
{
};

template <typename Sink> class SinkRegistry
{
public:
    /// What a tracked registry does once a sink left it by its destruction.
    using OnForget = std::function<void(Sink *)>;

    SinkRegistry() = default;

    /// A tracked registry; aOnForget, when given, runs after a sink left it
    /// by its destruction (on the destroying thread, once the registry's
    /// calls of the sink on other threads are over).
    explicit SinkRegistry(TrackSinks, OnForget aOnForget = nullptr) : mTracked(true), mOnForget(std::move(aOnForget))
    {
    }

    SinkRegistry(const SinkRegistry &) = delete;
    SinkRegistry &operator=(const SinkRegistry &) = delete;

    /// A tracked registry leaves the index; a Forget removing a sink from it
    /// on another thread is waited for.
    ~SinkRegistry()
    {
        if (!mTracked)
        {
            return;
        }
        Index &lIndex = TheIndex();
        std::unique_lock<std::mutex> lLock(lIndex.mMutex);
        for (auto lEntry = lIndex.mEntries.begin(); lEntry != lIndex.mEntries.end();)
        {
            lEntry = lEntry->second == this ? lIndex.mEntries.erase(lEntry) : std::next(lEntry);
        }
        lIndex.mIdle.wait(lLock, [this] { return mForgetting == 0; });
    }

    /// False when the sink is null or registered already.
    bool Add(Sink *aSink)
    {
        if (aSink == nullptr)
        {
            return false;
        }
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            if (std::find(mSinks.begin(), mSinks.end(), aSink) != mSinks.end())
            {
                return false;
            }
            mSinks.push_back(aSink);
        }
        if (mTracked)
        {
            Index &lIndex = TheIndex();
            std::lock_guard<std::mutex> lLock(lIndex.mMutex);
            lIndex.mEntries.emplace(aSink, this);
        }
        return true;
    }

    /// False when the sink is not registered.
    bool Remove(Sink *aSink)
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        auto lFound = std::find(mSinks.begin(), mSinks.end(), aSink);
        if (lFound == mSinks.end())
        {
            return false;
        }
        mSinks.erase(lFound);
        lLock.unlock();
        Untrack(aSink);
        lLock.lock();
        WaitForCalls(lLock, aSink);
        return true;
    }

    /// Removes every sink, waiting for their calls in progress on other
    /// threads.
    void Clear()
    {
        std::unique_lock<std::mutex> lLock(mMutex);
        std::vector<Sink *> lSinks;
        lSinks.swap(mSinks);
        lLock.unlock();
        for (Sink *lSink : lSinks)
        {
            Untrack(lSink);
        }
        lLock.lock();
        WaitForCalls(lLock, nullptr);
    }

    bool Contains(Sink *aSink) const
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return std::find(mSinks.begin(), mSinks.end(), aSink) != mSinks.end();
    }

    /// For the destructor of the sink class: removes aSink from every tracked
    /// registry, as Remove does.
    static void Forget(Sink *aSink)
    {
        Index &lIndex = TheIndex();
        std::vector<SinkRegistry *> lRegistries;
        {
            std::lock_guard<std::mutex> lLock(lIndex.mMutex);
            auto lRange = lIndex.mEntries.equal_range(aSink);
            for (auto lEntry = lRange.first; lEntry != lRange.second; ++lEntry)
            {
                lRegistries.push_back(lEntry->second);
                ++lEntry->second->mForgetting;
            }
            lIndex.mEntries.erase(aSink);
        }
        for (SinkRegistry *lRegistry : lRegistries)
        {
            if (lRegistry->Remove(aSink) && lRegistry->mOnForget)
            {
                lRegistry->mOnForget(aSink);
            }
            std::lock_guard<std::mutex> lLock(lIndex.mMutex);
            --lRegistry->mForgetting;
        }
        if (!lRegistries.empty())
        {
            lIndex.mIdle.notify_all();
        }
    }

    /// The sinks registered now.
    std::vector<Sink *> Snapshot() const
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mSinks;
    }

    bool IsEmpty() const
    {
        std::lock_guard<std::mutex> lLock(mMutex);
        return mSinks.empty();
    }

    /// A stretch of code that may call a registered sink: Remove waits for
    /// its end (unless on its own thread), however it ends. False when the
    /// sink was not registered as it began: then it must not be called.
    class CallScope
    {
    public:
        CallScope(SinkRegistry &aRegistry, Sink *aSink)
            : mRegistry(aRegistry), mSink(aSink), mThread(std::this_thread::get_id())
        {
            std::lock_guard<std::mutex> lLock(mRegistry.mMutex);
            mActive = std::find(mRegistry.mSinks.begin(), mRegistry.mSinks.end(), aSink) != mRegistry.mSinks.end();
            if (mActive)
            {
                mRegistry.mActive.push_back(Call{aSink, mThread, ProcessGeneration()});
            }
        }
        CallScope(const CallScope &) = delete;
        CallScope &operator=(const CallScope &) = delete;

        ~CallScope()
        {
            if (!mActive)
            {
                return;
            }
            {
                std::lock_guard<std::mutex> lLock(mRegistry.mMutex);
                auto lCall = std::find_if(mRegistry.mActive.begin(), mRegistry.mActive.end(), [this](const Call &aCall) {
                    return aCall.mSink == mSink && aCall.mThread == mThread;
                });
                if (lCall != mRegistry.mActive.end())
                {
                    mRegistry.mActive.erase(lCall);
                }
            }
            mRegistry.mIdle.notify_all();
        }

        explicit operator bool() const { return mActive; }

    private:
        SinkRegistry &mRegistry;
        Sink *mSink;
        std::thread::id mThread;
        bool mActive;
    };

    /// Calls aCall(aSink) in a CallScope; false, and nothing called, when
    /// the sink is not registered.
    template <typename Call> bool CallIfRegistered(Sink *aSink, Call &&aCall)
    {
        const CallScope lScope(*this, aSink);
        if (!lScope)
        {
            return false;
        }
        aCall(aSink);
        return true;
    }

    /// Calls aCall(sink) for every sink registered when it starts and still
    /// registered when its turn comes. aOnError(sink, exception) receives
    /// what a call throws.
    template <typename Call, typename OnError> void ForEach(Call aCall, OnError aOnError)
    {
        for (Sink *lSink : Snapshot())
        {
            try
            {
                CallIfRegistered(lSink, aCall);
            }
            catch (abi::__forced_unwind &)
            {
                throw;
            }
            catch (...)
            {
                try
                {
                    aOnError(lSink, std::current_exception());
                }
                catch (abi::__forced_unwind &)
                {
                    throw;
                }
                catch (...)
                {
                }
            }
        }
    }

private:
    // Which tracked registries hold each sink.
    struct Index
    {
        std::mutex mMutex;
        std::condition_variable mIdle; // a Forget ended
        std::multimap<Sink *, SinkRegistry *> mEntries;
    };

    static Index &TheIndex()
    {
        static Index *sIndex = new Index; // outlives every static sink
        return *sIndex;
    }

    void Untrack(Sink *aSink)
    {
        if (!mTracked)
        {
            return;
        }
        Index &lIndex = TheIndex();
        std::lock_guard<std::mutex> lLock(lIndex.mMutex);
        auto lRange = lIndex.mEntries.equal_range(aSink);
        for (auto lEntry = lRange.first; lEntry != lRange.second; ++lEntry)
        {
            if (lEntry->second == this)
            {
                lIndex.mEntries.erase(lEntry);
                return;
            }
        }
    }

    // Waits, mMutex held, until no other thread calls aSink (any sink when
    // null).
    void WaitForCalls(std::unique_lock<std::mutex> &aLock, Sink *aSink)
    {
        const std::thread::id lSelf = std::this_thread::get_id();
        const uint64_t lGeneration = ProcessGeneration();
        mIdle.wait(aLock, [&] {
            return std::none_of(mActive.begin(), mActive.end(), [&](const Call &aCall) {
                return (aSink == nullptr || aCall.mSink == aSink) && aCall.mThread != lSelf &&
                       aCall.mGeneration == lGeneration;
            });
        });
    }

    mutable std::mutex mMutex;
    std::condition_variable mIdle;
    std::vector<Sink *> mSinks;
    /// A call in progress, by a thread of the process generation that made it.
    struct Call
    {
        Sink *mSink;
        std::thread::id mThread;
        uint64_t mGeneration;
    };

    std::vector<Call> mActive; // calls in progress
    const bool mTracked = false;
    const OnForget mOnForget;
    size_t mForgetting = 0; // Forgets using this registry; guarded by the index's mutex
};

/// One replaceable sink (a notification, a callback), tracked: Set replaces
/// it, waiting for the former one's calls in progress on other threads, and
/// a sink destroyed while set leaves it.
template <typename Sink> class SinkSlot
{
public:
    /// Null: none.
    void Set(Sink *aSink)
    {
        Sink *lFormer;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lFormer = mSink;
            mSink = aSink;
            mRegistry.Add(aSink);
        }
        if (lFormer != aSink && lFormer != nullptr)
        {
            mRegistry.Remove(lFormer);
        }
    }

    /// Calls aCall(sink) when a sink is set, as a call in progress; false,
    /// and nothing called, when none is.
    template <typename Call> bool CallIfSet(Call &&aCall)
    {
        Sink *lSink;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            lSink = mSink;
        }
        return lSink != nullptr && mRegistry.CallIfRegistered(lSink, aCall);
    }

private:
    std::mutex mMutex;
    Sink *mSink = nullptr; // the one set last (no longer registered once destroyed)
    SinkRegistry<Sink> mRegistry{TrackSinks()};
};

/// The text of an exception for a log line.
inline const char *DescribeException(const std::exception_ptr &aError)
{
    try
    {
        std::rethrow_exception(aError);
    }
    catch (const std::exception &lException)
    {
        return lException.what();
    }
    catch (...)
    {
        return "an exception that is no std::exception";
    }
}
} // namespace tn

#endif
