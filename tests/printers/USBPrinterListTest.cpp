// USB printer discovery against the real device set-up interface of the
// test prefix: devices made by UsbPrinterDevices, the list rebuilt for each
// test.
#include "printers/USBPrinterList.h"
#include "support/UsbPrinterDevices.h"

#include <gtest/gtest.h>

#include <string>

namespace {

CUSBPrinterInfo* At(CPtrArray* list, int i) {
    return static_cast<CUSBPrinterInfo*>(list->GetAt(i));
}

class USBPrinterListTest : public ::testing::Test {
protected:
    void SetUp() override { ResetUSBPrinterListForTesting(); }
    void TearDown() override { ResetUSBPrinterListForTesting(); }
    UsbPrinterDevices devices;
};

TEST(SerialNumberFromDevicePath, CutsTheSegmentBeforeTheLastHash) {
    EXPECT_STREQ(SerialNumberFromDevicePath(
                     "\\\\?\\usb#vid_0a5f&pid_0001#abc123#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}"),
                 "ABC123");
    EXPECT_STREQ(SerialNumberFromDevicePath("no hash at all"), "");
    EXPECT_STREQ(SerialNumberFromDevicePath("only#one"), "ONLY");
    EXPECT_STREQ(SerialNumberFromDevicePath("a##b"), "");
    EXPECT_STREQ(SerialNumberFromDevicePath(""), "");
}

TEST(USBPrinterInfo, DisplayNameIsNameThenSerialInParentheses) {
    CUSBPrinterInfo info("Printer A", "X12");
    EXPECT_STREQ(info.GetName(), "Printer A");
    EXPECT_STREQ(info.GetSerialNumber(), "X12");
    EXPECT_STREQ(info.GetDisplayName(), "Printer A (X12)");
    EXPECT_STREQ(CUSBPrinterInfo("", "").GetDisplayName(), " ()");
}

TEST_F(USBPrinterListTest, NoPrinterGivesAnEmptyListAndNoMatch) {
    CPtrArray* list = GetUSBPrinterList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->GetSize(), 0);
    EXPECT_EQ(FindUSBPrinter(" ()"), nullptr);
    EXPECT_EQ(FindUSBPrinter(""), nullptr);
}

