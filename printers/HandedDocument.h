// IHandedDocument: a copy an output handed on to a queue of its own (the
// print spooler's) when it ended the document, to be followed there: it is
// the queue's now, and following it never cancels, holds or resends it.
// Ownership: made by the printer (CPrinter::TakeHandedDocument) and then
// owned by whoever follows it; it keeps what it needs to ask (its own
// handle) and nothing of the printer, which is long deleted.
// Threads: one at a time (the follower's thread).
#pragma once

#include "framework/String.h"

class IHandedDocument {
public:
    enum class Fate {
        Pending, // still in the queue, nothing wrong known
        Done,    // printed, or gone from the queue without an error
        Error,   // the queue reports a condition that stops it
    };
    virtual ~IHandedDocument() = default;
    // Asks the queue once; for Error, strWord gets its word ("paper out").
    virtual Fate Check(CString& strWord) = 0;
};
