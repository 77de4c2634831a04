// A USB printer's own word: the status byte and the 1284 device ID, decoded
// as tables, and the bounded device call against a stand-in device.
#include "framework/UniqueHandle.h"
#include "printers/UsbPrinterIo.h"
#include "support/FakeUsbDevice.h"
#include "support/TempFiles.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(UsbStatusByte, MapsTheParallelPortLines) {
    const struct {
        BYTE status;
        PrinterStatusCode code;
        const wchar_t* text;
    } rows[] = {
        {0x18, PRINTER_STATUS_READY, L"Ready"},
        {0xD8, PRINTER_STATUS_READY, L"Ready"}, // busy and acknowledge lines change nothing
        {0x38, PRINTER_STATUS_PAUSED, L"Paper out"},
        {0x30, PRINTER_STATUS_PAUSED, L"Paper out"}, // paper first, before the error
        {0x28, PRINTER_STATUS_PAUSED, L"Paper out"}, // ... and before offline
        {0x08, PRINTER_STATUS_PAUSED, L"Offline"},
        {0x10, PRINTER_STATUS_READY, L"Printer error"},
        {0x00, PRINTER_STATUS_NOT_ANSWERING, L"Not answering"},
        {0xFF, PRINTER_STATUS_NOT_ANSWERING, L"Not answering"},
    };
    for (const auto& row : rows) {
        const UsbPrinterWord word = MapLptStatus(row.status);
        EXPECT_EQ(word.code, row.code) << std::hex << int(row.status);
        EXPECT_STREQ(word.pszText, row.text) << std::hex << int(row.status);
    }
}

TEST(UsbDeviceId, LengthPrefixInEitherOrderAndMakerAndModel) {
    const std::string body = "MFG:Acme;CMD:ZPL;MDL:L-200;";
    const char n = static_cast<char>(body.size() + 2);
    const struct {
        std::string bytes;
        bool ok;
        std::string id;
    } rows[] = {
        {std::string("\0", 1) + n + body, true, body},                 // most significant first
        {std::string(1, n) + std::string("\0", 1) + body, true, body}, // least significant first
        {std::string("\0", 1) + n + body + std::string(10, '\0'), true, body}, // padded
        {std::string("\0\x05", 2) + body, true, "MFG"}, // the length cuts the text
        {std::string("\x7f\x7f", 2) + body, false, ""}, // no order gives a possible length
        {std::string("\0", 1), false, ""},
    };
    for (const auto& row : rows) {
        std::string id;
        EXPECT_EQ(ParseDeviceId(reinterpret_cast<const BYTE*>(row.bytes.data()),
                                static_cast<DWORD>(row.bytes.size()), id),
                  row.ok)
            << row.id;
        EXPECT_EQ(id, row.id);
    }

    const struct {
        const char* id;
        const char* name;
    } names[] = {
        {"MFG:Acme;MDL:L-200;", "Acme L-200"},
        {"MANUFACTURER: Acme ;MODEL:L-200", "Acme L-200"},
        {"mfg:Acme;mdl:Acme L-200;", "Acme L-200"}, // the model names the maker already
        {"MDL:L-200;", "L-200"},
        {"MFG:Acme;", "Acme"},
        {"CMD:ZPL;", ""},
        {"", ""},
    };
    for (const auto& row : names)
        EXPECT_EQ(DeviceIdName(row.id), row.name) << row.id;
}

TEST(UsbDeviceCall, EndsWithinItsWaitWhateverTheDeviceDoes) {
    TempFile file("morvane-usb-io.bin", "");
    UniqueFile device(CreateFileA(file.path(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
    ASSERT_TRUE(device);
    FakeUsbDevice fake;
    DeviceCallResult result;

    fake.SetStatus(0x38);
    EXPECT_STREQ(AskLptStatus(device.get(), 500, result).pszText, L"Paper out");
    EXPECT_EQ(result, DeviceCallResult::Done);

    fake.SetStatus(FakeUsbDevice::kRefuse);
    EXPECT_EQ(AskLptStatus(device.get(), 500, result).code, PRINTER_STATUS_NOT_ANSWERING);
    EXPECT_EQ(result, DeviceCallResult::Failed);

    // A call that never comes back, even when cancelled: given up on.
    fake.SetStatus(FakeUsbDevice::kHang);
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_EQ(AskLptStatus(device.get(), 300, result).code, PRINTER_STATUS_NOT_ANSWERING);
    EXPECT_EQ(result, DeviceCallResult::Stuck);
    EXPECT_LT(GetTickCount64() - t0, 2000u);

    const std::string body = "MFG:Acme;MDL:L-200;";
    fake.SetDeviceId(std::string(1, static_cast<char>(body.size() + 2)) + '\0' + body);
    EXPECT_EQ(DeviceIdName(ReadDeviceId(device.get(), 500)), "Acme L-200");
}

} // namespace
