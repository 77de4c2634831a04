// The stored queue against Wine's real registry: it follows every change
// while the program runs, survives a process that dies without saving, and
// a store cut short at any single write reloads with every job whole.
#include "queue/JobList.h"
#include "queue/StoreRecord.h"
#include "settings/ProgramKey.h"
#include "support/RegistryFixture.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Row = std::tuple<std::string, std::string, int>; // name, path, copies
using Rows = std::vector<Row>;

// What a test does to the store's registry calls: writes (values set or
// deleted) fail from the k-th on, as a process cut short there would leave
// them, or only the k-th (m_bOnce); the walk of a key stops with a failure
// after m_nEnumStop values; m_pLog, when set, gets every write, delete and
// flush.
struct Cuts {
    int m_nWrites = 0;
    int m_nFailAt = INT_MAX;
    bool m_bOnce = false;
    int m_nEnumStop = -1;
    std::vector<std::string>* m_pLog = nullptr;
    // Every journal value written (its bytes) or deleted (none), in order.
    std::vector<std::pair<std::string, std::vector<BYTE>>>* m_pJournal = nullptr;
    // Values read by name, and walks of a key.
    int m_nReads = 0;
    int m_nWalks = 0;
};

class CutRegistry : public CQueueRegistry {
public:
    explicit CutRegistry(Cuts& cuts)
        : CQueueRegistry((std::string(kProgramKeyPath) + "\\Job_List").c_str()), m_cuts(cuts) {}

    bool Write(Place place, const char* name, DWORD type, const void* p, DWORD cb) override {
        Log("write ", name);
        if (m_cuts.m_pJournal && name[0] == 'Q' && type == REG_BINARY)
            m_cuts.m_pJournal->emplace_back(
                name,
                std::vector<BYTE>(static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + cb));
        return !Cut() && CQueueRegistry::Write(place, name, type, p, cb);
    }
    bool Delete(Place place, const char* name) override {
        Log("delete ", name);
        if (m_cuts.m_pJournal && name[0] == 'Q')
            m_cuts.m_pJournal->emplace_back(name, std::vector<BYTE>());
        return !Cut() && CQueueRegistry::Delete(place, name);
    }
    bool Flush(Place place) override {
        Log("flush", "");
        return CQueueRegistry::Flush(place);
    }
    Got Read(Place place, const char* name, DWORD* pType, std::vector<BYTE>* pData) override {
        ++m_cuts.m_nReads;
        return CQueueRegistry::Read(place, name, pType, pData);
    }
    bool Enum(Place place, const Visit& visit) override {
        ++m_cuts.m_nWalks;
        if (m_cuts.m_nEnumStop < 0)
            return CQueueRegistry::Enum(place, visit);
        int seen = 0;
        CQueueRegistry::Enum(place, [&](const char* n, DWORD t, const BYTE* d, DWORD cb) {
            if (seen++ < m_cuts.m_nEnumStop)
                visit(n, t, d, cb);
        });
        return false;
    }

private:
    bool Cut() {
        ++m_cuts.m_nWrites;
        return m_cuts.m_bOnce ? m_cuts.m_nWrites == m_cuts.m_nFailAt
                              : m_cuts.m_nWrites >= m_cuts.m_nFailAt;
    }
    void Log(const char* what, const char* name) {
        if (m_cuts.m_pLog)
            m_cuts.m_pLog->push_back(std::string(what) + name);
    }
    Cuts& m_cuts;
};

// A list on a registry the test cuts (set before the list is made, the cuts
// reach its load); Crash() drops it without the orderly save.
class CutList : public Cuts, public CJobList {
public:
    CutList() : CJobList(std::make_unique<CutRegistry>(*this)) {}
    explicit CutList(const Cuts& preset)
        : Cuts(preset), CJobList(std::make_unique<CutRegistry>(*this)) {}

    void Crash() { ForgetWithoutSaving(); }
};

Rows RowsOf(CJobList& list) {
    Rows out;
    for (int i = 0; i < list.GetCount(); ++i) {
        CQueuedJob* j = list.GetAt(i);
        out.emplace_back(j->GetName().GetString(), j->GetPath().GetString(), j->m_nCopies);
    }
    return out;
}

// What a program started now finds; it writes nothing.
Rows Reload() {
    CJobList list(nullptr, CJobList::Access::ReadOnly);
    return RowsOf(list);
}

std::string Show(const Rows& rows) {
    std::string s;
    for (const Row& r : rows)
        s += "(" + std::get<0>(r) + "," + std::get<1>(r) + "," + std::to_string(std::get<2>(r)) +
             ")";
    return s;
}

const Rows kABC = {{"a", "C:\\a.prn", 3}, {"b", "C:\\b.prn", 2}, {"c", "C:\\c.prn", 1}};

void AddABC(CJobList& list) {
    for (const Row& r : kABC)
        list.Add(CQueuedJob(std::get<0>(r).c_str(), std::get<1>(r).c_str(), std::get<2>(r)));
}

