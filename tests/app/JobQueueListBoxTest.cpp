// The job list box paints rows into a bitmap: the column texts, the grid,
// the highlight of a selected row, and nothing for a row whose job is gone.
#include "UiTestSupport.h"

#include "app/JobQueueListBox.h"
#include "framework/Dpi.h"
#include "framework/Sync.h"
#include "support/RegistryFixture.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <thread>

namespace {

const COLORREF kMarker = RGB(1, 2, 3);
const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kRowLine = RGB(200, 200, 200);
const COLORREF kColumnLine = RGB(128, 128, 128);

// A 32-bit bitmap selected into a memory context, filled with the marker.
class Canvas {
public:
    Canvas(int width, int height) : m_width(width), m_height(height) {
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
        bmi.bmiHeader.biWidth = width;
        bmi.bmiHeader.biHeight = -height;
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        m_hdc = CreateCompatibleDC(nullptr);
        m_hbm = CreateDIBSection(m_hdc, &bmi, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits),
                                 nullptr, 0);
        m_old = SelectObject(m_hdc, m_hbm);
        SelectObject(m_hdc, GetStockObject(DEFAULT_GUI_FONT));
        for (int i = 0; i < width * height; ++i)
            m_bits[i] = ToPixel(kMarker);
        SetBkColor(m_hdc, kWhite);
        SetTextColor(m_hdc, RGB(0, 0, 0));
    }
    ~Canvas() {
        SelectObject(m_hdc, m_old);
        DeleteObject(m_hbm);
        DeleteDC(m_hdc);
    }
    HDC Dc() const { return m_hdc; }
    COLORREF At(int x, int y) const {
        GdiFlush();
        const DWORD p = m_bits[y * m_width + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }
    // Pixels in [x0,x1) x [y0,y1) that are none of the given colours.
    int CountOther(int x0, int y0, int x1, int y1, std::initializer_list<COLORREF> colours) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const COLORREF c = At(x, y);
                bool known = false;
                for (COLORREF k : colours)
                    known = known || c == k;
                n += known ? 0 : 1;
            }
        return n;
    }
    bool AllMarker() const { return CountOther(0, 0, m_width, m_height, {kMarker}) == 0; }

private:
    static DWORD ToPixel(COLORREF c) {
        return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
    int m_width, m_height;
    HDC m_hdc = nullptr;
    HBITMAP m_hbm = nullptr;
    HGDIOBJ m_old = nullptr;
    DWORD* m_bits = nullptr;
};

class JobQueueListBoxTest : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        m_hParent = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 700, 200, nullptr, nullptr,
                                    nullptr, nullptr);
        ASSERT_NE(m_hParent, nullptr) << kNoDisplayMessage;
        HWND hList =
            CreateWindowExA(0, "LISTBOX", "", WS_CHILD | LBS_OWNERDRAWFIXED | LBS_NOTIFY, 0, 0, 600,
                            150, m_hParent, reinterpret_cast<HMENU>(1005), nullptr, nullptr);
        ASSERT_NE(hList, nullptr);
        m_box.Attach(hList);
        m_box.SetJobList(&m_jobs);
        m_jobs.Add(CQueuedJob("report", "C:\\spool\\report.prn", 12));
        m_jobs.Add(CQueuedJob("second", "C:\\b.prn", 3));
        for (int i = 0; i < m_jobs.GetCount(); ++i)
            m_box.AddJobRow(m_jobs.GetAt(i)->m_strID);
    }
    void TearDown() override {
        m_box.ResetRows();
        DestroyWindow(m_hParent);
        RegistryTest::TearDown();
    }
    DRAWITEMSTRUCT Item(int nRow, HDC hdc, RECT rc, UINT state = 0) {
        DRAWITEMSTRUCT dis{};
        dis.CtlType = ODT_LISTBOX;
        dis.CtlID = 1005;
        dis.itemID = static_cast<UINT>(nRow);
        dis.itemAction = ODA_DRAWENTIRE;
        dis.itemState = state;
        dis.hwndItem = m_box.m_hWnd;
        dis.hDC = hdc;
        dis.rcItem = rc;
        dis.itemData = m_box.GetItemData(nRow);
        return dis;
    }

    HWND m_hParent = nullptr;
    CJobList m_jobs;
    CJobQueueListBox m_box;
};

