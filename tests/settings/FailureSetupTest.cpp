#include "settings/FailureSetup.h"
#include "settings/StartWithWindows.h"
#include "support/RegistryFixture.h"

namespace {

using FailureSetupTest = RegistryTest;

TEST_F(FailureSetupTest, StopAndAskIsTheDefaultAndSettingsComeBack) {
    CFailureSetup fresh;
    ASSERT_TRUE(fresh.Load());
    EXPECT_FALSE(fresh.m_bRetry);
    EXPECT_EQ(fresh.m_dwRetryMinutes, 30u);

    CFailureSetup a;
    a.m_bRetry = true;
    a.m_dwRetryMinutes = 90;
    ASSERT_TRUE(a.Save());
    CFailureSetup b;
    ASSERT_TRUE(b.Load());
    EXPECT_TRUE(b.m_bRetry);
    EXPECT_EQ(b.m_dwRetryMinutes, 90u);
}

// Values written by other hands: minutes outside 1 to 1440 are kept within
// it, and a Retry other than 1 is off.
TEST_F(FailureSetupTest, StoredValuesOutOfRangeAreKeptWithinIt) {
    const struct {
        DWORD retry, minutes;
        bool bRetry;
        DWORD wantMinutes;
    } rows[] = {
        {1, 0, true, 1}, {1, 1441, true, 1440}, {2, 5, false, 5}, {0, 0xFFFFFFFF, false, 1440}};
    for (const auto& r : rows) {
        CFailureSetup raw;
        ASSERT_TRUE(raw.WriteDWORD("OnFailure", "Retry", r.retry, HKEY_LOCAL_MACHINE));
        ASSERT_TRUE(raw.WriteDWORD("OnFailure", "RetryMinutes", r.minutes, HKEY_LOCAL_MACHINE));
        CFailureSetup s;
        ASSERT_TRUE(s.Load());
        EXPECT_EQ(s.m_bRetry, r.bRetry) << r.retry;
        EXPECT_EQ(s.m_dwRetryMinutes, r.wantMinutes) << r.minutes;
    }
}

// "Start with Windows" is the Run value itself: on writes the quoted path
// with the switches, off removes it, and off twice is no error.
TEST_F(FailureSetupTest, StartWithWindowsWritesAndRemovesTheRunValue) {
    const std::wstring exe = L"C:\\Program Files\\Tolvar\\Morvane\\Morvane.exe";
    ASSERT_TRUE(SetStartWithWindows(true, exe));
    EXPECT_TRUE(IsStartWithWindows());
    wchar_t value[512] = L"";
    DWORD cb = sizeof(value);
    ASSERT_EQ(
        RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_REG_SZ, nullptr, value, &cb),
        ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(value), L"\"" + exe + L"\" /minimized /start");
    EXPECT_TRUE(SetStartWithWindows(false, exe));
    EXPECT_FALSE(IsStartWithWindows());
    EXPECT_TRUE(SetStartWithWindows(false, exe));
    EXPECT_FALSE(SetStartWithWindows(true, L""));
}

} // namespace
