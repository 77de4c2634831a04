// The queue: identities, ownership of copies, order, locking and the
// registry round trip (against Wine's real registry).
#include "framework/Exceptions.h"
#include "queue/JobList.h"
#include "support/RegistryFixture.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

int IdNumber(const CString& id) {
    int n = -1;
    EXPECT_EQ(sscanf(id, "QueuedJob ID%d", &n), 1) << id.GetString();
    return n;
}

std::vector<std::string> Names(CJobList& list) {
    std::vector<std::string> out;
    for (int i = 0; i < list.GetCount(); ++i)
        out.push_back(list.GetAt(i)->GetName().GetString());
    return out;
}

using JobListTest = RegistryTest;

TEST(QueuedJob, IdentitiesCountUpAndWrapAfter36609) {
    CQueuedJob first("a", "b");
    int n = IdNumber(first.GetID());
    // Every construction draws the next number; walk up to the end of the cycle.
    while (n != 36609) {
        CQueuedJob j("a", "b");
        const int next = IdNumber(j.GetID());
        ASSERT_EQ(next, n + 1);
        n = next;
    }
    CQueuedJob wrapped("a", "b");
    EXPECT_STREQ(wrapped.GetID(), "QueuedJob ID0");
    CQueuedJob after("a", "b");
    EXPECT_STREQ(after.GetID(), "QueuedJob ID1");
}

TEST(QueuedJob, NewJobIsIdleAndCopyKeepsEveryField) {
    CQueuedJob job("label", "C:\\jobs\\label.zpl", 3);
    EXPECT_STREQ(job.GetStatus(), "");
    EXPECT_FALSE(job.m_bBusy);
    EXPECT_EQ(job.m_nCopies, 3);
    job.m_strStatus = "Spooling 1 of 3   40%";
    job.m_bBusy = TRUE;

    const int before = IdNumber(CQueuedJob("x", "y").GetID());
    CQueuedJob copy(job);
    EXPECT_STREQ(copy.GetName(), "label");
    EXPECT_STREQ(copy.GetPath(), "C:\\jobs\\label.zpl");
    EXPECT_STREQ(copy.GetStatus(), "Spooling 1 of 3   40%");
    EXPECT_STREQ(copy.GetID(), job.GetID());
    EXPECT_EQ(copy.m_nCopies, 3);
    EXPECT_TRUE(copy.m_bBusy);
    // The copy drew (and dropped) one identity of its own.
    EXPECT_EQ(IdNumber(CQueuedJob("x", "y").GetID()), before + 2);
}

TEST_F(JobListTest, AddInsertFindAndRemove) {
    CJobList list;
    ASSERT_EQ(list.GetCount(), 0);
    CQueuedJob a("a", "pa", 1), b("b", "pb", 2), c("c", "pc", 3);
    list.Add(a);
    list.Add(b);
    list.Add(c);
    // The list stores copies that carry the caller's identity.
    EXPECT_NE(list.GetAt(0), &a);
    EXPECT_EQ(list.FindByID(b.GetID()), list.GetAt(1));
    EXPECT_EQ(list.GetAt(2)->m_nCopies, 3);

    CQueuedJob head("head", "ph"), tail("tail", "pt");
    list.InsertAt(head, 0);
    list.InsertAt(tail, list.GetCount());
    EXPECT_EQ(Names(list), (std::vector<std::string>{"head", "a", "b", "c", "tail"}));
    EXPECT_EQ(list.IndexOfID(b.GetID()), 2);
    EXPECT_EQ(list.IndexOfID(tail.GetID()), 4);

    EXPECT_EQ(list.FindByID(""), nullptr);
    EXPECT_EQ(list.IndexOfID(""), -1);
    CString upper = a.GetID();
    upper.MakeUpper();
    EXPECT_EQ(list.FindByID(upper), nullptr);
    EXPECT_EQ(list.IndexOfID(upper), -1);

    list.RemoveAt(0);
    list.RemoveAt(1);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "c", "tail"}));
    EXPECT_EQ(list.FindByID(b.GetID()), nullptr);
    EXPECT_EQ(list.IndexOfID(b.GetID()), -1);
    EXPECT_EQ(list.IndexOfID(c.GetID()), 1);
    // The caller's own jobs are untouched.
    EXPECT_STREQ(b.GetName(), "b");
}