// The queue a, b, c as an orderly close leaves it.
void ClosedInOrder() {
    CJobList list;
    AddABC(list);
}

// The queue a, b, c as a program that died after building it leaves it.
void Crashed() {
    CutList list;
    AddABC(list);
    list.Crash();
}

// Presets the store, makes the change on a list whose writes fail from the
// k-th on, for every k, and reloads: the queue is whole and either as it was
// or as the change makes it. Without a cut the reload shows the change.
void ExpectEveryCutWhole(const std::function<void()>& preset,
                         const std::function<void(CutList&)>& change, const Rows& after) {
    for (int k = 1;; ++k) {
        DeleteProgramKey();
        preset();
        Rows before;
        int writes;
        {
            CutList list;
            before = RowsOf(list);
            list.m_nWrites = 0;
            list.m_nFailAt = k;
            change(list);
            writes = list.m_nWrites;
            list.Crash();
        }
        const Rows found = Reload();
        if (writes < k) {
            // No write failed: the whole change must be there.
            EXPECT_EQ(found, after) << "found " << Show(found) << " expected " << Show(after);
            return;
        }
        EXPECT_TRUE(found == before || found == after)
            << "cut at write " << k << " of " << writes << ": " << Show(found) << " is neither "
            << Show(before) << " nor " << Show(after);
        ASSERT_LT(k, 500) << "the change never stops writing";
    }
}

// The names of the values in the queue's key, in the order they sort.
std::vector<std::string> StoredNames() {
    const ProgramKey h("Job_List");
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof(name);
        if (RegEnumValueA(h, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, cch);
    }
    std::sort(names.begin(), names.end());
    return names;
}

using JobStoreTest = RegistryTest;

struct Change {
    const char* what;
    std::function<void(CutList&)> change;
    Rows after;
};

std::vector<Change> Changes() {
    const Row d{"d", "C:\\d.prn", 4};
    auto addD = [](CutList& l, int at) { l.InsertAt(CQueuedJob("d", "C:\\d.prn", 4), at); };
    return {
        {"add at the end", [=](CutList& l) { addD(l, 3); }, {kABC[0], kABC[1], kABC[2], d}},
        {"insert at the head", [=](CutList& l) { addD(l, 0); }, {d, kABC[0], kABC[1], kABC[2]}},
        {"insert in the middle", [=](CutList& l) { addD(l, 2); }, {kABC[0], kABC[1], d, kABC[2]}},
        {"remove the head", [](CutList& l) { l.RemoveIdleAt(0); }, {kABC[1], kABC[2]}},
        {"remove in the middle", [](CutList& l) { l.RemoveAt(1); }, {kABC[0], kABC[2]}},
        {"move up", [](CutList& l) { l.MoveIdle(2, -1); }, {kABC[0], kABC[2], kABC[1]}},
        {"move the head down", [](CutList& l) { l.MoveIdle(0, 1); }, {kABC[1], kABC[0], kABC[2]}},
        {"change copies",
         [](CutList& l) { l.SetCopiesIdleAt(1, 7); },
         {kABC[0], {"b", "C:\\b.prn", 7}, kABC[2]}},
        {"a copy sent",
         [](CutList& l) { l.RecordCopiesLeft(l.TakeHead(), 2); },
         {{"a", "C:\\a.prn", 2}, kABC[1], kABC[2]}},
        {"the last copy sent, job removed",
         [](CutList& l) {
             CQueuedJob* head = l.TakeHead();
             l.RecordCopiesLeft(head, 0);
             l.RemoveJob(head);
         },
         {kABC[1], kABC[2]}},
        {"orderly close after changes",
         [](CutList& l) {
             // The changes are stored whole; only the save is cut.
             const int k = l.m_nFailAt;
             l.m_nFailAt = INT_MAX;
             l.RemoveAt(0);
             l.Add(CQueuedJob("d", "C:\\d.prn", 4));
             l.m_nWrites = 0;
             l.m_nFailAt = k;
             l.Save();
         },
         {kABC[1], kABC[2], d}},
    };
}

TEST_F(JobStoreTest, EveryChangeIsStoredAtOnceAndACutLeavesJobsWhole) {
    for (const auto& preset :
         {std::function<void()>(ClosedInOrder), std::function<void()>(Crashed)}) {
        for (const Change& c : Changes()) {
            SCOPED_TRACE(c.what);
            ExpectEveryCutWhole(preset, c.change, c.after);
        }
    }
}

