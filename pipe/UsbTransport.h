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
// Threads: one at a time.
#pragma once

#include "framework/UniqueHandle.h"
#include "pipe/Transport.h"

#include <memory>
#include <string>

class CUsbTransport : public CTransport {
public:
    ~CUsbTransport() override;
    CUsbTransport(const CUsbTransport&) = delete;
    CUsbTransport& operator=(const CUsbTransport&) = delete;

    // Opens the path (UTF-8) for writing; it must exist already.
    static HRESULT OpenPath(const std::string& strPathUtf8, const PipeTimeouts& timeouts,
                            std::unique_ptr<CTransport>& pTransport);
    // Opens the attached printer with that serial number. No such printer
    // is HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED).
    static HRESULT OpenBySerialNumber(const std::string& strSerial, const PipeTimeouts& timeouts,
                                      std::unique_ptr<CTransport>& pTransport);

    HRESULT Write(const BYTE* pData, DWORD cbData) override;
    HRESULT Finish() override;
    void Abort() override;

private:
    explicit CUsbTransport(const PipeTimeouts& timeouts);

    PipeTimeouts m_timeouts;
    UniqueFile m_file;
    UniqueHandleNull m_hEvent;
    ULONGLONG m_nOffset = 0;
    HRESULT m_hrBroken = S_OK;
};

// The device interface path of the first attached USB printer whose serial
// number is strSerial (letter case ignored); empty when there is none.
std::string FindUsbPrinterPath(const std::string& strSerial);
