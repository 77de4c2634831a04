// The registry store against Wine's real registry.
#include "settings/RegistrySettings.h"
#include "support/RegistryFixture.h"

#include <winternl.h>

#include <string>
#include <vector>

namespace {

// The store with nothing of its own to save: the accessors are under test.
class Store : public CRegistrySettings {
public:
    BOOL Save() override { return TRUE; }
    BOOL Load() override { return TRUE; }
};

using RegistrySettingsTest = RegistryTest;

TEST_F(RegistrySettingsTest, KeyPathIsTheProgramsKey) {
    Store s;
    EXPECT_STREQ(s.GetKeyPath(nullptr), "SOFTWARE\\Tolvar\\Tolvar Morvane");
    EXPECT_STREQ(s.GetKeyPath(""), "SOFTWARE\\Tolvar\\Tolvar Morvane");
    EXPECT_STREQ(s.GetKeyPath("Job_List"), "SOFTWARE\\Tolvar\\Tolvar Morvane\\Job_List");
}

TEST_F(RegistrySettingsTest, MissingValuesGiveDefaultsAndCreateTheKey) {
    Store s;
    EXPECT_FALSE(KeyExists("Sec"));
    EXPECT_STREQ(s.ReadString("Sec", "Nope", "dflt", HKEY_LOCAL_MACHINE), "dflt");
    EXPECT_STREQ(s.ReadString("Sec", "Nope", nullptr, HKEY_LOCAL_MACHINE), "");
    EXPECT_EQ(s.ReadDWORD("Sec", "Nope", 0xDEADBEEF, HKEY_LOCAL_MACHINE), 0xDEADBEEFu);
    EXPECT_TRUE(KeyExists("Sec"));
}

TEST_F(RegistrySettingsTest, ValuesRoundTrip) {
    Store s;
    for (DWORD v : {0u, 1u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xC0A80114u}) {
        ASSERT_TRUE(s.WriteDWORD("Sec", "Num", v, HKEY_LOCAL_MACHINE));
        EXPECT_EQ(s.ReadDWORD("Sec", "Num", 7, HKEY_LOCAL_MACHINE), v);
    }
    ASSERT_TRUE(s.WriteString("Sec", "Text", "C:\\Jobs\\label 1.zpl", HKEY_LOCAL_MACHINE));
    EXPECT_STREQ(s.ReadString("Sec", "Text", "x", HKEY_LOCAL_MACHINE), "C:\\Jobs\\label 1.zpl");

    // The empty text is stored as one zero byte and is not "missing".
    ASSERT_TRUE(s.WriteString("Sec", "Empty", "", HKEY_LOCAL_MACHINE));
    EXPECT_STREQ(s.ReadString("Sec", "Empty", "dflt", HKEY_LOCAL_MACHINE), "");
    const ProgramKey h("Sec");
    DWORD type = 0, cb = 0;
    ASSERT_EQ(RegQueryValueExA(h, "Empty", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(cb, 1u);
}

TEST_F(RegistrySettingsTest, LongStringsReadBackWhole) {
    Store s;
    for (size_t len : {255u, 256u, 300u, 5000u}) {
        std::string text(len, 'p');
        text[0] = 'C';
        text[len - 1] = 'Z';
        ASSERT_TRUE(s.WriteString("Sec", "Long", text.c_str(), HKEY_LOCAL_MACHINE));
        EXPECT_EQ(std::string(s.ReadString("Sec", "Long", "", HKEY_LOCAL_MACHINE)), text) << len;
    }
}

TEST_F(RegistrySettingsTest, ForeignDataIsReadSafely) {
    Store s;
    // A string without its terminating zero ends at the stored size.
    SetRawValue("Sec", "NoZero", REG_SZ, "abc", 3);
    EXPECT_STREQ(s.ReadString("Sec", "NoZero", "d", HKEY_LOCAL_MACHINE), "abc");
    SetRawValue("Sec", "Bin", REG_BINARY, "xyz", 3);
    EXPECT_STREQ(s.ReadString("Sec", "Bin", "d", HKEY_LOCAL_MACHINE), "xyz");
    // Text stops at its first zero.
    SetRawValue("Sec", "TwoParts", REG_SZ, "ab\0cd", 6);
    EXPECT_STREQ(s.ReadString("Sec", "TwoParts", "d", HKEY_LOCAL_MACHINE), "ab");

    // Numbers of fewer than four bytes are little-endian with zero upper bytes.
    const BYTE two[2] = {0x34, 0x12};
    SetRawValue("Sec", "Short", REG_BINARY, two, 2);
    EXPECT_EQ(s.ReadDWORD("Sec", "Short", 9, HKEY_LOCAL_MACHINE), 0x1234u);
    // Numbers stored as text are read as the number they spell, never as
    // the bytes of the text ("3" is not 51); other text gives the default.
    SetRawValue("Sec", "Text3", REG_SZ, "3", 2);
    EXPECT_EQ(s.ReadDWORD("Sec", "Text3", 9, HKEY_LOCAL_MACHINE), 3u);
    SetRawValue("Sec", "TextBig", REG_SZ, "4294967295", 11);
    EXPECT_EQ(s.ReadDWORD("Sec", "TextBig", 9, HKEY_LOCAL_MACHINE), 0xFFFFFFFFu);
    for (const char* bad : {"", "x1", "12x", "4294967296", "-1"}) {
        SetRawValue("Sec", "TextBad", REG_SZ, bad, static_cast<DWORD>(strlen(bad) + 1));
        EXPECT_EQ(s.ReadDWORD("Sec", "TextBad", 9, HKEY_LOCAL_MACHINE), 9u) << bad;
    }
    // More than four bytes cannot be a number: the default.
    const BYTE eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    SetRawValue("Sec", "Wide", REG_BINARY, eight, 8);
    EXPECT_EQ(s.ReadDWORD("Sec", "Wide", 9, HKEY_LOCAL_MACHINE), 9u);
}

// A value name with a zero inside (only the native call can make one) is
// passed over by the walk: read as a C string it would name another value,
// one that a delete could never reach.
TEST_F(RegistrySettingsTest, TheWalkSkipsNamesWithAZeroInside) {
    ProgramKey key("Walk");
    ASSERT_NE(static_cast<HKEY>(key), nullptr);
    using SetValue = LONG(WINAPI*)(HANDLE, const UNICODE_STRING*, ULONG, ULONG, const void*, ULONG);
    const auto pfnSet = reinterpret_cast<SetValue>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetValueKey")));
    ASSERT_NE(pfnSet, nullptr);
    wchar_t name[] = L"Q000000000001\0x";
    const UNICODE_STRING us{static_cast<USHORT>(sizeof(name) - sizeof(wchar_t)),
                            static_cast<USHORT>(sizeof(name)), name};
    const DWORD one = 1;
    ASSERT_EQ(pfnSet(key, &us, 0, REG_DWORD, &one, sizeof(one)), 0);
    ASSERT_EQ(RegSetValueExA(key, "Q000000000002", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&one), sizeof(one)),
              ERROR_SUCCESS);
    std::vector<std::string> seen;
    EXPECT_TRUE(EnumRegistryValues(
        key, [&](const char* pszName, DWORD, const BYTE*, DWORD) { seen.push_back(pszName); }));
    EXPECT_EQ(seen, std::vector<std::string>{"Q000000000002"});
}

TEST_F(RegistrySettingsTest, KeyThatCannotBeOpenedGivesDefaults) {
    Store s;
    // A root that is no key at all.
    const HKEY bogus = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x12345678));
    EXPECT_STREQ(s.ReadString("Sec", "V", "dflt", bogus), "dflt");
    EXPECT_EQ(s.ReadDWORD("Sec", "V", 5, bogus), 5u);
    EXPECT_FALSE(s.WriteString("Sec", "V", "x", bogus));
    EXPECT_FALSE(s.WriteDWORD("Sec", "V", 1, bogus));
}

TEST_F(RegistrySettingsTest, BothBuildsShareTheThirtyTwoBitView) {
    Store s;
    ASSERT_TRUE(s.WriteDWORD("Sec", "Shared", 42, HKEY_LOCAL_MACHINE));
    EXPECT_TRUE(KeyExists("Sec", KEY_WOW64_32KEY));
#ifdef _WIN64
    // The 64-bit build must not keep a second copy in the native view.
    EXPECT_FALSE(KeyExists("Sec", KEY_WOW64_64KEY));
#endif
}

} // namespace
