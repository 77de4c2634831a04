// The program as a user runs it: Morvane.exe started as its own process on
// a display, with a queue and the raw print queue of the test services
// preset in the registry. The test finds the window by its caption, presses
// Start and Close through window messages, and checks what the printer's
// port received and what the program saved.
//
// ProgramResources reads the program's file only. The rest needs the
// services of scripts/services.sh: MORVANE_CUPS_QUEUE,
// MORVANE_CAPTURE_DIR and DISPLAY in the environment. The TCP case listens
// on 127.0.0.1:9100 and needs the pipe component registered in the prefix.
// MORVANE_EXE_UNDER_TEST (a Windows or Unix path) names another program to
// run, such as an installed one; by default the one built beside the test.
#include "ProgramUnderTest.h"
#include "queue/JobList.h"
#include "settings/FailureSetup.h"
#include "settings/SpoolerSetup.h"
#include "support/LoopbackListener.h"
#include "support/RandomBytes.h"
#include "support/RegistryFixture.h"
#include "support/TempFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace program_under_test;

const int IDC_JOB_LIST = 1005;
const int IDC_START_STOP = 1008;

// The program and the printer's port are other processes: asked less often.
const DWORD kPollMs = 50;

// Each run has payloads of its own (a run must not count the documents an
// earlier run left at the printer), drawn from a seed that the run prints;
// MORVANE_TEST_SEED repeats a run's payloads.
unsigned PayloadSeed() {
    static const unsigned seed = [] {
        const char* p = getenv("MORVANE_TEST_SEED");
        const unsigned s = p && *p ? static_cast<unsigned>(strtoul(p, nullptr, 10))
                                   : static_cast<unsigned>(GetTickCount() ^ GetCurrentProcessId());
        printf("payload seed %u (MORVANE_TEST_SEED=%u repeats this run)\n", s, s);
        return s;
    }();
    return seed;
}

std::string Payload(size_t n) {
    static unsigned calls = 0;
    const std::vector<char> bytes = RandomBytes(n, PayloadSeed() + calls++);
    return std::string(bytes.begin(), bytes.end());
}

// What the printer's port received so far: finished connections (.bin)
// and connections still open (.part).
struct Capture {
    std::vector<std::string> finished;
    int open = 0;
};

Capture ReadCapture(const std::string& dir) {
    Capture c;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\job-*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return c;
    do {
        const std::string name = fd.cFileName;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bin") == 0)
            c.finished.push_back(ReadFileBytes(dir + "\\" + name));
        else
            ++c.open;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return c;
}

// Copies of the payload received whole, and anything that begins like it
// but is not all of it.
void CountCopies(const std::string& dir, const std::string& payload, int& whole, int& partial) {
    whole = partial = 0;
    for (const std::string& data : ReadCapture(dir).finished) {
        if (data == payload)
            ++whole;
        else if (!data.empty() && payload.compare(0, std::min(payload.size(), data.size()), data, 0,
                                                  std::min(payload.size(), data.size())) == 0)
            ++partial;
    }
}

class BlackBoxTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        m_queue = Env("MORVANE_CUPS_QUEUE");
        m_captureDir = Env("MORVANE_CAPTURE_DIR");
        ASSERT_FALSE(m_queue.empty() || m_captureDir.empty() || Env("DISPLAY").empty())
            << "MORVANE_CUPS_QUEUE, MORVANE_CAPTURE_DIR and DISPLAY must be set: start the "
               "services with scripts/services.sh start DIR and source DIR/env (scripts/test.sh "
               "does this)";
        m_captureDir = WindowsPath(m_captureDir);
        m_jobFile = TempPath("morvane-blackbox.prn");

        CSpoolerSetup setup;
        setup.m_nSpoolerType = SPOOLER_WINDOWS;
        setup.m_strSpoolerName = m_queue.c_str();
        setup.Save();
    }
    void TearDown() override {
        if (m_process.hProcess) {
            if (WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(m_process.hProcess, 1);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
        }
        DeleteFileA(m_jobFile.c_str());
        RegistryTest::TearDown();
    }

    void StartProgram() { StartProgram("Tolvar Morvane - " + m_queue); }
    void StartProgram(const std::string& caption) {
        const std::string exe = ProgramPath();
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        std::string cmd = "\"" + exe + "\"";
        ASSERT_TRUE(CreateProcessA(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &si, &m_process))
            << exe << " could not be started (" << GetLastError() << ")";
        ASSERT_TRUE(
            WaitFor([&] { return (m_hWnd = FindWindowA("#32770", caption.c_str())) != nullptr; },
                    30000, kPollMs))
            << "no window captioned \"" << caption << "\"";
    }
    int RowCount() {
        DWORD_PTR n = 0;
        SendMessageTimeoutA(GetDlgItem(m_hWnd, IDC_JOB_LIST), LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG,
                            2000, &n);
        return static_cast<int>(n);
    }
    std::string ButtonText(int nID) {
        char buf[64] = "";
        DWORD_PTR r = 0;
        SendMessageTimeoutA(GetDlgItem(m_hWnd, nID), WM_GETTEXT, sizeof(buf),
                            reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &r);
        return buf;
    }
    void Press(int nID) {
        PostMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(m_hWnd, nID)));
    }
    // The user closes the window; the process must end by itself.
    void CloseProgram() {
        Press(IDOK);
        const DWORD wait = WaitForSingleObject(m_process.hProcess, 30000);
        ASSERT_EQ(wait, WAIT_OBJECT_0) << "the program did not end after its window was closed";
    }
    // Waits until the port has had no new or open connection for a while.
    void WaitForPortToSettle() {
        size_t last = static_cast<size_t>(-1);
        int quiet = 0;
        WaitFor(
            [&] {
                const Capture c = ReadCapture(m_captureDir);
                const size_t now = c.finished.size();
                quiet = (now == last && c.open == 0) ? quiet + 1 : 0;
                last = now;
                return quiet >= 60;
            },
            120000, kPollMs);
    }

    std::string m_queue, m_captureDir, m_jobFile;
    PROCESS_INFORMATION m_process{};
    HWND m_hWnd = nullptr;
};