TEST_F(JobStoreTest, AnOrderlySaveCutAnywhereMixesNoJobs) {
    // The indexed form is rewritten in place; a save cut short must bring
    // back neither a finished job nor a name with another job's path.
    auto preset = [] {
        CJobList list;
        for (int i = 0; i < 5; ++i) {
            const std::string n = "job" + std::to_string(i);
            list.Add(CQueuedJob(n.c_str(), ("C:\\" + n).c_str(), i + 1));
        }
    };
    auto change = [](CutList& l) {
        // Three finished at the head, two new ones behind.
        l.m_nFailAt = INT_MAX;
        for (int i = 0; i < 3; ++i)
            l.RemoveAt(0);
        l.Add(CQueuedJob("new1", "C:\\new1", 1));
        l.Add(CQueuedJob("new2", "C:\\new2", 2));
    };
    const Rows after = {{"job3", "C:\\job3", 4},
                        {"job4", "C:\\job4", 5},
                        {"new1", "C:\\new1", 1},
                        {"new2", "C:\\new2", 2}};
    for (int k = 1;; ++k) {
        DeleteProgramKey();
        preset();
        int writes;
        {
            CutList list;
            change(list);
            list.m_nWrites = 0;
            list.m_nFailAt = k;
            list.Save();
            writes = list.m_nWrites;
            list.Crash();
        }
        EXPECT_EQ(Reload(), after) << "save cut at write " << k;
        if (writes < k)
            break;
        ASSERT_LT(k, 500);
    }
}

TEST_F(JobStoreTest, InsertsAtOnePlaceKeepTheOrderThroughRenumbering) {
    // Each insert halves the room between two neighbours until the list
    // renumbers; a cut anywhere in that keeps the stored order.
    Rows expected = {{"first", "C:\\f", 1}, {"last", "C:\\l", 1}};
    auto preset = [&expected] {
        CJobList list;
        for (const Row& r : expected)
            list.Add(CQueuedJob(std::get<0>(r).c_str(), std::get<1>(r).c_str(), 1));
    };
    for (int round = 0; round < 20; ++round) {
        const std::string name = "mid" + std::to_string(round);
        Rows after = expected;
        after.insert(after.end() - 1, Row{name, "C:\\" + name, 1});
        SCOPED_TRACE(name);
        ExpectEveryCutWhole(
            preset,
            [&](CutList& l) {
                l.InsertAt(CQueuedJob(name.c_str(), ("C:\\" + name).c_str(), 1), l.GetCount() - 1);
            },
            after);
        expected = after;
    }
    EXPECT_EQ(Reload().size(), 22u);
}

TEST_F(JobStoreTest, TheIndexedFormIsWrittenAtCloseAndWinsAfterIt) {
    {
        CJobList list;
        AddABC(list);
        list.RemoveAt(0);
    }
    // What an older version of the program reads.
    CJobList probe(nullptr, CJobList::Access::ReadOnly);
    SettingsReader stored;
    EXPECT_STREQ(stored.ReadString("Job_List", "Job0_Name", "", HKEY_LOCAL_MACHINE), "b");
    EXPECT_STREQ(stored.ReadString("Job_List", "Job1_Path", "", HKEY_LOCAL_MACHINE), "C:\\c.prn");
    EXPECT_EQ(stored.ReadDWORD("Job_List", "Job1_Copies", 0, HKEY_LOCAL_MACHINE), 1u);
    EXPECT_STREQ(stored.ReadString("Job_List", "Job2_Name", "x", HKEY_LOCAL_MACHINE), "");
    EXPECT_STREQ(stored.ReadString("Job_List", "Job2_Path", "x", HKEY_LOCAL_MACHINE), "");
}

// An empty queue, whether it never held a job or was emptied, is stored as
// the end entry alone (and the markers): no job's entry, no record.
TEST_F(JobStoreTest, AnEmptyQueueSavesOnlyTheEndEntry) {
    const std::vector<std::string> kEndEntryOnly = {"Job0_Copies", "Job0_Name", "Job0_Path",
                                                    "QueueIndex", "QueueStore"};
    { CJobList never; }
    EXPECT_EQ(StoredNames(), kEndEntryOnly);

    DeleteProgramKey();
    {
        CJobList emptied;
        AddABC(emptied);
        while (emptied.GetCount() > 0)
            emptied.RemoveAt(0);
    }
    EXPECT_EQ(StoredNames(), kEndEntryOnly);
    CJobList probe(nullptr, CJobList::Access::ReadOnly);
    EXPECT_EQ(probe.GetCount(), 0);
    SettingsReader stored;
    EXPECT_STREQ(stored.ReadString("Job_List", "Job0_Name", "x", HKEY_LOCAL_MACHINE), "");
    EXPECT_STREQ(stored.ReadString("Job_List", "Job0_Path", "x", HKEY_LOCAL_MACHINE), "");
    EXPECT_EQ(stored.ReadDWORD("Job_List", "Job0_Copies", 7, HKEY_LOCAL_MACHINE), 0u);
}

// The key's time of last write as within one clock tick: it does not move
// between the close and the next start.
class SameTickRegistry : public CQueueRegistry {
public:
    SameTickRegistry() : CQueueRegistry((std::string(kProgramKeyPath) + "\\Job_List").c_str()) {}
    bool Stamp(Place place, unsigned long long* pTime, unsigned long long* pShape) override {
        *pTime = 1;
        unsigned long long time;
        return CQueueRegistry::Stamp(place, &time, pShape);
    }
};