TEST_F(JobQueueListBoxTest, PaintsColumnsAndGridAtTheirPlaces) {
    Canvas canvas(400, 40);
    DRAWITEMSTRUCT dis = Item(0, canvas.Dc(), RECT{0, 10, 400, 30});
    m_box.DrawItem(&dis);

    // Grid: the row's last pixel line, three column lines from T-1 to B-1.
    for (int x : {0, 50, 200, 399})
        EXPECT_EQ(canvas.At(x, 29), kRowLine) << x;
    for (int x : {75, 400 - 151, 400 - 121})
        for (int y : {9, 10, 20, 28})
            EXPECT_EQ(canvas.At(x, y), kColumnLine) << x << "," << y;
    EXPECT_EQ(canvas.At(75, 8), kMarker);
    EXPECT_EQ(canvas.At(75, 30), kMarker);
    // Background: the DC's background colour over the whole row.
    EXPECT_EQ(canvas.At(0, 15), kWhite);
    EXPECT_EQ(canvas.At(74, 15), kWhite);
    EXPECT_EQ(canvas.At(76, 15), kWhite);

    // Text in name, path and copies; the idle job's status is empty.
    const std::initializer_list<COLORREF> plain = {kWhite, kRowLine, kColumnLine};
    EXPECT_GT(canvas.CountOther(1, 11, 73, 29, plain), 0);
    EXPECT_GT(canvas.CountOther(77, 11, 400 - 153, 29, plain), 0);
    EXPECT_GT(canvas.CountOther(400 - 149, 11, 400 - 123, 29, plain), 0);
    EXPECT_EQ(canvas.CountOther(400 - 119, 11, 399, 29, plain), 0);
    // Copies are right-aligned: "12" leaves the left of its column empty.
    EXPECT_EQ(canvas.CountOther(400 - 149, 11, 400 - 140, 29, plain), 0);
    // The DC's colours are as they were.
    EXPECT_EQ(GetBkColor(canvas.Dc()), kWhite);
    EXPECT_EQ(GetTextColor(canvas.Dc()), RGB(0, 0, 0));
}

TEST_F(JobQueueListBoxTest, BusyJobShowsItsProgressInTheStatusColumn) {
    {
        CQueuedJob* pJob = m_jobs.GetAt(0);
        CLock lock(pJob->m_Lock);
        pJob->m_strStatus = "Spooling 1 of 2   50%";
    }
    Canvas canvas(400, 40);
    DRAWITEMSTRUCT dis = Item(0, canvas.Dc(), RECT{0, 10, 400, 30});
    m_box.DrawItem(&dis);
    EXPECT_GT(canvas.CountOther(400 - 119, 11, 399, 29, {kWhite, kRowLine, kColumnLine}), 0);
}

TEST_F(JobQueueListBoxTest, SelectedRowUsesHighlightColoursWithoutFocusRectangle) {
    const COLORREF hl = GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF hlText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    Canvas canvas(400, 40);
    DRAWITEMSTRUCT dis = Item(1, canvas.Dc(), RECT{0, 10, 400, 30}, ODS_SELECTED | ODS_FOCUS);
    m_box.DrawItem(&dis);
    EXPECT_EQ(canvas.At(0, 15), hl);
    EXPECT_EQ(canvas.At(0, 10), hl);
    EXPECT_EQ(canvas.At(399, 15), hl);
    EXPECT_EQ(canvas.At(75, 15), kColumnLine);
    EXPECT_EQ(canvas.At(10, 29), kRowLine);
    // Text is drawn in the highlight text colour (anti-aliasing may add
    // blends, but some pixels are exactly that colour).
    int exact = 0;
    for (int y = 11; y < 29; ++y)
        for (int x = 1; x < 73; ++x)
            exact += canvas.At(x, y) == hlText ? 1 : 0;
    EXPECT_GT(exact, 0);
    EXPECT_EQ(GetBkColor(canvas.Dc()), kWhite);
    EXPECT_EQ(GetTextColor(canvas.Dc()), RGB(0, 0, 0));
}

TEST_F(JobQueueListBoxTest, RowWhoseJobIsGoneOrUnknownPaintsNothing) {
    Canvas canvas(400, 40);
    // The worker removed the job; the rows were not rebuilt yet.
    m_jobs.RemoveAt(0);
    DRAWITEMSTRUCT dis = Item(0, canvas.Dc(), RECT{0, 10, 400, 30}, ODS_SELECTED);
    m_box.DrawItem(&dis);
    EXPECT_TRUE(canvas.AllMarker());
    // A row value the list box did not make, and the empty list's focus item.
    dis = Item(1, canvas.Dc(), RECT{0, 10, 400, 30});
    dis.itemData = 0;
    m_box.DrawItem(&dis);
    dis.itemID = static_cast<UINT>(-1);
    m_box.DrawItem(&dis);
    EXPECT_TRUE(canvas.AllMarker());
}

