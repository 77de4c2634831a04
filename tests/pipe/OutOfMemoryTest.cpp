// The component's methods when memory runs out: every C++ allocation of
// this test program goes through the process-heap operators, which fail on
// a thread while a test says so. A COM method must turn that into an error
// result; an exception must never leave it.
#include "PipeTestSupport.h"
#include "pipe/Pipe.h"
#include "support/LoopbackListener.h"
#include "xmldoc/ProcessHeapNew.h"

#include <gtest/gtest.h>

#include <new>
#include <vector>

namespace {

TEST(OutOfMemory, MethodsReturnAnErrorInsteadOfThrowing) {
    IPipe* pipe = nullptr;
    ASSERT_EQ(CPipe::Create(IID_IPipe, reinterpret_cast<void**>(&pipe)), S_OK);
    IPrinterStatus* status = nullptr;
    IPipeConfig* config = nullptr;
    ASSERT_EQ(pipe->QueryInterface(IID_IPrinterStatus, reinterpret_cast<void**>(&status)), S_OK);
    ASSERT_EQ(pipe->QueryInterface(IID_IPipeConfig, reinterpret_cast<void**>(&config)), S_OK);
    // A printer that stops reading, whose state a stalled write asks
    // (nothing answers on the SNMP port).
    LoopbackListener printer(0, LoopbackListener::Mode::NeverRead);
    ASSERT_TRUE(printer.ok());
    Bstr doc(
        TcpDocument(printer.port(), L"<SendTimeoutMs t=\"i4\">2000</SendTimeoutMs><SnmpTimeoutMs "
                                    L"t=\"i4\">200</SnmpTimeoutMs><SnmpPort "
                                    L"t=\"i4\">" +
                                        std::to_wstring(UnusedLoopbackPort()) + L"</SnmpPort>"));
    ASSERT_EQ(config->Configure(doc), S_OK);
    std::vector<BYTE> chunk(32 * 1024 * 1024);
    // A last state whose text takes memory to copy.
    LONG lCode = 0;
    BSTR text = nullptr;
    ASSERT_EQ(status->CheckStatus(doc, &lCode, &text), S_OK);
    ASSERT_EQ(lCode, PRINTER_STATUS_NOT_ANSWERING);
    SysFreeString(text);
    text = nullptr;

    HRESULT hrCheck, hrLast, hrWrite, hrFinish;
    {
        CNoMemoryOnThisThread none;
        hrCheck = status->CheckStatus(doc, &lCode, &text);
        hrLast = status->GetLastStatus(&lCode, &text);
        hrWrite = pipe->WriteData(chunk.data(), static_cast<LONG>(chunk.size()));
        hrFinish = pipe->Finish(0);
    }
    EXPECT_TRUE(FAILED(hrCheck)); // the document reader reports it unusable
    EXPECT_EQ(hrLast, E_OUTOFMEMORY);
    EXPECT_EQ(hrWrite, E_OUTOFMEMORY);
    EXPECT_TRUE(FAILED(hrFinish));
    EXPECT_EQ(text, nullptr);
    // The printer never sees the end of a document that did not get through.
    ASSERT_TRUE(printer.WaitForConnections(1));
    EXPECT_EQ(printer.ReadHeld(0), LoopbackListener::End::Reset);
    config->Release();
    status->Release();
    pipe->Release();
}

} // namespace