TEST_F(JobStoreTest, AnOlderVersionsJobAddedInTheTickOfTheCloseIsLoaded) {
    {
        CJobList list(std::make_unique<SameTickRegistry>());
        AddABC(list);
    }
    // An older version saved one job more before the key's time moved on.
    SetRawValue("Job_List", "Job3_Name", REG_SZ, "d", 2);
    SetRawValue("Job_List", "Job3_Path", REG_SZ, "C:\\d.prn", 9);
    const DWORD one = 1, zero = 0;
    SetRawValue("Job_List", "Job3_Copies", REG_DWORD, &one, 4);
    SetRawValue("Job_List", "Job4_Name", REG_SZ, "", 1);
    SetRawValue("Job_List", "Job4_Path", REG_SZ, "", 1);
    SetRawValue("Job_List", "Job4_Copies", REG_DWORD, &zero, 4);
    CJobList list(std::make_unique<SameTickRegistry>(), CJobList::Access::ReadOnly);
    Rows expected = kABC;
    expected.emplace_back("d", "C:\\d.prn", 1);
    EXPECT_EQ(RowsOf(list), expected);
}

TEST_F(JobStoreTest, AnOlderVersionsChangesAfterACloseAreLoaded) {
    ClosedInOrder();
    // An older version ran in between: it printed a and b and saved one job.
    SetRawValue("Job_List", "Job0_Name", REG_SZ, "c", 2);
    SetRawValue("Job_List", "Job0_Path", REG_SZ, "C:\\c.prn", 9);
    const DWORD one = 1;
    SetRawValue("Job_List", "Job0_Copies", REG_DWORD, &one, 4);
    SetRawValue("Job_List", "Job1_Name", REG_SZ, "", 1);
    SetRawValue("Job_List", "Job1_Path", REG_SZ, "", 1);
    const DWORD zero = 0;
    SetRawValue("Job_List", "Job1_Copies", REG_DWORD, &zero, 4);
    EXPECT_EQ(Reload(), (Rows{kABC[2]}));
    // Loading it brought the live store in line: a crash now keeps it.
    {
        CutList list;
        EXPECT_EQ(RowsOf(list), (Rows{kABC[2]}));
        list.Crash();
    }
    EXPECT_EQ(Reload(), (Rows{kABC[2]}));
}

TEST_F(JobStoreTest, AQueueOfTheIndexedFormAloneLoadsAndIsKeptFromThenOn) {
    // As an older version leaves it: holes and a value of a foreign type.
    SetRawValue("Job_List", "Job0_Name", REG_SZ, "a", 2);
    SetRawValue("Job_List", "Job0_Path", REG_SZ, "C:\\a", 5);
    const BYTE two[2] = {2, 0};
    SetRawValue("Job_List", "Job0_Copies", REG_BINARY, two, 2);
    SetRawValue("Job_List", "Job3_Name", REG_SZ, "d", 2);
    SetRawValue("Job_List", "Job3_Path", REG_SZ, "C:\\d", 5);
    SetRawValue("Job_List", "Job3_Copies", REG_SZ, "4", 2);
    SetRawValue("Job_List", "Job4_Name", REG_SZ, "", 1);
    SetRawValue("Job_List", "Job4_Path", REG_SZ, "", 1);
    const Rows loaded = {{"a", "C:\\a", 2}, {"d", "C:\\d", 4}};
    {
        CutList list;
        EXPECT_EQ(RowsOf(list), loaded);
        list.RemoveAt(0);
        list.Crash();
    }
    EXPECT_EQ(Reload(), (Rows{{"d", "C:\\d", 4}}));
}

// Stored counts outside 1 to 100000 (missing, a QWORD, text, 0, -1, too
// many) load as held jobs: never taken by the worker, not released by
// Start, kept in the store, and free again once the count is corrected.
TEST_F(JobStoreTest, CopiesOutOfRangeLoadAsHeldJobs) {
    const ULONGLONG qword = 3;
    const DWORD zero = 0, minus = 0xFFFFFFFF, many = 100001, ok = 2;
    const struct {
        DWORD type;
        const void* data;
        DWORD cb;
    } counts[] = {{REG_NONE, nullptr, 0}, {REG_QWORD, &qword, 8}, {REG_SZ, "lots", 5},
                  {REG_DWORD, &zero, 4},  {REG_DWORD, &minus, 4}, {REG_DWORD, &many, 4},
                  {REG_DWORD, &ok, 4}};
    const int n = static_cast<int>(std::size(counts));
    for (int i = 0; i < n; ++i) {
        const std::string job = "Job" + std::to_string(i);
        const std::string name = "j" + std::to_string(i);
        SetRawValue("Job_List", (job + "_Name").c_str(), REG_SZ, name.c_str(), 3);
        SetRawValue("Job_List", (job + "_Path").c_str(), REG_SZ, "C:\\j", 5);
        if (counts[i].data)
            SetRawValue("Job_List", (job + "_Copies").c_str(), counts[i].type, counts[i].data,
                        counts[i].cb);
    }
    const std::string end = "Job" + std::to_string(n);
    SetRawValue("Job_List", (end + "_Name").c_str(), REG_SZ, "", 1);
    SetRawValue("Job_List", (end + "_Path").c_str(), REG_SZ, "", 1);
    CJobList list;
    ASSERT_EQ(list.GetCount(), n);
    for (int i = 0; i + 1 < n; ++i)
        EXPECT_STREQ(list.GetAt(i)->GetStatus(), "Held: copies out of range") << i;
    list.ReleaseHolds();
    CQueuedJob* pTaken = list.TakeHead();
    ASSERT_EQ(pTaken, list.GetAt(n - 1));
    EXPECT_EQ(pTaken->m_nCopies, 2);
    ASSERT_TRUE(list.RemoveJob(pTaken)); // as the worker does after its copies
    EXPECT_EQ(list.TakeHead(), nullptr);
    ASSERT_TRUE(list.SetCopiesIdleAt(3, 4));
    EXPECT_EQ(list.TakeHead(), list.GetAt(3));
    EXPECT_EQ(list.GetCount(), n - 1);       // none dropped
    EXPECT_TRUE(list.SetCopiesIdleAt(0, 0)); // the window's own check refuses this first
    EXPECT_STREQ(list.GetAt(0)->GetStatus(), "Held: copies out of range");
}

