#include "printloop/CopySender.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using UniqueStream = std::unique_ptr<FILE, FileCloser>;

int Percentage(unsigned long long sent, unsigned long long size) {
    if (size == 0)
        return 100;
    const double pct = static_cast<double>(sent) * 100.0 / static_cast<double>(size);
    // A file that grew while it was read must not show more than all of it.
    return pct >= 100.0 ? 100 : static_cast<int>(pct);
}

CopyOutcome Outcome(CopyResult result, const CString& strReason = CString()) {
    CopyOutcome outcome;
    outcome.result = result;
    outcome.strReason = strReason;
    return outcome;
}

// The printer's own words for its failure, or the step's.
CopyOutcome PrinterFailed(CPrinter& printer, const char* pszStep) {
    const CString strText = printer.GetFailureText();
    return Outcome(CopyResult::PrinterFailed, strText.IsEmpty() ? CString(pszStep) : strText);
}

// Every copy that does not get through whole ends here: the document is
// aborted, and the caller then releases the printer without Close.
CopyOutcome LeaveDocumentUnended(CPrinter& printer, CopyOutcome outcome) {
    printer.Abort();
    return outcome;
}

const char kReadError[] = "file cannot be read";

} // namespace

CString FileProblemText(const CString& strPath, DWORD dwError) {
    const DWORD attributes = GetFileAttributesA(strPath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD dwWhy = GetLastError();
        if (dwWhy == ERROR_FILE_NOT_FOUND || dwWhy == ERROR_PATH_NOT_FOUND ||
            dwWhy == ERROR_INVALID_NAME || dwWhy == ERROR_BAD_NETPATH)
            return "file missing";
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return "file is a folder";
    }
    if (dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_LOCK_VIOLATION)
        return "file locked";
    return kReadError;
}

CopyOutcome SendCopy(CPrinter& printer, CSpoolerSetup& setup, const CString& strPath,
                     const CString& strName, ICopyProgress& progress) {
    SetLastError(ERROR_SUCCESS);
    UniqueStream file(fopen(strPath, "rb"));
    if (!file)
        return Outcome(CopyResult::FileUnreadable, FileProblemText(strPath, GetLastError()));
    if (_fseeki64(file.get(), 0, SEEK_END) != 0)
        return Outcome(CopyResult::FileUnreadable, kReadError);
    const long long end = _ftelli64(file.get());
    if (end < 0)
        return Outcome(CopyResult::FileUnreadable, kReadError);
    const unsigned long long size = static_cast<unsigned long long>(end);
    rewind(file.get());

    // From Open on, a copy that does not get through whole is left unended.
    if (!printer.Open(&setup, strName))
        return LeaveDocumentUnended(printer, PrinterFailed(printer, "Printer cannot be opened"));

    std::vector<char> buffer(kCopyChunkSize);
    unsigned long long sent = 0;
    for (;;) {
        const size_t c = fread(buffer.data(), 1, buffer.size(), file.get());
        if (c == 0) {
            // A read error leaves the document short.
            if (ferror(file.get()))
                return LeaveDocumentUnended(printer,
                                            Outcome(CopyResult::FileUnreadable, kReadError));
            break;
        }
        if (!progress.MayContinue())
            return LeaveDocumentUnended(printer, Outcome(CopyResult::Dropped));
        const int taken = printer.Send_Data(buffer.data(), static_cast<int>(c));
        if (taken != static_cast<int>(c))
            return LeaveDocumentUnended(printer, PrinterFailed(printer, "Printer refused data"));
        sent += c;
        if (!progress.Progress(Percentage(sent, size)))
            return LeaveDocumentUnended(printer, Outcome(CopyResult::Dropped));
    }

    // Every byte was handed over: only now is the document ended.
    if (!printer.Close())
        return PrinterFailed(printer, "Document not taken whole");
    return Outcome(CopyResult::Sent);
}