TEST_F(JobQueueListBoxTest, WiderControlMovesCopiesAndStatusWithTheRightEdge) {
    Canvas canvas(600, 40);
    DRAWITEMSTRUCT dis = Item(0, canvas.Dc(), RECT{0, 10, 600, 30});
    m_box.DrawItem(&dis);
    EXPECT_EQ(canvas.At(75, 20), kColumnLine);
    EXPECT_EQ(canvas.At(600 - 151, 20), kColumnLine);
    EXPECT_EQ(canvas.At(600 - 121, 20), kColumnLine);
    EXPECT_EQ(canvas.At(400 - 151, 20), kWhite);
}

TEST_F(JobQueueListBoxTest, WithoutAJobListNothingIsPainted) {
    CJobQueueListBox empty;
    Canvas canvas(400, 40);
    DRAWITEMSTRUCT dis = Item(0, canvas.Dc(), RECT{0, 10, 400, 30});
    empty.DrawItem(&dis);
    EXPECT_TRUE(canvas.AllMarker());
}

// Waits (bounded) until another thread is blocked entering the lock.
bool WaitForWaiter(CSmallLock& lock) {
    return WaitFor([&] { return lock.Waiters() >= 1; }, 10000, 1);
}

TEST_F(JobQueueListBoxTest, JobCannotBeRemovedBetweenLookupAndCopyOfItsFields) {
    // The worker holds the job (writing its progress) while the window
    // paints its row. Until the painter has copied the fields, nobody may
    // take the job out of the list and release it under the painter.
    CQueuedJob* pJob = m_jobs.GetAt(0);
    pJob->m_Lock.Lock();
    pJob->m_strStatus = "Spooling 1 of 12   3%";

    // Made here: the row's data is asked of the control by message.
    Canvas canvas(400, 40);
    DRAWITEMSTRUCT dis = Item(0, canvas.Dc(), RECT{0, 10, 400, 30});
    std::atomic<bool> painted{false};
    std::thread painter([&] {
        m_box.DrawItem(&dis);
        painted = true;
    });
    const bool waited = WaitForWaiter(pJob->m_Lock);
    // The painter waits for the job: the list must be held meanwhile.
    const BOOL listFree = TryEnterCriticalSection(m_jobs.GetListLock().Get());
    if (listFree)
        LeaveCriticalSection(m_jobs.GetListLock().Get());
    pJob->m_Lock.Unlock();
    painter.join();
    EXPECT_TRUE(waited);
    EXPECT_FALSE(listFree) << "the list was free while a painter held a pointer to one of its jobs";
    EXPECT_TRUE(painted);
    // The row shows the progress it waited for.
    EXPECT_GT(canvas.CountOther(400 - 119, 11, 399, 29, {kWhite, kRowLine, kColumnLine}), 0);
}

