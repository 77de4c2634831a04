#include "settings/SpoolerSetup.h"
#include "support/RegistryFixture.h"

#include <atomic>
#include <thread>

namespace {

using SpoolerSetupTest = RegistryTest;

TEST_F(SpoolerSetupTest, FirstStartGivesTheNullPrinterDefaults) {
    CSpoolerSetup s;
    EXPECT_EQ(s.m_nSpoolerType, SPOOLER_NULL);
    EXPECT_STREQ(s.m_strSpoolerName, "");
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.m_nSpoolerType, SPOOLER_NULL);
    EXPECT_STREQ(s.m_strSpoolerName, "none");
    EXPECT_EQ(s.m_dwIPAddress, 0u);
    EXPECT_STREQ(s.m_strUSBPort, "");
    EXPECT_STREQ(s.m_strUSBPrinterName, "");
    EXPECT_STREQ(s.m_strUSBPrinterSN, "");
}

TEST_F(SpoolerSetupTest, SaveThenLoadKeepsEveryField) {
    CSpoolerSetup a;
    a.m_nSpoolerType = SPOOLER_USB;
    a.m_strSpoolerName = "Label Printer (ZPL)";
    a.m_dwIPAddress = 0xC8010203; // 200.1.2.3
    a.m_strUSBPort = "USB001";
    a.m_strUSBPrinterName = "Port_#0001.Hub_#0004";
    a.m_strUSBPrinterSN = "ABC123";
    ASSERT_TRUE(a.Save());

    CSpoolerSetup b;
    ASSERT_TRUE(b.Load());
    EXPECT_EQ(b.m_nSpoolerType, SPOOLER_USB);
    EXPECT_STREQ(b.m_strSpoolerName, "Label Printer (ZPL)");
    EXPECT_EQ(b.m_dwIPAddress, 0xC8010203u);
    EXPECT_STREQ(b.m_strUSBPort, "USB001");
    EXPECT_STREQ(b.m_strUSBPrinterName, "Port_#0001.Hub_#0004");
    EXPECT_STREQ(b.m_strUSBPrinterSN, "ABC123");

    // The stored types are those other tools and older builds read.
    const ProgramKey h("SpoolerSetup");
    DWORD type = 0, cb = 0;
    ASSERT_EQ(RegQueryValueExA(h, "SpoolerType", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    ASSERT_EQ(RegQueryValueExA(h, "SpoolerName", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

TEST_F(SpoolerSetupTest, UnknownTypeLoadsUnchanged) {
    const DWORD seven = 7;
    SetRawValue("SpoolerSetup", "SpoolerType", REG_DWORD, &seven, 4);
    CSpoolerSetup s;
    s.Load();
    EXPECT_EQ(s.m_nSpoolerType, 7);
}

TEST(SpoolerSetupAddress, DottedText) {
    CSpoolerSetup s;
    EXPECT_STREQ(s.GetIPAddressText(), "0.0.0.0");
    s.m_dwIPAddress = 0xC0A80164;
    EXPECT_STREQ(s.GetIPAddressText(), "192.168.1.100");
    s.m_dwIPAddress = 0xFFFFFFFF;
    EXPECT_STREQ(s.GetIPAddressText(), "255.255.255.255");
    s.m_dwIPAddress = 0x80000001;
    EXPECT_STREQ(s.GetIPAddressText(), "128.0.0.1");
}

// A reader copying the settings while another thread assigns them never sees
// a mix of two states.
TEST(SpoolerSetupThreads, CopiesAreConsistent) {
    CSpoolerSetup shared, a, b;
    a.m_strSpoolerName = "printer-a";
    a.m_dwIPAddress = 1;
    a.m_nSpoolerType = SPOOLER_WINDOWS;
    b.m_strSpoolerName = "printer-b-with-a-much-longer-name";
    b.m_dwIPAddress = 2;
    b.m_nSpoolerType = SPOOLER_IP;
    shared = a;

    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i)
            shared = (i % 2) ? a : b;
        done = true;
    });
    int mixed = 0;
    while (!done) {
        const CSpoolerSetup copy(shared);
        const bool isA = copy.m_dwIPAddress == 1 && copy.m_strSpoolerName == "printer-a" &&
                         copy.m_nSpoolerType == SPOOLER_WINDOWS;
        const bool isB = copy.m_dwIPAddress == 2 &&
                         copy.m_strSpoolerName == "printer-b-with-a-much-longer-name" &&
                         copy.m_nSpoolerType == SPOOLER_IP;
        mixed += !(isA || isB);
    }
    writer.join();
    EXPECT_EQ(mixed, 0);
}

} // namespace
