#include "printers/UsbPrinterIo.h"

#include "framework/UniqueHandle.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {
const UsbDeviceIoApi g_realApi = {DeviceIoControl, CancelIoEx};
const UsbDeviceIoApi* g_pApi = &g_realApi;

// How long a cancelled call is given to come back.
const DWORD kCancelWaitMs = 500;

const BYTE kPaperEmpty = 0x20;
const BYTE kSelected = 0x10;
const BYTE kNotError = 0x08;

// One call in flight, owned apart from the caller's stack so that it can
// outlive a call the device never gives up.
struct DeviceCall {
    OVERLAPPED ov = {};
    UniqueHandleNull hEvent;
    std::vector<BYTE> buffer;
};

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool SameKey(const std::string& a, const char* b) {
    const size_t n = strlen(b);
    if (a.size() != n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (toupper(static_cast<unsigned char>(a[i])) != toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && SameKey(s.substr(0, prefix.size()), prefix.c_str());
}
} // namespace

const UsbDeviceIoApi& CurrentUsbDeviceIoApi() {
    return *g_pApi;
}

void SetUsbDeviceIoApi(const UsbDeviceIoApi* pApi) {
    g_pApi = pApi ? pApi : &g_realApi;
}

UsbPrinterWord MapLptStatus(BYTE status) {
    if (status == 0x00 || status == 0xFF)
        return {PRINTER_STATUS_NOT_ANSWERING, L"Not answering"};
    if (status & kPaperEmpty)
        return {PRINTER_STATUS_PAUSED, L"Paper out"};
    if (!(status & kSelected))
        return {PRINTER_STATUS_PAUSED, L"Offline"};
    if (!(status & kNotError))
        return {PRINTER_STATUS_READY, L"Printer error"};
    return {PRINTER_STATUS_READY, L"Ready"};
}

DeviceCallResult CallDevice(HANDLE hDevice, DWORD dwCode, void* pOut, DWORD cbOut,
                            DWORD& cbReturned, DWORD dwWaitMs) {
    cbReturned = 0;
    std::unique_ptr<DeviceCall> call(new (std::nothrow) DeviceCall);
    if (!call)
        return DeviceCallResult::Failed;
    call->hEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!call->hEvent)
        return DeviceCallResult::Failed;
    try {
        call->buffer.assign(cbOut, 0);
    } catch (const std::bad_alloc&) {
        return DeviceCallResult::Failed;
    }
    call->ov.hEvent = call->hEvent.get();
    const UsbDeviceIoApi& api = CurrentUsbDeviceIoApi();
    DWORD cb = 0;
    if (api.DeviceIoControl(hDevice, dwCode, nullptr, 0, call->buffer.data(), cbOut, &cb,
                            &call->ov)) {
        // Answered at once: the count is the call's (or the overlapped's).
        if (cb == 0)
            GetOverlappedResult(hDevice, &call->ov, &cb, FALSE);
    } else {
        if (GetLastError() != ERROR_IO_PENDING)
            return DeviceCallResult::Failed;
        if (WaitForSingleObject(call->hEvent.get(), dwWaitMs) != WAIT_OBJECT_0) {
            api.CancelIoEx(hDevice, &call->ov);
            if (WaitForSingleObject(call->hEvent.get(), kCancelWaitMs) != WAIT_OBJECT_0) {
                // The device may still write into the call: leave it be.
                call.release();
                return DeviceCallResult::Stuck;
            }
            return DeviceCallResult::Failed;
        }
        if (!GetOverlappedResult(hDevice, &call->ov, &cb, FALSE))
            return DeviceCallResult::Failed;
    }
    cbReturned = std::min(cb, cbOut);
    if (pOut)
        memcpy(pOut, call->buffer.data(), cbReturned);
    return DeviceCallResult::Done;
}

UsbPrinterWord AskLptStatus(HANDLE hDevice, DWORD dwWaitMs, DeviceCallResult& result) {
    BYTE status = 0;
    DWORD cb = 0;
    result = CallDevice(hDevice, kIoctlUsbPrintGetLptStatus, &status, 1, cb, dwWaitMs);
    if (result != DeviceCallResult::Done || cb < 1)
        return {PRINTER_STATUS_NOT_ANSWERING, L"Not answering"};
    return MapLptStatus(status);
}

bool ParseDeviceId(const BYTE* pData, DWORD cbData, std::string& strId) {
    strId.clear();
    if (!pData || cbData < 2)
        return false;
    const DWORD big = (static_cast<DWORD>(pData[0]) << 8) | pData[1];
    const DWORD little = (static_cast<DWORD>(pData[1]) << 8) | pData[0];
    auto possible = [cbData](DWORD n) { return n >= 2 && n <= cbData; };
    DWORD n;
    if (possible(big))
        n = big;
    else if (possible(little))
        n = little;
    else
        return false;
    const char* text = reinterpret_cast<const char*>(pData + 2);
    // Some devices count a terminating zero, or pad: the text ends there.
    strId.assign(text, strnlen(text, n - 2));
    return true;
}

std::string DeviceIdValue(const std::string& strId, const char* pszKey, const char* pszLongKey) {
    size_t at = 0;
    while (at < strId.size()) {
        size_t end = strId.find(';', at);
        if (end == std::string::npos)
            end = strId.size();
        const std::string pair = strId.substr(at, end - at);
        const size_t colon = pair.find(':');
        if (colon != std::string::npos) {
            const std::string key = Trim(pair.substr(0, colon));
            if (SameKey(key, pszKey) || (pszLongKey && SameKey(key, pszLongKey)))
                return Trim(pair.substr(colon + 1));
        }
        at = end + 1;
    }
    return std::string();
}

std::string DeviceIdName(const std::string& strId) {
    const std::string maker = DeviceIdValue(strId, "MFG", "MANUFACTURER");
    const std::string model = DeviceIdValue(strId, "MDL", "MODEL");
    if (maker.empty() || StartsWithNoCase(model, maker))
        return model;
    if (model.empty())
        return maker;
    return maker + " " + model;
}

std::string ReadDeviceId(HANDLE hDevice, DWORD dwWaitMs) {
    std::vector<BYTE> buffer(kDeviceIdBufferMax);
    DWORD cb = 0;
    std::string id;
    if (CallDevice(hDevice, kIoctlUsbPrintGet1284Id, buffer.data(), kDeviceIdBufferMax, cb,
                   dwWaitMs) != DeviceCallResult::Done)
        return id;
    ParseDeviceId(buffer.data(), cb, id);
    return id;
}
