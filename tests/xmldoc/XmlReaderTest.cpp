#include "XmlTestUtil.h"
#include "support/TempFiles.h"

#include "xmldoc/XmlDoc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kDecl = "<?xml version=\"1.0\"?>";

const char kNetworkDocument[] = "<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings>"
                                "<IP-Address t=\"s\">192.168.1.20</IP-Address>"
                                "<Port t=\"i4\">9100</Port>"
                                "<USB t=\"b\">0</USB>"
                                "<Comms_Method t=\"s\">TCP</Comms_Method>"
                                "<USBPort t=\"s\"></USBPort>"
                                "</IP-Settings></VizudoRuduvav>";

bool Loads(const std::string& text) {
    CXmlDoc doc;
    return doc.LoadXml(text.c_str(), LOAD_TEXT);
}

// The value of the root's only child "v" as its type and string form.
struct Leaf {
    int nType = -1;
    std::string text;
};

Leaf LeafOf(const std::string& body) {
    CXmlDoc doc;
    Leaf leaf;
    if (!doc.LoadXml((kDecl + "<r>" + body + "</r>").c_str(), LOAD_TEXT))
        return leaf;
    CXmlElement* p = doc.FindElement("v");
    if (!p)
        return leaf;
    leaf.nType = p->GetValue().GetType();
    if (const char* psz = p->GetValue().GetString()) {
        leaf.text = psz;
    } else {
        char sz[128] = "";
        if (p->GetValue().FormatNumber(sz, sizeof(sz)))
            leaf.text = sz;
    }
    return leaf;
}

TEST(XmlReader, NetworkDocumentReadsBack) {
    CXmlDoc doc(kNetworkDocument, LOAD_TEXT);
    ASSERT_NE(doc.GetRoot(), nullptr);
    EXPECT_STREQ(doc.GetRoot()->GetName(), "VizudoRuduvav");
    EXPECT_EQ(doc.GetCurrent(), doc.GetRoot());
    CXmlElement* pSection = doc.FindElement("IP-Settings");
    ASSERT_NE(pSection, nullptr);
    int nChildren = 0;
    for (CXmlElement* p = pSection->GetFirstChild(); p; p = p->GetNextSibling())
        ++nChildren;
    EXPECT_EQ(nChildren, 5);
    CXmlElement* pPort = doc.FindElement("IP-Settings/Port");
    ASSERT_NE(pPort, nullptr);
    EXPECT_EQ(pPort->GetValue().GetType(), XML_I4);
    EXPECT_EQ(pPort->GetValue().GetInt32(), 9100);
    CXmlElement* pUsb = pSection->FindChild("USB");
    ASSERT_NE(pUsb, nullptr);
    EXPECT_EQ(pUsb->GetValue().GetType(), XML_BOOL);
    EXPECT_FALSE(pUsb->GetValue().GetBool());
    EXPECT_STREQ(doc.FindElement("IP-Settings/IP-Address")->GetValue().GetString(), "192.168.1.20");
    // An empty string value reads back as empty.
    EXPECT_EQ(doc.FindElement("IP-Settings/USBPort")->GetValue().GetType(), XML_EMPTY);
    EXPECT_EQ(doc.FindElement("IP-Settings/Nothing"), nullptr);
    EXPECT_EQ(doc.FindElement(""), doc.GetRoot());
    // ...and is written back without a type.
    std::string rewritten = kNetworkDocument;
    rewritten.replace(rewritten.find("<USBPort t=\"s\">"), 15, "<USBPort>");
    EXPECT_EQ(XmlOf(doc), rewritten);
}

