#include "XmlTestUtil.h"

#include "xmldoc/XmlDoc.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

// The calls a pipe printer's Open makes, in its order.
std::string PrinterDocument(bool bUsb, const wchar_t* pszAddress, const wchar_t* pszUsbPort,
                            const wchar_t* pszName = L"", const wchar_t* pszSerial = L"") {
    CXmlDoc doc("VizudoRuduvav");
    EXPECT_TRUE(doc.AddSection("IP-Settings"));
    EXPECT_TRUE(doc.AddValue("IP-Address", pszAddress));
    EXPECT_TRUE(doc.AddValue("Port", 9100));
    EXPECT_TRUE(doc.AddValue("USB", bUsb));
    EXPECT_TRUE(doc.AddValue("Comms_Method", bUsb ? L"USB" : L"TCP"));
    EXPECT_TRUE(doc.AddValue("USBPort", pszUsbPort));
    if (bUsb) {
        EXPECT_TRUE(doc.AddValue("USBPrinterName", pszName));
        EXPECT_TRUE(doc.AddValue("USBPrinterSN", pszSerial));
    }
    EXPECT_TRUE(doc.CloseSection());
    ScopedBstr bstr;
    EXPECT_TRUE(doc.GetXml(bstr.put()));
    EXPECT_NE(bstr.get(), nullptr);
    return ToUtf8(bstr.wide());
}

std::string StringValueDoc(const std::string& text) {
    CXmlDoc doc("r");
    CXmlValue value;
    value.SetString(text.c_str());
    EXPECT_TRUE(doc.AddValue("v", value));
    return XmlOf(doc);
}

TEST(XmlWriter, NetworkPrinterDocumentIsByteForByte) {
    EXPECT_EQ(PrinterDocument(false, L"192.168.1.20", L""),
              "<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings>"
              "<IP-Address t=\"s\">192.168.1.20</IP-Address>"
              "<Port t=\"i4\">9100</Port>"
              "<USB t=\"b\">0</USB>"
              "<Comms_Method t=\"s\">TCP</Comms_Method>"
              "<USBPort t=\"s\"></USBPort>"
              "</IP-Settings></VizudoRuduvav>");
}

TEST(XmlWriter, UsbPrinterDocumentIsByteForByte) {
    EXPECT_EQ(PrinterDocument(true, L"0.0.0.0", L"USB001", L"Label \x00e9 Printer", L"A1&B2"),
              "<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings>"
              "<IP-Address t=\"s\">0.0.0.0</IP-Address>"
              "<Port t=\"i4\">9100</Port>"
              "<USB t=\"b\">1</USB>"
              "<Comms_Method t=\"s\">USB</Comms_Method>"
              "<USBPort t=\"s\">USB001</USBPort>"
              "<USBPrinterName t=\"s\">Label \xc3\xa9 Printer</USBPrinterName>"
              "<USBPrinterSN t=\"s\">A1&amp;B2</USBPrinterSN>"
              "</IP-Settings></VizudoRuduvav>");
}

TEST(XmlWriter, EveryTypeHasItsAttributeAndText) {
    CXmlDoc doc("r");
    CXmlValue v;
    v.SetBool(true);
    doc.AddValue("b", v);
    v.SetInt32(-2147483647 - 1);
    doc.AddValue("i4", v);
    v.SetInt64(-9223372036854775807LL - 1);
    doc.AddValue("i8", v);
    v.SetUInt8(255);
    doc.AddValue("u1", v);
    v.SetUInt16(65535);
    doc.AddValue("u2", v);
    v.SetUInt32(4294967295u);
    doc.AddValue("u4", v);
    v.SetDouble(-1.25);
    doc.AddValue("d", v);
    v.SetString(static_cast<const char*>(nullptr));
    doc.AddValue("s", v);
    v.Clear();
    doc.AddValue("e", v);
    EXPECT_EQ(XmlOf(doc), "<?xml version=\"1.0\"?><r><b t=\"b\">1</b>"
                          "<i4 t=\"i4\">-2147483648</i4>"
                          "<i8 t=\"i8\">-9223372036854775808</i8>"
                          "<u1 t=\"u1\">255</u1><u2 t=\"u2\">65535</u2>"
                          "<u4 t=\"u4\">4294967295</u4><d t=\"d\">-1.25</d>"
                          "<s t=\"s\"></s><e></e></r>");
}

