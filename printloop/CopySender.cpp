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

// Every copy that does not get through whole ends here: the document is
// aborted, and the caller then releases the printer without Close.
BOOL LeaveDocumentUnended(CPrinter& printer) {
    printer.Abort();
    return FALSE;
}

} // namespace

BOOL SendCopy(CPrinter& printer, CSpoolerSetup& setup, const CString& strPath,
              const CString& strName, ICopyProgress& progress) {
    UniqueStream file(fopen(strPath, "rb"));
    if (!file)
        return FALSE;
    if (_fseeki64(file.get(), 0, SEEK_END) != 0)
        return FALSE;
    const long long end = _ftelli64(file.get());
    if (end < 0)
        return FALSE;
    const unsigned long long size = static_cast<unsigned long long>(end);
    rewind(file.get());

    // From Open on, a copy that does not get through whole is left unended.
    if (!printer.Open(&setup, strName))
        return LeaveDocumentUnended(printer);

    std::vector<char> buffer(kCopyChunkSize);
    unsigned long long sent = 0;
    for (;;) {
        const size_t c = fread(buffer.data(), 1, buffer.size(), file.get());
        if (c == 0) {
            // A read error leaves the document short.
            if (ferror(file.get()))
                return LeaveDocumentUnended(printer);
            break;
        }
        if (!progress.MayContinue())
            return LeaveDocumentUnended(printer);
        const int taken = printer.Send_Data(buffer.data(), static_cast<int>(c));
        if (taken != static_cast<int>(c))
            return LeaveDocumentUnended(printer);
        sent += c;
        if (!progress.Progress(Percentage(sent, size)))
            return LeaveDocumentUnended(printer);
    }

    // Every byte was handed over: only now is the document ended.
    return printer.Close();
}
