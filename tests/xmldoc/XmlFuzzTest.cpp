// Robustness: mutated and random inputs for the reader and ParseText, with
// a fixed seed and a fixed count (MORVANE_XML_FUZZ_COUNT, default 100000).
// Every input must load or fail cleanly; the heaps are validated at the end
// (run under Wine's heap checking as well, see this folder's CMakeLists).
#include "XmlTestUtil.h"
#include "support/TempFiles.h"

#include "xmldoc/XmlDoc.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

int FuzzCount() {
    char sz[32] = "";
    if (GetEnvironmentVariableA("MORVANE_XML_FUZZ_COUNT", sz, sizeof(sz)) > 0)
        return atoi(sz);
    return 100000;
}

std::vector<std::string> Seeds() {
    std::vector<std::string> seeds = {
        "<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings><IP-Address "
        "t=\"s\">192.168.1.20</IP-Address><Port t=\"i4\">9100</Port><USB t=\"b\">0</USB>"
        "<Comms_Method t=\"s\">TCP</Comms_Method><USBPort t=\"s\"></USBPort></IP-Settings>"
        "</VizudoRuduvav>",
        "<?xml version=\"1.0\"?>\r\n<r>\r\n\t<!-- c --><Port "
        "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"ui4\">9100</Port>\r\n\t<e/>"
        "<d t=\"d\">-1.25</d><s>&amp;&lt;&gt;&quot;</s><u1 t=\"u1\">300</u1></r>",
        "<a><b><c><d t=\"i8\">-5</d></c></b><x t=\"u2\">7</x><y t=\"u4\">-1</y></a>",
    };
    std::string big = "<?xml version=\"1.0\"?><big>";
    for (int i = 0; i < 120; ++i)
        big += "<v" + std::to_string(i) + " t=\"s\">text &amp; more text " + std::to_string(i) +
               "</v" + std::to_string(i) + ">";
    big += "</big>";
    seeds.push_back(big);
    return seeds;
}

const char kAlphabet[] = "<>/!?&;=\"' \t\r\n\x01\x02xatmpglsi48du1b";

char RandomChar(std::mt19937& rng) {
    if (rng() % 4 == 0)
        return static_cast<char>(1 + rng() % 255);
    return kAlphabet[rng() % (sizeof(kAlphabet) - 1)];
}

std::string Mutate(const std::string& seed, std::mt19937& rng) {
    std::string s = seed;
    int nEdits = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < nEdits; ++i) {
        size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 7) {
        case 0: // replace a byte
            if (pos < s.size())
                s[pos] = RandomChar(rng);
            break;
        case 1: // insert bytes
            s.insert(pos, std::string(1 + rng() % 4, RandomChar(rng)));
            break;
        case 2: // delete a range
            if (pos < s.size())
                s.erase(pos, 1 + rng() % 16);
            break;
        case 3: // duplicate a range
            if (pos < s.size())
                s.insert(pos, s.substr(pos, 1 + rng() % 64));
            break;
        case 4: // truncate
            s.resize(pos);
            break;
        case 5: // a long run, around the token limit
            s.insert(pos, std::string(1000 + rng() % 60, RandomChar(rng)));
            break;
        default: // nest deeper
            s.insert(pos, std::string("<n>"));
            break;
        }
    }
    return s;
}

std::string RandomText(std::mt19937& rng) {
    std::string s(rng() % 300, '\0');
    for (auto& c : s)
        c = RandomChar(rng);
    if (rng() % 2)
        s = "<?xml version=\"1.0\"?><" + s;
    return s;
}

// Loads the text and checks that a loaded document is whole and writable
// (or refuses to write cleanly). Returns whether it loaded.
bool LoadChecked(CXmlDoc& doc, const char* pszSource, int nMode) {
    bool bLoaded = doc.LoadXml(pszSource, nMode);
    if (!bLoaded) {
        EXPECT_EQ(doc.GetRoot(), nullptr);
        return false;
    }
    EXPECT_NE(doc.GetRoot(), nullptr);
    EXPECT_TRUE(doc.GetRoot()->IsValid());
    ScopedBstr bstr;
    if (!doc.GetXml(bstr.put())) {
        EXPECT_EQ(bstr.get(), nullptr);
    }
    return true;
}