TEST(XmlWriter, EscapesOnlyAmpersandAndBrackets) {
    EXPECT_EQ(StringValueDoc("a&b<c>d\"e'f\x01g\xc3\xa9"),
              "<?xml version=\"1.0\"?><r><v t=\"s\">a&amp;b&lt;c&gt;d\"e'f\x01g\xc3\xa9</v></r>");
    EXPECT_EQ(StringValueDoc("&&<<>>"),
              "<?xml version=\"1.0\"?><r><v t=\"s\">&amp;&amp;&lt;&lt;&gt;&gt;</v></r>");
}

TEST(XmlWriter, RunsOfMoreThan1024BytesFail) {
    std::string run1024(1024, 'x');
    std::string run1025(1025, 'x');
    EXPECT_EQ(StringValueDoc(run1024),
              "<?xml version=\"1.0\"?><r><v t=\"s\">" + run1024 + "</v></r>");
    EXPECT_EQ(StringValueDoc(run1025), "<failed>");
    // Runs are cut at escaped characters, so long strings with them pass.
    std::string split = run1024 + "&" + run1024;
    EXPECT_EQ(StringValueDoc(split),
              "<?xml version=\"1.0\"?><r><v t=\"s\">" + run1024 + "&amp;" + run1024 + "</v></r>");
    // An element name is a single fragment too.
    CXmlDoc doc("r");
    EXPECT_TRUE(doc.AddValue(run1025.c_str(), 1));
    EXPECT_EQ(XmlOf(doc), "<failed>");
}

TEST(XmlWriter, LargeDocumentMatchesOneShotConversion) {
    // Many values with multi-byte characters: the output crosses several
    // 4096-byte blocks and must come out as if converted at once.
    CXmlDoc doc("root");
    std::string expected = "<?xml version=\"1.0\"?><root>";
    std::wstring wide = L"\x00e9\x4e2d\xd83d\xde00-&-";
    std::string utf8 = ToUtf8(wide);
    std::string escaped = utf8.substr(0, utf8.size() - 2) + "&amp;-";
    for (int i = 0; i < 600; ++i) {
        std::string name = "n" + std::to_string(i);
        ASSERT_TRUE(doc.AddValue(name.c_str(), wide.c_str()));
        expected += "<" + name + " t=\"s\">" + escaped + "</" + name + ">";
    }
    expected += "</root>";
    ASSERT_GT(expected.size(), 4u * 4096u);
    ScopedBstr bstr;
    ASSERT_TRUE(doc.GetXml(bstr.put()));
    EXPECT_EQ(bstr.wide(), ToWide(expected));
    EXPECT_EQ(SysStringLen(bstr.get()), ToWide(expected).size());
}

TEST(XmlWriter, GetXmlPreconditions) {
    CXmlDoc doc("r");
    EXPECT_FALSE(doc.GetXml(nullptr));
    BSTR bstrOther = SysAllocString(L"keep");
    BSTR bstr = bstrOther;
    EXPECT_FALSE(doc.GetXml(&bstr));
    EXPECT_EQ(bstr, bstrOther);
    EXPECT_STREQ(bstr, L"keep");
    SysFreeString(bstrOther);

    CXmlDoc empty(nullptr);
    EXPECT_FALSE(empty.AddSection("s"));
    EXPECT_FALSE(empty.AddValue("v", 1));
    EXPECT_FALSE(empty.CloseSection());
    ScopedBstr out;
    EXPECT_FALSE(empty.GetXml(out.put()));
    EXPECT_EQ(out.get(), nullptr);
}

