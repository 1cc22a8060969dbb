#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TnLog.h"
#include "TnLogDispatch.h"
#include "TnResult.h"
#include "TnString.h"
#include "TnUtf8.h"

TEST(Utf8, InvalidBytesSurviveARoundTrip)
{
    const std::string bytes("a\xff\xc3\xa9\xe2\x82", 6); // 'a', a stray byte, 'é', a cut-off sequence
    const std::wstring wide = tn::DecodeUtf8(bytes.data(), bytes.size());
    ASSERT_EQ(wide.size(), 5u);
    EXPECT_EQ(wide[1], 0xDCFF);
    EXPECT_EQ(wide[2], 0xE9);
    EXPECT_EQ(wide[3], 0xDCE2);
    EXPECT_EQ(tn::EncodeUtf8(wide.data(), wide.size()), bytes);
}

TEST(Utf8, RejectsOverlongAndSurrogateForms)
{
    const std::string overlong("\xc0\xaf", 2);
    EXPECT_EQ(tn::DecodeUtf8(overlong.data(), overlong.size()).size(), 2u);
    const std::string surrogate("\xed\xa0\x80", 3);
    EXPECT_EQ(tn::DecodeUtf8(surrogate.data(), surrogate.size()).size(), 3u);
    const std::wstring astral = tn::DecodeUtf8("\xf0\x9f\x98\x80", 4);
    ASSERT_EQ(astral.size(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(astral[0]), 0x1F600u);
}

TEST(String, NarrowAndWideFormsAgree)
{
    TnString fromWide(L"gr\u00fc\u00df");
    EXPECT_STREQ(fromWide.GetAscii(), "gr\xc3\xbc\xc3\x9f");
    EXPECT_EQ(fromWide.GetLength(), 4u);
    TnString fromNarrow("gr\xc3\xbc\xc3\x9f");
    EXPECT_TRUE(fromNarrow == fromWide);
    EXPECT_TRUE(fromNarrow == L"gr\u00fc\u00df");
    EXPECT_FALSE(fromNarrow != "gr\xc3\xbc\xc3\x9f");
    EXPECT_TRUE(fromNarrow != L"GR\u00dc\u00df");
}

TEST(String, CountedConstructorStopsAtCountOrNull)
{
    EXPECT_STREQ(TnString("abcdef", 3).GetAscii(), "abc");
    EXPECT_STREQ(TnString("ab", 10).GetAscii(), "ab");
    EXPECT_EQ(TnString("abc", 0).GetLength(), 0u);
}

TEST(String, NullTextStaysNullUntilAppended)
{
    TnString null(static_cast<const char *>(nullptr));
    EXPECT_EQ(null.GetAscii(), nullptr);
    EXPECT_EQ(null.GetUnicode(), nullptr);
    EXPECT_TRUE(null == static_cast<const wchar_t *>(nullptr));
    EXPECT_FALSE(null == TnString(""));
    null += TnString("x");
    EXPECT_STREQ(null.GetAscii(), "x");
}

TEST(Result, CombiningKeepsTheFirstFailure)
{
    TnResult result;
    result |= TnResult(TN_PENDING);
    EXPECT_TRUE(result.IsPending());
    result |= TnResult(TN_TIMEOUT, 110u);
    result |= TnResult(TN_BUSY);
    result |= TnResult(TN_OK);
    EXPECT_EQ(result.GetCode(), static_cast<uint32_t>(TN_TIMEOUT));
    EXPECT_EQ(result.GetOSCode(), 110u);
}

TEST(Result, CodeStringsAndDescriptions)
{
    EXPECT_STREQ(TnResult().GetCodeString().GetAscii(), "OK");
    EXPECT_STREQ(TnResult(TN_AUTO_ABORTED).GetCodeString().GetAscii(), "AUTO_ABORTED");
    EXPECT_STREQ(TnResult(0x12345).GetCodeString().GetAscii(), "UNKNOWN");
    TnResult described(TN_FILE_ERROR, TnString("disk full"));
    EXPECT_TRUE(described.HasDescription());
    EXPECT_STREQ(described.GetDescription().GetAscii(), "disk full");
    EXPECT_FALSE(TnResult(TN_FILE_ERROR).HasDescription());
    EXPECT_TRUE(TnResult(TN_PENDING).IsSuccess());
    EXPECT_TRUE(TnResult(TN_ABORTED).IsFailure());
}

namespace
{
class RecordingSink : public TnLogSink
{
public:
    void Log(TnLogLevelEnum aLevel, const char *, uint32_t aLine, const char *, const char *aLogger,
             const char *aMessage) override
    {
        mLevels.push_back(aLevel);
        mLines.push_back(aLine);
        mMessages.push_back(std::string(aLogger) + ":" + (aMessage != nullptr ? aMessage : "(null)"));
    }
    std::vector<int> mLevels;
    std::vector<uint32_t> mLines;
    std::vector<std::string> mMessages;
};

class ThrowingSink : public TnLogSink
{
public:
    void Log(TnLogLevelEnum, const char *, uint32_t, const char *, const char *, const char *) override
    {
        ++mCalls;
        throw std::runtime_error("sink failed");
    }
    std::atomic<int> mCalls{0};
};
} // namespace

TEST(Logger, PriorityFiltersBySeverity)
{
    RecordingSink sink;
    tn::AddLogSink(&sink);
    TnLogger logger(TnString("cam"));
    EXPECT_EQ(logger.GetLogPriority(), TnLogLevelInfo);
    logger.LogDebug("f.cpp", 1, "fn", "hidden");
    logger.LogInfo("f.cpp", 2, "fn", "info");
    logger.SetLogPriority(TnLogLevelError);
    logger.LogWarning("f.cpp", 3, "fn", "hidden");
    logger.LogError("f.cpp", 4, "fn", "error");
    logger.LogCritical("f.cpp", 5, "fn", nullptr);
    logger.SetLogPriority(TnLogLevelUnknown);
    logger.LogCritical("f.cpp", 6, "fn", "silenced");
    logger.SetLogPriority(TnLogLevelDebug);
    logger.LogDebug("f.cpp", -1, "fn", "debug");
    tn::RemoveLogSink(&sink);
    logger.LogCritical("f.cpp", 8, "fn", "after removal");

    EXPECT_EQ(sink.mMessages, (std::vector<std::string>{"cam:info", "cam:error", "cam:(null)", "cam:debug"}));
    EXPECT_EQ(sink.mLevels, (std::vector<int>{TnLogLevelInfo, TnLogLevelError, TnLogLevelCritical, TnLogLevelDebug}));
    EXPECT_EQ(sink.mLines.back(), 0xFFFFFFFFu);
}

TEST(Logger, ThrowingSinkDoesNotStopOthersOrCaller)
{
    ThrowingSink thrower;
    RecordingSink recorder;
    tn::AddLogSink(&thrower);
    tn::AddLogSink(&recorder);
    TnLogger logger(TnString("t"));
    std::thread worker([&logger] { logger.LogError("f", 1, "fn", "from a thread"); });
    worker.join();
    tn::RemoveLogSink(&thrower);
    tn::RemoveLogSink(&recorder);
    EXPECT_EQ(thrower.mCalls, 1);
    EXPECT_EQ(recorder.mMessages, (std::vector<std::string>{"t:from a thread"}));
}

TEST(Logger, RemovalWaitsForDeliveriesOnOtherThreads)
{
    class SlowSink : public TnLogSink
    {
    public:
        void Log(TnLogLevelEnum, const char *, uint32_t, const char *, const char *, const char *) override
        {
            mEntered = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            mLeft = true;
        }
        std::atomic<bool> mEntered{false};
        std::atomic<bool> mLeft{false};
    } sink;
    tn::AddLogSink(&sink);
    std::thread worker([] { tn::DispatchLog(TnLogLevelInfo, "f", 1, "fn", "w", "slow"); });
    while (!sink.mEntered)
    {
        std::this_thread::yield();
    }
    tn::RemoveLogSink(&sink);
    EXPECT_TRUE(sink.mLeft);
    worker.join();
}
