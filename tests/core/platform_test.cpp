#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>

#include "platform/cancel.h"
#include "platform/cobject.h"
#include "platform/debuglog.h"
#include "platform/platform.h"

// Test classes live outside the anonymous namespace: their class records must be usable.
class CBase : public CObject {
    DECLARE_DYNAMIC(CBase)
};
IMPLEMENT_DYNAMIC(CBase, CObject)
class CLeft : public CBase {
    DECLARE_DYNAMIC(CLeft)
};
IMPLEMENT_DYNAMIC(CLeft, CBase)
class CRight : public CBase {
    DECLARE_DYNAMIC(CRight)
};
IMPLEMENT_DYNAMIC(CRight, CBase)

namespace {

std::wstring Format(const wchar_t* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::wstring s = FormatWide(1024, fmt, args);
    va_end(args);
    return s;
}

TEST(FormatWide, Conversions) {
    EXPECT_EQ(Format(L"[DOWNLOAD] pmwsize = %d.", 2348), L"[DOWNLOAD] pmwsize = 2348.");
    EXPECT_EQ(Format(L"%d|%i|%u", -7, 42, 4294967295u), L"-7|42|4294967295");
    EXPECT_EQ(Format(L"RamBase: %08x , CodeBase: %08x", 0x1234u, 0xABCDEF12u),
              L"RamBase: 00001234 , CodeBase: abcdef12");
    EXPECT_EQ(Format(L"%X %#x %5d|%-4d|%05d", 0xbeefu, 255u, 12, 3, -42),
              L"BEEF 0xff    12|3   |-0042");
    EXPECT_EQ(Format(L"%s and %s", L"COM3", static_cast<const wchar_t*>(nullptr)),
              L"COM3 and (null)");
    EXPECT_EQ(Format(L"%hs", "narrow"), L"narrow");
    EXPECT_EQ(Format(L"Current download progress %u%%", 50u), L"Current download progress 50%");
    EXPECT_EQ(Format(L"%c%c", L'O', L'K'), L"OK");
}

class DebugCapture : public ::testing::Test {
  protected:
    void SetUp() override {
        platform::SetDebugSink([this](const std::wstring& s) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_writes.push_back(s);
        });
    }
    void TearDown() override { platform::SetDebugSink(nullptr); }
    std::vector<std::wstring> Writes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_writes;
    }

  private:
    std::mutex m_mutex;
    std::vector<std::wstring> m_writes;
};

TEST_F(DebugCapture, LogAndPrintFormats) {
    DebugLog(L"Failed to open up the port: COM%d %u\n", 12, 9600u);
    DebugPrint(L"[DOWNLOAD] pmw size: %d", 5);
    auto w = Writes();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0], L"[NerioLogic] Failed to open up the port: COM12 9600\n");
    EXPECT_EQ(w[1], L"[DOWNLOAD] pmw size: 5");
    EXPECT_EQ(w[2], L"\r\n");
}

TEST_F(DebugCapture, LinesStopWhereTheSystemFormatterStops) {
    std::wstring longText(5000, L'x');
    DebugLog(L"%s", longText.c_str());
    DebugPrint(L"%s", longText.c_str());
    auto w = Writes();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0].size(), 1023u);
    EXPECT_EQ(w[0].substr(0, 13), L"[NerioLogic] ");
    EXPECT_EQ(w[1].size(), 1023u);
    EXPECT_EQ(w[2], L"\r\n");
}

// Several threads log at once (worker, starter threads, UI): no line may mix with another.
TEST_F(DebugCapture, ConcurrentLinesStayWhole) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                DebugLog(L"thread %d line %d %s\n", t, i, L"payload-payload-payload");
        });
    }
    for (auto& th : threads) th.join();
    std::set<std::wstring> lines;
    for (const auto& s : Writes()) lines.insert(s);
    ASSERT_EQ(lines.size(), 800u);
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 200; i += 37) {
            std::wstring expect = L"[NerioLogic] thread " + std::to_wstring(t) + L" line " +
                                  std::to_wstring(i) + L" payload-payload-payload\n";
            EXPECT_EQ(lines.count(expect), 1u);
        }
    }
}

TEST(RuntimeClass, IsKindOfFollowsTheBaseChain) {
    CLeft left;
    const CObject& obj = left;
    EXPECT_STREQ(obj.GetRuntimeClass()->m_lpszClassName, "CLeft");
    EXPECT_TRUE(obj.IsKindOf(RUNTIME_CLASS(CLeft)));
    EXPECT_TRUE(obj.IsKindOf(RUNTIME_CLASS(CBase)));
    EXPECT_TRUE(obj.IsKindOf(RUNTIME_CLASS(CObject)));
    EXPECT_FALSE(obj.IsKindOf(RUNTIME_CLASS(CRight)));
    EXPECT_FALSE(obj.IsKindOf(nullptr));
}

TEST(Cancel, SleepEndsWhenTheThreadsTokenIsCancelled) {
    platform::CancelToken token;
    bool finished = false, result = true;
    uint32_t spent = 0;
    std::thread worker([&] {
        platform::SetThreadCancelToken(&token);
        uint32_t start = platform::TickCount();
        result = platform::SleepCancellable(60000);
        spent = platform::TickCount() - start;
        finished = true;
    });
    platform::SleepMs(50);
    token.Cancel();
    worker.join();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(result);
    EXPECT_LT(spent, 30000u);  // woken by the token, not by the minute running out
    token.Reset();
    platform::SetThreadCancelToken(&token);
    EXPECT_TRUE(platform::SleepCancellable(1));
    platform::SetThreadCancelToken(nullptr);
}

TEST(Files, WriteThenReadBack) {
    std::wstring path =
        platform::ModuleFolder() + (platform::ModuleFileName().find(L'\\') != std::wstring::npos
                                        ? L"\\nerio-platform-test.bin"
                                        : L"/nerio-platform-test.bin");
    const uint8_t data[] = {1, 2, 3, 4, 5};
    ASSERT_TRUE(platform::WriteNewFile(path, data, sizeof data));
    platform::ReadOnlyFile f;
    ASSERT_TRUE(f.Open(path));
    EXPECT_EQ(f.Length(), 5u);
    ASSERT_TRUE(f.Seek(3));
    uint8_t got[4] = {0};
    EXPECT_EQ(f.Read(got, 4), 2u);
    EXPECT_EQ(got[0], 4);
    EXPECT_EQ(got[1], 5);
    f.Close();
    EXPECT_FALSE(f.IsOpen());
    std::remove(platform::ToUtf8(path).c_str());
}

TEST(Utf, RoundTripChinese) {
    std::wstring text = L"文件损坏，请联系软件制作商！";
    EXPECT_EQ(platform::FromUtf8(platform::ToUtf8(text)), text);
    EXPECT_EQ(platform::ToUtf8(L"提示"), "\xE6\x8F\x90\xE7\xA4\xBA");
}

}  // namespace
