#include "intake/PathCheck.h"

#include "framework/CodePage.h"

namespace PathCheck {

std::wstring Reachable(const std::wstring& full) {
    if (full.size() < MAX_PATH || full.compare(0, 4, L"\\\\?\\") == 0)
        return full;
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool ToCodePage(const std::wstring& wide, UINT codePage, CString& out) {
    std::string narrow;
    if (!WideToNarrowExact(wide.c_str(), codePage, narrow))
        return false;
    out = narrow.c_str();
    return true;
}

Result Check(const std::wstring& file) {
    Result result;
    // The long form is made first: a path of MAX_PATH or more is looked at
    // in the form that is kept, not in one the system cuts short.
    const std::wstring reachable = Reachable(file);
    const bool bNamable = ToCodePage(reachable, GetACP(), result.strPath);
    const DWORD attrs = GetFileAttributesW(reachable.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES)
        result.verdict = Verdict::Missing;
    else if (attrs & FILE_ATTRIBUTE_DIRECTORY)
        result.verdict = Verdict::Folder;
    else
        result.verdict = bNamable ? Verdict::Ok : Verdict::Unnamable;
    if (!bNamable)
        result.strPath.Empty();
    return result;
}

std::wstring RefusalText(Verdict verdict, const std::wstring& file) {
    switch (verdict) {
    case Verdict::Missing:
        return L"The file does not exist, so nothing was queued:\n" + file;
    case Verdict::Folder:
        return L"This is a folder, not a file, so nothing was queued:\n" + file;
    case Verdict::Unnamable:
        return L"The file's name has characters that Morvane cannot keep in its queue, so "
               L"nothing was queued. Rename the file (or its folder) and queue it again:\n" +
               file;
    case Verdict::Ok:
        break;
    }
    return L"";
}

} // namespace PathCheck
