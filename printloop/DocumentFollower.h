// CDocumentFollower: follows the documents the outputs handed on to queues
// of their own (the print spooler's, IHandedDocument) on a thread of its
// own, while the worker goes on with the next copy. Each document is asked
// about every ask period until it is done, or reports an error, or the limit
// (the send limit) has passed since it was handed on: then the sink hears,
// once per document, that it is followed no more, with the queue's word for
// an error (empty when none). A document in an error state is still asked
// after that, past the limit, until it leaves it, so that InError can hold
// the next copy. Nothing here cancels, holds or resends a document: it is
// the queue's.
//
// Threads: Follow and InError come from the worker, End from the worker or
// the window. The state is shared with the thread (shared_ptr), so End
// never waits for a question in progress: it ends on its own and its
// answer is dropped. The state lock is
// innermost: nothing is taken inside it, and it is never held across a
// question or a call to the sink. The sink is called on the follower's
// thread holding only the sink lock, so it may take the worker's gate; End
// takes the sink lock, so it must not be called inside the gate.
// Ownership: the thread owns the documents it follows; they go with it.
#pragma once

#include "framework/String.h"
#include "printers/HandedDocument.h"

#include <windows.h>

#include <memory>

class IDocumentFateSink {
public:
    virtual ~IDocumentFateSink() = default;
    // A document of run nRun is followed no more (done, past the limit, or
    // in error); strWord is the queue's word for an error, or empty.
    virtual void OnDocumentFollowed(unsigned long nRun, const CString& strWord) = 0;
};

class CDocumentFollower {
public:
    static constexpr DWORD kAskEveryMs = 1000;
    static constexpr DWORD kLimitMs = 30000;

    explicit CDocumentFollower(IDocumentFateSink& sink, DWORD dwAskEveryMs = kAskEveryMs,
                               DWORD dwLimitMs = kLimitMs);
    ~CDocumentFollower();
    CDocumentFollower(const CDocumentFollower&) = delete;
    CDocumentFollower& operator=(const CDocumentFollower&) = delete;

    // Follows the document for run nRun; the thread starts with the first.
    // False when it cannot be followed (End came, or no thread could
    // start): the sink will hear nothing of it.
    bool Follow(std::unique_ptr<IHandedDocument> pDoc, unsigned long nRun);
    // A document followed now is in an error state: the first one's word.
    bool InError(CString& strWord) const;
    // Ends the thread; once End returns the sink hears nothing more.
    // Repeatable.
    void End();

private:
    struct Shared;
    static DWORD WINAPI Entry(void* pParam);

    std::shared_ptr<Shared> m_pShared;
};
