#include "framework/PtrArray.h"
#include "framework/CodePage.h"
#include "framework/Exceptions.h"
#include "framework/String.h"
#include "framework/UniqueHandle.h"

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

namespace {

// The terminator of a zero-terminated text is never part of the result, an
// explicit length is taken whole, and a null text stays apart from an empty
// one (the XML values keep that difference).
// WideCharToMultiByte as Windows documents it: UTF-7 and UTF-8 take no
// flags but WC_ERR_INVALID_CHARS, and no default character (Wine is lenient).
int WINAPI StrictWideToNarrow(UINT cp, DWORD flags, LPCWCH w, int cw, LPSTR n, int cn, LPCCH def,
                              LPBOOL used) {
    if ((cp == CP_UTF8 || cp == CP_UTF7) && ((flags & ~WC_ERR_INVALID_CHARS) || def || used)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    return WideCharToMultiByte(cp, flags, w, cw, n, cn, def, used);
}

// A path is kept in a code page only when it comes back unchanged: in the
// Western code page a best-fit stand-in is refused, and on a system whose
// code page is UTF-8 every path is kept.
TEST(CodePage, ExactFormOrNone) {
    const struct {
        const wchar_t* text;
        UINT codePage;
        bool kept;
    } rows[] = {
        {L"C:\\spool\\label.zpl", 1252, true},
        {L"C:\\spool\\\u00fcber.prn", 1252, true},
        {L"C:\\spool\\\u03a9.prn", 1252, false}, // best fit would give "O"
        {L"C:\\spool\\\u65e5\u672c.prn", 1252, false},
        {L"C:\\spool\\\u00fcber.prn", CP_UTF8, true},
        {L"C:\\spool\\\u65e5\u672c.prn", CP_UTF8, true},
        {L"C:\\spool\\\u03a9.prn", CP_UTF8, true},
        {L"", CP_UTF8, true},
    };
    for (const auto& r : rows) {
        std::string out = "stale";
        EXPECT_EQ(WideToNarrowExact(r.text, r.codePage, out, StrictWideToNarrow), r.kept)
            << r.codePage;
        if (r.kept) {
            std::wstring back;
            ASSERT_TRUE(NarrowToWide(out.c_str(), -1, r.codePage, back));
            EXPECT_EQ(back, r.text);
        } else {
            EXPECT_TRUE(out.empty());
        }
    }
    std::string out;
    EXPECT_FALSE(WideToNarrowExact(nullptr, CP_UTF8, out));
}

TEST(CodePage, LengthsTerminatorsAndNullText) {
    std::wstring w = L"old";
    std::string s = "old";
    EXPECT_FALSE(NarrowToWide(nullptr, -1, CP_UTF8, w));
    EXPECT_TRUE(w.empty());
    EXPECT_FALSE(WideToNarrow(nullptr, 3, CP_UTF8, s));
    EXPECT_TRUE(s.empty());
    EXPECT_TRUE(NarrowToWide("", -1, CP_UTF8, w));
    EXPECT_TRUE(w.empty());
    EXPECT_TRUE(WideToNarrow(L"xy", 0, CP_UTF8, s));
    EXPECT_TRUE(s.empty());

    EXPECT_TRUE(NarrowToWide("caf\xC3\xA9!", -1, CP_UTF8, w));
    EXPECT_EQ(w, L"caf\u00e9!");
    EXPECT_TRUE(WideToNarrow(L"caf\u00e9", -1, CP_UTF8, s));
    EXPECT_EQ(s, "caf\xC3\xA9");
    EXPECT_TRUE(NarrowToWide("ab\0cd", 5, CP_UTF8, w));
    EXPECT_EQ(w, std::wstring(L"ab\0cd", 5));
    EXPECT_TRUE(WideToNarrow(L"abcdef", 3, CP_UTF8, s));
    EXPECT_EQ(s, "abc");
}

TEST(CString, FormatHandlesLongAndNullInput) {
    CString s;
    s.Format("Spooling %d of %d   %d%%", 2, 3, 40);
    EXPECT_STREQ(s, "Spooling 2 of 3   40%");
    const std::string big(10000, 'x');
    s.Format("[%s]", big.c_str());
    EXPECT_EQ(s.GetLength(), 10002);
    CString fromNull(static_cast<const char*>(nullptr));
    EXPECT_TRUE(fromNull.IsEmpty());
    EXPECT_TRUE(fromNull == "");
}

TEST(CString, SlicingClampsAndSearches) {
    CString path("\\\\?\\usb#vid_0a5f&pid_0001#abc123#{guid}");
    const int last = path.ReverseFind('#');
    CString before = path.Left(last);
    CString sn = before.Mid(before.ReverseFind('#') + 1);
    EXPECT_STREQ(sn.MakeUpper(), "ABC123");
    EXPECT_STREQ(path.Left(-3), "");
    EXPECT_STREQ(path.Mid(1000), "");
    EXPECT_STREQ(CString("abc").Right(10), "abc");
    EXPECT_EQ(CString("abc").Find('z'), -1);
    EXPECT_EQ(CString("abc").ReverseFind('z'), -1);
}

TEST(CString, BufferAccess) {
    CString s;
    char* p = s.GetBuffer(16);
    strcpy(p, "hello");
    s.ReleaseBuffer();
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(s.GetLength(), 5);
    p = s.GetBuffer(3);
    s.ReleaseBuffer(2);
    EXPECT_STREQ(s, "he");
}

TEST(CPtrArray, BoundsRaiseInvalidArgument) {
    CPtrArray a;
    int x = 0, y = 0;
    a.Add(&x);
    a.InsertAt(0, &y);
    EXPECT_EQ(a.GetAt(0), &y);
    EXPECT_EQ(a.GetAt(1), &x);
    EXPECT_THROW(a.GetAt(2), CInvalidArgException);
    EXPECT_THROW(a.InsertAt(3, &x), CInvalidArgException);
    EXPECT_THROW(a.RemoveAt(1, 2), CInvalidArgException);
    a.RemoveAt(0);
    EXPECT_EQ(a.GetSize(), 1);
}

int g_closed = 0;
void CountClose(int) {
    ++g_closed;
}

TEST(UniqueHandle, ClosesOnceAndMoves) {
    using Counted = UniqueHandle<int, CountClose, -1>;
    g_closed = 0;
    {
        Counted a(5);
        Counted b(std::move(a));
        EXPECT_FALSE(a.valid());
        EXPECT_EQ(b.get(), 5);
        Counted c;
        c = std::move(b);
        c.reset(6);
        EXPECT_EQ(g_closed, 1);
    }
    EXPECT_EQ(g_closed, 2);
}

// The failure result of CreateFile and SetupDiGetClassDevs is the owner's
// empty, so it is never closed nor taken for a handle; the kernel handle
// owner keeps null as its empty.
TEST(UniqueHandle, FileAndDeviceSetOwnersAreEmptyAtTheInvalidHandleValue) {
    static_assert(!std::is_same_v<UniqueFile, UniqueHandleNull>);
    EXPECT_EQ(UniqueFile().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(UniqueDevInfo().get(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(UniqueHandleNull().get(), nullptr);

    UniqueFile missing(CreateFileW(L"Z:\\no such folder\\no such file", GENERIC_READ, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    UniqueDevInfo noSet(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, 0));
    EXPECT_FALSE(noSet);

    wchar_t self[MAX_PATH] = L"";
    ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    UniqueFile file(
        CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file);
    const HANDLE h = file.release();
    EXPECT_FALSE(file);
    EXPECT_TRUE(CloseHandle(h));
}

} // namespace