// What the program carries, read from its file without running it: the
// window's, the about box's and the setup dialog's templates, the system
// menu's strings and the registry key's name (the settings read the key
// path from it), the icon, and a manifest asking for version 6 of the
// common controls. Each comes from another module's resource file, so a
// build change can drop one without any other test noticing.
TEST(ProgramResources, TemplatesStringsIconAndManifestAreAllThere) {
    const std::string path = ProgramPath();
    HMODULE h = LoadLibraryExA(path.c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(h, nullptr) << path;
    for (int id : {100, 102, 133})
        EXPECT_NE(FindResourceA(h, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5)), nullptr)
            << "dialog " << id; // RT_DIALOG
    const std::pair<UINT, const char*> strings[] = {
        {101, "&About Morvane..."}, {102, "Tolvar Morvane"}, {2000, "Setup S&pooler..."}};
    for (const auto& [id, text] : strings) {
        char buf[64] = "";
        LoadStringA(h, id, buf, sizeof(buf));
        EXPECT_STREQ(buf, text) << "string " << id;
    }
    EXPECT_NE(FindResourceA(h, MAKEINTRESOURCEA(128), MAKEINTRESOURCEA(14)), nullptr)
        << "icon 128";                                                             // RT_GROUP_ICON
    HRSRC hManifest = FindResourceA(h, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
    ASSERT_NE(hManifest, nullptr);
    const char* p = static_cast<const char*>(LockResource(LoadResource(h, hManifest)));
    ASSERT_NE(p, nullptr);
    const std::string manifest(p, SizeofResource(h, hManifest));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    FreeLibrary(h);
}

TEST_F(BlackBoxTest, StartSpoolsEveryCopyByteForByteAndCloseSavesAnEmptyQueue) {
    const std::string payload = Payload(200000);
    ASSERT_TRUE(WriteFileBytes(m_jobFile, payload));
    {
        CJobList list;
        list.Add(CQueuedJob("blackbox.prn", m_jobFile.c_str(), 3));
    }
    StartProgram();
    ASSERT_EQ(RowCount(), 1);
    EXPECT_EQ(ButtonText(IDC_START_STOP), "&Start");
    Press(IDC_START_STOP);
    ASSERT_TRUE(WaitFor([&] { return RowCount() == 0; }, 120000, kPollMs))
        << "the queue was not spooled";
    EXPECT_EQ(ButtonText(IDC_START_STOP), "S&top");

    int whole = 0, partial = 0;
    EXPECT_TRUE(WaitFor(
        [&] {
            CountCopies(m_captureDir, payload, whole, partial);
            return whole >= 3;
        },
        120000, kPollMs));
    EXPECT_EQ(whole, 3);
    EXPECT_EQ(partial, 0);

    CloseProgram();
    CJobList saved(nullptr, CJobList::Access::ReadOnly);
    EXPECT_EQ(saved.GetCount(), 0);
}

TEST_F(BlackBoxTest, ClosingDuringALongJobSavesItWithItsUnsentCopies) {
    const int kCopies = 400;
    const std::string payload = Payload(300000);
    ASSERT_TRUE(WriteFileBytes(m_jobFile, payload));
    {
        CJobList list;
        list.Add(CQueuedJob("long.prn", m_jobFile.c_str(), kCopies));
    }
    StartProgram();
    Press(IDC_START_STOP);
    int whole = 0, partial = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            CountCopies(m_captureDir, payload, whole, partial);
            return whole >= 1;
        },
        120000, kPollMs))
        << "no copy reached the printer";
    CloseProgram();

    WaitForPortToSettle();
    CountCopies(m_captureDir, payload, whole, partial);
    EXPECT_EQ(partial, 0) << "a truncated document was printed";
    ASSERT_LT(whole, kCopies) << "the job finished before the window was closed";

    CJobList saved(nullptr, CJobList::Access::ReadOnly);
    ASSERT_EQ(saved.GetCount(), 1);
    CQueuedJob* pJob = saved.GetAt(0);
    EXPECT_STREQ(pJob->m_strName, "long.prn");
    // Every copy not received is kept. The copy being handed over when the
    // window closed may have reached the printer whole and still be kept:
    // printed once more next time, never lost.
    EXPECT_GE(pJob->m_nCopies, kCopies - whole);
    EXPECT_LE(pJob->m_nCopies, kCopies - whole + 1);
}