TEST_F(JobStoreTest, FinishedJobsNeverComeBackAfterACrash) {
    // The queue empties while the program runs, then it dies: the indexed
    // form of the last close still lists a, b and c.
    ClosedInOrder();
    {
        CutList list;
        while (CQueuedJob* head = list.TakeHead()) {
            for (int left = head->m_nCopies - 1; left >= 0; --left)
                list.RecordCopiesLeft(head, left);
            list.RemoveJob(head);
        }
        list.Crash();
    }
    EXPECT_EQ(Reload(), Rows{});
}

TEST_F(JobStoreTest, AJournalThatMissedAWriteIsMendedAtTheNextStart) {
    ClosedInOrder();
    {
        CutList list;
        // The record of the finished job a cannot be deleted this time.
        list.m_nWrites = 0;
        list.m_nFailAt = 1;
        list.RemoveAt(0);
        list.m_nFailAt = INT_MAX;
    } // closed in order
    {
        CutList list;
        EXPECT_EQ(RowsOf(list), (Rows{kABC[1], kABC[2]}));
        list.RemoveAt(0);
        list.Crash();
    }
    EXPECT_EQ(Reload(), (Rows{kABC[2]}));
}

TEST_F(JobStoreTest, ForeignJournalValuesAreSkipped) {
    Crashed(); // a, b and c in Q1 to Q3: the journal is read back
    // No record at the slots a new job would take next.
    SetRawValue("Job_List", "Q4", REG_SZ, "junk", 5);
    const BYTE shortRecord[6] = {1, 0, 0, 0, 0, 0};
    SetRawValue("Job_List", "Q5", REG_BINARY, shortRecord, 6);
    {
        CutList list;
        EXPECT_EQ(RowsOf(list), kABC);
        list.Add(CQueuedJob("d", "C:\\d", 1));
        list.Crash();
    }
    EXPECT_EQ(Reload(), (Rows{kABC[0], kABC[1], kABC[2], {"d", "C:\\d", 1}}));
}

// A foreign value at the last slot pushes the next slot to the limit for
// the run; the orderly close takes the slots back to just above the jobs'.
TEST_F(JobStoreTest, AForeignValueAtTheLastSlotIsForgottenAtTheClose) {
    Crashed(); // a, b and c in Q1 to Q3: the journal is read back
    SetRawValue("Job_List", "Q999999999999", REG_SZ, "junk", 5);
    {
        CutList list;
        list.Add(CQueuedJob("d", "C:\\d", 1));
    }
    std::vector<BYTE> index(4096);
    DWORD cb = static_cast<DWORD>(index.size());
    ASSERT_EQ(
        RegQueryValueExA(ProgramKey("Job_List"), "QueueIndex", nullptr, nullptr, index.data(), &cb),
        ERROR_SUCCESS);
    QueueRecord::Index decoded;
    ASSERT_TRUE(QueueRecord::DecodeIndex(index.data(), cb, &decoded));
    EXPECT_LT(decoded.nextSlot, 10u);
    EXPECT_EQ(Reload(), (Rows{kABC[0], kABC[1], kABC[2], {"d", "C:\\d", 1}}));
}

TEST_F(JobStoreTest, IdentitiesInTheQueueStayUniqueWhenTheCounterWraps) {
    CJobList list;
    list.Add(CQueuedJob("kept", "C:\\kept", 1));
    const CString keptID = list.GetAt(0)->GetID();
    // Draw identities until the counter comes round to the kept job's.
    for (int i = 0; i < 40000; ++i) {
        CQueuedJob probe("probe", "p");
        if (probe.GetID() == keptID)
            break;
    }
    // The next identity drawn is the one after keptID's; go round once more
    // minus one so the new job's own identity is keptID.
    for (int i = 0; i < 36609; ++i)
        CQueuedJob("probe", "p");
    const CQueuedJob clash("clash", "C:\\clash", 1);
    ASSERT_STREQ(clash.GetID(), keptID);
    list.Add(clash);
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_STRNE(list.GetAt(1)->GetID(), keptID);
    EXPECT_EQ(list.FindByID(keptID), list.GetAt(0));
    EXPECT_EQ(list.FindByID(list.GetAt(1)->GetID()), list.GetAt(1));
    // Once the kept job has gone its identity may be used again.
    list.RemoveAt(0);
    EXPECT_EQ(list.FindByID(keptID), nullptr);
}

