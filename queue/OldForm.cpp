#include "queue/OldForm.h"

#include "queue/StoreRecord.h"
#include "settings/RegistrySettings.h"

#include <algorithm>
#include <climits>

using QueueRecord::EntryName;

namespace OldForm {

namespace {

// One read of the form: the getter and whether any call failed.
class Reader {
public:
    explicit Reader(const Getter& get) : m_get(get) {}

    std::string Text(const std::string& name) {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        if (m_get(name.c_str(), &type, &data) == CQueueRegistry::Got::Failed)
            m_bFailed = true;
        // The text up to its first zero; the data need not carry one.
        const auto end = std::find(data.begin(), data.end(), 0);
        return std::string(data.begin(), end);
    }
    bool Exists(const std::string& name) {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        const auto got = m_get(name.c_str(), &type, &data);
        if (got == CQueueRegistry::Got::Failed)
            m_bFailed = true;
        return got != CQueueRegistry::Got::Missing;
    }
    DWORD Number(const std::string& name, DWORD dwDefault) {
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
        const auto got = m_get(name.c_str(), &type, &data);
        return StoredNumber(got, type, data, dwDefault);
    }
    // The next entry behind an empty one at nIndex, or -1 where the entry at
    // nIndex exists (it is the end entry) or none comes within kMaxHole.
    int NextStored(int nIndex) {
        if (Exists(EntryName(nIndex, "_Name")) || Exists(EntryName(nIndex, "_Path")))
            return -1;
        for (int i = nIndex + 1; i <= nIndex + kMaxHole; ++i) {
            if (Exists(EntryName(i, "_Name")) || Exists(EntryName(i, "_Path")))
                return i;
        }
        return -1;
    }
    bool Failed() const { return m_bFailed; }

private:
    const Getter& m_get;
    bool m_bFailed = false;
};

} // namespace

DWORD StoredNumber(CQueueRegistry::Got got, DWORD type, const std::vector<BYTE>& data,
                   DWORD dwDefault) {
    if (got != CQueueRegistry::Got::Value)
        return dwDefault;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        // A number someone stored as text.
        const auto end = std::find(data.begin(), data.end(), 0);
        return ParseDecimal(std::string(data.begin(), end).c_str(), dwDefault);
    }
    if (data.size() > 4)
        return dwDefault;
    DWORD v = 0;
    for (size_t i = 0; i < data.size(); ++i)
        v |= static_cast<DWORD>(data[i]) << (8 * i);
    return v;
}

bool Read(const Getter& get, std::vector<Job>* pJobs, unsigned long long* pPrint) {
    Reader reader(get);
    QueueRecord::Fingerprint print;
    // The list ends at the end entry: name and path both empty.
    for (int i = 0; i < INT_MAX - kMaxHole; ++i) {
        Job job;
        job.name = reader.Text(EntryName(i, "_Name"));
        job.path = reader.Text(EntryName(i, "_Path"));
        if (job.name.empty() && job.path.empty()) {
            // A hole left by someone else's hands (the entry is missing, not
            // empty) must not hide the jobs stored behind it.
            const int next = reader.NextStored(i);
            if (next < 0)
                break;
            i = next - 1;
            continue;
        }
        job.copies = reader.Number(EntryName(i, "_Copies"), 0);
        print.Add(job.name, job.path, job.copies);
        pJobs->push_back(std::move(job));
    }
    *pPrint = print.Value();
    return !reader.Failed();
}

bool Write(CQueueRegistry& reg, CQueueRegistry::Place where, const std::vector<Job>& jobs,
           unsigned long long* pPrint) {
    bool ok = true;
    QueueRecord::Fingerprint print;
    int row = 0;
    auto put = [&](const std::string& name, const std::string& path, DWORD copies) {
        ok &= reg.Write(where, EntryName(row, "_Name").c_str(), REG_SZ, name.c_str(),
                        static_cast<DWORD>(name.size() + 1));
        ok &= reg.Write(where, EntryName(row, "_Path").c_str(), REG_SZ, path.c_str(),
                        static_cast<DWORD>(path.size() + 1));
        ok &=
            reg.Write(where, EntryName(row, "_Copies").c_str(), REG_DWORD, &copies, sizeof(copies));
        ++row;
    };
    for (const Job& job : jobs) {
        put(job.name, job.path, job.copies);
        print.Add(job.name, job.path, job.copies);
    }
    // The end entry: empty name and empty path.
    put("", "", 0);
    *pPrint = print.Value();
    return ok;
}

} // namespace OldForm
