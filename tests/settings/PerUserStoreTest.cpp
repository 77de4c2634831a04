// A standard user may not write under HKEY_LOCAL_MACHINE: the settings and
// the queue are then kept under HKEY_CURRENT_USER, and read from there on
// the next start. The refusal is played through the machine-key open hook.
#include "queue/JobList.h"
#include "settings/SpoolerSetup.h"
#include "support/RegistryFixture.h"

#include <string>

namespace {

LONG RefuseMachineWrites(LPCSTR, REGSAM access) {
    return (access & KEY_SET_VALUE) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

// A value under the per-user or the machine key, read around the code under
// test; "" when missing.
std::string RawString(HKEY root, const char* section, const char* name) {
    const std::string path = std::string(kProgramKey) + "\\" + section;
    HKEY h = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &h) != ERROR_SUCCESS)
        return "";
    char buf[512] = "";
    DWORD cb = sizeof(buf) - 1;
    const LONG rc = RegQueryValueExA(h, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &cb);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS ? buf : "";
}

bool RawExists(HKEY root, const char* section, const char* name) {
    const std::string path = std::string(kProgramKey) + "\\" + section;
    HKEY h = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &h) != ERROR_SUCCESS)
        return false;
    const LONG rc = RegQueryValueExA(h, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

using PerUserStoreTest = RegistryTest;

TEST_F(PerUserStoreTest, SettingsGoToTheUserWhenTheMachineKeyRefusesAndAreReadBack) {
    // The administrator's installation left settings in the machine key.
    {
        CSpoolerSetup machine;
        machine.m_nSpoolerType = SPOOLER_IP;
        machine.m_dwIPAddress = 0x7F000001;
        ASSERT_TRUE(machine.Save());
    }
    CRegistrySettings::SetMachineOpenHook(RefuseMachineWrites);
    CSpoolerSetup s;
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.m_nSpoolerType, SPOOLER_IP);
    EXPECT_EQ(s.m_dwIPAddress, 0x7F000001u);

    s.m_nSpoolerType = SPOOLER_WINDOWS;
    s.m_strSpoolerName = "Shop floor";
    ASSERT_TRUE(s.Save());
    EXPECT_EQ(RawString(HKEY_CURRENT_USER, "SpoolerSetup", "SpoolerName"), "Shop floor");
    // The machine key is as the administrator left it.
    EXPECT_TRUE(RawExists(HKEY_LOCAL_MACHINE, "SpoolerSetup", "SpoolerName"));
    EXPECT_EQ(RawString(HKEY_LOCAL_MACHINE, "SpoolerSetup", "SpoolerName"), "");

    // The next start, with or without the right to write the machine key,
    // finds the user's settings.
    CRegistrySettings::SetMachineOpenHook(nullptr);
    CSpoolerSetup next;
    ASSERT_TRUE(next.Load());
    EXPECT_EQ(next.m_nSpoolerType, SPOOLER_WINDOWS);
    EXPECT_STREQ(next.m_strSpoolerName, "Shop floor");
    EXPECT_EQ(next.m_dwIPAddress, 0x7F000001u);
}

TEST_F(PerUserStoreTest, TheQueueIsKeptPerUserAndSurvivesACrashThere) {
    {
        CJobList machine;
        machine.Add(CQueuedJob("old", "C:\\old", 2));
    }
    CRegistrySettings::SetMachineOpenHook(RefuseMachineWrites);
    class Dying : public CJobList {
    public:
        void Crash() { ForgetWithoutSaving(); }
    };
    {
        Dying list;
        ASSERT_EQ(list.GetCount(), 1);
        EXPECT_STREQ(list.GetAt(0)->GetName(), "old");
        list.Add(CQueuedJob("new", "C:\\new", 1));
        list.Crash();
    }
    {
        CJobList list;
        ASSERT_EQ(list.GetCount(), 2);
        EXPECT_STREQ(list.GetAt(1)->GetName(), "new");
        list.RemoveAt(0);
    }
    // Closed in order: the indexed form is in the user's key too.
    EXPECT_EQ(RawString(HKEY_CURRENT_USER, "Job_List", "Job0_Name"), "new");
    EXPECT_EQ(RawString(HKEY_LOCAL_MACHINE, "Job_List", "Job0_Name"), "old");
    CRegistrySettings::SetMachineOpenHook(nullptr);
    CJobList list;
    ASSERT_EQ(list.GetCount(), 1);
    EXPECT_STREQ(list.GetAt(0)->GetName(), "new");
}

TEST_F(PerUserStoreTest, ASaveThatStoresNothingSaysSo) {
    class Refused : public CSpoolerSetup {
    public:
        BOOL WriteString(LPCSTR, LPCSTR, LPCSTR, HKEY) override { return FALSE; }
        BOOL WriteDWORD(LPCSTR, LPCSTR, DWORD, HKEY) override { return FALSE; }
    };
    Refused s;
    EXPECT_FALSE(s.Save());
}

} // namespace
