// Writes a set of documents into the folder "wellformed" under the working
// folder, for an independent XML parser to check after this run (see this
// folder's CMakeLists). Each document goes out twice: through GetXml, and
// through the channel's file output.
#include "XmlTestUtil.h"
#include "support/TempFiles.h"

#include "xmldoc/XmlDoc.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const char kFolder[] = "wellformed";

void ClearFolder() {
    CreateDirectoryA(kFolder, nullptr);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA("wellformed\\*.xml", &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        DeleteFileA((std::string(kFolder) + "\\" + fd.cFileName).c_str());
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

void WriteBoth(const std::string& name, CXmlDoc& doc) {
    std::string text = XmlOf(doc);
    ASSERT_NE(text, "<failed>") << name;
    ASSERT_TRUE(WriteFileBytes(std::string(kFolder) + "\\" + name + "-bstr.xml", text));

    std::string path = std::string(kFolder) + "\\" + name + "-file.xml";
    ASSERT_TRUE(doc.OpenOutput(path.c_str()));
    ASSERT_TRUE(doc.Put("<?xml version=\"1.0\"?>"));
    ASSERT_TRUE(doc.GetRoot()->WriteXml(&doc));
    ASSERT_TRUE(doc.FinishOutput(nullptr));
    EXPECT_EQ(ReadFileBytes(path), text) << name;
}

TEST(XmlWellFormed, WritesDocumentsForTheChecker) {
    ClearFolder();
    {
        CXmlDoc doc("VizudoRuduvav");
        doc.AddSection("IP-Settings");
        doc.AddValue("IP-Address", L"192.168.1.20");
        doc.AddValue("Port", 9100);
        doc.AddValue("USB", false);
        doc.AddValue("Comms_Method", L"TCP");
        doc.AddValue("USBPort", L"");
        doc.CloseSection();
        WriteBoth("network", doc);
    }
    {
        CXmlDoc doc("special");
        doc.AddValue("amp", L"a & b");
        doc.AddValue("brackets", L"<tag attr=\"1\"/> ]]> -->");
        doc.AddValue("quotes", L"\"double\" and 'single'");
        doc.AddValue("entities", L"&amp; &lt; &#65; &quot;");
        doc.AddValue("unicode", L"\x00e9\x00df\x4e2d\x6587\xd83d\xde00");
        doc.AddValue("tabs", L"a\tb\r\nc");
        WriteBoth("special", doc);
    }
    {
        CXmlDoc doc("sections");
        doc.AddSection("empty");
        doc.CloseSection();
        doc.AddSection("nested");
        doc.AddSection("deeper");
        doc.AddSection("deepest");
        doc.CloseSection();
        doc.CloseSection();
        doc.CloseSection();
        doc.AddSection("empty");
        doc.CloseSection();
        CXmlValue empty;
        doc.AddValue("novalue", empty);
        doc.AddValue("nulltext", static_cast<const wchar_t*>(nullptr));
        WriteBoth("sections", doc);
    }
    {
        CXmlDoc doc("types");
        CXmlValue v;
        v.SetBool(true);
        doc.AddValue("b", v);
        v.SetInt32(-123);
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
        v.SetDouble(1e-300);
        doc.AddValue("tiny", v);
        v.SetString("utf8 \xc3\xa9");
        doc.AddValue("s", v);
        WriteBoth("types", doc);
    }
    {
        CXmlDoc doc("large");
        for (int i = 0; i < 400; ++i) {
            doc.AddSection(("section" + std::to_string(i)).c_str());
            doc.AddValue("text", L"some <text> & more \x00e9\x4e2d that fills the buffer");
            doc.AddValue("number", i);
            doc.CloseSection();
        }
        std::string text = XmlOf(doc);
        EXPECT_GT(text.size(), 3u * 4096u);
        WriteBoth("large", doc);
    }
}

} // namespace
