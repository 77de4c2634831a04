// Helpers for the pipe component's tests: configuration documents written
// by hand, an owned BSTR, and a free loopback port with nothing listening.
#pragma once

#include <winsock2.h>
#include <windows.h>
#include <oleauto.h>

#include <string>

class Bstr {
public:
    explicit Bstr(const std::wstring& text)
        : m_b(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(m_b); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return m_b; }

private:
    BSTR m_b;
};

inline std::wstring Widen(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

// A document in the form the IP pipe printer writes, for any port, with
// optional extra elements inside the section. Its printer's state is asked
// on the standard port, udp 161 of the address, where the worker tests'
// agent may answer "paused": a test that means that takes the ctest
// resource lock snmp161.
inline std::wstring ProgramTcpDocument(int nPort, const std::wstring& extra = L"",
                                       const std::wstring& address = L"127.0.0.1") {
    return L"<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings><IP-Address t=\"s\">" + address +
           L"</IP-Address><Port t=\"i4\">" + std::to_wstring(nPort) +
           L"</Port><USB t=\"b\">0</USB><Comms_Method t=\"s\">TCP</Comms_Method><USBPort "
           L"t=\"s\"></USBPort>" +
           extra + L"</IP-Settings></VizudoRuduvav>";
}

inline u_short UnusedLoopbackPort();

// The same for every other test: unless extra names an SnmpPort, the state
// is asked on a port where nothing answers (a stalled write then fails
// after the send time, as without a printer state).
inline std::wstring TcpDocument(int nPort, const std::wstring& extra = L"",
                                const std::wstring& address = L"127.0.0.1") {
    static const u_short quiet = UnusedLoopbackPort();
    if (extra.find(L"<SnmpPort") != std::wstring::npos)
        return ProgramTcpDocument(nPort, extra, address);
    return ProgramTcpDocument(
        nPort, extra + L"<SnmpPort t=\"i4\">" + std::to_wstring(quiet) + L"</SnmpPort>", address);
}

// A document in the form the USB pipe printer writes.
inline std::wstring UsbDocument(const std::wstring& usbPort, const std::wstring& serial,
                                const std::wstring& extra = L"") {
    return L"<?xml version=\"1.0\"?><VizudoRuduvav><IP-Settings><IP-Address "
           L"t=\"s\">0.0.0.0</IP-Address><Port t=\"i4\">9100</Port><USB t=\"b\">1</USB>"
           L"<Comms_Method t=\"s\">USB</Comms_Method><USBPort t=\"s\">" +
           usbPort +
           L"</USBPort><USBPrinterName t=\"s\">Desk</USBPrinterName><USBPrinterSN t=\"s\">" +
           serial + L"</USBPrinterSN>" + extra + L"</IP-Settings></VizudoRuduvav>";
}

// A loopback port that nothing listens on (bound once, then released).
inline u_short UnusedLoopbackPort() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int cb = sizeof(addr);
    bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &cb);
    closesocket(s);
    WSACleanup();
    return ntohs(addr.sin_port);
}
