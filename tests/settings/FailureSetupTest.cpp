#include "settings/FailureSetup.h"
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

} // namespace
