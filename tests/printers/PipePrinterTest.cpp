// The pipe printers against a stand-in component: a class object registered
// in this process for the component's class id, which records every call
// and fails on demand. Covers the document byte for byte, the order of the
// COM calls, and what each failure does to the printer's results.
#include "framework/MessageBox.h"
#include "printers/PipePrinter.h"
#include "support/PipeServer.h"
#include "support/StandInComponent.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"
#include "xmldoc/XmlDoc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Record {
    std::vector<std::string> calls;
    std::wstring document;
    HRESULT createResult = S_OK;
    HRESULT configureResult = S_OK;
    HRESULT finishResult = S_OK;
    int failWriteNumber = 0; // counts WriteData calls from 1
    int writes = 0;
    int livePipes = 0;
    int liveConfigs = 0;
    // WriteData waits until Abort is called, then fails.
    std::atomic<bool> blockWrite{false}, inWrite{false}, aborted{false};
    // The object was destroyed while a WriteData was running on it.
    std::atomic<bool> destroyedInWrite{false};
    std::mutex mutex;
};

Record* g_record = nullptr;

void Log(const std::string& s) {
    std::lock_guard<std::mutex> lock(g_record->mutex);
    g_record->calls.push_back(s);
}

class FakeConfig final : public IPipeConfig {
public:
    explicit FakeConfig(IPipe* pOwner) : m_pOwner(pOwner) {
        m_pOwner->AddRef();
        ++g_record->liveConfigs;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IPipeConfig)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return m_pOwner->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_cRef;
        if (n == 0) {
            Log("release config");
            --g_record->liveConfigs;
            m_pOwner->Release();
            delete this;
        }
        return n;
    }
    HRESULT STDMETHODCALLTYPE Configure(BSTR bstrXml) override {
        Log("Configure");
        g_record->document = bstrXml ? std::wstring(bstrXml, SysStringLen(bstrXml)) : L"<null>";
        return g_record->configureResult;
    }

private:
    IPipe* m_pOwner;
    ULONG m_cRef = 1;
};