TEST(XmlReader, WriterOutputRoundTrips) {
    CXmlDoc doc("root");
    doc.AddSection("a");
    CXmlValue v;
    v.SetBool(true);
    doc.AddValue("b", v);
    v.SetInt32(-7);
    doc.AddValue("i4", v);
    v.SetInt64(1234567890123LL);
    doc.AddValue("i8", v);
    v.SetUInt8(200);
    doc.AddValue("u1", v);
    v.SetUInt16(60000);
    doc.AddValue("u2", v);
    v.SetUInt32(4000000000u);
    doc.AddValue("u4", v);
    v.SetDouble(0.1);
    doc.AddValue("d", v);
    doc.AddValue("s", L"<&> \"quoted\" \x00e9\x4e2d");
    doc.AddValue("dup", 1);
    doc.AddValue("dup", 2);
    doc.AddSection("empty");
    doc.CloseSection();
    doc.CloseSection();
    doc.AddValue("last", L"x");

    ScopedBstr bstr;
    ASSERT_TRUE(doc.GetXml(bstr.put()));
    CXmlDoc back;
    ASSERT_TRUE(back.LoadXmlText(bstr.get()));
    EXPECT_EQ(XmlOf(back), ToUtf8(bstr.wide()));

    const CXmlElement* pa = back.FindElement("a");
    ASSERT_NE(pa, nullptr);
    const CXmlElement* pb = doc.FindElement("a")->GetFirstChild();
    const CXmlElement* pr = pa->GetFirstChild();
    for (; pb && pr; pb = pb->GetNextSibling(), pr = pr->GetNextSibling()) {
        EXPECT_STREQ(pr->GetName(), pb->GetName());
        EXPECT_EQ(pr->GetValue().GetType(), pb->GetValue().GetType()) << pb->GetName();
    }
    EXPECT_EQ(pb, nullptr);
    EXPECT_EQ(pr, nullptr);
    EXPECT_EQ(back.FindElement("a/u4")->GetValue().GetUInt32(), 4000000000u);
    EXPECT_EQ(back.FindElement("a/i8")->GetValue().GetInt64(), 1234567890123LL);
    EXPECT_EQ(back.FindElement("a/d")->GetValue().GetDouble(), 0.1);
    EXPECT_STREQ(back.FindElement("a/s")->GetValue().GetString(),
                 "<&> \"quoted\" \xc3\xa9\xe4\xb8\xad");
    EXPECT_EQ(back.FindElement("a/dup")->GetValue().GetInt32(), 1);
    EXPECT_EQ(back.FindElement("a/dup")->GetNextSibling()->GetValue().GetInt32(), 2);
}

TEST(XmlReader, TypeForms) {
    Leaf leaf =
        LeafOf("<v xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"ui4\">9100</v>");
    EXPECT_EQ(leaf.nType, XML_U4);
    EXPECT_EQ(leaf.text, "9100");
    const char* qualified = "<v xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"";
    EXPECT_EQ(LeafOf(std::string(qualified) + "int\">-3</v>").nType, XML_I4);
    EXPECT_EQ(LeafOf(std::string(qualified) + "Int\">-3</v>").nType, XML_I4);
    EXPECT_EQ(LeafOf(std::string(qualified) + "r8\">1.5</v>").nType, XML_DOUBLE);
    EXPECT_EQ(LeafOf(std::string(qualified) + "Boolean\">1</v>").nType, XML_BOOL);
    EXPECT_EQ(LeafOf(std::string(qualified) + "i8\">1</v>").nType, XML_STRING);
    // Both forms: the qualified one wins.
    EXPECT_EQ(LeafOf("<v t=\"i4\" xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" "
                     "dt:dt=\"r8\">2</v>")
                  .nType,
              XML_DOUBLE);
    EXPECT_EQ(LeafOf("<v t=\"u2\" other=\"x\">70000</v>").text, "4464");
    EXPECT_EQ(LeafOf("<v t=\"x\">70000</v>").nType, XML_STRING);
    Leaf plain = LeafOf("<v>text</v>");
    EXPECT_EQ(plain.nType, XML_STRING);
    EXPECT_EQ(plain.text, "text");
    EXPECT_EQ(LeafOf("<v t=\"i4\"></v>").nType, XML_EMPTY);
    EXPECT_EQ(LeafOf("<v t=\"i4\"/>").nType, XML_EMPTY);
}

TEST(XmlReader, WhiteSpace) {
    EXPECT_TRUE(Loads(kDecl + "\r\n<r>\r\n\t<v>1</v>\n\t<w/>\n</r>"));
    EXPECT_FALSE(Loads(kDecl + "<r><v>1</v> <w/></r>"));
    EXPECT_FALSE(Loads(kDecl + "<r><v>1</v>\n <w/></r>"));
    // A blank before the first child is the parent's value.
    EXPECT_TRUE(Loads(kDecl + "<r> <v>1</v></r>"));
    EXPECT_EQ(LeafOf("<v> a</v>").text, " a");
    EXPECT_EQ(LeafOf("<v>\ta\r\nb\t</v>").text, "a\r\nb\t");
    // Character data after a child.
    EXPECT_FALSE(Loads(kDecl + "<r><v>1</v>x</r>"));
    // Value before the children is kept, and both survive.
    CXmlDoc doc((kDecl + "<r>head<v>1</v></r>").c_str(), LOAD_TEXT);
    ASSERT_NE(doc.GetRoot(), nullptr);
    EXPECT_STREQ(doc.GetRoot()->GetValue().GetString(), "head");
    EXPECT_NE(doc.FindElement("v"), nullptr);
}

