#include "printloop/DocumentFollower.h"

#include "framework/Sync.h"
#include "framework/UniqueHandle.h"

#include <mutex>
#include <utility>
#include <vector>

namespace {
struct Item {
    std::unique_ptr<IHandedDocument> pDoc;
    unsigned long nRun = 0;
    ULONGLONG deadline = 0;
    // The sink has not heard of it yet.
    bool bCounting = true;
};
} // namespace

struct CDocumentFollower::Shared {
    DWORD dwAskEveryMs;
    DWORD dwLimitMs;
    // The state lock: everything below up to the sink lock.
    CSlimMutex cs;
    CSlimCondition cv;
    std::vector<Item> incoming;
    bool bEnd = false;
    bool bInError = false;
    CString strErrorWord;
    UniqueHandleNull hThread;
    // The sink lock, held across each call to the sink.
    CCriticalSection csSink;
    IDocumentFateSink* pSink;
};

CDocumentFollower::CDocumentFollower(IDocumentFateSink& sink, DWORD dwAskEveryMs, DWORD dwLimitMs)
    : m_pShared(std::make_shared<Shared>()) {
    m_pShared->dwAskEveryMs = dwAskEveryMs;
    m_pShared->dwLimitMs = dwLimitMs;
    m_pShared->pSink = &sink;
}

CDocumentFollower::~CDocumentFollower() {
    End();
}

bool CDocumentFollower::Follow(std::unique_ptr<IHandedDocument> pDoc, unsigned long nRun) {
    Shared& s = *m_pShared;
    if (!pDoc)
        return false;
    {
        std::lock_guard<CSlimMutex> lock(s.cs);
        if (s.bEnd)
            return false;
        if (!s.hThread) {
            auto* pParam = new std::shared_ptr<Shared>(m_pShared);
            s.hThread.reset(::CreateThread(nullptr, 0, Entry, pParam, 0, nullptr));
            if (!s.hThread) {
                delete pParam;
                return false;
            }
        }
        Item item;
        item.pDoc = std::move(pDoc);
        item.nRun = nRun;
        item.deadline = GetTickCount64() + s.dwLimitMs;
        s.incoming.push_back(std::move(item));
    }
    s.cv.notify_one();
    return true;
}

bool CDocumentFollower::InError(CString& strWord) const {
    Shared& s = *m_pShared;
    std::lock_guard<CSlimMutex> lock(s.cs);
    strWord = s.strErrorWord;
    return s.bInError;
}

void CDocumentFollower::End() {
    Shared& s = *m_pShared;
    {
        std::lock_guard<CSlimMutex> lock(s.cs);
        s.bEnd = true;
    }
    s.cv.notify_all();
    // Waits only for a call to the sink in progress: a question in progress
    // ends on its own, and its answer is dropped.
    CLock lock(s.csSink);
    s.pSink = nullptr;
}

DWORD WINAPI CDocumentFollower::Entry(void* pParam) {
    std::unique_ptr<std::shared_ptr<Shared>> pKeep(static_cast<std::shared_ptr<Shared>*>(pParam));
    Shared& s = **pKeep;
    std::vector<Item> mine;
    struct Ended {
        unsigned long nRun;
        CString strWord;
    };
    try {
        for (;;) {
            {
                std::unique_lock<CSlimMutex> lock(s.cs);
                const DWORD dwWait = mine.empty() && s.incoming.empty() ? INFINITE : s.dwAskEveryMs;
                // A first document is asked at once, later ones with the rest.
                s.cv.wait_for(lock, dwWait,
                              [&] { return s.bEnd || (mine.empty() && !s.incoming.empty()); });
                if (s.bEnd)
                    break;
                for (Item& item : s.incoming)
                    mine.push_back(std::move(item));
                s.incoming.clear();
            }
            // The questions, without any lock.
            std::vector<IHandedDocument::Fate> fates(mine.size());
            std::vector<CString> words(mine.size());
            for (size_t i = 0; i < mine.size(); ++i)
                fates[i] = mine[i].pDoc->Check(words[i]);
            const ULONGLONG now = GetTickCount64();
            std::vector<Ended> ended;
            std::vector<Item> kept;
            bool bInError = false;
            CString strErrorWord;
            for (size_t i = 0; i < mine.size(); ++i) {
                Item& item = mine[i];
                const bool bError = fates[i] == IHandedDocument::Fate::Error;
                const bool bPending = fates[i] == IHandedDocument::Fate::Pending;
                if (item.bCounting && (!bPending || now >= item.deadline)) {
                    item.bCounting = false;
                    ended.push_back({item.nRun, bError ? words[i] : CString()});
                }
                if (bError && !bInError) {
                    bInError = true;
                    strErrorWord = words[i];
                }
                // In error it is asked on until it leaves that state.
                if (bError || (bPending && now < item.deadline))
                    kept.push_back(std::move(item));
            }
            mine = std::move(kept);
            {
                std::lock_guard<CSlimMutex> lock(s.cs);
                s.bInError = bInError;
                s.strErrorWord = strErrorWord;
            }
            CLock sinkLock(s.csSink);
            for (const Ended& e : ended) {
                if (s.pSink)
                    s.pSink->OnDocumentFollowed(e.nRun, e.strWord);
            }
        }
    } catch (...) {
        // Out of memory: what is followed is followed no more.
    }
    return 0;
}