class FakePipe final : public IPipe {
public:
    FakePipe() { ++g_record->livePipes; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IPipe)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        if (IsEqualIID(riid, IID_IPipeConfig)) {
            Log("QueryInterface IPipeConfig");
            *ppv = new FakeConfig(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_cRef;
        if (n == 0) {
            Log("release pipe");
            if (g_record->inWrite)
                g_record->destroyedInWrite = true;
            --g_record->livePipes;
            delete this;
        }
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetBytesWritten(ULONGLONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE WriteData(const BYTE*, LONG cb) override {
        Log("WriteData " + std::to_string(cb));
        if (g_record->blockWrite) {
            g_record->inWrite = true;
            WaitFor([] { return g_record->aborted.load(); }, 20000);
            // Still running: what the caller holds must keep the object.
            Sleep(50);
            g_record->inWrite = false;
            return E_ABORT;
        }
        return ++g_record->writes == g_record->failWriteNumber ? E_FAIL : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Abort() override {
        Log("Abort");
        g_record->aborted = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Finish(LONG l) override {
        Log("Finish " + std::to_string(l));
        return g_record->finishResult;
    }

private:
    ULONG m_cRef = 1;
};

HRESULT MakeFakePipe(IUnknown** pp) {
    if (FAILED(g_record->createResult))
        return g_record->createResult;
    Log("create");
    *pp = new FakePipe;
    return S_OK;
}

class PipePrinterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(apartment.ok());
        g_record = &record;
        ASSERT_TRUE(standIn.ok());
        SetMessageBoxHandler([this](HWND, const char* text, const char*, UINT type) {
            boxes.push_back(text);
            types.push_back(type);
            return IDOK;
        });
        setup.m_dwIPAddress = 0xC0A80114; // 192.168.1.20
    }
    void TearDown() override {
        SetMessageBoxHandler(nullptr);
        g_record = nullptr;
    }

    ComApartment apartment;
    StandInRegistration standIn{MakeFakePipe};
    Record record;
    CSpoolerSetup setup;
    std::vector<std::string> boxes;
    std::vector<UINT> types;
};

using Calls = std::vector<std::string>;

TEST_F(PipePrinterTest, NetworkPrinterHandsOverTheDocumentByteForByte) {
    std::unique_ptr<CPrinter> p(new CIP_Pipe_Printer);
    ASSERT_TRUE(p->Open(&setup, "ignored job name"));
    EXPECT_EQ(record.document,
              L"<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings><IP-Address "
              L"t=\"s\">192.168.1.20</IP-Address><Port t=\"i4\">9100</Port><USB t=\"b\">0</USB>"
              L"<Comms_Method t=\"s\">TCP</Comms_Method><USBPort t=\"s\"></USBPort></IP-Settings>"
              L"</VizudoRuduvav>");
    EXPECT_EQ(record.calls,
              (Calls{"create", "QueryInterface IPipeConfig", "Configure", "release config"}));
    EXPECT_EQ(record.liveConfigs, 0);
    EXPECT_EQ(record.livePipes, 1);
}

TEST_F(PipePrinterTest, UsbPrinterAddsNameAndSerialNumber) {
    setup.m_strUSBPort = "USB001";
    setup.m_strUSBPrinterName = "Port_#0001.Hub_#0004";
    setup.m_strUSBPrinterSN = "ABC123";
    CUSB_Pipe_Printer p;
    ASSERT_TRUE(p.Open(&setup, "job"));
    EXPECT_EQ(record.document,
              L"<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings><IP-Address "
              L"t=\"s\">192.168.1.20</IP-Address><Port t=\"i4\">9100</Port><USB t=\"b\">1</USB>"
              L"<Comms_Method t=\"s\">USB</Comms_Method><USBPort t=\"s\">USB001</USBPort>"
              L"<USBPrinterName t=\"s\">Port_#0001.Hub_#0004</USBPrinterName><USBPrinterSN "
              L"t=\"s\">ABC123</USBPrinterSN></IP-Settings></VizudoRuduvav>");
}

// Settings are the program's narrow text, in the thread's ANSI code page;
// the component reads its document's values as UTF-8. A letter outside
// ASCII must arrive as that letter, never as its ANSI byte.
TEST_F(PipePrinterTest, NonAsciiSettingReachesTheComponentAsUtf8) {
    char ansi[8] = {};
    BOOL lossy = FALSE;
    if (WideCharToMultiByte(CP_THREAD_ACP, 0, L"\u00e9", 1, ansi, sizeof(ansi) - 1, nullptr,
                            &lossy) <= 0 ||
        lossy)
        GTEST_SKIP() << "this thread's ANSI code page has no e with acute";
    setup.m_strUSBPrinterName = CString("Caf") + ansi;
    setup.m_strUSBPrinterSN = CString("S") + ansi + "1";
    CUSB_Pipe_Printer p;
    ASSERT_TRUE(p.Open(&setup, "job"));
    EXPECT_NE(record.document.find(L"<USBPrinterName t=\"s\">Caf\u00e9</USBPrinterName>"),
              std::wstring::npos);
    // What the component's reader makes of it.
    CXmlDoc doc;
    ASSERT_TRUE(doc.LoadXmlText(record.document.c_str()));
    const CXmlElement* pName = doc.FindElement("IP-Settings/USBPrinterName");
    const CXmlElement* pSerial = doc.FindElement("IP-Settings/USBPrinterSN");
    ASSERT_NE(pName, nullptr);
    ASSERT_NE(pSerial, nullptr);
    EXPECT_STREQ(pName->GetValue().GetString(), "Caf\xC3\xA9");
    EXPECT_STREQ(pSerial->GetValue().GetString(), "S\xC3\xA9"
                                                  "1");
}

TEST_F(PipePrinterTest, AddressTextCoversTheWholeRange) {
    const std::pair<DWORD, const wchar_t*> cases[] = {
        {0, L"0.0.0.0"}, {0xFFFFFFFF, L"255.255.255.255"}, {0x0A000001, L"10.0.0.1"}};
    for (const auto& c : cases) {
        setup.m_dwIPAddress = c.first;
        CIP_Pipe_Printer p;
        ASSERT_TRUE(p.Open(&setup, ""));
        EXPECT_NE(record.document.find(std::wstring(L"<IP-Address t=\"s\">") + c.second +
                                       L"</IP-Address>"),
                  std::wstring::npos)
            << c.first;
    }
}

TEST_F(PipePrinterTest, ChunksGoOutInOrderAndARefusedOneIsReportedOnce) {
    record.failWriteNumber = 2;
    for (bool usb : {false, true}) {
        SCOPED_TRACE(usb ? "USB" : "IP");
        record.calls.clear();
        record.writes = 0;
        boxes.clear();
        std::unique_ptr<CPrinter> p(usb ? static_cast<CPrinter*>(new CUSB_Pipe_Printer)
                                        : new CIP_Pipe_Printer);
        ASSERT_TRUE(p->Open(&setup, "job"));
        char chunk[16384] = {};
        EXPECT_EQ(p->Send_Data(chunk, 16384), 16384);
        EXPECT_EQ(p->Send_Data(chunk, 16384), -1);
        EXPECT_EQ(p->Send_Data(chunk, 100), 100);
        EXPECT_EQ(boxes, (std::vector<std::string>{"CIP_Pipe_Printer::Send_Data failed"}));
        EXPECT_EQ(types, (std::vector<UINT>(boxes.size(), MB_OK)));
        EXPECT_TRUE(p->Close());
        EXPECT_EQ(record.livePipes, 0);
        EXPECT_EQ(record.calls, (Calls{"create", "QueryInterface IPipeConfig", "Configure",
                                       "release config", "WriteData 16384", "WriteData 16384",
                                       "WriteData 100", "Finish 0", "release pipe"}));
        // Closed: nothing more reaches the component.
        EXPECT_TRUE(p->Close());
        EXPECT_EQ(p->Send_Data(chunk, 5), 5);
        types.clear();
    }
}

// A quiet printer (the worker retries) shows no box; either printer says
// why its copy failed in the user's words.
TEST_F(PipePrinterTest, QuietPrinterShowsNoBoxAndSaysWhy) {
    record.failWriteNumber = 1;
    for (bool usb : {false, true}) {
        SCOPED_TRACE(usb ? "USB" : "IP");
        record.writes = 0;
        boxes.clear();
        std::unique_ptr<CPrinter> p(usb ? static_cast<CPrinter*>(new CUSB_Pipe_Printer)
                                        : new CIP_Pipe_Printer);
        p->SetQuiet(true);
        ASSERT_TRUE(p->Open(&setup, "job"));
        EXPECT_EQ(p->GetFailureText(), "");
        char chunk[100] = {};
        EXPECT_EQ(p->Send_Data(chunk, 100), -1);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(p->GetFailureText(), usb ? "USB printer lost" : "Connection dropped");
        p->Abort();
    }
}

TEST(PipeFailureText, SaysWhichStepFailedAndWhy) {
    const HRESULT timedOut = HRESULT_FROM_WIN32(WSAETIMEDOUT);
    const struct {
        PipeStep step;
        HRESULT hr;
        bool usb;
        const char* text;
    } rows[] = {
        {PipeStep::None, S_OK, false, ""},
        {PipeStep::Write, E_ABORT, false, ""}, // dropped on purpose: no failure
        {PipeStep::Create, REGDB_E_CLASSNOTREG, false, "Pipe component missing"},
        {PipeStep::Configure, HRESULT_FROM_WIN32(WSAECONNREFUSED), false, "No connection"},
        {PipeStep::Configure, timedOut, false, "No connection"},
        {PipeStep::Configure, HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED), true,
         "USB printer missing"},
        {PipeStep::Configure, E_INVALIDARG, false, "Printer settings incomplete"},
        {PipeStep::Write, timedOut, false, "Printer not answering"},
        {PipeStep::Write, HRESULT_FROM_WIN32(ERROR_TIMEOUT), true, "Printer not answering"},
        {PipeStep::Write, HRESULT_FROM_WIN32(WSAECONNRESET), false, "Connection dropped"},
        {PipeStep::Finish, HRESULT_FROM_WIN32(WSAEDISCON), false, "Connection dropped"},
        {PipeStep::Finish, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE), true, "USB printer lost"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(PipeFailureText(r.step, r.hr, r.usb), r.text) << r.text;
}

TEST_F(PipePrinterTest, RefusedConfigurationFailsOpenAndKeepsTheComponentUntilDeleted) {
    record.configureResult = E_FAIL;
    auto* p = new CIP_Pipe_Printer;
    EXPECT_FALSE(p->Open(&setup, "job"));
    EXPECT_EQ(record.liveConfigs, 0);
    EXPECT_NE(p->GetPipe(), nullptr);
    EXPECT_EQ(record.livePipes, 1);
    delete p;
    EXPECT_EQ(record.livePipes, 0);
    EXPECT_EQ(record.calls, (Calls{"create", "QueryInterface IPipeConfig", "Configure",
                                   "release config", "Abort", "release pipe"}));
}

TEST_F(PipePrinterTest, FailedFinishFailsCloseAndTheDestructorReleasesWithoutFinish) {
    record.finishResult = E_FAIL;
    auto* p = new CUSB_Pipe_Printer;
    ASSERT_TRUE(p->Open(&setup, "job"));
    EXPECT_FALSE(p->Close());
    EXPECT_NE(p->GetPipe(), nullptr);
    EXPECT_EQ(record.livePipes, 1);
    delete p;
    EXPECT_EQ(record.livePipes, 0);
    EXPECT_EQ(record.calls.back(), "release pipe");
    EXPECT_EQ(std::count(record.calls.begin(), record.calls.end(), "Finish 0"), 1);
}

// A copy that did not get through is aborted, never finished: the printer
// would print the part it got.
TEST_F(PipePrinterTest, AbortDropsTheTransferAndReleasesTheComponent) {
    for (bool usb : {false, true}) {
        SCOPED_TRACE(usb ? "USB" : "IP");
        record.calls.clear();
        std::unique_ptr<CPrinter> p(usb ? static_cast<CPrinter*>(new CUSB_Pipe_Printer)
                                        : new CIP_Pipe_Printer);
        EXPECT_TRUE(p->Abort()); // nothing open yet
        EXPECT_TRUE(record.calls.empty());
        p.reset(usb ? static_cast<CPrinter*>(new CUSB_Pipe_Printer) : new CIP_Pipe_Printer);
        ASSERT_TRUE(p->Open(&setup, "job"));
        char chunk[16384] = {};
        EXPECT_EQ(p->Send_Data(chunk, 16384), 16384);
        EXPECT_TRUE(p->Abort());
        EXPECT_EQ(record.livePipes, 0);
        EXPECT_TRUE(p->Abort());
        EXPECT_EQ(p->Send_Data(chunk, 16384), -1);
        EXPECT_FALSE(p->Close());
        p.reset();
        EXPECT_EQ(record.calls,
                  (Calls{"create", "QueryInterface IPipeConfig", "Configure", "release config",
                         "WriteData 16384", "Abort", "release pipe"}));
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(PipePrinterTest, DeletedInTheMiddleOfADocumentAbortsFirst) {
    {
        CIP_Pipe_Printer p;
        ASSERT_TRUE(p.Open(&setup, "job"));
        char chunk[100] = {};
        EXPECT_EQ(p.Send_Data(chunk, 100), 100);
    }
    EXPECT_EQ(record.livePipes, 0);
    EXPECT_EQ(record.calls, (Calls{"create", "QueryInterface IPipeConfig", "Configure",
                                   "release config", "WriteData 100", "Abort", "release pipe"}));
}

// The window's thread aborts while the worker is blocked in WriteData: the
// call comes back failing, the component is let go only after it has, and
// no message box is shown for a copy dropped on purpose.
TEST_F(PipePrinterTest, AbortFromAnotherThreadEndsABlockedWrite) {
    CIP_Pipe_Printer p;
    ASSERT_TRUE(p.Open(&setup, "job"));
    record.blockWrite = true;
    std::atomic<int> result{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        char chunk[16384] = {};
        result = p.Send_Data(chunk, 16384);
        done = true;
    });
    const bool blocked = WaitFor([&] { return record.inWrite.load(); }, 5000);
    const ULONGLONG t0 = GetTickCount64();
    const BOOL aborted = p.Abort();
    const bool returned = WaitFor([&] { return done.load(); }, 1500);
    const ULONGLONG ms = GetTickCount64() - t0;
    record.aborted = true; // lets a stuck write go in any case
    worker.join();
    ASSERT_TRUE(blocked);
    EXPECT_TRUE(aborted);
    EXPECT_TRUE(returned);
    EXPECT_LT(ms, 1500u);
    EXPECT_EQ(result.load(), -1);
    EXPECT_FALSE(record.destroyedInWrite.load());
    EXPECT_EQ(record.livePipes, 0);
    EXPECT_TRUE(boxes.empty());
    EXPECT_FALSE(p.Close());
    EXPECT_EQ(std::count(record.calls.begin(), record.calls.end(), "Finish 0"), 0);
}

TEST_F(PipePrinterTest, ComponentThatCannotBeCreatedFailsOpenOnly) {
    record.createResult = REGDB_E_CLASSNOTREG;
    CIP_Pipe_Printer p;
    EXPECT_FALSE(p.Open(&setup, "job"));
    EXPECT_EQ(p.GetPipe(), nullptr);
    char chunk[10] = {};
    EXPECT_EQ(p.Send_Data(chunk, 10), 10);
    EXPECT_TRUE(p.Close());
    EXPECT_TRUE(record.calls.empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PipePrinterTest, PrinterDeletedUntouchedMakesNoCall) {
    delete new CIP_Pipe_Printer;
    delete new CUSB_Pipe_Printer;
    EXPECT_TRUE(record.calls.empty());
}

TEST_F(PipePrinterTest, OpenedTwiceLetsTheFirstComponentGo) {
    CIP_Pipe_Printer p;
    ASSERT_TRUE(p.Open(&setup, "job"));
    ASSERT_TRUE(p.Open(&setup, "job"));
    EXPECT_EQ(record.livePipes, 1);
}

TEST_F(PipePrinterTest, NoSettingsFailsOpenBeforeAnythingIsConfigured) {
    CIP_Pipe_Printer p;
    EXPECT_FALSE(p.Open(nullptr, "job"));
    EXPECT_EQ(std::count(record.calls.begin(), record.calls.end(), "Configure"), 0);
}

TEST(PrinterFactory, PipeTypesMakePipePrinters) {
    CSpoolerSetup s;
    s.m_nSpoolerType = SPOOLER_IP;
    std::unique_ptr<CPrinter> ip(Create_Printer(&s));
    EXPECT_NE(dynamic_cast<CIP_Pipe_Printer*>(ip.get()), nullptr);
    s.m_nSpoolerType = SPOOLER_USB;
    std::unique_ptr<CPrinter> usb(Create_Printer(&s));
    EXPECT_NE(dynamic_cast<CUSB_Pipe_Printer*>(usb.get()), nullptr);
}

} // namespace