TEST(XmlReader, Entities) {
    EXPECT_EQ(LeafOf("<v>&amp;&lt;&gt;</v>").text, "&<>");
    EXPECT_EQ(LeafOf("<v>&quot;&#65;&apos;</v>").text, "&quot;&#65;&apos;");
    EXPECT_EQ(LeafOf("<v>&a&amp;</v>").text, "&a&");
    EXPECT_EQ(LeafOf("<v>&am&amp;p;</v>").text, "&am&p;");
    EXPECT_EQ(LeafOf("<v>&lt&gt;</v>").text, "&lt>");
    EXPECT_EQ(LeafOf("<v>a&&&</v>").text, "a&&&");
    // Decoded inside tags too; an escaped bracket is not markup.
    CXmlDoc doc((kDecl + "<r><a&amp;b t=\"i4\">5</a&amp;b><c&lt;d>x</c&gt;></r>").c_str(),
                LOAD_TEXT);
    ASSERT_NE(doc.GetRoot(), nullptr);
    EXPECT_NE(doc.FindElement("a&b"), nullptr);
    EXPECT_NE(doc.FindElement("c<d"), nullptr);
    // Input ending inside a candidate entity.
    EXPECT_FALSE(Loads(kDecl + "<r><v>&am"));
    EXPECT_FALSE(Loads(kDecl + "<r><v>&"));
}

// Padding elements that bring the next value close to the 4096-byte edge.
std::string Padding(int nElements) {
    std::string pad;
    for (int i = 0; i < nElements; ++i)
        pad += "<p>" + std::string(1000, 'p') + "</p>";
    return pad;
}

TEST(XmlReader, EntitiesSplitAcrossBlocks) {
    // Every entity at every offset around the block edge, from memory and
    // from a file.
    const char* entities[] = {"&amp;", "&lt;", "&gt;", "&quot;", "&am;", "&l"};
    const char* decoded[] = {"&", "<", ">", "&quot;", "&am;", "&l"};
    std::string head = kDecl + "<r>" + Padding(4) + "<v>";
    for (int e = 0; e < 6; ++e) {
        for (int offset = -7; offset <= 1; ++offset) {
            size_t fill = static_cast<size_t>(4096 + offset) - head.size();
            std::string text = head + std::string(fill, 'x') + entities[e] + "y</v></r>";
            std::string expected = std::string(fill, 'x') + decoded[e] + "y";
            CXmlDoc mem(text.c_str(), LOAD_TEXT);
            ASSERT_NE(mem.FindElement("v"), nullptr) << e << " " << offset;
            EXPECT_EQ(mem.FindElement("v")->GetValue().GetString(), expected) << e << " " << offset;
            TempFile file("xml_split.xml", text);
            CXmlDoc doc(file.path(), LOAD_FILE);
            ASSERT_NE(doc.FindElement("v"), nullptr) << e << " " << offset;
            EXPECT_EQ(doc.FindElement("v")->GetValue().GetString(), expected) << e << " " << offset;
        }
    }
    // Input that ends right after an "&" or inside a candidate.
    for (const char* tail : {"&", "&a", "&am", "&amp", "&l", "&lt"}) {
        std::string text = head + std::string(30, 'x') + tail;
        EXPECT_FALSE(Loads(text)) << tail;
    }
}

TEST(XmlReader, MarkupDeclarations) {
    EXPECT_TRUE(Loads(kDecl + "<!-- lead --><r><!-- between --><v>1</v><!-- x --></r>"));
    EXPECT_TRUE(Loads(kDecl + "<!DOCTYPE r><r/>"));
    EXPECT_FALSE(Loads(kDecl + "<r><v>1</v><!-- a < b --><v>1</v></r>"));
    EXPECT_FALSE(Loads(kDecl + "<r><v>1</v><!-- a > b --><v>1</v></r>"));
    // Many declarations in a row are fine (no recursion per declaration).
    std::string many = kDecl + "<r>";
    for (int i = 0; i < 200000; ++i)
        many += "<!x>";
    many += "</r>";
    EXPECT_TRUE(Loads(many));
}