// Stored values set around the code under test.
void SetRecord(const char* value, long long key, const Row& row) {
    QueueRecord::Record rec;
    rec.key = key;
    rec.name = std::get<0>(row);
    rec.path = std::get<1>(row);
    rec.copies = std::get<2>(row);
    const std::vector<BYTE> bytes = QueueRecord::Encode(rec);
    SetRawValue("Job_List", value, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
}

void SetMarker(DWORD marker) {
    SetRawValue("Job_List", "QueueStore", REG_DWORD, &marker, 4);
}

// The old form as an older version writes it.
void SetOldForm(const Rows& rows) {
    int i = 0;
    auto put = [&](const std::string& name, const std::string& path, DWORD copies) {
        const std::string n = "Job" + std::to_string(i);
        SetRawValue("Job_List", (n + "_Name").c_str(), REG_SZ, name.c_str(),
                    static_cast<DWORD>(name.size() + 1));
        SetRawValue("Job_List", (n + "_Path").c_str(), REG_SZ, path.c_str(),
                    static_cast<DWORD>(path.size() + 1));
        SetRawValue("Job_List", (n + "_Copies").c_str(), REG_DWORD, &copies, 4);
        ++i;
    };
    for (const Row& r : rows)
        put(std::get<0>(r), std::get<1>(r), static_cast<DWORD>(std::get<2>(r)));
    put("", "", 0);
}

LONG RefuseMachineWrites(LPCSTR, REGSAM access) {
    return (access & KEY_SET_VALUE) ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

const Row kD{"d", "C:\\d.prn", 4};

TEST_F(JobStoreTest, ACutOrAFailedWriteWhileLoadingLeavesTheQueueWhole) {
    const Rows older = {kABC[2], {"n", "C:\\n.prn", 5}};
    struct Case {
        const char* what;
        std::function<void()> preset;
        bool refuseMachine;
        Rows rows;
    };
    const Case cases[] = {
        {"an older version rewrote the old form",
         [&] {
             ClosedInOrder();
             SetOldForm(older);
         },
         false, older},
        {"a standard user's first start after a close", ClosedInOrder, true, kABC},
        {"a standard user's first start after a crash", Crashed, true, kABC},
        {"a per-user key that a cut move left empty",
         [] {
             ClosedInOrder();
             HKEY h = nullptr;
             ASSERT_EQ(RegCreateKeyExA(
                           HKEY_CURRENT_USER, (std::string(kProgramKeyPath) + "\\Job_List").c_str(),
                           0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &h, nullptr),
                       ERROR_SUCCESS);
             RegCloseKey(h);
         },
         true, kABC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // From the k-th write on (a cut), or the k-th alone (then a change).
        for (const bool once : {false, true}) {
            for (int k = 1;; ++k) {
                CRegistrySettings::SetMachineOpenHook(nullptr);
                DeleteProgramKey();
                c.preset();
                if (c.refuseMachine)
                    CRegistrySettings::SetMachineOpenHook(RefuseMachineWrites);
                Cuts cuts;
                cuts.m_nFailAt = k;
                cuts.m_bOnce = once;
                int writes;
                Rows expected = c.rows;
                {
                    CutList list(cuts);
                    EXPECT_EQ(RowsOf(list), c.rows);
                    writes = list.m_nWrites;
                    list.m_nFailAt = INT_MAX;
                    if (once) {
                        list.Add(CQueuedJob("d", "C:\\d.prn", 4));
                        expected.push_back(kD);
                    }
                    list.Crash();
                }
                EXPECT_EQ(Reload(), expected) << (once ? "write " : "cut at write ") << k;
                if (writes < k)
                    break;
                ASSERT_LT(k, 500);
            }
        }
    }
}

TEST_F(JobStoreTest, ACopySentAndAFinishedJobAreOnDiskBeforeTheNextCopy) {
    ClosedInOrder(); // a, with 3 copies, in Q1
    std::vector<std::string> log;
    CutList list;
    list.m_pLog = &log;
    CQueuedJob* head = list.TakeHead();
    const struct {
        int left;
        std::vector<std::string> calls;
    } steps[] = {
        {2, {"write Q1", "flush"}},
        {1, {"write Q1", "flush"}},
        {0, {"delete Q1", "flush"}},
    };
    for (const auto& step : steps) {
        log.clear();
        list.RecordCopiesLeft(head, step.left);
        EXPECT_EQ(log, step.calls) << step.left << " left";
    }
    log.clear();
    list.RemoveJob(head);
    EXPECT_EQ(log, std::vector<std::string>{});
}

TEST_F(JobStoreTest, AnOlderVersionRunAfterOurCrashWins) {
    ClosedInOrder();
    {
        CutList list;
        list.SetCopiesIdleAt(1, 7);
        list.Crash();
    }
    // Without an older version in between, the journal holds.
    EXPECT_EQ(Reload(), (Rows{kABC[0], {"b", "C:\\b.prn", 7}, kABC[2]}));
    SetOldForm({kABC[2]});
    EXPECT_EQ(Reload(), (Rows{kABC[2]}));
}

TEST_F(JobStoreTest, AChangeAfterAMidRunSaveSurvivesACrash) {
    // As at log-off: the store is closed in order while the program runs.
    for (const Change& c : Changes()) {
        if (std::string(c.what).find("close") != std::string::npos)
            continue;
        SCOPED_TRACE(c.what);
        DeleteProgramKey();
        ClosedInOrder();
        {
            CutList list;
            ASSERT_TRUE(list.Save());
            c.change(list);
            list.Crash();
        }
        EXPECT_EQ(Reload(), c.after);
    }
}

TEST_F(JobStoreTest, HostileOrDamagedStoredDataLosesNoJob) {
    const Row x{"x", "C:\\x.prn", 1};
    const Row e{"e", "C:\\e.prn", 1};
    auto add = [](CutList& l, const Row& r) {
        l.Add(CQueuedJob(std::get<0>(r).c_str(), std::get<1>(r).c_str(), std::get<2>(r)));
    };
    struct Case {
        const char* what;
        std::function<void()> preset;
        Rows loaded;
        std::function<void(CutList&)> change;
        bool crash; // else closed in order
        Rows after;
    };
    const Case cases[] = {
        {"a slot name at the top of the range pins no slot",
         [&] {
             Crashed();
             SetRecord("Q18446744073709551615", 1LL << 40, x);
         },
         kABC,
         [&](CutList& l) { add(l, kD), add(l, e); },
         true,
         {kABC[0], kABC[1], kABC[2], kD, e}},
        {"a slot name just below the limit leaves new jobs a slot each",
         [&] {
             Crashed();
             SetRecord("Q999999999999", 1LL << 40, x);
         },
         {kABC[0], kABC[1], kABC[2], x},
         [&](CutList& l) { add(l, kD), add(l, e); },
         true,
         {kABC[0], kABC[1], kABC[2], x, kD, e}},
        {"a slot name with a leading zero is no slot",
         [&] {
             Crashed();
             SetRecord("Q01", 1LL << 40, x);
             SetRecord("Q0", 1LL << 41, x);
         },
         kABC,
         [&](CutList& l) { add(l, kD); },
         true,
         {kABC[0], kABC[1], kABC[2], kD}},
        {"a record with empty name and path is dropped",
         [&] {
             Crashed();
             SetRecord("Q9", 1, Row{"", "", 1});
         },
         kABC, [](CutList&) {}, false, kABC},
        {"a job with empty name and path is not saved as the end", ClosedInOrder, kABC,
         [](CutList& l) { l.InsertAt(CQueuedJob("", "", 1), 1); }, false, kABC},
        {"keys at the ends of the range",
         [&] {
             SetRecord("Q1", LLONG_MIN, kABC[0]);
             SetRecord("Q2", LLONG_MAX, kABC[1]);
             SetMarker(2);
         },
         {kABC[0], kABC[1]},
         [&](CutList& l) {
             l.InsertAt(CQueuedJob("d", "C:\\d.prn", 4), 1);
             add(l, e);
             l.InsertAt(CQueuedJob("x", "C:\\x.prn", 1), 0);
         },
         true,
         {x, kABC[0], kD, kABC[1], e}},
        {"equal keys keep the order of their slots",
         [&] {
             SetRecord("Q7", 5, kABC[1]);
             SetRecord("Q3", 5, kABC[0]);
             SetMarker(2);
         },
         {kABC[0], kABC[1]},
         [&](CutList& l) { l.InsertAt(CQueuedJob("d", "C:\\d.prn", 4), 1); },
         true,
         {kABC[0], kD, kABC[1]}},
        {"a delete that failed is done at the next change",
         ClosedInOrder,
         kABC,
         [&](CutList& l) {
             l.m_nWrites = 0;
             l.m_nFailAt = 1;
             l.m_bOnce = true;
             l.RemoveAt(0);
             add(l, kD);
         },
         true,
         {kABC[1], kABC[2], kD}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteProgramKey();
        c.preset();
        {
            CutList list;
            EXPECT_EQ(RowsOf(list), c.loaded);
            c.change(list);
            if (c.crash)
                list.Crash();
        }
        EXPECT_EQ(Reload(), c.after) << Show(Reload());
    }
}

TEST_F(JobStoreTest, AFailedReadOrDeleteIsNeverMadePermanent) {
    // The walk of the journal fails after one value: what was read loads,
    // and the close makes nothing of the rest permanent.
    Crashed();
    {
        Cuts cuts;
        cuts.m_nEnumStop = 1;
        CutList list(cuts);
        EXPECT_LT(list.GetCount(), 3);
        list.Add(CQueuedJob("d", "C:\\d.prn", 4));
    }
    // Every job is there; where d stands among the jobs that were not read
    // no one can say.
    Rows found = Reload();
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (Rows{kABC[0], kABC[1], kABC[2], kD}));

    // A delete that failed is done at the close.
    DeleteProgramKey();
    ClosedInOrder();
    {
        CutList list;
        list.m_nWrites = 0;
        list.m_nFailAt = 1;
        list.m_bOnce = true;
        list.RemoveAt(0);
    }
    const std::vector<std::string> names = StoredNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "Q1"), 0);
    EXPECT_EQ(Reload(), (Rows{kABC[1], kABC[2]}));
}

// The journal's records by value name, read around the code under test.
std::map<std::string, QueueRecord::Record> StoredJournal() {
    std::map<std::string, QueueRecord::Record> out;
    const ProgramKey h("Job_List");
    char name[256];
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof(name), cb = static_cast<DWORD>(data.size()), type = 0;
        if (RegEnumValueA(h, i, name, &cch, nullptr, &type, data.data(), &cb) != ERROR_SUCCESS)
            break;
        QueueRecord::Record rec;
        if (name[0] == 'Q' && QueueRecord::Decode(data.data(), cb, &rec))
            out[name] = rec;
    }
    return out;
}