TEST_F(JobQueueListBoxTest, AmpersandInANameIsShownAsTyped) {
    // Eight ampersands: as typed they take twice the room of the four a
    // mnemonic reading would leave.
    const char* kName = "&&&&&&&&";
    m_jobs.Add(CQueuedJob(kName, "C:\\a&b.prn", 1));
    const int nRow = m_box.AddJobRow(m_jobs.GetAt(m_jobs.GetCount() - 1)->m_strID);
    Canvas row(400, 40);
    DRAWITEMSTRUCT dis = Item(nRow, row.Dc(), RECT{0, 10, 400, 30});
    m_box.DrawItem(&dis);

    // The rightmost inked column of the name.
    auto inkRight = [](const Canvas& c) {
        int right = -1;
        for (int y = 11; y < 29; ++y)
            for (int x = 1; x < 73; ++x)
                if (c.At(x, y) != kWhite && c.At(x, y) != kMarker)
                    right = std::max(right, x);
        return right;
    };
    auto drawn = [](UINT extra) {
        auto canvas = std::make_unique<Canvas>(400, 40);
        RECT rcName{1, 11, 73, 29};
        FillRect(canvas->Dc(), &rcName, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        DrawTextA(canvas->Dc(), "&&&&&&&&", -1, &rcName, DT_SINGLELINE | DT_VCENTER | extra);
        return canvas;
    };
    const int typed = inkRight(*drawn(DT_NOPREFIX));
    const int mnemonic = inkRight(*drawn(0));
    ASSERT_GT(typed, mnemonic + 5) << "the two readings look alike; the test proves nothing";
    EXPECT_EQ(inkRight(row), typed) << "mnemonic reading ends at " << mnemonic;
}

// A waiting printer's word is read whole: the status takes room from the
// path, and copies keep their place beside it.
TEST_F(JobQueueListBoxTest, LongStatusIsShownWholeAndShortOnesKeepTheColumns) {
    {
        CQueuedJob* pJob = m_jobs.GetAt(0);
        CLock lock(pJob->m_Lock);
        pJob->m_strStatus = "Waiting for printer: Paper out";
    }
    Canvas canvas(500, 40);
    DRAWITEMSTRUCT dis = Item(0, canvas.Dc(), RECT{0, 10, 500, 30});
    m_box.DrawItem(&dis);
    SIZE size{};
    GetTextExtentPoint32A(canvas.Dc(), "Waiting for printer: Paper out", 30, &size);
    ASSERT_GT(size.cx, 118) << "the text fits anyway; the test proves nothing";
    // The rightmost ink of the row is the end of the text, inside the row.
    int right = -1;
    for (int y = 11; y < 29; ++y)
        for (int x = 0; x < 500; ++x)
            if (canvas.At(x, y) != kWhite && canvas.At(x, y) != kColumnLine &&
                canvas.At(x, y) != kRowLine)
                right = std::max(right, x);
    EXPECT_LT(right, 499);
    const int statusLeft = 500 - 119 - (size.cx + 2 - 118);
    // Nothing of the status is cut: it starts where its moved line says.
    EXPECT_EQ(canvas.At(statusLeft - 2, 20), kColumnLine);
    EXPECT_EQ(canvas.At(statusLeft - 2 - 30, 20), kColumnLine);
    EXPECT_GT(
        canvas.CountOther(statusLeft - 30, 11, statusLeft - 4, 29, {kWhite, kRowLine, kColumnLine}),
        0); // the copies, moved along

    // A text that fits leaves the columns where they always were.
    {
        CQueuedJob* pJob = m_jobs.GetAt(0);
        CLock lock(pJob->m_Lock);
        pJob->m_strStatus = "Spooling 1 of 2   5%";
    }
    Canvas plain(500, 40);
    dis = Item(0, plain.Dc(), RECT{0, 10, 500, 30});
    m_box.DrawItem(&dis);
    EXPECT_EQ(plain.At(500 - 121, 20), kColumnLine);
    EXPECT_EQ(plain.At(500 - 151, 20), kColumnLine);
}

// The columns at three scalings: every length laid out at 96 DPI grows
// with the DPI, the row's own edges stay where the row is, and a status
// shift still moves copies and status by the pixels it names.
TEST(JobRowLayoutTest, ColumnsScaleWithTheDpi) {
    // name right, path left and right, copies left and right, status left,
    // the three lines; then the row's own edges: name left, status right,
    // top and bottom.
    using Xs = std::array<LONG, 13>;
    const RECT row{0, 10, 900, 40};
    const struct {
        UINT dpi;
        LONG shift;
        Xs xs;
    } cases[] = {
        {96, 0, {73, 77, 747, 751, 777, 781, 75, 749, 779, 1, 899, 11, 39}},
        {120, 0, {91, 96, 709, 714, 746, 751, 94, 711, 749, 1, 899, 11, 39}},
        {144, 0, {110, 116, 670, 676, 715, 721, 113, 673, 718, 1, 899, 11, 39}},
        {144, 30, {110, 116, 640, 646, 685, 691, 113, 643, 688, 1, 899, 11, 39}},
    };
    for (const auto& c : cases) {
        const JobRowLayout l = LayoutJobRow(row, c.shift, c.dpi);
        const Xs got{l.name.right,       l.path.left,   l.path.right,   l.copies.left,
                     l.copies.right,     l.status.left, l.namePathLine, l.pathCopiesLine,
                     l.copiesStatusLine, l.name.left,   l.status.right, l.name.top,
                     l.status.bottom};
        EXPECT_EQ(got, c.xs) << c.dpi << " DPI, shift " << c.shift;
    }
    // The status column's room (118 at 96 DPI) and the path kept beside a
    // long status (40) scale too.
    EXPECT_EQ(StatusShift(116, row, 96), 0);
    EXPECT_EQ(StatusShift(150, row, 96), 34);
    EXPECT_EQ(StatusShift(150, row, 144), 0);
    EXPECT_EQ(StatusShift(200, row, 144), 25);
    EXPECT_EQ(StatusShift(2000, row, 144), 900 - 230 - 116 - 60);
    // Rounding to the nearest pixel, halves away from zero; 0 is unknown.
    EXPECT_EQ(ScaleToDpi(75, 120), 94);
    EXPECT_EQ(ScaleToDpi(-3, 144), -5);
    EXPECT_EQ(ScaleToDpi(73, 0), 73);
}

} // namespace
