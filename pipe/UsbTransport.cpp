#include "pipe/UsbTransport.h"

#include "framework/CodePage.h"
#include "printers/USBPrinterInfo.h"
#include "printers/USBPrinterInterfaces.h"
#include "printers/UsbPrinterIo.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {
HRESULT LastError() {
    const DWORD dw = GetLastError();
    return HRESULT_FROM_WIN32(dw ? dw : ERROR_GEN_FAILURE);
}

// Opens the device (or file) of a UTF-8 path for overlapped writing.
HRESULT OpenDevice(const std::string& strPathUtf8, UniqueFile& file) {
    std::wstring path;
    if (!NarrowToWide(strPathUtf8.data(), static_cast<int>(strPathUtf8.size()), CP_UTF8, path) ||
        path.empty())
        return E_INVALIDARG;
    file.reset(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    return file ? S_OK : LastError();
}

// A question goes after half the send time without progress, at most
// kFirstAskMs.
DWORD FirstAskMs(const PipeTimeouts& timeouts) {
    return std::min(CUsbTransport::kFirstAskMs, timeouts.dwSendMs / 2);
}
} // namespace

std::string FindUsbPrinterPath(const std::string& strSerial) {
    std::string path;
    if (strSerial.empty())
        return path;
    ForEachUsbPrinterInterface([&](HDEVINFO, SP_DEVINFO_DATA&, const char* pszDevicePath) {
        if (SerialNumberFromDevicePath(pszDevicePath).CompareNoCase(strSerial.c_str()) != 0)
            return true;
        path = pszDevicePath;
        return false;
    });
    return path;
}

