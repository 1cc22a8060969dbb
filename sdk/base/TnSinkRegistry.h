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
#ifndef TN_SINK_REGISTRY_H
#define TN_SINK_REGISTRY_H

#include <cxxabi.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tn
{
template <typename Sink> class SinkRegistry
{
public:
    /// False when the sink is null or registered already.
    bool Add(Sink *aSink)
    {
        if (aSink == nullptr)
        {
            return false;
        }
        std::lock_guard<std::mutex> lLock(mMutex);
        if (std::find(mSinks.begin(), mSinks.end(), aSink) != mSinks.end())
        {
            return false;
        }
        mSinks.push_back(aSink);
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
        const std::thread::id lSelf = std::this_thread::get_id();
        mIdle.wait(lLock, [&] {
            return std::none_of(mActive.begin(), mActive.end(), [&](const std::pair<Sink *, std::thread::id> &aCall) {
                return aCall.first == aSink && aCall.second != lSelf;
            });
        });
        return true;
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

    /// Calls aCall(sink) for every sink registered when it starts and still
    /// registered when its turn comes. aOnError(sink, exception) receives
    /// what a call throws.
    template <typename Call, typename OnError> void ForEach(Call aCall, OnError aOnError)
    {
        std::vector<Sink *> lSinks;
        {
            std::lock_guard<std::mutex> lLock(mMutex);
            if (mSinks.empty())
            {
                return;
            }
            lSinks = mSinks;
        }
        const std::thread::id lSelf = std::this_thread::get_id();
        for (Sink *lSink : lSinks)
        {
            {
                std::lock_guard<std::mutex> lLock(mMutex);
                if (std::find(mSinks.begin(), mSinks.end(), lSink) == mSinks.end())
                {
                    continue; // unregistered meanwhile
                }
                mActive.emplace_back(lSink, lSelf);
            }
            ActiveCall lCall(*this, lSink, lSelf);
            try
            {
                aCall(lSink);
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
    // Ends the record of a call in progress, however the call ends.
    class ActiveCall
    {
    public:
        ActiveCall(SinkRegistry &aRegistry, Sink *aSink, std::thread::id aThread)
            : mRegistry(aRegistry), mSink(aSink), mThread(aThread)
        {
        }

        ~ActiveCall()
        {
            {
                std::lock_guard<std::mutex> lLock(mRegistry.mMutex);
                auto lCall =
                    std::find(mRegistry.mActive.begin(), mRegistry.mActive.end(), std::make_pair(mSink, mThread));
                if (lCall != mRegistry.mActive.end())
                {
                    mRegistry.mActive.erase(lCall);
                }
            }
            mRegistry.mIdle.notify_all();
        }

    private:
        SinkRegistry &mRegistry;
        Sink *mSink;
        std::thread::id mThread;
    };

    mutable std::mutex mMutex;
    std::condition_variable mIdle;
    std::vector<Sink *> mSinks;
    std::vector<std::pair<Sink *, std::thread::id>> mActive; // calls in progress
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