TEST_F(BlackBoxTest, NetworkPrinterReceivesEachCopyAsItsOwnConnection) {
    LoopbackListener printer(9100);
    ASSERT_TRUE(printer.ok()) << "nothing can listen on 127.0.0.1:9100";
    {
        CSpoolerSetup setup;
        setup.m_nSpoolerType = SPOOLER_IP;
        setup.m_dwIPAddress = 0x7F000001;
        setup.Save();
    }
    const std::string payload = Payload(150000);
    ASSERT_TRUE(WriteFileBytes(m_jobFile, payload));
    {
        CJobList list;
        list.Add(CQueuedJob("tcp.prn", m_jobFile.c_str(), 2));
    }
    StartProgram("Tolvar Morvane - 127.0.0.1");
    ASSERT_EQ(RowCount(), 1);
    Press(IDC_START_STOP);
    ASSERT_TRUE(WaitFor([&] { return RowCount() == 0; }, 120000, kPollMs))
        << "the queue was not sent";
    ASSERT_TRUE(printer.WaitForConnections(2, 30000));
    CloseProgram();

    const std::vector<std::string> received = printer.Connections();
    ASSERT_EQ(received.size(), 2u);
    for (const std::string& data : received) {
        EXPECT_EQ(data.size(), payload.size());
        EXPECT_TRUE(data == payload) << "a copy arrived changed";
    }
    CJobList saved(nullptr, CJobList::Access::ReadOnly);
    EXPECT_EQ(saved.GetCount(), 0);
}