TEST(XmlReader, StructureAndFailures) {
    // Any end tag closes the innermost element.
    CXmlDoc doc((kDecl + "<r><a><b>1</x></y></z>").c_str(), LOAD_TEXT);
    ASSERT_NE(doc.FindElement("a/b"), nullptr);
    // The declaration is optional and may carry more attributes.
    EXPECT_TRUE(Loads("<r/>"));
    EXPECT_TRUE(Loads("<?xml version=\"1.0\" encoding=\"UTF-8\"?><r></r>"));
    EXPECT_FALSE(Loads("\xEF\xBB\xBF" + kDecl + "<r/>"));
    EXPECT_FALSE(Loads("<?xml version='1.0'?><r></r>"));
    EXPECT_FALSE(Loads(""));
    EXPECT_FALSE(Loads(kDecl));
    EXPECT_FALSE(Loads(kDecl + "text"));
    EXPECT_FALSE(Loads(kDecl + "</r>"));
    EXPECT_FALSE(Loads(kDecl + "<r><v>1</v>"));
    EXPECT_FALSE(Loads(kDecl + "<r></r<>"));
    EXPECT_TRUE(Loads(kDecl + "<r></r>anything <at all> &"));
    CXmlDoc none;
    EXPECT_FALSE(none.LoadXml(nullptr, LOAD_TEXT));

    // A failed load leaves an empty document.
    CXmlDoc failed("old");
    EXPECT_FALSE(failed.LoadXml((kDecl + "<r><v>").c_str(), LOAD_TEXT));
    EXPECT_EQ(failed.GetRoot(), nullptr);
    EXPECT_FALSE(failed.AddValue("v", 1));
    ScopedBstr bstr;
    EXPECT_FALSE(failed.GetXml(bstr.put()));

    CXmlDoc fresh;
    EXPECT_TRUE(fresh.LoadXml("fresh root", LOAD_NEW));
    EXPECT_EQ(XmlOf(fresh), kDecl + "<fresh></fresh>");
}

TEST(XmlReader, NulAndControlBytes) {
    // Memory text ends at its NUL; in a file a NUL ends the input.
    std::string text = kDecl + "<r><v>ab";
    text += '\0';
    text += "cd</v></r>";
    TempFile broken("xml_nul.xml", text);
    CXmlDoc doc;
    EXPECT_FALSE(doc.LoadXml(broken.path(), LOAD_FILE));
    std::string after = kDecl + "<r></r>";
    after += '\0';
    after += "junk";
    TempFile fine("xml_nul2.xml", after);
    EXPECT_TRUE(doc.LoadXml(fine.path(), LOAD_FILE));
    // Bytes 1 and 2 read as brackets that are not markup.
    CXmlDoc ctl((kDecl + "<r><v\x01x t=\"s\">a\x02"
                         "b\x01</v\x01x></r>")
                    .c_str(),
                LOAD_TEXT);
    ASSERT_NE(ctl.FindElement("v<x"), nullptr);
    EXPECT_STREQ(ctl.FindElement("v<x")->GetValue().GetString(), "a>b<");
}

TEST(XmlReader, TokenLimits) {
    std::string name1023 = "n" + std::string(1022, 'a');
    std::string name1024 = "n" + std::string(1023, 'a');
    EXPECT_TRUE(Loads(kDecl + "<r><" + name1023 + ">1</" + name1023 + "></r>"));
    EXPECT_FALSE(Loads(kDecl + "<r><" + name1024 + ">1</" + name1024 + "></r>"));
    std::string tag1023 = "v t=\"i4\"" + std::string(1023 - 8, ' ');
    EXPECT_EQ(LeafOf("<" + tag1023 + ">3</v>").nType, XML_I4);
    EXPECT_EQ(LeafOf("<" + tag1023 + " >3</v>").nType, -1);
    EXPECT_EQ(LeafOf("<v>" + std::string(1023, 'x') + "</v>").text, std::string(1023, 'x'));
    EXPECT_EQ(LeafOf("<v>" + std::string(1024, 'x') + "</v>").nType, -1);
    // An entity counts as the one byte it stores.
    EXPECT_EQ(LeafOf("<v>" + std::string(1022, 'x') + "&amp;</v>").text,
              std::string(1022, 'x') + "&");
    EXPECT_FALSE(Loads(kDecl + "<r><!--" + std::string(1100, '-') + "--></r>"));
}

TEST(XmlReader, NestingDepthIsBounded) {
    auto nested = [](int levels) {
        std::string s = kDecl;
        for (int i = 0; i < levels; ++i)
            s += "<e>";
        for (int i = 0; i < levels; ++i)
            s += "</e>";
        return s;
    };
    EXPECT_TRUE(Loads(nested(XML_MAX_DEPTH)));
    EXPECT_FALSE(Loads(nested(XML_MAX_DEPTH + 1)));
    // A hostile document that would otherwise exhaust the stack.
    std::string deep = kDecl;
    for (int i = 0; i < 500000; ++i)
        deep += "<e>";
    EXPECT_FALSE(Loads(deep));
    // The bound is per document: a new load starts from the top again.
    EXPECT_TRUE(Loads(nested(XML_MAX_DEPTH)));
}

