// The stored queue against Wine's real registry: it follows every change
// while the program runs, survives a process that dies without saving, and
// a store cut short at any single write reloads with every job whole.
#include "queue/JobList.h"
#include "support/RegistryFixture.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Row = std::tuple<std::string, std::string, int>; // name, path, copies
using Rows = std::vector<Row>;

// A list whose registry writes (values set or deleted) fail from the k-th
// on, as a process cut short there would leave them; Crash() drops it
// without the orderly save.
class CutList : public CJobList {
public:
    int m_nWrites = 0;
    int m_nFailAt = INT_MAX;

    void Crash() { ForgetWithoutSaving(); }

    BOOL WriteString(LPCSTR s, LPCSTR e, LPCSTR v, HKEY r) override {
        return Cut() ? FALSE : CJobList::WriteString(s, e, v, r);
    }
    BOOL WriteDWORD(LPCSTR s, LPCSTR e, DWORD v, HKEY r) override {
        return Cut() ? FALSE : CJobList::WriteDWORD(s, e, v, r);
    }
    BOOL WriteBinary(LPCSTR s, LPCSTR e, const void* p, DWORD cb, HKEY r) override {
        return Cut() ? FALSE : CJobList::WriteBinary(s, e, p, cb, r);
    }
    BOOL DeleteValue(LPCSTR s, LPCSTR e, HKEY r) override {
        return Cut() ? FALSE : CJobList::DeleteValue(s, e, r);
    }

private:
    bool Cut() { return ++m_nWrites >= m_nFailAt; }
};

Rows RowsOf(CJobList& list) {
    Rows out;
    for (int i = 0; i < list.GetCount(); ++i) {
        CQueuedJob* j = list.GetAt(i);
        out.emplace_back(j->GetName().GetString(), j->GetPath().GetString(), j->m_nCopies);
    }
    return out;
}

// What a program started now finds. The list is dropped without saving, so
// the store is left as it was found.
Rows Reload() {
    CutList list;
    Rows rows = RowsOf(list);
    list.Crash();
    return rows;
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
    CJobList probe;
    EXPECT_STREQ(probe.ReadString("Job_List", "Job0_Name", "", HKEY_LOCAL_MACHINE), "b");
    EXPECT_STREQ(probe.ReadString("Job_List", "Job1_Path", "", HKEY_LOCAL_MACHINE), "C:\\c.prn");
    EXPECT_EQ(probe.ReadDWORD("Job_List", "Job1_Copies", 0, HKEY_LOCAL_MACHINE), 1u);
    EXPECT_STREQ(probe.ReadString("Job_List", "Job2_Name", "x", HKEY_LOCAL_MACHINE), "");
    EXPECT_STREQ(probe.ReadString("Job_List", "Job2_Path", "x", HKEY_LOCAL_MACHINE), "");
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
    CJobList probe;
    EXPECT_EQ(probe.GetCount(), 0);
    EXPECT_STREQ(probe.ReadString("Job_List", "Job0_Name", "x", HKEY_LOCAL_MACHINE), "");
    EXPECT_STREQ(probe.ReadString("Job_List", "Job0_Path", "x", HKEY_LOCAL_MACHINE), "");
    EXPECT_EQ(probe.ReadDWORD("Job_List", "Job0_Copies", 7, HKEY_LOCAL_MACHINE), 0u);
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
    Crashed();
    SetRawValue("Job_List", "Q999", REG_SZ, "junk", 5);
    const BYTE shortRecord[6] = {1, 0, 0, 0, 0, 0};
    SetRawValue("Job_List", "Q1000", REG_BINARY, shortRecord, 6);
    {
        CJobList list;
        EXPECT_EQ(RowsOf(list), kABC);
        // A new job takes a slot no foreign value holds.
        list.Add(CQueuedJob("d", "C:\\d", 1));
    }
    EXPECT_EQ(Reload().size(), 4u);
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

} // namespace