bool HeapsAreSound() {
    HANDLE heaps[256];
    DWORD n = GetProcessHeaps(256, heaps);
    for (DWORD i = 0; i < n && i < 256; ++i) {
        if (!HeapValidate(heaps[i], 0, nullptr))
            return false;
    }
    return true;
}

TEST(XmlFuzz, ReaderLoadsOrFailsCleanly) {
    const int nCount = FuzzCount();
    std::mt19937 rng(20261207);
    std::vector<std::string> seeds = Seeds();
    CXmlDoc* pDoc = new CXmlDoc;
    int nLoaded = 0;
    for (int i = 0; i < nCount; ++i) {
        std::string text =
            (i % 5 == 4) ? RandomText(rng) : Mutate(seeds[rng() % seeds.size()], rng);
        if (i % 500 == 0) {
            // Through a file, NUL bytes included.
            if (!text.empty())
                text[rng() % text.size()] = static_cast<char>(rng() % 3);
            TempFile file("xml_fuzz_" + std::to_string(GetCurrentProcessId()) + ".xml", text);
            nLoaded += LoadChecked(*pDoc, file.path(), LOAD_FILE) ? 1 : 0;
        } else if (i % 97 == 0) {
            // Appended under an existing tree: failure leaves it as it was.
            CXmlDoc doc("base");
            bool bOk = doc.AppendXmlSection(text.c_str(), 0);
            EXPECT_TRUE(doc.GetRoot()->IsValid());
            EXPECT_EQ(doc.GetRoot()->GetFirstChild() != nullptr, bOk);
        } else {
            nLoaded += LoadChecked(*pDoc, text.c_str(), LOAD_TEXT) ? 1 : 0;
        }
        if (i % 64 == 0) {
            EXPECT_TRUE(HeapsAreSound());
        }
        if (HasFailure()) {
            ADD_FAILURE() << "input " << i << ": " << text.substr(0, 200);
            break;
        }
    }
    delete pDoc;
    // The mutations keep a fair share of documents loadable.
    EXPECT_GT(nLoaded, nCount / 50);
    EXPECT_TRUE(HeapsAreSound());
}

TEST(XmlFuzz, ParseTextTakesAnyText) {
    const int nCount = FuzzCount();
    std::mt19937 rng(7);
    CXmlValue value;
    for (int i = 0; i < nCount; ++i) {
        std::string text(rng() % 40, '\0');
        for (auto& c : text)
            c = (rng() % 3 == 0) ? static_cast<char>(1 + rng() % 255)
                                 : "0123456789-+. eEx"[rng() % 17];
        int nType = static_cast<int>(rng() % 12) - 1;
        int nOldType = value.GetType();
        bool bOk = value.ParseText(text.c_str(), nType);
        ASSERT_EQ(bOk, nType >= XML_BOOL && nType <= XML_STRING);
        ASSERT_EQ(value.GetType(), bOk ? nType : nOldType);
        if (nType == XML_STRING) {
            ASSERT_STREQ(value.GetString(), text.c_str());
        }
        if (bOk && nType != XML_STRING) {
            char sz[128];
            ASSERT_TRUE(value.FormatNumber(sz, sizeof(sz)));
            CXmlValue back;
            ASSERT_TRUE(back.ParseText(sz, nType));
            if (nType == XML_DOUBLE) {
                ASSERT_TRUE(back.GetDouble() == value.GetDouble() ||
                            value.GetDouble() != value.GetDouble())
                    << sz;
            } else {
                int64_t a = 0, b = 0;
                value.GetInteger(&a);
                back.GetInteger(&b);
                ASSERT_EQ(a, b) << sz;
            }
        }
    }
    EXPECT_FALSE(value.ParseText(nullptr, XML_STRING));
    EXPECT_TRUE(HeapsAreSound());
}

} // namespace