TEST(XmlWriter, SerialisingTwiceGivesTheSameTextAndKeepsTheCursor) {
    CXmlDoc doc("r");
    ASSERT_TRUE(doc.AddSection("s"));
    CXmlElement* pCursor = doc.GetCurrent();
    std::string first = XmlOf(doc);
    EXPECT_EQ(first, "<?xml version=\"1.0\"?><r><s></s></r>");
    EXPECT_EQ(XmlOf(doc), first);
    EXPECT_EQ(doc.GetCurrent(), pCursor);
}

TEST(XmlWriter, PlainFormHasNoAttributes) {
    CXmlDoc doc("r");
    doc.AddSection("s");
    doc.AddValue("a", 5);
    doc.AddValue("b", L"x<y");
    CXmlValue empty;
    doc.AddValue("c", empty);
    ASSERT_TRUE(doc.OpenOutput(nullptr));
    ASSERT_TRUE(doc.GetRoot()->WriteXmlPlain(&doc));
    ScopedBstr bstr;
    ASSERT_TRUE(doc.FinishOutput(bstr.put()));
    EXPECT_EQ(ToUtf8(bstr.wide()), "<r><s><a>5</a><b>x&lt;y</b><c></c></s></r>");
}

TEST(XmlWriter, ChannelLimits) {
    CXmlDoc doc("r");
    EXPECT_FALSE(doc.Put("x")); // channel closed
    EXPECT_FALSE(doc.Flush());
    ASSERT_TRUE(doc.OpenOutput(nullptr));
    EXPECT_TRUE(doc.Put(""));
    EXPECT_TRUE(doc.Put(nullptr));
    EXPECT_TRUE(doc.PutBytes("abc", 0));
    EXPECT_TRUE(doc.PutBytes(nullptr, 5));
    std::string s1025(1025, 'a');
    EXPECT_FALSE(doc.Put(s1025.c_str()));
    EXPECT_FALSE(doc.PutBytes(s1025.data(), 1025));
    // Exactly filling the buffer, then one byte more, flushes in between.
    std::string s1024(1024, 'b');
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(doc.Put(s1024.c_str()));
    ASSERT_TRUE(doc.Put("c"));
    ScopedBstr bstr;
    ASSERT_TRUE(doc.FinishOutput(bstr.put()));
    EXPECT_EQ(ToUtf8(bstr.wide()), std::string(4096, 'b') + "c");
}

} // namespace

namespace {

TEST(XmlBuilder, CursorAndSiblings) {
    CXmlDoc doc("VizudoRuduvav");
    ASSERT_TRUE(doc.AddSection(L"IP-Settings"));
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(doc.AddValue("v", i));
    ASSERT_TRUE(doc.CloseSection());
    EXPECT_EQ(doc.GetCurrent(), doc.GetRoot());
    EXPECT_FALSE(doc.CloseSection());
    EXPECT_EQ(doc.GetCurrent(), doc.GetRoot());
    int n = 0;
    for (CXmlElement* p = doc.FindElement("IP-Settings")->GetFirstChild(); p;
         p = p->GetNextSibling())
        EXPECT_EQ(p->GetValue().GetInt32(), n++);
    EXPECT_EQ(n, 5);

    // Same-named sections stay separate; values after CloseSection go
    // under the root, after the sections; names end at the first blank.
    ASSERT_TRUE(doc.AddSection("s"));
    ASSERT_TRUE(doc.CloseSection());
    ASSERT_TRUE(doc.AddSection("s"));
    ASSERT_TRUE(doc.CloseSection());
    ASSERT_TRUE(doc.AddValue("name with blank", true));
    EXPECT_FALSE(doc.AddValue(nullptr, 1));
    EXPECT_FALSE(doc.AddSection(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(doc.AddSection(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(XmlOf(doc), "<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings>"
                          "<v t=\"i4\">0</v><v t=\"i4\">1</v><v t=\"i4\">2</v><v t=\"i4\">3</v>"
                          "<v t=\"i4\">4</v></IP-Settings><s></s><s></s>"
                          "<name t=\"b\">1</name></VizudoRuduvav>");
}

} // namespace