TEST_F(JobListTest, BadIndexesRaiseAndChangeNothing) {
    CJobList list;
    CQueuedJob a("a", "pa");
    list.Add(a);
    EXPECT_THROW(list.RemoveAt(-1), CInvalidArgException);
    EXPECT_THROW(list.RemoveAt(1), CInvalidArgException);
    EXPECT_THROW(list.GetAt(1), CInvalidArgException);
    EXPECT_THROW(list.GetAt(-1), CInvalidArgException);
    EXPECT_THROW(list.InsertAt(a, 2), CInvalidArgException);
    EXPECT_THROW(list.InsertAt(a, -1), CInvalidArgException);
    EXPECT_EQ(list.GetCount(), 1);
}

TEST_F(JobListTest, WindowHelpersLeaveBusyAndStaleRowsAlone) {
    CJobList list;
    list.Add(CQueuedJob("a", "pa", 2));
    list.Add(CQueuedJob("b", "pb", 2));
    CQueuedJob* head = list.TakeHead();
    ASSERT_NE(head, nullptr);
    EXPECT_TRUE(head->m_bBusy);

    EXPECT_FALSE(list.RemoveIdleAt(0));
    EXPECT_FALSE(list.SetCopiesIdleAt(0, 9));
    EXPECT_FALSE(list.RemoveIdleAt(5));
    EXPECT_FALSE(list.SetCopiesIdleAt(-1, 9));
    EXPECT_TRUE(list.SetCopiesIdleAt(1, 9));
    EXPECT_EQ(list.GetAt(1)->m_nCopies, 9);
    EXPECT_EQ(head->m_nCopies, 2);

    EXPECT_TRUE(list.RemoveIdleAt(1));
    EXPECT_TRUE(list.RemoveJob(head));
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.TakeHead(), nullptr);
}

TEST_F(JobListTest, RemoveAtWaitsForTheJobLock) {
    CJobList list;
    list.Add(CQueuedJob("a", "pa"));
    CQueuedJob* job = list.GetAt(0);

    std::atomic<bool> locked{false}, released{false}, removed{false};
    std::thread holder([&] {
        job->m_Lock.Lock();
        locked = true;
        Sleep(300);
        job->m_strStatus = "still mine"; // the job must still exist here
        released = true;
        job->m_Lock.Unlock();
    });
    while (!locked)
        Sleep(1);
    list.RemoveAt(0);
    removed = true;
    EXPECT_TRUE(released.load());
    holder.join();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(JobListTest, ConcurrentChangesKeepTheArrayWhole) {
    CJobList list;
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop) {
            if (CQueuedJob* j = list.TakeHead())
                list.RemoveJob(j);
        }
    });
    for (int i = 0; i < 3000; ++i) {
        list.Add(CQueuedJob("j", "p"));
        if (i % 3 == 0) {
            // An index is only meaningful while the list's lock is held.
            CLock lock(list.GetListLock());
            list.InsertAt(CQueuedJob("k", "p"), list.GetCount() > 0 ? 1 : 0);
        }
        list.RemoveIdleAt(1);
        list.FindByID("QueuedJob ID1");
    }
    while (list.GetCount() > 0)
        Sleep(1);
    stop = true;
    worker.join();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST_F(JobListTest, QueueSurvivesARestartInOrder) {
    std::vector<std::string> ids;
    {
        CJobList list;
        EXPECT_TRUE(KeyExists("Job_List"));
        list.Add(CQueuedJob("first", "C:\\a.prn", 1));
        list.Add(CQueuedJob("second", "C:\\b.pcl", 2));
        list.Add(CQueuedJob("third", "C:\\c.zpl", 0x7FFFFFFF));
        for (int i = 0; i < 3; ++i)
            ids.push_back(list.GetAt(i)->GetID().GetString());
    }
    CJobList loaded;
    ASSERT_EQ(Names(loaded), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_STREQ(loaded.GetAt(1)->GetPath(), "C:\\b.pcl");
    EXPECT_EQ(loaded.GetAt(1)->m_nCopies, 2);
    // A count past 100000 is kept as stored, and held: never printed.
    EXPECT_EQ(loaded.GetAt(2)->m_nCopies, 0x7FFFFFFF);
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(std::string(loaded.GetAt(i)->GetID()), ids[i]);
        EXPECT_STREQ(loaded.GetAt(i)->GetStatus(), i == 2 ? "Held: copies out of range" : "");
        EXPECT_FALSE(loaded.GetAt(i)->m_bBusy);
    }

    // The stored form: three values a job and an end entry.
    SettingsReader stored;
    EXPECT_STREQ(stored.ReadString("Job_List", "Job2_Name", "x", HKEY_LOCAL_MACHINE), "third");
    EXPECT_STREQ(stored.ReadString("Job_List", "Job3_Name", "x", HKEY_LOCAL_MACHINE), "");
    EXPECT_STREQ(stored.ReadString("Job_List", "Job3_Path", "x", HKEY_LOCAL_MACHINE), "");
    EXPECT_EQ(stored.ReadDWORD("Job_List", "Job3_Copies", 9, HKEY_LOCAL_MACHINE), 0u);
}

