#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TnCheckedSize.h"
#include "TnLog.h"
#include "TnLogDispatch.h"
#include "TnResult.h"
#include "TnString.h"
#include "TnUtf8.h"
#include "TnWaitInterrupt.h"

TEST(Utf8, InvalidBytesSurviveARoundTrip)
{
    const std::string lBytes("a\xff\xc3\xa9\xe2\x82", 6); // 'a', a stray byte, 'é', a cut-off sequence
    const std::wstring lWide = tn::DecodeUtf8(lBytes.data(), lBytes.size());
    ASSERT_EQ(lWide.size(), 5u);
    EXPECT_EQ(lWide[1], 0xDCFF);
    EXPECT_EQ(lWide[2], 0xE9);
    EXPECT_EQ(lWide[3], 0xDCE2);
    EXPECT_EQ(tn::EncodeUtf8(lWide.data(), lWide.size()), lBytes);
}

TEST(Utf8, RejectsOverlongAndSurrogateForms)
{
    const std::string lOverlong("\xc0\xaf", 2);
    EXPECT_EQ(tn::DecodeUtf8(lOverlong.data(), lOverlong.size()).size(), 2u);
    const std::string lSurrogate("\xed\xa0\x80", 3);
    EXPECT_EQ(tn::DecodeUtf8(lSurrogate.data(), lSurrogate.size()).size(), 3u);
    const std::wstring lAstral = tn::DecodeUtf8("\xf0\x9f\x98\x80", 4);
    ASSERT_EQ(lAstral.size(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(lAstral[0]), 0x1F600u);
}

TEST(String, NarrowAndWideFormsAgree)
{
    TnString lFromWide(L"gr\u00fc\u00df");
    EXPECT_STREQ(lFromWide.GetAscii(), "gr\xc3\xbc\xc3\x9f");
    EXPECT_EQ(lFromWide.GetLength(), 4u);
    TnString lFromNarrow("gr\xc3\xbc\xc3\x9f");
    EXPECT_TRUE(lFromNarrow == lFromWide);
    EXPECT_TRUE(lFromNarrow == L"gr\u00fc\u00df");
    EXPECT_FALSE(lFromNarrow != "gr\xc3\xbc\xc3\x9f");
    EXPECT_TRUE(lFromNarrow != L"GR\u00dc\u00df");
}

TEST(String, CountedConstructorStopsAtCountOrNull)
{
    EXPECT_STREQ(TnString("abcdef", 3).GetAscii(), "abc");
    EXPECT_STREQ(TnString("ab", 10).GetAscii(), "ab");
    EXPECT_EQ(TnString("abc", 0).GetLength(), 0u);
}

TEST(String, NullTextStaysNullUntilAppended)
{
    TnString lNull(static_cast<const char *>(nullptr));
    EXPECT_EQ(lNull.GetAscii(), nullptr);
    EXPECT_EQ(lNull.GetUnicode(), nullptr);
    EXPECT_TRUE(lNull == static_cast<const wchar_t *>(nullptr));
    EXPECT_FALSE(lNull == TnString(""));
    lNull += TnString("x");
    EXPECT_STREQ(lNull.GetAscii(), "x");
}

TEST(Result, CombiningKeepsTheFirstFailure)
{
    TnResult lResult;
    lResult |= TnResult(TN_PENDING);
    EXPECT_TRUE(lResult.IsPending());
    lResult |= TnResult(TN_TIMEOUT, 110u);
    lResult |= TnResult(TN_BUSY);
    lResult |= TnResult(TN_OK);
    EXPECT_EQ(lResult.GetCode(), static_cast<uint32_t>(TN_TIMEOUT));
    EXPECT_EQ(lResult.GetOSCode(), 110u);
}

TEST(Result, CodeStringsAndDescriptions)
{
    EXPECT_STREQ(TnResult().GetCodeString().GetAscii(), "OK");
    EXPECT_STREQ(TnResult(TN_AUTO_ABORTED).GetCodeString().GetAscii(), "AUTO_ABORTED");
    EXPECT_STREQ(TnResult(0x12345).GetCodeString().GetAscii(), "UNKNOWN");
    TnResult lDescribed(TN_FILE_ERROR, TnString("disk full"));
    EXPECT_TRUE(lDescribed.HasDescription());
    EXPECT_STREQ(lDescribed.GetDescription().GetAscii(), "disk full");
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
    RecordingSink lSink;
    tn::AddLogSink(&lSink);
    TnLogger lLogger(TnString("cam"));
    EXPECT_EQ(lLogger.GetLogPriority(), TnLogLevelInfo);
    lLogger.LogDebug("f.cpp", 1, "fn", "hidden");
    lLogger.LogInfo("f.cpp", 2, "fn", "info");
    lLogger.SetLogPriority(TnLogLevelError);
    lLogger.LogWarning("f.cpp", 3, "fn", "hidden");
    lLogger.LogError("f.cpp", 4, "fn", "error");
    lLogger.LogCritical("f.cpp", 5, "fn", nullptr);
    lLogger.SetLogPriority(TnLogLevelUnknown);
    lLogger.LogCritical("f.cpp", 6, "fn", "silenced");
    lLogger.SetLogPriority(TnLogLevelDebug);
    lLogger.LogDebug("f.cpp", -1, "fn", "debug");
    tn::RemoveLogSink(&lSink);
    lLogger.LogCritical("f.cpp", 8, "fn", "after removal");

    EXPECT_EQ(lSink.mMessages, (std::vector<std::string>{"cam:info", "cam:error", "cam:(null)", "cam:debug"}));
    EXPECT_EQ(lSink.mLevels, (std::vector<int>{TnLogLevelInfo, TnLogLevelError, TnLogLevelCritical, TnLogLevelDebug}));
    EXPECT_EQ(lSink.mLines.back(), 0xFFFFFFFFu);
}

TEST(Logger, LibraryLoggersAreOnePerNameFromAnyThread)
{
    RecordingSink lSink;
    tn::AddLogSink(&lSink);
    std::vector<TnLogger *> lSeen(8);
    std::vector<std::thread> lThreads;
    for (size_t lIndex = 0; lIndex < lSeen.size(); ++lIndex)
    {
        lThreads.emplace_back([&lSeen, lIndex] { lSeen[lIndex] = &tn::LibraryLogger(lIndex % 2 ? "odd" : "even"); });
    }
    for (std::thread &lThread : lThreads)
    {
        lThread.join();
    }
    EXPECT_NE(lSeen[0], lSeen[1]);
    for (size_t lIndex = 2; lIndex < lSeen.size(); ++lIndex)
    {
        EXPECT_EQ(lSeen[lIndex], lSeen[lIndex % 2]);
    }
    // What is set on one caller's logger holds for every caller of the name.
    tn::LibraryLogger("odd").SetLogPriority(TnLogLevelError);
    lSeen[1]->LogWarning("f", 1, "fn", "hidden");
    lSeen[0]->LogWarning("f", 2, "fn", "shown");
    tn::RemoveLogSink(&lSink);
    EXPECT_EQ(lSink.mMessages, (std::vector<std::string>{"even:shown"}));
}

TEST(Logger, ThrowingSinkDoesNotStopOthersOrCaller)
{
    ThrowingSink lThrower;
    RecordingSink lRecorder;
    tn::AddLogSink(&lThrower);
    tn::AddLogSink(&lRecorder);
    TnLogger lLogger(TnString("t"));
    std::thread lWorker([&lLogger] { lLogger.LogError("f", 1, "fn", "from a thread"); });
    lWorker.join();
    tn::RemoveLogSink(&lThrower);
    tn::RemoveLogSink(&lRecorder);
    EXPECT_EQ(lThrower.mCalls, 1);
    EXPECT_EQ(lRecorder.mMessages, (std::vector<std::string>{"t:from a thread"}));
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
    } lSink;
    tn::AddLogSink(&lSink);
    std::thread lWorker([] { tn::DispatchLog(TnLogLevelInfo, "f", 1, "fn", "w", "slow"); });
    while (!lSink.mEntered)
    {
        std::this_thread::yield();
    }
    tn::RemoveLogSink(&lSink);
    EXPECT_TRUE(lSink.mLeft);
    lWorker.join();
}

