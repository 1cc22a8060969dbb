#include "TnLog.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "TnLogDispatch.h"
#include "TnSinkRegistry.h"

namespace
{
// Outlives every static logger.
tn::SinkRegistry<TnLogSink> &GetRegistry()
{
    static tn::SinkRegistry<TnLogSink> *sRegistry = new tn::SinkRegistry<TnLogSink>;
    return *sRegistry;
}

// Severity rank of a level, 0 for values that are no log level.
int Severity(int32_t aLevel)
{
    switch (aLevel)
    {
    case TnLogLevelDebug:
        return 1;
    case TnLogLevelInfo:
        return 2;
    case TnLogLevelWarning:
        return 3;
    case TnLogLevelError:
        return 4;
    case TnLogLevelCritical:
        return 5;
    default:
        return 0;
    }
}

const char *LevelName(TnLogLevelEnum aLevel)
{
    switch (aLevel)
    {
    case TnLogLevelDebug:
        return "Debug";
    case TnLogLevelInfo:
        return "Info";
    case TnLogLevelWarning:
        return "Warning";
    case TnLogLevelError:
        return "Error";
    case TnLogLevelCritical:
        return "Critical";
    default:
        return "Unknown";
    }
}

const char *OrEmpty(const char *aText)
{
    return aText != nullptr ? aText : "";
}

class LogFile
{
public:
    LogFile()
    {
        const char *lPath = getenv("TARN_LOG_FILE");
        if (lPath == nullptr || *lPath == '\0')
        {
            return;
        }
        if (strcmp(lPath, "-") == 0)
        {
            mFile = stderr;
        }
        else if ((mFile = fopen(lPath, "a")) == nullptr)
        {
            // The file is opened once, for the first line: the failure is said
            // then, once.
            const std::string lReason = std::error_code(errno, std::generic_category()).message();
            fprintf(stderr, "tarn: the log file TARN_LOG_FILE=%s cannot be opened: %s; no line goes there\n", lPath,
                    lReason.c_str());
            fflush(stderr);
        }
    }

    void Write(TnLogLevelEnum aLevel, const char *aFile, uint32_t aLine, const char *aFunction, const char *aLogger,
               const char *aMessage)
    {
        if (mFile == nullptr)
        {
            return;
        }
        struct timeval lNow;
        gettimeofday(&lNow, nullptr);
        struct tm lLocal;
        localtime_r(&lNow.tv_sec, &lLocal);
        char lStamp[32];
        strftime(lStamp, sizeof(lStamp), "%Y-%m-%d %H:%M:%S", &lLocal);
        std::lock_guard<std::mutex> lLock(mMutex);
        fprintf(mFile, "%s.%03ld [%s] %s: %s (%s:%u %s)\n", lStamp, static_cast<long>(lNow.tv_usec / 1000),
                LevelName(aLevel), OrEmpty(aLogger), OrEmpty(aMessage), OrEmpty(aFile), aLine, OrEmpty(aFunction));
        fflush(mFile);
    }

private:
    FILE *mFile = nullptr;
    std::mutex mMutex;
};

LogFile &GetLogFile()
{
    static LogFile *sFile = new LogFile;
    return *sFile;
}
} // namespace

namespace tn
{
void AddLogSink(TnLogSink *aSink)
{
    GetRegistry().Add(aSink);
}

void RemoveLogSink(TnLogSink *aSink)
{
    GetRegistry().Remove(aSink);
}

TnLogger &LibraryLogger(const char *aName)
{
    static std::mutex *sMutex = new std::mutex;
    static auto *sLoggers = new std::vector<std::pair<std::string, TnLogger *>>;
    std::lock_guard<std::mutex> lLock(*sMutex);
    for (const auto &lLogger : *sLoggers)
    {
        if (lLogger.first == aName)
        {
            return *lLogger.second;
        }
    }
    sLoggers->emplace_back(aName, new TnLogger(TnString(aName)));
    return *sLoggers->back().second;
}

void DispatchLog(TnLogLevelEnum aLevel, const char *aFile, uint32_t aLine, const char *aFunction, const char *aLogger,
                 const char *aMessage)
{
    GetLogFile().Write(aLevel, aFile, aLine, aFunction, aLogger, aMessage);
    // A failing sink loses this line; the caller and the other sinks go on.
    GetRegistry().ForEach(
        [&](TnLogSink *aSink) { aSink->Log(aLevel, aFile, aLine, aFunction, aLogger, aMessage); },
        [](TnLogSink *, const std::exception_ptr &) {});
}
} // namespace tn

TnLogger::TnLogger(const TnString &aName) : mName(aName), mPriority(TnLogLevelInfo) {}

TnLogger::~TnLogger() = default;

void TnLogger::Write(TnLogLevelEnum aLevel, const char *aFile, int aLine, const char *aFunction, const char *aMessage)
{
    const int lThreshold = Severity(mPriority.load(std::memory_order_relaxed));
    if (lThreshold == 0 || Severity(aLevel) < lThreshold)
    {
        return;
    }
    tn::DispatchLog(aLevel, aFile, static_cast<uint32_t>(aLine), aFunction, mName.GetAscii(), aMessage);
}

void TnLogger::LogInfo(const char *aFile, int aLine, const char *aFunction, const char *aMessage)
{
    Write(TnLogLevelInfo, aFile, aLine, aFunction, aMessage);
}

void TnLogger::LogError(const char *aFile, int aLine, const char *aFunction, const char *aMessage)
{
    Write(TnLogLevelError, aFile, aLine, aFunction, aMessage);
}

void TnLogger::LogWarning(const char *aFile, int aLine, const char *aFunction, const char *aMessage)
{
    Write(TnLogLevelWarning, aFile, aLine, aFunction, aMessage);
}

void TnLogger::LogCritical(const char *aFile, int aLine, const char *aFunction, const char *aMessage)
{
    Write(TnLogLevelCritical, aFile, aLine, aFunction, aMessage);
}

void TnLogger::LogDebug(const char *aFile, int aLine, const char *aFunction, const char *aMessage)
{
    Write(TnLogLevelDebug, aFile, aLine, aFunction, aMessage);
}

void TnLogger::SetLogPriority(int32_t aPriority)
{
    mPriority.store(aPriority, std::memory_order_relaxed);
}

int32_t TnLogger::GetLogPriority() const
{
    return mPriority.load(std::memory_order_relaxed);
}

TnLogSink::TnLogSink() = default;

TnLogSink::~TnLogSink()
{
    // Safety net for sinks destroyed while registered.
    tn::RemoveLogSink(this);
}