TEST_F(JobListTest, ShorterListHidesOlderEntries) {
    {
        CJobList list;
        for (int i = 0; i < 5; ++i)
            list.Add(CQueuedJob("five", "p"));
    }
    {
        CJobList list;
        ASSERT_EQ(list.GetCount(), 5);
        list.RemoveAt(0);
        list.RemoveAt(0);
        list.RemoveAt(0);
    }
    CJobList list;
    EXPECT_EQ(list.GetCount(), 2);
    // Entries behind the end stay in the registry, unread.
    SettingsReader stored;
    EXPECT_STREQ(stored.ReadString("Job_List", "Job4_Name", "", HKEY_LOCAL_MACHINE), "five");
}

TEST_F(JobListTest, EmptyNameDoesNotDropTheJobsBehindIt) {
    {
        CJobList list;
        list.Add(CQueuedJob("a", "C:\\a.prn", 1));
        list.Add(CQueuedJob("", "C:\\dir\\", 2)); // a dropped path ending in a backslash
        list.Add(CQueuedJob("c", "C:\\c.prn", 3));
    }
    CJobList list;
    ASSERT_EQ(list.GetCount(), 3);
    EXPECT_STREQ(list.GetAt(1)->GetName(), "");
    EXPECT_STREQ(list.GetAt(1)->GetPath(), "C:\\dir\\");
    EXPECT_STREQ(list.GetAt(2)->GetName(), "c");
}

TEST_F(JobListTest, LongPathsAndNamesLoadWhole) {
    const std::string path = "C:\\" + std::string(296, 'd') + ".prn";
    const std::string name(400, 'n');
    {
        CJobList list;
        list.Add(CQueuedJob(name.c_str(), path.c_str(), 1));
        list.Add(CQueuedJob("behind", "C:\\b.prn", 1));
    }
    CJobList list;
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_EQ(std::string(list.GetAt(0)->GetPath()), path);
    EXPECT_EQ(std::string(list.GetAt(0)->GetName()), name);
    EXPECT_STREQ(list.GetAt(1)->GetName(), "behind");
}

TEST_F(JobListTest, HolesInStoredDataHideNothing) {
    // Job1 is missing altogether; Job3 is the end entry; Job4 lies behind it.
    SetRawValue("Job_List", "Job0_Name", REG_SZ, "a", 2);
    SetRawValue("Job_List", "Job2_Name", REG_SZ, "c", 2);
    SetRawValue("Job_List", "Job2_Path", REG_SZ, "C:\\c", 5);
    SetRawValue("Job_List", "Job3_Name", REG_SZ, "", 1);
    SetRawValue("Job_List", "Job3_Path", REG_SZ, "", 1);
    SetRawValue("Job_List", "Job4_Name", REG_SZ, "stale", 6);
    {
        CJobList list;
        ASSERT_EQ(Names(list), (std::vector<std::string>{"a", "c"}));
    }
    // Saved back without the hole.
    CJobList list;
    EXPECT_EQ(Names(list), (std::vector<std::string>{"a", "c"}));
    SettingsReader stored;
    EXPECT_STREQ(stored.ReadString("Job_List", "Job1_Name", "", HKEY_LOCAL_MACHINE), "c");
}

TEST_F(JobListTest, ForeignStoredDataLoadsWhatItCan) {
    // A name without terminating zero, copies stored in two bytes.
    SetRawValue("Job_List", "Job0_Name", REG_SZ, "abc", 3);
    SetRawValue("Job_List", "Job0_Path", REG_SZ, "C:\\x.prn", 9);
    const BYTE two[2] = {5, 0};
    SetRawValue("Job_List", "Job0_Copies", REG_BINARY, two, 2);
    // A job without copies value loads with 0 copies.
    SetRawValue("Job_List", "Job1_Name", REG_SZ, "nocopies", 9);
    CJobList list;
    ASSERT_EQ(list.GetCount(), 2);
    EXPECT_STREQ(list.GetAt(0)->GetName(), "abc");
    EXPECT_EQ(list.GetAt(0)->m_nCopies, 5);
    EXPECT_STREQ(list.GetAt(1)->GetPath(), "");
    EXPECT_EQ(list.GetAt(1)->m_nCopies, 0);
}

} // namespace
