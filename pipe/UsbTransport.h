// CUsbTransport: a USB printer's device (or any file that can be opened for
// writing), written with overlapped writes so that a device that stops
// taking data fails the write after the send time instead of hanging.
//
// Which device: an explicit path wins when it is set (the "USBPort"
// setting, see PipeSettings.h: a device interface path, a device name such
// as \\.\USB001, or a plain existing file); otherwise the attached printer of device interface
// class GUID_DEVINTERFACE_USBPRINT whose serial number, cut out of its
// device interface path, equals the wanted one (letter case ignored); the
// first such device in enumeration order.
//
// Each write goes out of a buffer and an OVERLAPPED the transport owns
// (m_pIo), never the caller's memory or the stack: a write the device will
// not give up (it ignores the cancellation) may still complete after the
// call has failed. Every wait is bounded; such a write leaves the transport
// broken, and the destructor closes the device and then frees the I/O
// state only when the write has come back, else leaves it allocated (a
// small leak rather than memory the system may still write into).
// A write that makes no progress asks the printer's status byte
// (UsbPrinterIo.h) after half the send time (at most kFirstAskMs) and then
// about every 5 s, each question bounded by the time left; the answers go
// to the caller's CLastPrinterStatus when one was given. Paper out and
// offline are a pause: the write then waits up to the paused limit instead
// of the send time, by the same clock as a network printer's (StallClock.h);
// a printer that fails the question (many do), or answers nothing
// meaningful, changes nothing. A device that leaves a question stuck is not
// asked again while it is open.
// Threads: one at a time, except Cancel, which any thread may call while
// the object lives: it sets a flag the waits check and cancels the pending
// write (CancelIoEx) under m_csFile, which every close of the device also
// takes, so it never touches a closed handle.
#pragma once

#include "framework/Sync.h"
#include "framework/UniqueHandle.h"
#include "pipe/PrinterStatus.h"
#include "pipe/StallClock.h"
#include "pipe/Transport.h"

#include <atomic>
#include <memory>
#include <string>
#include <vector>

class CUsbTransport : public CTransport {
public:
    ~CUsbTransport() override;
    CUsbTransport(const CUsbTransport&) = delete;
    CUsbTransport& operator=(const CUsbTransport&) = delete;

    // The longest a stalled write goes before its first status question.
    static constexpr DWORD kFirstAskMs = 3000;
    // The longest one status question may take.
    static constexpr DWORD kAskMs = 1000;

    // Opens the path (UTF-8) for writing; it must exist already. pLast,
    // when given, gets each status answer and must outlive the transport.
    static HRESULT OpenPath(const std::string& strPathUtf8, const PipeTimeouts& timeouts,
                            std::unique_ptr<CTransport>& pTransport,
                            CLastPrinterStatus* pLast = nullptr);
    // Opens the attached printer with that serial number. No such printer
    // is HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED).
    static HRESULT OpenBySerialNumber(const std::string& strSerial, const PipeTimeouts& timeouts,
                                      std::unique_ptr<CTransport>& pTransport,
                                      CLastPrinterStatus* pLast = nullptr);
    // Asks the printer of the settings' USB port (or serial number) for its
    // status byte once, opening the device for the question only. S_OK
    // with the state (NOT_ANSWERING when the device failed the question);
    // the open's failure when the device cannot be opened.
    static HRESULT AskStatus(const std::string& strPathUtf8, const std::string& strSerial,
                             PrinterStatus& status);

    HRESULT Write(const BYTE* pData, DWORD cbData) override;
    HRESULT Finish() override;
    void Abort() override;
    void Cancel() override;

private:
    // One write in flight: owned here so it outlives a call that gave up.
    struct PendingIo {
        OVERLAPPED ov = {};
        UniqueHandleNull hEvent;
        std::vector<BYTE> buffer;
    };

    explicit CUsbTransport(const PipeTimeouts& timeouts);
    // Gives up the write in flight: cancels it and waits a bounded time for
    // it to come back. False when it did not (m_bIoStuck is then set).
    bool CancelPendingWrite();
    void CloseFile();
    // Waits for the write in flight, asking the printer while it makes no
    // progress; the wait's result (WAIT_OBJECT_0 when it completed).
    DWORD WaitForWrite();
    // Asks the status byte once, within dwWaitMs; keeps the answer.
    CStallClock::Answer AskPrinter(DWORD dwWaitMs);

    PipeTimeouts m_timeouts;
    UniqueFile m_file;
    std::unique_ptr<PendingIo> m_pIo;
    // A write was given up and had not come back.
    bool m_bIoStuck = false;
    ULONGLONG m_nOffset = 0;
    HRESULT m_hrBroken = S_OK;
    CCriticalSection m_csFile;
    std::atomic<bool> m_bCancelled{false};
    CStallClock m_clock;
    CLastPrinterStatus* m_pLast = nullptr;
    // A question was asked since the last progress.
    bool m_bAsked = false;
    // A question never came back: the device is not asked again.
    bool m_bQuestionStuck = false;
};

// The device interface path of the first attached USB printer whose serial
// number is strSerial (letter case ignored); empty when there is none.
std::string FindUsbPrinterPath(const std::string& strSerial);