// The names in the order a start reads the journal.
std::vector<std::string> JournalOrder(const std::map<std::string, QueueRecord::Record>& journal) {
    std::vector<std::pair<std::pair<long long, unsigned long long>, std::string>> keyed;
    for (const auto& it : journal) {
        unsigned long long slot = 0;
        QueueRecord::ParseSlotName(it.first.c_str(), &slot);
        keyed.push_back({{it.second.key, slot}, it.second.name});
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::string> names;
    for (const auto& k : keyed)
        names.push_back(k.second);
    return names;
}

TEST_F(JobStoreTest, ChainedInsertsRenumberAWindowAndACutAtEveryWriteKeepsTheOrder) {
    // "+" inserts behind the selection and selects the new job: each insert
    // halves the same gap.
    const int kJobs = 1000, kInserts = 200;
    std::vector<std::string> order;
    {
        CJobList list;
        for (int i = 0; i < kJobs; ++i) {
            order.push_back("j" + std::to_string(i));
            list.Add(CQueuedJob(order.back().c_str(), "C:\\j.prn", 1));
        }
    }
    std::map<std::string, QueueRecord::Record> journal = StoredJournal();
    std::vector<std::pair<std::string, std::vector<BYTE>>> writes;
    CutList list;
    list.m_pJournal = &writes;
    list.m_nWrites = 0;
    for (int t = 0; t < kInserts; ++t) {
        const std::vector<std::string> before = order;
        const std::string name = "n" + std::to_string(t);
        order.insert(order.begin() + t + 1, name);
        writes.clear();
        list.InsertAt(CQueuedJob(name.c_str(), "C:\\n.prn", 1), t + 1);
        // A start after a cut behind any of these writes finds the order as
        // it was or as it is now.
        for (const auto& w : writes) {
            QueueRecord::Record rec;
            if (w.second.empty())
                journal.erase(w.first);
            else if (QueueRecord::Decode(w.second.data(), w.second.size(), &rec))
                journal[w.first] = rec;
            const std::vector<std::string> found = JournalOrder(journal);
            ASSERT_TRUE(found == before || found == order) << "insert " << t << " at " << w.first;
        }
        ASSERT_EQ(JournalOrder(journal), order) << "insert " << t;
    }
    EXPECT_LE(list.m_nWrites, 600);
    list.Crash();
    Rows expected;
    for (const std::string& n : order)
        expected.emplace_back(n, n[0] == 'j' ? "C:\\j.prn" : "C:\\n.prn", 1);
    EXPECT_EQ(Reload(), expected);
}

TEST_F(JobStoreTest, AStartAfterAnOrderlyCloseReadsAHandfulOfValues) {
    Rows rows;
    {
        CJobList list;
        for (int i = 0; i < 2000; ++i) {
            rows.emplace_back("job" + std::to_string(i), "C:\\jobs\\" + std::to_string(i),
                              1 + i % 3);
            list.Add(CQueuedJob(std::get<0>(rows.back()).c_str(), std::get<1>(rows.back()).c_str(),
                                std::get<2>(rows.back())));
        }
    }
    CutList list;
    EXPECT_EQ(RowsOf(list), rows);
    EXPECT_LE(list.m_nReads, 8);
    EXPECT_EQ(list.m_nWalks, 0);
    // The snapshot's slots and keys are the journal's: a change after it
    // survives a crash.
    list.RemoveAt(0);
    list.Crash();
    rows.erase(rows.begin());
    EXPECT_EQ(Reload(), rows);
}

} // namespace