TEST(CheckedSize, OverflowIsRememberedThroughEveryStep)
{
    using tn::CheckedSize;
    uint32_t lSize = 1;
    // The unchecked 32-bit sum of an image and its chunks wraps round to 256.
    EXPECT_FALSE((CheckedSize(256u) + 8u + 0xFFFFFFF8u).Get(lSize));
    EXPECT_EQ(lSize, 0u);
    EXPECT_FALSE((CheckedSize(256u) + 8u + 0xFFFFFFF7u).FitsIn(tn::kMaximumBufferSize));
    // 64-bit overflow in every operation, and what follows from it.
    const CheckedSize lWrapped = CheckedSize(UINT64_MAX) + 1u;
    EXPECT_FALSE(lWrapped.IsValid() || (lWrapped * 0u).IsValid() || (CheckedSize(3u) - 4u).IsValid());
    EXPECT_FALSE((CheckedSize(0xFFFFFFFFu) * 0xFFFFFFFFu * 255u).IsValid() || CheckedSize(-1).IsValid());
    EXPECT_FALSE(CheckedSize(UINT64_MAX).RoundedUp(8).IsValid() || CheckedSize(5u).DividedUp(0).IsValid());
    EXPECT_EQ(lWrapped.Saturated(0xFFFFFFFFu), 0xFFFFFFFFu);
    // Bits to bytes and alignment round up; a limit narrower than the type holds.
    EXPECT_TRUE((CheckedSize(17u) * 12u).DividedUp(8).Get(lSize) && lSize == 26u);
    EXPECT_TRUE(CheckedSize(9u).RoundedUp(8).Get(lSize) && lSize == 16u);
    uint16_t lShort = 0;
    EXPECT_FALSE(CheckedSize(0x10000u).Get(lShort) || CheckedSize(0xFFFFu).Get(lShort, 0xFFFE));
}

namespace
{
class InterruptAtOnce : public TnWaitInterrupter
{
public:
    bool IsInterrupted() override { return true; }
};
} // namespace

TEST(RunElsewhere, AnInterruptedWaitLeavesTheWorkToEndWhereItRuns)
{
    std::promise<void> lRelease;
    std::shared_future<void> lReleased = lRelease.get_future().share();
    std::promise<std::thread::id> lEnded;
    const auto lStart = std::chrono::steady_clock::now();
    {
        InterruptAtOnce lInterrupter;
        TnWaitInterruptScope lScope(lInterrupter, 10);
        EXPECT_FALSE(TnRunElsewhere([&] {
            lReleased.wait();
            lEnded.set_value(std::this_thread::get_id());
        }));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - lStart, std::chrono::seconds(5));
    // A second work meanwhile gets a thread of its own, and is waited for
    // to its end without a scope.
    std::thread::id lSecond;
    EXPECT_TRUE(TnRunElsewhere([&] { lSecond = std::this_thread::get_id(); }));
    EXPECT_NE(lSecond, std::this_thread::get_id());
    lRelease.set_value();
    std::future<std::thread::id> lFirst = lEnded.get_future();
    ASSERT_EQ(lFirst.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_NE(lFirst.get(), lSecond);
}
