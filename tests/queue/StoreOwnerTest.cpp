// One owner per store: a second list on the same store, in this process or
// another, only reads it, and nothing it does reaches the registry.
#include "queue/JobList.h"
#include "support/RegistryFixture.h"

#include <functional>
#include <map>
#include <string>

namespace {

// Every value of the queue's key, name to type and bytes.
std::map<std::string, std::string> StoredValues() {
    const ProgramKey h("Job_List");
    std::map<std::string, std::string> values;
    char name[256];
    BYTE data[4096];
    for (DWORD i = 0;; ++i) {
        DWORD cch = sizeof(name), cb = sizeof(data), type = 0;
        if (RegEnumValueA(h, i, name, &cch, nullptr, &type, data, &cb) != ERROR_SUCCESS)
            break;
        values[std::string(name, cch)] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), cb);
    }
    return values;
}

using StoreOwnerTest = RegistryTest;

TEST_F(StoreOwnerTest, TwoListsCannotBothOwnTheStore) {
    auto owner = std::make_unique<CJobList>();
    owner->Add(CQueuedJob("a", "C:\\a.prn", 2));
    EXPECT_TRUE(owner->OwnsStore());
    EXPECT_TRUE(CStoreOwner::IsClaimed(CJobList::StoreKeyPath()));
    {
        CJobList second;
        EXPECT_FALSE(second.OwnsStore());
        // The reader sees the owner's queue as it stands.
        ASSERT_EQ(second.GetCount(), 1);
        EXPECT_STREQ(second.GetAt(0)->GetName(), "a");
    }
    owner.reset();
    EXPECT_FALSE(CStoreOwner::IsClaimed(CJobList::StoreKeyPath()));
    CJobList next;
    EXPECT_TRUE(next.OwnsStore()) << "the store stays claimed after its owner went";
}

// Two accounts (two identities through the claim's seam): each owns its own
// per-user store, but only one owns the machine-wide one, also when the
// other claims it per user first.
TEST_F(StoreOwnerTest, TheMachineStoreHasOneOwnerAcrossUsers) {
    const CString path = CJobList::StoreKeyPath();
    using Scope = CStoreOwner::Scope;
    {
        CStoreOwner a(path, Scope::User, "S-1-5-21-1-1001");
        CStoreOwner b(path, Scope::User, "S-1-5-21-1-1002");
        EXPECT_TRUE(a.Owns());
        EXPECT_TRUE(b.Owns());
    }
    {
        CStoreOwner a(path, Scope::Machine, "S-1-5-21-1-1001");
        CStoreOwner b(path, Scope::Machine, "S-1-5-21-1-1002");
        EXPECT_TRUE(a.Owns());
        EXPECT_FALSE(b.Owns());
    }
    CStoreOwner again(path, Scope::Machine, "S-1-5-21-1-1002");
    EXPECT_TRUE(again.Owns()) << "the claim ends with its owner";
}

// Whatever a list that does not own the store does, the store stays as the
// owner left it, also after the reader is destroyed (no orderly save).
TEST_F(StoreOwnerTest, AListThatDoesNotOwnTheStoreNeverWritesIt) {
    const std::pair<const char*, std::function<void(CJobList&)>> changes[] = {
        {"add", [](CJobList& l) { l.Add(CQueuedJob("x", "C:\\x.prn", 1)); }},
        {"insert", [](CJobList& l) { l.InsertAt(CQueuedJob("y", "C:\\y.prn", 1), 0); }},
        {"remove", [](CJobList& l) { l.RemoveAt(0); }},
        {"copies", [](CJobList& l) { l.SetCopiesIdleAt(0, 9); }},
        {"copy sent",
         [](CJobList& l) {
             CQueuedJob* head = l.TakeHead();
             l.RecordCopiesLeft(head, 0);
             l.RemoveJob(head);
         }},
        {"save", [](CJobList& l) { EXPECT_FALSE(l.Save()); }},
        {"nothing", [](CJobList&) {}},
    };
    // A store closed in order (the reader would otherwise bring the journal
    // in line and mark it live) and one live under a running owner.
    for (bool bLive : {false, true}) {
        for (const auto& [what, change] : changes) {
            SCOPED_TRACE(std::string(what) + (bLive ? ", owner running" : ", closed in order"));
            DeleteProgramKey();
            auto owner = std::make_unique<CJobList>();
            owner->Add(CQueuedJob("a", "C:\\a.prn", 3));
            owner->Add(CQueuedJob("b", "C:\\b.prn", 2));
            if (!bLive)
                owner.reset();
            std::unique_ptr<CJobList> claim;
            if (!bLive) // someone else holds the store while it is closed
                claim = std::make_unique<CJobList>();
            const auto before = StoredValues();
            {
                CJobList reader;
                EXPECT_FALSE(reader.OwnsStore());
                ASSERT_EQ(reader.GetCount(), 2);
                change(reader);
            }
            EXPECT_EQ(StoredValues(), before);
        }
    }
}

} // namespace
