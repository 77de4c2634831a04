#include "pipe/UsbTransport.h"

#include "printers/USBPrinterInfo.h"

#include <setupapi.h>

#include <algorithm>
#include <new>
#include <vector>

namespace {
// {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}
const GUID kUSBPrintInterface = {
    0x28d78fad, 0x5a12, 0x11d1, {0xae, 0x5b, 0x00, 0x00, 0xf8, 0x03, 0xa8, 0xc2}};

std::wstring Utf8ToWide(const std::string& str) {
    if (str.empty())
        return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), &out[0], n);
    return out;
}

HRESULT LastError() {
    const DWORD dw = GetLastError();
    return HRESULT_FROM_WIN32(dw ? dw : ERROR_GEN_FAILURE);
}
} // namespace

std::string FindUsbPrinterPath(const std::string& strSerial) {
    if (strSerial.empty())
        return std::string();
    HDEVINFO hRaw = SetupDiGetClassDevsA(&kUSBPrintInterface, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hRaw == INVALID_HANDLE_VALUE)
        return std::string();
    UniqueDevInfo hSet(hRaw);
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA iface = {};
        iface.cbSize = sizeof(iface);
        if (!SetupDiEnumDeviceInterfaces(hSet.get(), nullptr, &kUSBPrintInterface, index, &iface))
            break;
        DWORD cbRequired = 0;
        SetupDiGetDeviceInterfaceDetailA(hSet.get(), &iface, nullptr, 0, &cbRequired, nullptr);
        if (cbRequired < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
            continue;
        std::vector<char> buffer(cbRequired + 1, '\0');
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!SetupDiGetDeviceInterfaceDetailA(hSet.get(), &iface, detail, cbRequired, nullptr,
                                              nullptr))
            continue;
        const CString path(detail->DevicePath);
        if (SerialNumberFromDevicePath(path).CompareNoCase(strSerial.c_str()) == 0)
            return path.Str();
    }
    return std::string();
}

CUsbTransport::CUsbTransport(const PipeTimeouts& timeouts)
    : m_timeouts(timeouts), m_hEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CUsbTransport::~CUsbTransport() {
    if (m_file)
        CancelIo(m_file.get());
}

HRESULT CUsbTransport::OpenPath(const std::string& strPathUtf8, const PipeTimeouts& timeouts,
                                std::unique_ptr<CTransport>& pTransport) {
    pTransport.reset();
    const std::wstring path = Utf8ToWide(strPathUtf8);
    if (path.empty())
        return E_INVALIDARG;
    std::unique_ptr<CUsbTransport> p(new (std::nothrow) CUsbTransport(timeouts));
    if (!p)
        return E_OUTOFMEMORY;
    if (!p->m_hEvent)
        return LastError();
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return LastError();
    p->m_file.reset(h);
    pTransport = std::move(p);
    return S_OK;
}

HRESULT CUsbTransport::OpenBySerialNumber(const std::string& strSerial,
                                          const PipeTimeouts& timeouts,
                                          std::unique_ptr<CTransport>& pTransport) {
    pTransport.reset();
    if (strSerial.empty())
        return E_INVALIDARG;
    const std::string path = FindUsbPrinterPath(strSerial);
    if (path.empty())
        return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    return OpenPath(path, timeouts, pTransport);
}

HRESULT CUsbTransport::Write(const BYTE* pData, DWORD cbData) {
    if (FAILED(m_hrBroken))
        return m_hrBroken;
    if (!m_file)
        return E_UNEXPECTED;
    DWORD left = cbData;
    while (left > 0) {
        OVERLAPPED ov = {};
        ov.Offset = static_cast<DWORD>(m_nOffset);
        ov.OffsetHigh = static_cast<DWORD>(m_nOffset >> 32);
        ov.hEvent = m_hEvent.get();
        ResetEvent(ov.hEvent);
        DWORD written = 0;
        if (!WriteFile(m_file.get(), pData, left, nullptr, &ov)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                m_hrBroken = LastError();
                return m_hrBroken;
            }
            if (WaitForSingleObject(ov.hEvent, m_timeouts.dwSendMs) != WAIT_OBJECT_0) {
                // The device stopped taking data: give the write up and wait
                // for the cancellation, so the buffer is ours again.
                CancelIo(m_file.get());
                GetOverlappedResult(m_file.get(), &ov, &written, TRUE);
                m_hrBroken = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
                return m_hrBroken;
            }
        }
        if (!GetOverlappedResult(m_file.get(), &ov, &written, TRUE)) {
            m_hrBroken = LastError();
            return m_hrBroken;
        }
        if (written == 0 || written > left) {
            m_hrBroken = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
            return m_hrBroken;
        }
        pData += written;
        left -= written;
        m_nOffset += written;
    }
    return S_OK;
}

HRESULT CUsbTransport::Finish() {
    if (!m_file)
        return FAILED(m_hrBroken) ? m_hrBroken : E_UNEXPECTED;
    m_file.reset();
    return m_hrBroken;
}

void CUsbTransport::Abort() {
    if (m_file) {
        CancelIo(m_file.get());
        m_file.reset();
    }
    if (SUCCEEDED(m_hrBroken))
        m_hrBroken = E_ABORT;
}
