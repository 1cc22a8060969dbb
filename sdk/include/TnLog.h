// Logging: named loggers and the abstract receiver of their lines.
#ifndef TN_LOG_H
#define TN_LOG_H

#include <stdint.h>

#include <atomic>

#include "TnExport.h"
#include "TnString.h"

/// Log levels.
typedef enum
{
    TnLogLevelUnknown = 0,
    TnLogLevelInfo = 1,
    TnLogLevelError = 2,
    TnLogLevelWarning = 3,
    TnLogLevelCritical = 4,
    TnLogLevelDebug = 5
} TnLogLevelEnum;

/// A named logger.
///
/// A line is written when its level is at least as severe as the logger's
/// priority, severity rising from Debug through Info, Warning and Error to
/// Critical. The priority is a log level; TnLogLevelUnknown, or any value that
/// is no log level, silences the logger. Lines go to every registered log sink
/// and, when the environment variable TARN_LOG_FILE names a file (or "-" for
/// standard error), to that file.
class TN_BASE_API TnLogger
{
public:
    /// A logger with the given name and the priority TnLogLevelInfo.
    TnLogger(const TnString &aName);

    virtual ~TnLogger();

    /// Writes an information line.
    void LogInfo(const char *aFile, int aLine, const char *aFunction, const char *aMessage);

    /// Writes an error line.
    void LogError(const char *aFile, int aLine, const char *aFunction, const char *aMessage);

    /// Writes a warning line.
    void LogWarning(const char *aFile, int aLine, const char *aFunction, const char *aMessage);

    /// Writes a critical line.
    void LogCritical(const char *aFile, int aLine, const char *aFunction, const char *aMessage);

    /// Writes a debug line.
    void LogDebug(const char *aFile, int aLine, const char *aFunction, const char *aMessage);

    /// Sets the priority: the least severe level that is written.
    void SetLogPriority(int32_t aPriority);

    /// The priority.
    int32_t GetLogPriority() const;

private:
    TnLogger(const TnLogger &) = delete;
    TnLogger &operator=(const TnLogger &) = delete;
    void Write(TnLogLevelEnum aLevel, const char *aFile, int aLine, const char *aFunction, const char *aMessage);

    TnString mName;
    std::atomic<int32_t> mPriority;
};

/// The receiver of log lines.
///
/// Log may be called on any thread of the SDK.
class TN_BASE_API TnLogSink
{
public:
    TnLogSink();
    virtual ~TnLogSink();

    /// Receives one line: its level, source file, source line, function, the
    /// name of the logger that wrote it and the message.
    virtual void Log(TnLogLevelEnum aLevel, const char *aFile, uint32_t aLine, const char *aFunction,
                     const char *aLogger, const char *aMessage) = 0;

private:
    TnLogSink(const TnLogSink &) = delete;
    TnLogSink &operator=(const TnLogSink &) = delete;
};

#endif