TEST_F(USBPrinterListTest, ListsPresentPrintersInEnumerationOrder) {
    ASSERT_FALSE(devices.Add("USB\\VID_0A5F&PID_0001\\ABC123", "Port_#0001.Hub_#0004").empty());
    ASSERT_FALSE(devices.Add("USB\\VID_04B8&PID_0202\\X12Y", "Printer A").empty());
    ASSERT_FALSE(devices.Add("USB\\VID_03F0&PID_0517\\NOLOC9", nullptr).empty());
    ASSERT_FALSE(devices.Add("USB\\VID_03F0&PID_0518\\EMPTY7", "").empty());

    const auto paths = UsbPrinterDevices::PresentPaths();
    ASSERT_EQ(paths.size(), 4u);
    EXPECT_EQ(paths.front().rfind("\\\\?\\usb#", 0), 0u) << paths.front();

    // The device without location information is left out; the others come
    // in the order setupapi lists them.
    CPtrArray* list = GetUSBPrinterList();
    std::vector<std::string> expected;
    for (const std::string& path : paths) {
        const CString serial = SerialNumberFromDevicePath(path.c_str());
        if (serial == "ABC123")
            expected.push_back("Port_#0001.Hub_#0004 (ABC123)");
        else if (serial == "X12Y")
            expected.push_back("Printer A (X12Y)");
        else if (serial == "EMPTY7")
            expected.push_back(" (EMPTY7)");
    }
    ASSERT_EQ(list->GetSize(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_STREQ(At(list, i)->GetDisplayName(), expected[static_cast<size_t>(i)].c_str());

    CUSBPrinterInfo* found = FindUSBPrinter("Port_#0001.Hub_#0004 (ABC123)");
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found->GetName(), "Port_#0001.Hub_#0004");
    EXPECT_STREQ(found->GetSerialNumber(), "ABC123");
    EXPECT_NE(FindUSBPrinter(" (EMPTY7)"), nullptr);

    // Exact text only: other letter case, a part or extra blanks find nothing.
    EXPECT_EQ(FindUSBPrinter("port_#0001.hub_#0004 (ABC123)"), nullptr);
    EXPECT_EQ(FindUSBPrinter("Printer A (x12y)"), nullptr);
    EXPECT_EQ(FindUSBPrinter("Printer A"), nullptr);
    EXPECT_EQ(FindUSBPrinter("Printer A (X12Y) "), nullptr);
    EXPECT_EQ(FindUSBPrinter(nullptr), nullptr);
    EXPECT_EQ(FindUSBPrinter(" (NOLOC9)"), nullptr);
}

// A printer with neither a location text nor a serial number in its path
// is still listed, as " ()", and found by that text.
TEST_F(USBPrinterListTest, PrinterWithoutNameAndSerialIsListedAsBlankParentheses) {
    // The instance id ends in "\\": the path's serial segment is empty.
    const std::string path = devices.Add("USB\\VID_03F0&PID_0519\\", "");
    ASSERT_FALSE(path.empty());
    ASSERT_STREQ(SerialNumberFromDevicePath(path.c_str()), "") << path;
    ASSERT_FALSE(devices.Add("USB\\VID_04B8&PID_0202\\X12Y", "Printer A").empty());
    CPtrArray* list = GetUSBPrinterList();
    ASSERT_EQ(list->GetSize(), 2);
    CUSBPrinterInfo* blank = FindUSBPrinter(" ()");
    ASSERT_NE(blank, nullptr);
    EXPECT_STREQ(blank->GetName(), "");
    EXPECT_STREQ(blank->GetSerialNumber(), "");
    EXPECT_TRUE(blank == At(list, 0) || blank == At(list, 1));
    EXPECT_NE(FindUSBPrinter("Printer A (X12Y)"), nullptr);
}

TEST_F(USBPrinterListTest, SameDisplayNameFindsTheFirstInListOrder) {
    ASSERT_FALSE(devices.Add("USB\\VID_0A5F&PID_0001\\ABC123", "Desk").empty());
    ASSERT_FALSE(devices.Add("USB\\VID_0A5F&PID_0002\\ABC123", "Desk").empty());
    CPtrArray* list = GetUSBPrinterList();
    ASSERT_EQ(list->GetSize(), 2);
    EXPECT_EQ(FindUSBPrinter("Desk (ABC123)"), At(list, 0));
}

TEST_F(USBPrinterListTest, LocationTooLongForTheBufferIsLeftOut) {
    const std::string longName(2100, 'L');
    ASSERT_FALSE(devices.Add("USB\\VID_1111&PID_0001\\LONGLOC", longName.c_str()).empty());
    ASSERT_FALSE(devices.Add("USB\\VID_04B8&PID_0202\\X12Y", "Printer A").empty());
    CPtrArray* list = GetUSBPrinterList();
    ASSERT_EQ(list->GetSize(), 1);
    EXPECT_STREQ(At(list, 0)->GetDisplayName(), "Printer A (X12Y)");
}

TEST_F(USBPrinterListTest, ListIsBuiltOnceAndKept) {
    ASSERT_FALSE(devices.Add("USB\\VID_04B8&PID_0202\\X12Y", "Printer A").empty());
    CPtrArray* first = GetUSBPrinterList();
    ASSERT_EQ(first->GetSize(), 1);
    CUSBPrinterInfo* record = At(first, 0);

    // A printer attached later is not seen, by either entry point.
    ASSERT_FALSE(devices.Add("USB\\VID_2222&PID_0001\\LATE1", "Late").empty());
    EXPECT_EQ(GetUSBPrinterList(), first);
    EXPECT_EQ(FindUSBPrinter("Late (LATE1)"), nullptr);
    EXPECT_EQ(first->GetSize(), 1);
    EXPECT_EQ(At(first, 0), record);
}

TEST_F(USBPrinterListTest, FindBuildsTheListOnFirstUse) {
    ASSERT_FALSE(devices.Add("USB\\VID_04B8&PID_0202\\X12Y", "Printer A").empty());
    CUSBPrinterInfo* found = FindUSBPrinter("Printer A (X12Y)");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(At(GetUSBPrinterList(), 0), found);
}

} // namespace