// With retry on and nobody at the screen: a job whose file is missing is
// held (it stays queued) and the next job goes on; the printer cannot be
// reached for 15 s, then can, and both copies of that job arrive whole,
// once each, without a box and without the queue stopping.
TEST_F(BlackBoxTest, RetryCarriesTheQueuePastAnAbsentPrinterAndHoldsAMissingFile) {
    {
        CSpoolerSetup setup;
        setup.m_nSpoolerType = SPOOLER_IP;
        setup.m_dwIPAddress = 0x7F000001;
        setup.Save();
        CFailureSetup failure;
        failure.m_bRetry = true;
        failure.Save();
    }
    const std::string payload = Payload(150000);
    ASSERT_TRUE(WriteFileBytes(m_jobFile, payload));
    const std::string gone = TempPath("morvane-blackbox-gone.prn");
    DeleteFileA(gone.c_str());
    {
        CJobList list;
        list.Add(CQueuedJob("gone.prn", gone.c_str(), 1));
        list.Add(CQueuedJob("tcp.prn", m_jobFile.c_str(), 2));
    }
    StartProgram("Tolvar Morvane - 127.0.0.1");
    Press(IDC_START_STOP);
    // Nothing listens on the printer's port for the first 15 s.
    const ULONGLONG start = GetTickCount64();
    WaitFor([&] { return GetTickCount64() - start >= 15000; }, 20000, kPollMs);
    LoopbackListener printer(9100);
    ASSERT_TRUE(printer.ok()) << "nothing can listen on 127.0.0.1:9100";
    ASSERT_TRUE(printer.WaitForConnections(2, 90000)) << "the copies were not tried again";
    ASSERT_TRUE(WaitFor([&] { return RowCount() == 1; }, 30000, kPollMs));
    EXPECT_EQ(ButtonText(IDC_START_STOP), "S&top");
    EXPECT_EQ(FindWindowA("#32770", "Morvane"), nullptr) << "a box stopped the queue";
    CloseProgram();

    const std::vector<std::string> received = printer.Connections();
    ASSERT_EQ(received.size(), 2u);
    for (const std::string& data : received)
        EXPECT_TRUE(data == payload) << "a copy arrived changed or cut short";
    CJobList saved(nullptr, CJobList::Access::ReadOnly);
    ASSERT_EQ(saved.GetCount(), 1);
    EXPECT_STREQ(saved.GetAt(0)->GetName(), "gone.prn");
}

// Queue data written by other hands: values of the wrong type, strings
// without their zero, numbers shorter than four bytes, a job missing from
// the middle and no end entry. The window shows every job it can read, and
// Close writes them all back in the program's own form.
TEST_F(BlackBoxTest, StoredQueueDataOfAnotherFormIsShownAndKept) {
    {
        CSpoolerSetup setup;
        setup.m_nSpoolerType = SPOOLER_NULL;
        setup.Save();
    }
    auto text = [](const char* section, const char* name, DWORD type, const std::string& value) {
        SetRawValue(section, name, type, value.data(), static_cast<DWORD>(value.size()));
    };
    const char* q = "Job_List";
    // Strings without their terminating zero; the copies as decimal text.
    text(q, "Job0_Name", REG_SZ, "plain.prn");
    text(q, "Job0_Path", REG_EXPAND_SZ, "C:\\jobs\\plain.prn");
    text(q, "Job0_Copies", REG_SZ, std::string("7", 2));
    // Job1 is missing altogether. Job2: the name as bytes, the copies in
    // two bytes.
    text(q, "Job2_Name", REG_BINARY, "binary.prn");
    text(q, "Job2_Path", REG_SZ, std::string("C:\\jobs\\binary.prn") + std::string(1, '\0'));
    text(q, "Job2_Copies", REG_BINARY, std::string("\x2C\x01", 2));
    // Job3: the copies in one byte, stored as a number.
    text(q, "Job3_Name", REG_SZ, "short.prn");
    text(q, "Job3_Path", REG_SZ, "C:\\jobs\\short.prn");
    text(q, "Job3_Copies", REG_DWORD, std::string("\x05", 1));

    StartProgram("Tolvar Morvane - Null");
    EXPECT_EQ(RowCount(), 3);
    CloseProgram();

    CJobList saved(nullptr, CJobList::Access::ReadOnly);
    ASSERT_EQ(saved.GetCount(), 3);
    const struct {
        const char* name;
        const char* path;
        int copies;
    } expected[] = {{"plain.prn", "C:\\jobs\\plain.prn", 7},
                    {"binary.prn", "C:\\jobs\\binary.prn", 300},
                    {"short.prn", "C:\\jobs\\short.prn", 5}};
    for (int i = 0; i < 3; ++i) {
        CQueuedJob* pJob = saved.GetAt(i);
        EXPECT_STREQ(pJob->m_strName, expected[i].name) << "job " << i;
        EXPECT_STREQ(pJob->m_strPath, expected[i].path) << "job " << i;
        EXPECT_EQ(pJob->m_nCopies, expected[i].copies) << "job " << i;
    }
    // Written back in the program's own form, in order, without the hole.
    const ProgramKey h(q);
    ASSERT_NE(static_cast<HKEY>(h), nullptr);
    DWORD type = 0, value = 0, cb = sizeof(value);
    EXPECT_EQ(
        RegQueryValueExA(h, "Job1_Copies", nullptr, &type, reinterpret_cast<BYTE*>(&value), &cb),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(value, 300u);
}

} // namespace