TEST(XmlReader, AppendXmlAddsUnderTheCursor) {
    CXmlDoc doc("r");
    doc.AddSection("s");
    ASSERT_TRUE(doc.AppendXml((kDecl + "<x><y t=\"i4\">1</y></x>").c_str(), 0));
    EXPECT_STREQ(doc.GetCurrent()->GetName(), "s");
    ASSERT_TRUE(doc.AppendXmlSection("<z/>", 0));
    EXPECT_STREQ(doc.GetCurrent()->GetName(), "z");
    EXPECT_FALSE(doc.AppendXml("<broken>", 0));
    EXPECT_FALSE(doc.AppendXml(nullptr, 0));
    EXPECT_FALSE(doc.AppendXmlSection("no such file.xml", 1));
    EXPECT_STREQ(doc.GetCurrent()->GetName(), "z");
    doc.AddValue("w", 2);
    EXPECT_EQ(XmlOf(doc), kDecl + "<r><s><x><y t=\"i4\">1</y></x><z><w t=\"i4\">2</w></z></s></r>");
    CXmlDoc empty;
    EXPECT_FALSE(empty.AppendXml("<z/>", 0));
}

TEST(XmlReader, Files) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.LoadXml("C:\\no\\such\\file.xml", LOAD_FILE));
    TempFile empty("xml_empty.xml", "");
    EXPECT_FALSE(doc.LoadXml(empty.path(), LOAD_FILE));
    TempFile good("xml_good.xml", kNetworkDocument);
    EXPECT_TRUE(doc.LoadXml(good.path(), LOAD_FILE));
    EXPECT_TRUE(doc.LoadXml(good.path(), 7)); // unknown modes read files
    EXPECT_STREQ(doc.FindElement("IP-Settings/Comms_Method")->GetValue().GetString(), "TCP");
}

// Names outside the ANSI code page reach the right file, also where a
// lossy conversion to that code page would have picked another file.
TEST(XmlReader, UnicodeFileNames) {
    const std::wstring wideName = L"xml_\x0141\x03a9\x00e9.xml"; // L-stroke, omega, e-acute
    TempFile file(ToUtf8(wideName));
    std::wstring wideDir = ToWide(TempDir());
    char ansi[MAX_PATH] = "";
    WideCharToMultiByte(CP_ACP, 0, (wideDir + wideName).c_str(), -1, ansi, MAX_PATH, nullptr,
                        nullptr);
    // Where the lossy name is a valid file name of its own, put a decoy there.
    HANDLE hDecoy = CreateFileA(ansi, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hDecoy != INVALID_HANDLE_VALUE) {
        DWORD cb = 0;
        std::string decoy = kDecl + "<decoy/>";
        WriteFile(hDecoy, decoy.data(), static_cast<DWORD>(decoy.size()), &cb, nullptr);
        CloseHandle(hDecoy);
    }
    {
        CXmlDoc doc("unicode");
        doc.AddValue("v", L"\x4e2d");
        ASSERT_TRUE(doc.OpenOutput(file.path()));
        ASSERT_TRUE(doc.Put("<?xml version=\"1.0\"?>"));
        ASSERT_TRUE(doc.GetRoot()->WriteXml(&doc));
        ASSERT_TRUE(doc.FinishOutput(nullptr));
    }
    EXPECT_EQ(ReadFileBytes(file.path()), kDecl + "<unicode><v t=\"s\">\xe4\xb8\xad</v></unicode>");
    CXmlDoc back(file.path(), LOAD_FILE);
    ASSERT_NE(back.GetRoot(), nullptr);
    EXPECT_STREQ(back.GetRoot()->GetName(), "unicode");
    if (hDecoy != INVALID_HANDLE_VALUE)
        DeleteFileA(ansi);
}

TEST(XmlReader, FileOutputReplacesTheFile) {
    TempFile file("xml_out.xml", std::string(10000, 'z'));
    CXmlDoc doc("r");
    ASSERT_TRUE(doc.OpenOutput(file.path()));
    ASSERT_TRUE(doc.Put("abc"));
    BSTR bstr = nullptr;
    EXPECT_FALSE(doc.FinishOutput(&bstr)); // a file target hands out no text
    EXPECT_EQ(bstr, nullptr);
    EXPECT_EQ(ReadFileBytes(file.path()), "abc");
    EXPECT_FALSE(doc.Put("x")); // the channel is closed again
}

} // namespace