CUsbTransport::CUsbTransport(const PipeTimeouts& timeouts)
    : m_timeouts(timeouts), m_clock(timeouts.dwSendMs, timeouts.dwPausedMs, FirstAskMs(timeouts)) {
    m_pIo.reset(new (std::nothrow) PendingIo);
    if (m_pIo)
        m_pIo->hEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

CUsbTransport::~CUsbTransport() {
    if (m_file && !m_bIoStuck)
        CancelIoEx(m_file.get(), nullptr);
    CloseFile();
    // A write that never came back may still complete into m_pIo: wait a
    // little more now that the device is closed, then rather leak it.
    if (m_bIoStuck && m_pIo && WaitForSingleObject(m_pIo->hEvent.get(), 1000) != WAIT_OBJECT_0)
        m_pIo.release();
}

HRESULT CUsbTransport::OpenPath(const std::string& strPathUtf8, const PipeTimeouts& timeouts,
                                std::unique_ptr<CTransport>& pTransport,
                                CLastPrinterStatus* pLast) {
    pTransport.reset();
    if (strPathUtf8.empty())
        return E_INVALIDARG;
    std::unique_ptr<CUsbTransport> p(new (std::nothrow) CUsbTransport(timeouts));
    if (!p || !p->m_pIo)
        return E_OUTOFMEMORY;
    if (!p->m_pIo->hEvent)
        return LastError();
    UniqueFile file;
    const HRESULT hr = OpenDevice(strPathUtf8, file);
    if (FAILED(hr))
        return hr;
    p->m_file = std::move(file);
    p->m_pLast = pLast;
    pTransport = std::move(p);
    return S_OK;
}

HRESULT CUsbTransport::OpenBySerialNumber(const std::string& strSerial,
                                          const PipeTimeouts& timeouts,
                                          std::unique_ptr<CTransport>& pTransport,
                                          CLastPrinterStatus* pLast) {
    pTransport.reset();
    if (strSerial.empty())
        return E_INVALIDARG;
    const std::string path = FindUsbPrinterPath(strSerial);
    if (path.empty())
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    return OpenPath(path, timeouts, pTransport, pLast);
}

HRESULT CUsbTransport::AskStatus(const std::string& strPathUtf8, const std::string& strSerial,
                                 PrinterStatus& status) {
    status = PrinterStatus();
    std::string path = strPathUtf8;
    if (path.empty()) {
        if (strSerial.empty())
            return E_INVALIDARG;
        path = FindUsbPrinterPath(strSerial);
        if (path.empty())
            return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    }
    UniqueFile file;
    const HRESULT hr = OpenDevice(path, file);
    if (FAILED(hr))
        return hr;
    DeviceCallResult result;
    const UsbPrinterWord word = AskLptStatus(file.get(), kAskMs, result);
    status.code = word.code;
    status.text = word.pszText;
    return S_OK;
}

namespace {
// The largest piece one overlapped write takes from the transport's buffer.
const DWORD kWritePiece = 64 * 1024;
// How long a cancelled write is given to come back.
const DWORD kCancelWaitMs = 1000;
// Longest single wait, so that a Cancel is seen within about this long.
const DWORD kWaitSliceMs = 100;
} // namespace

bool CUsbTransport::CancelPendingWrite() {
    {
        CLock lock(m_csFile);
        if (m_file)
            CancelIoEx(m_file.get(), &m_pIo->ov);
    }
    if (WaitForSingleObject(m_pIo->hEvent.get(), kCancelWaitMs) == WAIT_OBJECT_0) {
        DWORD written = 0;
        GetOverlappedResult(m_file.get(), &m_pIo->ov, &written, FALSE);
        return true;
    }
    m_bIoStuck = true;
    return false;
}

HRESULT CUsbTransport::Write(const BYTE* pData, DWORD cbData) {
    if (m_bCancelled && SUCCEEDED(m_hrBroken))
        m_hrBroken = E_ABORT;
    if (FAILED(m_hrBroken))
        return m_hrBroken;
    if (!m_file)
        return E_UNEXPECTED;
    PendingIo& io = *m_pIo;
    DWORD left = cbData;
    while (left > 0) {
        const DWORD piece = std::min(left, kWritePiece);
        io.buffer.assign(pData, pData + piece);
        io.ov = OVERLAPPED();
        io.ov.Offset = static_cast<DWORD>(m_nOffset);
        io.ov.OffsetHigh = static_cast<DWORD>(m_nOffset >> 32);
        io.ov.hEvent = io.hEvent.get();
        ResetEvent(io.ov.hEvent);
        if (m_bCancelled) {
            m_hrBroken = E_ABORT;
            return m_hrBroken;
        }
        if (!WriteFile(m_file.get(), io.buffer.data(), piece, nullptr, &io.ov) &&
            GetLastError() != ERROR_IO_PENDING) {
            m_hrBroken = LastError();
            return m_hrBroken;
        }
        const DWORD wait = WaitForWrite();
        if (wait != WAIT_OBJECT_0) {
            // The device stopped taking data, or the write was cancelled:
            // give the write up (bounded).
            CancelPendingWrite();
            m_hrBroken = m_bCancelled ? E_ABORT : HRESULT_FROM_WIN32(ERROR_TIMEOUT);
            return m_hrBroken;
        }
        DWORD written = 0;
        if (!GetOverlappedResult(m_file.get(), &io.ov, &written, FALSE)) {
            m_hrBroken = m_bCancelled ? E_ABORT : LastError();
            return m_hrBroken;
        }
        if (written == 0 || written > piece) {
            m_hrBroken = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
            return m_hrBroken;
        }
        pData += written;
        left -= written;
        m_nOffset += written;
        // Moving again: a pause the printer reported is over.
        if (m_bAsked && m_pLast)
            m_pLast->Set({PRINTER_STATUS_PRINTING, L"Printing"});
        m_bAsked = false;
    }
    return S_OK;
}

DWORD CUsbTransport::WaitForWrite() {
    m_clock.Restart();
    // Waits in slices, so that a Cancel from another thread is seen even if
    // its CancelIoEx came just before the write started.
    for (;;) {
        if (m_bCancelled)
            return WAIT_TIMEOUT;
        if (!m_bQuestionStuck && m_clock.AskDue()) {
            const DWORD dwAskMs = m_clock.QuestionMs(kAskMs);
            m_clock.Record(dwAskMs ? AskPrinter(dwAskMs) : CStallClock::Answer::None);
        }
        const DWORD dwLeft = m_clock.Remaining();
        if (dwLeft == 0)
            return WAIT_TIMEOUT;
        const DWORD wait = WaitForSingleObject(m_pIo->hEvent.get(), std::min(dwLeft, kWaitSliceMs));
        if (wait != WAIT_TIMEOUT)
            return wait;
    }
}

CStallClock::Answer CUsbTransport::AskPrinter(DWORD dwWaitMs) {
    DeviceCallResult result;
    const UsbPrinterWord word = AskLptStatus(m_file.get(), dwWaitMs, result);
    if (result == DeviceCallResult::Stuck)
        m_bQuestionStuck = true;
    m_bAsked = true;
    if (word.code == PRINTER_STATUS_NOT_ANSWERING)
        return CStallClock::Answer::None;
    if (m_pLast)
        m_pLast->Set({word.code, word.pszText});
    return word.code == PRINTER_STATUS_PAUSED ? CStallClock::Answer::Paused
                                              : CStallClock::Answer::NotPaused;
}

HRESULT CUsbTransport::Finish() {
    if (!m_file)
        return FAILED(m_hrBroken) ? m_hrBroken : E_UNEXPECTED;
    if (m_bCancelled && SUCCEEDED(m_hrBroken))
        m_hrBroken = E_ABORT;
    CloseFile();
    return m_hrBroken;
}

void CUsbTransport::Abort() {
    if (m_file && !m_bIoStuck)
        CancelIoEx(m_file.get(), nullptr);
    CloseFile();
    if (SUCCEEDED(m_hrBroken))
        m_hrBroken = E_ABORT;
}

void CUsbTransport::Cancel() {
    m_bCancelled = true;
    CLock lock(m_csFile);
    if (m_file)
        CancelIoEx(m_file.get(), nullptr);
}

void CUsbTransport::CloseFile() {
    CLock lock(m_csFile);
    m_file.reset();
}
