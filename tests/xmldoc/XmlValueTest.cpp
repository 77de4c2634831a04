#include "XmlTestUtil.h"

#include "xmldoc/XmlValue.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Text(const CXmlValue& v) {
    char sz[128] = "";
    if (!v.FormatNumber(sz, sizeof(sz)))
        return "<none>";
    return sz;
}

TEST(XmlValue, NewValueIsEmptyAndCopyingItClearsTheTarget) {
    CXmlValue empty;
    EXPECT_EQ(empty.GetType(), XML_EMPTY);
    CXmlValue target;
    target.SetString("text");
    empty.CopyTo(target);
    EXPECT_EQ(target.GetType(), XML_EMPTY);
    EXPECT_EQ(target.GetString(), nullptr);
}

TEST(XmlValue, StringsAreOwnedAndCopiedDeeply) {
    CXmlValue a;
    char buffer[] = "a&b";
    a.SetString(buffer);
    buffer[0] = 'z';
    EXPECT_STREQ(a.GetString(), "a&b"); // kept raw until written
    CXmlValue b;
    a.CopyTo(b);
    EXPECT_NE(a.GetString(), b.GetString());
    EXPECT_STREQ(b.GetString(), "a&b");
    a.SetInt32(3); // frees the old string
    EXPECT_STREQ(b.GetString(), "a&b");
    a.SetString(a.GetString()); // not a string any more: null text
    EXPECT_EQ(a.GetType(), XML_STRING);
    EXPECT_EQ(a.GetString(), nullptr);
    b.SetString(b.GetString()); // its own text
    EXPECT_STREQ(b.GetString(), "a&b");

    CXmlValue w;
    w.SetString(L"\x00e9\x4e2d");
    EXPECT_STREQ(w.GetString(), "\xc3\xa9\xe4\xb8\xad");
    w.SetString(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(w.GetType(), XML_STRING);
    EXPECT_EQ(w.GetString(), nullptr);
}

TEST(XmlValue, ParseTextFollowsTheRuntimeConversions) {
    CXmlValue v;
    ASSERT_TRUE(v.ParseText("7", XML_BOOL));
    EXPECT_EQ(v.GetType(), XML_BOOL);
    EXPECT_TRUE(v.GetBool());
    ASSERT_TRUE(v.ParseText("0", XML_BOOL));
    EXPECT_FALSE(v.GetBool());
    ASSERT_TRUE(v.ParseText("yes", XML_BOOL));
    EXPECT_FALSE(v.GetBool());
    ASSERT_TRUE(v.ParseText("  12abc", XML_I4));
    EXPECT_EQ(v.GetInt32(), 12);
    ASSERT_TRUE(v.ParseText("abc", XML_I4));
    EXPECT_EQ(v.GetInt32(), 0);
    ASSERT_TRUE(v.ParseText("-9223372036854775808", XML_I8));
    EXPECT_EQ(v.GetInt64(), -9223372036854775807LL - 1);
    ASSERT_TRUE(v.ParseText("300", XML_U1));
    EXPECT_EQ(v.GetUInt8(), 44);
    ASSERT_TRUE(v.ParseText("65537", XML_U2));
    EXPECT_EQ(v.GetUInt16(), 1);
    ASSERT_TRUE(v.ParseText("-1", XML_U4));
    EXPECT_EQ(v.GetUInt32(), 4294967295u);
    EXPECT_EQ(Text(v), "4294967295");
    ASSERT_TRUE(v.ParseText("2.5", XML_DOUBLE));
    EXPECT_EQ(v.GetDouble(), 2.5);
    ASSERT_TRUE(v.ParseText("a&amp;", XML_STRING));
    EXPECT_STREQ(v.GetString(), "a&amp;");
    ASSERT_TRUE(v.ParseText("", XML_STRING));
    EXPECT_STREQ(v.GetString(), "");

    v.SetInt32(5);
    EXPECT_FALSE(v.ParseText("1", 9));
    EXPECT_FALSE(v.ParseText("1", XML_EMPTY));
    EXPECT_FALSE(v.ParseText(nullptr, XML_I4));
    EXPECT_EQ(v.GetType(), XML_I4);
    EXPECT_EQ(v.GetInt32(), 5);
}

TEST(XmlValue, NarrowMembersClearThePayloadFirst) {
    CXmlValue v;
    v.SetInt64(-1);
    v.SetUInt8(7);
    int64_t n = 0;
    ASSERT_TRUE(v.GetInteger(&n));
    EXPECT_EQ(n, 7);
    v.SetInt64(-1);
    v.SetBool(true);
    ASSERT_TRUE(v.GetInteger(&n));
    EXPECT_EQ(n, 1);
    v.SetDouble(1.0);
    EXPECT_FALSE(v.GetInteger(&n));
}

TEST(XmlValue, DoublesReadBackExactlyWithAPoint) {
    const double values[] = {0.0,       -1.25,
                             2.5,       0.1,
                             1.0 / 3.0, 1e300,
                             -1e-300,   123456789.123456789,
                             4.9e-324,  1.7976931348623157e308};
    for (double d : values) {
        CXmlValue v;
        v.SetDouble(d);
        std::string s = Text(v);
        EXPECT_EQ(s.find(','), std::string::npos) << s;
        EXPECT_EQ(atof(s.c_str()), d) << s;
    }
    CXmlValue v;
    v.SetDouble(-1.25);
    EXPECT_EQ(Text(v), "-1.25");
}

// The user's decimal separator is a comma: the text still uses a point.
TEST(XmlValue, DoublesUseAPointUnderACommaLocale) {
    wchar_t szOld[16] = L"";
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, szOld, 16);
    if (!SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, L","))
        GTEST_SKIP() << "cannot change the decimal separator here";
    VARIANT var;
    VariantInit(&var);
    V_VT(&var) = VT_R8;
    V_R8(&var) = 2.5;
    bool bComma = SUCCEEDED(VariantChangeType(&var, &var, 0, VT_BSTR)) &&
                  wcschr(V_BSTR(&var), L',') != nullptr;
    VariantClear(&var);

    CXmlValue v;
    v.SetDouble(-1.25);
    std::string s = Text(v);
    v.SetDouble(0.1);
    std::string tenth = Text(v);
    SetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, szOld);
    if (!bComma)
        GTEST_SKIP() << "the platform ignores the user's separator";
    EXPECT_EQ(s, "-1.25");
    EXPECT_EQ(atof(tenth.c_str()), 0.1);
    EXPECT_EQ(tenth.find(','), std::string::npos);
}

} // namespace
